"""scripts/report's page opened in a real browser (headless Chromium): the
browser reports no error and fetches nothing but the page, and a reader sees
every chart drawn and the tables with the rows they must show."""

import shutil

import pytest
from browser import Browser
from conftest import Page, assert_self_contained, run_in_process, write_manifest, write_run, write_speedups, write_stats

COUNTS = [100, 1000, 10000]
PEERS = [{"name": "vqsort", "column": "Peer vqsort", "threads": 1},
         {"name": "std-stable-sort-par", "column": "Peer parallel stable sort", "threads": 2}]


def chromium():
    """The chromium executable; scripts/test installs it with the other test
    packages, and without it the test is skipped, saying so."""
    found = shutil.which("chromium")
    if not found:
        pytest.skip("chromium is not installed (scripts/test installs it: TEST_PACKAGES in scripts/lib/deps.sh)")
    return found


def fastest_columns(path):
    """Per row of a result file, its column of the least time, read straight from the file."""
    lines = open(path).read().split("\n")
    names = lines[0].split(",")[1:]
    return [min(zip((float(t) for t in row.split(",")[1:]), names))[1] for row in lines[1:]]


def test_report_shows_its_tables_and_charts_in_chromium(report, tmp_path):
    executable = chromium()
    run_dir = str(tmp_path / "cpu_261207184009")
    write_run(run_dir, COUNTS, types=["INT", "FLOAT"], peers=True)
    for stem in ("INT", "FLOAT"):
        write_stats(f"{run_dir}/stats_{stem}.csv", COUNTS)
        write_speedups(f"{run_dir}/speedup_{stem}.csv", COUNTS)
    write_manifest(run_dir, {"peers": True, "peer_sorters": PEERS})
    assert run_in_process(report, [run_dir]).status == 0
    page_path = f"{run_dir}/report.html"
    assert_self_contained(Page(open(page_path, encoding="utf-8").read()))

    with open(tmp_path / "chromium.log", "w") as log, Browser(executable, tmp_path / "profile", log) as browser:
        problems, requests, charts, tables, screenshot = browser.visit(f"file://{page_path}")
    (tmp_path / "report.png").write_bytes(screenshot)  # beside the log, to look at when the test fails

    assert problems == [] and requests == [f"file://{page_path}"]
    assert [chart["id"] for chart in charts] == ["chart-int", "chart-float"]
    for chart in charts:
        assert chart["width"] > 0 and chart["height"] > 0, chart
        assert chart["drawn_width"] > 0 and chart["drawn_height"] > 0, chart
    for stem in ("INT", "FLOAT"):
        times, against_peers = tables[stem.lower()]
        header = open(f"{run_dir}/bench_{stem}.csv").readline().strip().split(",")
        assert times[0] == ["Records"] + header[1:]
        assert [row[0] for row in times[1:]] == ["100", "1,000", "10,000"]
        fastest = fastest_columns(f"{run_dir}/bench_{stem}.csv")
        assert [row[:2] for row in against_peers[1:]] == [[f"{n:,}", column] for n, column in zip(COUNTS, fastest)]
