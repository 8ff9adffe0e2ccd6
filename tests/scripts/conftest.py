"""Made-up run directories and ways to run the scripts/ tools on them, shared
by the tests of scripts/plot and scripts/report."""

import importlib.machinery
import importlib.util
import io
import os
import subprocess
import sys
from dataclasses import dataclass

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPTS = os.path.join(ROOT, "scripts")
sys.path.insert(0, os.path.join(SCRIPTS, "lib"))

import sortbench_tool  # noqa: E402

CPU_COLUMNS = ["CPU Standard", "CPU 1 Thread", "CPU 2 Thread", "CPU 4 Thread", "CPU 8 Thread"]
GPU_COLUMNS = ["GPU", "GPU On Card", "GPU Transfer"]
TYPES = ("INT", "FLOAT", "BIGINT", "BIGFLOAT")
STATS_HEADER = "NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times"
SPEEDUP_HEADER = "NbRecords,Column,Runs,Median,CiLow,CiHigh,Ratios"


def load_script(name):
    """scripts/<name> (a file without .py) as a module, its main not run."""
    path = os.path.join(SCRIPTS, name)
    loader = importlib.machinery.SourceFileLoader(f"{name}_script", path)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


def row_times(n, gpu=False):
    """The made-up times of a row, growing with the count."""
    times = [n * 0.0004, n * 0.00003, n * 0.00002 + 0.05, n * 0.00001 + 0.1, n * 0.00001 + 0.2]
    if gpu:
        times += [n * 0.000004 + 0.5, n * 0.000001 + 0.05, n * 0.000003 + 0.45]
    return times


def columns(gpu=False):
    return CPU_COLUMNS + (GPU_COLUMNS if gpu else [])


def write_result(path, counts, gpu=False):
    """A complete result file as the benchmark trims it: no line feed at the end."""
    lines = [",".join(["NbRecords"] + columns(gpu))]
    lines += [",".join([str(n)] + [f"{t:.6f}" for t in row_times(n, gpu)]) for n in counts]
    write(path, "\n".join(lines))


def write_run(run_dir, counts, gpu=False, types=TYPES):
    os.makedirs(run_dir, exist_ok=True)
    for data_type in types:
        write_result(os.path.join(run_dir, f"bench_{data_type}.csv"), counts, gpu)


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


def write_stats(path, counts, interval=False):
    write(path, "\n".join([STATS_HEADER + (",CiLow,CiHigh" if interval else "")] + stats_rows(counts, interval)))


def write_speedups(path, counts, median=3.0, interval=(2.5, 3.5)):
    """Six paired ratios per count and CPU column other than CPU Standard, whose median is `median`."""
    low, high = interval or ("", "")
    rows = [SPEEDUP_HEADER]
    for n in counts:
        for name in CPU_COLUMNS[1:]:
            ratios = [median * f for f in (0.8, 0.9, 1.0, 1.0, 1.1, 1.2)]
            rows.append(f"{n},{name},6,{median},{low},{high}," + ";".join(f"{r:.12f}" for r in ratios))
    write(path, "\n".join(rows))


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


@pytest.fixture(scope="session")
def plot():
    return load_script("plot")
