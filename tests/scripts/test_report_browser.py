"""scripts/report's page opened in a real browser (headless Chromium): it
renders, every chart is on it and drawn, and the browser reports no error and
fetches nothing but the page."""

import io
import os
import shutil
import subprocess

import pytest
from browser import Browser
from conftest import SCRIPTS, Page, assert_self_contained, run_in_process, write_run, write_speedups, write_stats
from PIL import Image


def chromium():
    """The chromium executable, installed like the other test packages when
    missing; the test is skipped, saying why, only when that fails."""
    found = shutil.which("chromium")
    if found:
        return found
    done = subprocess.run(["bash", "-c", '. "$1" && ensure_packages chromium', "deps",
                           os.path.join(SCRIPTS, "lib", "deps.sh")], capture_output=True, text=True)
    found = shutil.which("chromium")
    if not found:
        pytest.skip(f"chromium cannot be installed: {done.stderr.strip() or 'not found after installing'}")
    return found


def drawn(image, box):
    """Whether a region of the screenshot holds a picture: many colours, and
    much of it not the background."""
    region = image.crop((int(box["x"]), int(box["y"]), int(box["x"] + box["width"]), int(box["y"] + box["height"])))
    colours = region.getcolors(maxcolors=1 << 16) or [(0, None)] * (1 << 16)
    white = sum(n for n, colour in colours if colour == (255, 255, 255))
    return len(colours) > 50 and white < 0.97 * region.width * region.height


def test_report_renders_in_chromium(report, tmp_path):
    executable = chromium()
    run_dir = str(tmp_path / "cpu_261207184009")
    write_run(run_dir, [100, 1000, 10000], types=["INT", "FLOAT"], peers=True)
    for stem in ("INT", "FLOAT"):
        write_stats(f"{run_dir}/stats_{stem}.csv", [100, 1000, 10000])
        write_speedups(f"{run_dir}/speedup_{stem}.csv", [100, 1000, 10000])
    assert run_in_process(report, [run_dir]).status == 0
    page_path = f"{run_dir}/report.html"
    page = Page(open(page_path, encoding="utf-8").read())
    assert_self_contained(page)

    with open(tmp_path / "chromium.log", "w") as log, Browser(executable, tmp_path / "profile", log) as browser:
        problems, requests, charts, screenshot = browser.visit(f"file://{page_path}")

    assert problems == [] and requests == [f"file://{page_path}"]
    assert [chart["id"] for chart in charts] == ["chart-int", "chart-float"]
    image = Image.open(io.BytesIO(screenshot)).convert("RGB")
    image.save(tmp_path / "report.png")
    assert image.width >= 1280 and image.height > 1500
    assert drawn(image, {"x": 0, "y": 0, "width": image.width, "height": image.height})
    for chart in charts:
        assert chart["width"] > 600 and chart["height"] > 400 and drawn(image, chart), chart
