"""Made-up run directories and ways to run the scripts/ tools on them, shared
by the tests of scripts/plot and scripts/report."""

import importlib.machinery
import importlib.util
import io
import json
import os
import re
import shutil
import stat
import subprocess
import sys
from collections import Counter
from dataclasses import dataclass
from html.parser import HTMLParser

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPTS = os.path.join(ROOT, "scripts")
sys.path.insert(0, os.path.join(SCRIPTS, "lib"))

import sortbench_rundir  # noqa: E402
from sortbench_side_files import SPEEDUP_HEADER, STATS_HEADER, STATS_INTERVAL, STATS_LIMITS  # noqa: E402,F401
import sortbench_tool  # noqa: E402

CPU_COLUMNS = ["CPU Standard", "CPU 1 Thread", "CPU 2 Thread", "CPU 4 Thread", "CPU 8 Thread"]
GPU_COLUMNS = ["GPU", "GPU On Card", "GPU Transfer"]
PEER_COLUMNS = ["Peer vqsort", "Peer parallel stable sort"]
TYPES = ("INT", "FLOAT", "BIGINT", "BIGFLOAT")
LIMITS = STATS_LIMITS


def load_script(name, folder=SCRIPTS):
    """<folder>/<name> (a file without .py; scripts/ by default) as a module, its main not run."""
    path = os.path.join(folder, name)
    loader = importlib.machinery.SourceFileLoader(f"{name}_script", path)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


def row_times(n, gpu=False, peers=False):
    """The made-up times of a row, growing with the count."""
    times = [n * 0.0004, n * 0.00003, n * 0.00002 + 0.05, n * 0.00001 + 0.1, n * 0.00001 + 0.2]
    if gpu:
        times += [n * 0.000004 + 0.5, n * 0.000001 + 0.05, n * 0.000003 + 0.45]
    if peers:
        times += [n * 0.00005, n * 0.0002]
    return times


def columns(gpu=False, peers=False):
    return CPU_COLUMNS + (GPU_COLUMNS if gpu else []) + (PEER_COLUMNS if peers else [])


def write_result(path, counts, gpu=False, peers=False):
    """A complete result file as the benchmark trims it: no line feed at the end."""
    lines = [",".join(["NbRecords"] + columns(gpu, peers))]
    lines += [",".join([str(n)] + [f"{t:.6f}" for t in row_times(n, gpu, peers)]) for n in counts]
    write(path, "\n".join(lines))


def write_run(run_dir, counts, gpu=False, types=TYPES, peers=False):
    os.makedirs(run_dir, exist_ok=True)
    for data_type in types:
        write_result(os.path.join(run_dir, f"bench_{data_type}.csv"), counts, gpu, peers)


def stats_rows(counts, interval=False):
    """Rows of three runs per CPU column and count whose median is write_result's
    time T: T, T/2, 2T; with `interval` the (empty) interval cells of -R auto."""
    rows = []
    for n in counts:
        for name, t in zip(CPU_COLUMNS, row_times(n)):
            row = (f"{n},{name},3,{t / 2:.12f},{t:.12f},{t * 7 / 6:.12f},{t * 2:.12f},{t * 0.62:.12f},"
                   f"{t:.12f};{t / 2:.12f};{t * 2:.12f}")
            rows.append(row + (",," if interval else ""))
    return rows


def with_limits(rows, ratio):
    """Stats rows with the limits cells: each radix column's floor its median
    over `ratio`, the floor cells empty with no ratio."""
    out = []
    for row in rows:
        cells = row.split(",")
        median = float(cells[4])
        floor = f"{median / ratio:.12f}" if ratio and cells[1] in CPU_COLUMNS[1:] else ""
        over = f"{median / float(floor):.12f}" if floor else ""
        out.append(f"{row},{round(int(cells[0]) / (median / 1000))},{floor},{over}")
    return out


def write_stats(path, counts, interval=False, floor_ratio=None):
    """A stats file; with `floor_ratio` also the limits cells, each radix column that far above its floor."""
    rows = stats_rows(counts, interval)
    header = STATS_HEADER + (STATS_INTERVAL if interval else "")
    if floor_ratio:
        header, rows = header + LIMITS, with_limits(rows, floor_ratio)
    write(path, "\n".join([header] + rows))


def write_speedups(path, counts, median=3.0, interval=(2.5, 3.5)):
    """Six paired ratios per count and CPU column other than CPU Standard, whose median is `median`."""
    low, high = interval or ("", "")
    rows = [SPEEDUP_HEADER]
    for n in counts:
        for name in CPU_COLUMNS[1:]:
            ratios = [median * f for f in (0.8, 0.9, 1.0, 1.0, 1.1, 1.2)]
            rows.append(f"{n},{name},6,{median},{low},{high}," + ";".join(f"{r:.12f}" for r in ratios))
    write(path, "\n".join(rows))


def write_manifest(run_dir, plan=(), **top):
    """A run.json for the files of `run_dir` as the program writes it: every
    result, stats and speed-up file with its own header, a complete data set
    per result file row of the rounds its stats file gives (3 without one), a
    plan of the types, distributions and counts of those rows, exit status 0;
    `plan` and `top` replace entries of the plan and of the document. Returns
    the document."""
    files, data_sets, columns, runs = [], [], None, {}
    kinds = {"bench": "results", "stats": "stats", "speedup": "speedups"}
    for name in sorted(os.listdir(run_dir)):
        prefix, _, rest = name.partition("_")
        if prefix not in kinds or not name.endswith(".csv"):
            continue
        series = rest[:-len(".csv")]
        data_type, dist = sortbench_rundir.split_stem(series)
        with open(os.path.join(run_dir, name), encoding="utf-8") as stream:
            lines = stream.read().split("\n")
        files.append({"name": name, "kind": kinds[prefix], "series": series, "type": data_type, "distribution": dist,
                      "header": lines[0]})
        if prefix == "bench":
            columns = columns or lines[0].split(",")[1:]
            data_sets += [{"series": series, "type": data_type, "distribution": dist, "count": int(row.split(",")[0]),
                           "outcome": "complete", "rounds": 3, "interval_reached": True, "seconds": 0}
                          for row in lines[1:] if row]
        if prefix == "stats":
            at = lines[0].split(",").index("Runs")
            for row in lines[:0:-1]:
                if row and len(row.split(",")) > at:
                    runs[series, int(row.split(",")[0])] = int(row.split(",")[at])
    for data_set in data_sets:
        data_set["rounds"] = runs.get((data_set["series"], data_set["count"]), 3)
    planned = {key: [v for v in order if v in {d[key] for d in data_sets}] for key, order in (
        ("type", TYPES), ("distribution", sortbench_rundir.DISTRIBUTIONS), ("count", sorted({d["count"] for d in
                                                                                            data_sets})))}
    document = {
        "format": "sortbench run manifest", "format_version": 1, "program_version": "e79fbd8",
        "arguments": ["-S", "1000", "-R", "3"],
        "plan": {"counts": planned["count"], "types": planned["type"], "distributions": planned["distribution"],
                 "columns": columns,
                 "repetitions": 3, "until_sure": False, "interval_target": 0.01, "budget_seconds": 10, "gpu": False,
                 "qa": False, "peers": False, "json": None, **dict(plan)},
        "machine": {"load_averages": [0.12, 0.2, 0.3], "online_cpus": 2, "governors": [],
                    "transparent_huge_pages": "madvise", "hypervisor": True, "cpu_mhz": 2445, "caches": [],
                    "host_name": "vm"},
        "limits": {}, "files": files, "data_sets": data_sets, "exit_status": 0, **top}
    write(os.path.join(run_dir, "run.json"), json.dumps(document, indent=2))
    return document


def write(path, text, mode="w"):
    with open(path, mode, encoding="utf-8") as stream:
        stream.write(text)


def pad_zeros(path, count):
    """The zero bytes a writer leaves behind a file it never closed."""
    with open(path, "ab") as stream:
        stream.write(b"\0" * count)


@dataclass
class Ran:
    status: int
    out: str
    err: str

    @property
    def out_lines(self):
        return [line for line in self.out.splitlines() if line]

    @property
    def err_lines(self):
        return [line for line in self.err.splitlines() if line]


def run_in_process(module, argv):
    """Runs a tool's main as its command line would, its lines captured."""
    out, err = io.StringIO(), io.StringIO()
    saved = sys.stdout, sys.stderr
    sys.stdout, sys.stderr = out, err
    try:
        status = sortbench_tool.run_tool(module.PROG, module.FORMS, module.main, argv)
    finally:
        sys.stdout, sys.stderr = saved
    return Ran(status, out.getvalue(), err.getvalue())


def run_command(name, argv, env=None):
    """Runs scripts/<name> as a program."""
    done = subprocess.run([os.path.join(SCRIPTS, name), *argv], capture_output=True, text=True,
                          env={**os.environ, **(env or {})}, timeout=600)
    return Ran(done.returncode, done.stdout, done.stderr)


def is_png(path):
    with open(path, "rb") as stream:
        return stream.read(8) == b"\x89PNG\r\n\x1a\n"


def tree(root):
    """Every entry under `root` by relative path: a file's mode and bytes, a
    link's target, or the type of anything else, to see that nothing changed."""
    found = {}
    for folder, names, files in os.walk(root):
        for name in names + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                entry = ("link", os.readlink(path))
            elif stat.S_ISREG(info.st_mode):
                with open(path, "rb") as stream:
                    entry = (stat.S_IMODE(info.st_mode), stream.read())
            else:
                entry = stat.S_IFMT(info.st_mode)
            found[os.path.relpath(path, root)] = entry
    return found


# Run in a private mount namespace: a full file system of its own at the
# output directory, holding the earlier files, then the tool on it.
_ON_FULL_DISK = r"""
import json, os, subprocess, sys
out, earlier, *command = sys.argv[1:]
subprocess.run(["mount", "-t", "tmpfs", "-o", "size=512k", "full", out], check=True)
for name, text in json.loads(earlier).items():
    with open(os.path.join(out, name), "w") as stream:
        stream.write(text)
try:
    with open(os.path.join(out, "filler"), "wb") as stream:
        while True:
            stream.write(bytes(65536))
except OSError:
    pass
done = subprocess.run(command, capture_output=True, text=True)
left = {}
for name in sorted(os.listdir(out)):
    if name != "filler":
        with open(os.path.join(out, name), encoding="latin-1") as stream:
            left[name] = stream.read()
print(json.dumps([done.returncode, done.stdout, done.stderr, left]))
"""


def run_on_full_disk(name, out, earlier, argv):
    """Runs scripts/<name> with `argv` where the directory `out` is a full file
    system holding the files `earlier` ({name: text}); returns the Ran and
    the files of `out` afterwards. Skips unless run as root where unshare
    can make a mount namespace."""
    private = os.geteuid() == 0 and shutil.which("unshare")
    if not private or subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode:
        pytest.skip("a full disk needs root and a private mount namespace (unshare -m)")
    os.makedirs(out, exist_ok=True)
    done = subprocess.run(["unshare", "-m", sys.executable, "-c", _ON_FULL_DISK, out, json.dumps(earlier),
                           os.path.join(SCRIPTS, name), *argv], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    status, stdout, stderr, left = json.loads(done.stdout)
    return Ran(status, stdout, stderr), left


VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}


class Page(HTMLParser):
    """What a page holds, as the tests look at it: tag counts (in all and per
    section id), ids, link targets, attributes that would load or run
    something, and nesting errors."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.source = text
        self.doctype, self.section = None, None
        self.tags, self.sections, self.section_text = Counter(), {}, {}
        self.ids, self.links, self.loads, self.errors, self.stack = [], [], [], [], []
        self.feed(text)
        self.close()
        if self.stack:
            self.errors.append(f"unclosed {self.stack}")

    def handle_decl(self, decl):
        self.doctype = decl

    def handle_starttag(self, tag, attrs):
        self.handle_startendtag(tag, attrs)
        if tag not in VOID:
            self.stack.append(tag)

    def handle_startendtag(self, tag, attrs):
        attributes = dict(attrs)
        self.tags[tag] += 1
        if tag == "section":
            self.section = attributes.get("id")
            self.sections[self.section], self.section_text[self.section] = Counter(), ""
        if self.section:
            self.sections[self.section][tag] += 1
        self.ids += [attributes["id"]] if "id" in attributes else []
        for name, value in attrs:
            if name in ("href", "xlink:href"):
                self.links.append(value)
            if name in ("src", "srcset", "action", "formaction", "data") or name.startswith("on"):
                self.loads.append(f"{tag} {name}={value}")

    def handle_endtag(self, tag):
        if not self.stack or self.stack[-1] != tag:
            self.errors.append(f"</{tag}> closes {self.stack[-1:] or 'nothing'}")
        else:
            self.stack.pop()
        if tag == "section":
            self.section = None

    def handle_data(self, data):
        if self.section:
            self.section_text[self.section] += data


def assert_self_contained(page):
    """A page a browser shows from the file alone: no script, nothing fetched,
    ids unique and every link leading to one, tags nested."""
    assert page.doctype and page.doctype.lower() == "doctype html"
    assert page.errors == []
    assert not {"script", "link", "iframe", "object", "embed", "img", "base"} & set(page.tags)
    assert page.loads == []
    assert len(page.ids) == len(set(page.ids)), [i for i, n in Counter(page.ids).items() if n > 1][:5]
    assert all(link.startswith("#") and link[1:] in page.ids for link in page.links)
    assert not re.search(r"url\((?!#)|@import", page.source)


@pytest.fixture(scope="session")
def plot():
    return load_script("plot")


@pytest.fixture(scope="session")
def report():
    return load_script("report")
