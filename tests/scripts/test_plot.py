"""Tests of scripts/plot: charts of good runs and of runs side by side, and one
clear line and a non-zero status for each kind of bad input. Most call the
script's functions with a drawer that keeps the charts instead of drawing
them; those that run the command draw real PNGs."""

import io
import os
import re
import subprocess

import pytest
from conftest import (CPU_COLUMNS, GPU_COLUMNS, LIMITS, SCRIPTS, TYPES, Ran, is_png, pad_zeros, run_command,
                      run_in_process, run_on_full_disk, stats_rows, tree, with_limits, write, write_manifest,
                      write_result, write_run, write_speedups, write_stats)

import sortbench_charts
import sortbench_text
import sortbench_tool
from sortbench_columns import RUN_COLUMNS
from sortbench_results import read_result
from sortbench_side_files import STATS_HEADER, STATS_INTERVAL
from sortbench_stats import read_stats
from sortbench_text import Unusable

HEAD = ",".join(["NbRecords"] + CPU_COLUMNS)
STATS_HEAD = STATS_HEADER


class Recorder:
    """Stands in for the PNG drawer: keeps every chart by name and reports its file as written."""

    def __init__(self, out_dir, log):
        self.out_dir, self.log, self.charts = out_dir, log, {}

    def draw(self, chart, what):
        self.charts[chart.name] = chart
        self.log.wrote(f"{self.out_dir}/{chart.name}.png")
        return True


def chart_runs(plot, *run_dirs):
    """Charts runs with the script's own functions: (lines and status, charts by name)."""
    log = sortbench_tool.Log("plot", io.StringIO(), io.StringIO())
    recorder = Recorder(run_dirs[-1], log)
    names = sortbench_tool.run_names(list(run_dirs))
    if len(run_dirs) == 1:
        plot.chart_one_run(run_dirs[0], names[0], recorder, log)
    else:
        plot.compare_runs(list(run_dirs), names, recorder, log)
    return Ran(log.status, log.out.getvalue(), log.err.getvalue()), recorder.charts


def whiskers(chart):
    return any(line.spread for panel in chart.panels for line in panel.lines)


def line_of(chart, label):
    return next(line for line in chart.panels[0].lines if line.label == label)


# --- the command, drawing real PNGs ------------------------------------------------

@pytest.mark.parametrize("name, counts, gpu, out", [
    ("cpu_251207101500", [100, 250, 500, 750, 1000], False, None),
    ("cpu_gpu_251207101500", [100, 1000, 10000, 100000], True, None),
    ("single", [5000], False, None),
    ("to_o", [100, 250], False, "charts/new"),
    ("run 'one' \"two\" $x", [100, 250], True, None),
])
def test_charts_every_file_of_a_run(plot, tmp_path, name, counts, gpu, out):
    run_dir = str(tmp_path / name)
    write_run(run_dir, counts, gpu)
    out_dir = str(tmp_path / out) if out else run_dir
    ran = run_in_process(plot, (["-o", out_dir] if out else []) + [run_dir])
    assert (ran.status, ran.err) == (0, "")
    expected = [f"{out_dir}/bench_{t}.png" for t in TYPES] + [f"{out_dir}/speedup.png"]
    assert sorted(ran.out_lines) == sorted(expected) and all(is_png(path) for path in expected)
    assert not out or not os.path.exists(f"{run_dir}/bench_INT.png")


def test_draws_times_a_log_axis_cannot_show_as_gaps(plot, tmp_path):
    run_dir = str(tmp_path / "zeros")
    os.makedirs(run_dir)
    write(f"{run_dir}/bench_INT.csv", HEAD + "\n100,0,0,0.1,0.2,0.3\n250,0.03,0,0.1,0.2,-0.3")
    ran = run_in_process(plot, [run_dir])
    assert ran.status == 0 and ran.err_lines == [
        f"plot: {run_dir}/bench_INT.csv: zero or negative times left out, a log scale cannot show them: 4"]
    assert is_png(f"{run_dir}/bench_INT.png") and is_png(f"{run_dir}/speedup.png")


def test_picks_the_last_modified_run_and_keeps_older_runs_older(plot, tmp_path, monkeypatch):
    logs = tmp_path / "logs"
    days = {"cpu_gpu_251231235959": "2025-01-01", "cpu_251001000000": "2025-10-01",
            "cpu_250101000000": "2025-10-01", "cpu_991231235959_copy": "2026-01-01", "cpu_250901000000": "2025-09-01"}
    for name, day in days.items():
        write_run(str(logs / name), [100], types=["INT"])
        subprocess.run(["touch", "-d", f"{day} 00:00", str(logs / name)], check=True)
    # Charting an older run leaves it older.
    assert run_in_process(plot, [str(logs / "cpu_250901000000")]).status == 0
    monkeypatch.setenv("SORTBENCH_LOG_DIR", str(logs))
    ran = run_in_process(plot, [])
    # Modified at the same time: the larger name wins.
    assert ran.status == 0 and ran.out_lines[0] == f"Newest run: {logs}/cpu_251001000000"
    assert sorted(logs.glob("*/speedup.png")) == [logs / n / "speedup.png"
                                                  for n in ("cpu_250901000000", "cpu_251001000000")]


def test_charts_the_same_numbers_in_any_locale(tmp_path):
    locales = tmp_path / "locales"
    locales.mkdir()
    if subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", str(locales / "de_DE.UTF-8")]).returncode:
        pytest.skip("localedef cannot build de_DE.UTF-8")
    run_dir = str(tmp_path / "Zahlen" / "Lauf_ä")
    write_run(run_dir, [100, 1000, 10000], types=["INT"])
    reference = run_command("plot", [run_dir], {"PLOT_KEEP_WORK": str(tmp_path / "C"), "LC_ALL": "C"})
    points = [row.split("\t")[3] for row in (tmp_path / "C" / "bench_INT.tsv").read_text().splitlines()]
    # A decimal comma would read the times below 1 ms as 0, which a log axis leaves out.
    assert reference.status == 0 and "0.003" in points and "NaN" not in points
    for variable in ("LANG", "LC_ALL", "LC_NUMERIC"):
        env = {k: v for k, v in os.environ.items() if k not in ("LANG", "LC_ALL", "LC_NUMERIC")}
        env.update({"LOCPATH": str(locales), variable: "de_DE.UTF-8", "PLOT_KEEP_WORK": str(tmp_path / variable)})
        done = subprocess.run([os.path.join(SCRIPTS, "plot"), run_dir], capture_output=True, text=True, env=env)
        assert (done.returncode, done.stderr, done.stdout) == (0, "", reference.out), variable
        assert all(is_png(path) for path in done.stdout.split())
        panel = {row.split("\t")[1] for row in (tmp_path / variable / "speedup.tsv").read_text().splitlines()}
        assert panel == {"CPU Standard (1x)"} | set(CPU_COLUMNS[1:]), variable
        for name in ("bench_INT.tsv", "speedup.tsv"):
            assert (tmp_path / variable / name).read_text() == (tmp_path / "C" / name).read_text(), variable


def test_compares_two_runs(plot, tmp_path):
    first, second = str(tmp_path / "two/cpu_251201000000"), str(tmp_path / "two/cpu_251202000000")
    for run_dir in (first, second):
        write_run(run_dir, [100, 1000, 10000])
        write_result(f"{run_dir}/bench_INT_zipf.csv", [100, 1000])
    ran = run_in_process(plot, [first, second + "/"])
    assert (ran.status, ran.err) == (0, "")
    assert ran.out_lines == [f"{second}/{kind}_{stem}.png"
                             for stem in ["INT", "INT_zipf", "FLOAT", "BIGINT", "BIGFLOAT"]
                             for kind in ("compare", "compare_ratio")]
    assert all(is_png(path) for path in ran.out_lines) and not os.path.exists(f"{second}/bench_INT.png")


@pytest.mark.parametrize("argv, status, message", [
    (["-x"], 2, "plot: unknown option -x"),
    (["-o"], 2, "plot: option -o needs a directory"),
    (["-h"], 2, "usage: scripts/plot [-o OUT_DIR] [RUN_DIR]"),
    (["{tmp}/nowhere"], 1, "plot: no such directory: {tmp}/nowhere"),
    (["{tmp}/a_file"], 1, "plot: not a directory: {tmp}/a_file"),
    (["{tmp}/no_results"], 1, "plot: no result files (bench_*.csv) in {tmp}/no_results"),
])
def test_refuses_bad_command_lines(tmp_path, argv, status, message):
    write(f"{tmp_path}/a_file", "")
    os.makedirs(f"{tmp_path}/no_results")
    write(f"{tmp_path}/no_results/bench_INT.txt", "")
    ran = run_command("plot", [a.format(tmp=tmp_path) for a in argv])
    assert (ran.status, ran.out) == (status, "") and message.format(tmp=tmp_path) in ran.err_lines


# --- result files ---------------------------------------------------------------

@pytest.mark.parametrize("text, message", [
    (HEAD + "\n100,0.01,0.002,0.1,0.2,0.3\n250,0.03,abc,0.1,0.2,0.3",
     "line 3: CPU 1 Thread cell 'abc' is not a number"),
    (HEAD + "\n100,0.01,0.002,0.1,0.2,0.3\n250,0.03,0.1,0.2,0.3\n500,0.05,0.006,0.1,0.2,0.3",
     "line 3: 5 cells, the header has 6"),
    (HEAD + "\n100,0.01,0.002,0.1,0.2,0.3\n-250,0.03,0.004,0.1,0.2,0.3",
     "line 3: record count '-250' is not a positive whole number"),
    ("Count,Time\n100,0.01", "line 1 is not a result file header (NbRecords,CPU Standard,...)"),
    (HEAD + ",\n100,0.01,0.002,0.1,0.2,0.3,0.4", "line 1: header cell 7 is empty or holds a tab"),
    (HEAD + "\n100,0.01,0.002,0.1,0.2,0.3\0\n250,0.03,0.004,0.1,0.2,0.3",
     "zero bytes inside the text, not a result file"),
    ("", "empty file"),
    (HEAD, "header only, no rows to plot (a -INFO run, or a run that ended before this data type)"),
    (HEAD + "\0" * 950, "no rows: the run was cut short (or is still running) before this data type"),
    (HEAD + "\n100,0.01,0.002", "no complete row to plot (the run was cut short)"),
    ("\0" * 10,
     "only zero bytes, no text: the run was cut short (or is still running) before it wrote this result file"),
    (HEAD + "\n100,0,0,0,0,0\n250,0,0,-1,0,0", "no positive time to draw: all 10 are zero or negative"),
    (HEAD + "\n" + "1" * 401 + ",0.01,0.002,0.1,0.2,0.3",
     "line 2: record count '" + "1" * 40 + "…' (401 characters) is out of range (at most 18446744073709551615)"),
    (HEAD + "\n100,0.01,0.002,0.1,0.2," + "9" * 401,
     "line 2: CPU 8 Thread cell '" + "9" * 40 + "…' (401 characters) is out of range (0, or 10^-12 to 10^12 either "
     "side of it)"),
    (HEAD + "\n100,0.01,0.0000000000001,0.1,0.2,0.3",
     "line 2: CPU 1 Thread cell '0.0000000000001' is out of range (0, or 10^-12 to 10^12 either side of it)"),
    (HEAD + ",x" * 28 + "\n100" + ",1" * 33, f"line 1: more than 32 columns; a run writes {RUN_COLUMNS} at most"),
])
def test_refuses_result_files_it_cannot_chart(tmp_path, text, message):
    (tmp_path / "bench_INT.csv").write_bytes(text.encode())
    with pytest.raises(Unusable, match="^" + re.escape(message) + "$"):
        read_result(str(tmp_path / "bench_INT.csv"))


# Far larger than a run writes: refused before it is read through.
@pytest.mark.parametrize("bound, value, message", [
    ("MAX_ROWS", 3, "more than 3 rows; a run writes a few hundred at most"),
    ("MAX_BYTES", 1 << 15, "larger than 0.03125 MiB, far more than a run writes"),
])
def test_refuses_files_larger_than_a_run_writes(plot, tmp_path, monkeypatch, bound, value, message):
    monkeypatch.setattr(sortbench_text, bound, value)
    run_dir = str(tmp_path / "large")
    write_run(run_dir, [100, 1000, 10000], types=["INT", "FLOAT"])
    write_result(f"{run_dir}/bench_INT.csv", range(100, 1100))
    ran, charts = chart_runs(plot, run_dir)
    assert ran.status == 1 and ran.err_lines == [f"plot: {run_dir}/bench_INT.csv: {message}"]
    assert sorted(charts) == ["bench_FLOAT", "speedup"]


def malformed(d):
    write_run(d, [100, 250], types=["INT", "FLOAT"])
    write(f"{d}/bench_INT.csv", "\n250,0.03,abc,0.1,0.2,0.3", "a")
    write(f"{d}/bench_BIGFLOAT.csv", "Count,Time\n100,0.01")


def info_run(d):
    os.makedirs(d)
    for data_type in TYPES:
        write(f"{d}/bench_{data_type}.csv", HEAD)


def killed(d):
    write_run(d, [100, 250, 500], types=["INT"])
    write(f"{d}/bench_INT.csv", "\n750,0.3,0.02", "a")
    pad_zeros(f"{d}/bench_INT.csv", 700)
    write(f"{d}/bench_FLOAT.csv", HEAD)
    pad_zeros(f"{d}/bench_FLOAT.csv", 950)
    write_stats(f"{d}/stats_INT.csv", [100, 250, 500])
    write(f"{d}/stats_INT.csv", "\n750,CPU Standard,3,0.0", "a")
    pad_zeros(f"{d}/stats_INT.csv", 300)


def trimmed(d):
    os.makedirs(d)
    write_result(f"{d}/bench_INT.csv", [100, 250], gpu=True)
    write(f"{d}/bench_INT.csv", "\n500,0.3,0.02,0.1,0.2,0.3", "a")


def links(d):
    write_run(d, [100, 1000])
    for link, target in (("bench_INT_sorted.csv", "gone.csv"), ("bench_INT_zipf.csv", "ring.csv"),
                         ("ring.csv", "bench_INT_zipf.csv"), ("stats_FLOAT.csv", "gone.csv")):
        os.symlink(target, f"{d}/{link}")


def newer_manifest(d):
    write_run(d, [100, 1000], types=["INT"])
    write(f"{d}/run.json", '{"format": "sortbench run manifest", "format_version": 9}')


def restated(d):
    write_run(d, [100, 1000], types=["INT"])
    write_stats(f"{d}/stats_INT.csv", [100, 1000])
    write_manifest(d)
    write_stats(f"{d}/stats_INT.csv", [100, 1000], interval=True)


NOWHERE = "symbolic link that leads nowhere (dangling or looping)"


# Bad files of one run: one line each, status 1, and every other file charted.
@pytest.mark.parametrize("make, messages, charts", [
    (malformed, ["bench_INT.csv: line 4: CPU 1 Thread cell 'abc' is not a number",
                 "bench_BIGFLOAT.csv: line 1 is not a result file header (NbRecords,CPU Standard,...)"],
     ["bench_FLOAT", "speedup"]),
    (info_run, [f"bench_{t}.csv: header only, no rows to plot (a -INFO run, or a run that ended before this data type)"
                for t in TYPES] + ["no chart written: no result file in {d} has a row to plot"], []),
    # The stats file of a killed run is not reported: its result file is.
    (killed, ["bench_INT.csv: line 5: last row has 3 of 6 cells, left out",
              "bench_INT.csv: the file was never closed: the run was cut short (or is still running); "
              "3 complete rows charted",
              "bench_FLOAT.csv: no rows: the run was cut short (or is still running) before this data type"],
     ["bench_INT", "speedup"]),
    (trimmed, ["bench_INT.csv: line 4: last row has 6 of 9 cells, left out (the file was cut short)"],
     ["bench_INT", "speedup"]),
    (links, [f"bench_INT_sorted.csv: {NOWHERE}", f"bench_INT_zipf.csv: {NOWHERE}",
             f"stats_FLOAT.csv: {NOWHERE}; chart drawn without whiskers"],
     [f"bench_{t}" for t in TYPES] + ["speedup"]),
    (newer_manifest, ["run.json: format_version 9 is newer than these scripts read (1): use the scripts of the "
                      "program that made the run; charted without it"], ["bench_INT", "speedup"]),
    (restated, ["stats_INT.csv: line 1 is not the header run.json states for this file: field 10 is 'CiLow' here, "
                "nothing in run.json; chart drawn without whiskers"], ["bench_INT", "speedup"]),
])
def test_reports_each_bad_file_and_charts_the_others(plot, tmp_path, make, messages, charts):
    run_dir = str(tmp_path / "run")
    make(run_dir)
    ran, drawn = chart_runs(plot, run_dir)
    expected = [f"plot: {m.format(d=run_dir)}" if m.startswith("no chart") else f"plot: {run_dir}/{m}"
                for m in messages]
    assert ran.status == 1 and sorted(ran.err_lines) == sorted(expected)
    assert sorted(drawn) == sorted(charts) and len(ran.out_lines) == len(charts)
    assert make is not killed or whiskers(drawn["bench_INT"])
    assert make is not trimmed or drawn["bench_INT"].panels[0].lines[0].x == [100, 250]


def interrupted(d):
    """A run asked for every data type, stopped by a signal in FLOAT's second data set."""
    write_run(d, [100, 1000], types=["INT"])
    write_result(f"{d}/bench_FLOAT.csv", [100])
    for data_type in TYPES[2:]:
        write(f"{d}/bench_{data_type}.csv", HEAD)
    write_manifest(d, {"types": list(TYPES)}, exit_status=None)


def stale(d):
    """A finished run whose run.json was last written a minute before its result file."""
    write_run(d, [100, 1000], types=["INT"])
    write_manifest(d)
    written = os.stat(f"{d}/bench_INT.csv").st_mtime
    os.utime(f"{d}/run.json", (written - 60, written - 60))


# A run that did not end as planned: what it measured is charted, and how it
# ended said in informing lines.
@pytest.mark.parametrize("make, charts, said", [
    (interrupted, ["bench_INT", "bench_FLOAT", "speedup"],
     ["Of the 3 data sets run.json records, 3 passed every check. It records no exit status: the run was "
      "interrupted, or is still running.",
      "Not measured, of what the run was asked for: FLOAT: 1 of 2 counts, 1,000 records missing; BIGINT, BIGFLOAT: "
      "no row (not reached)."]),
    (stale, ["bench_INT", "speedup"],
     ["Of the 2 data sets run.json records, 2 passed every check. The run ended with exit status 0.",
      "run.json is 60 s older than bench_INT.csv: the program rewrites it at the end of every data set and of the "
      "run, so its later writes did not reach the disk (a full disk?) or the run is still measuring; what it says "
      "may be out of date."]),
])
def test_says_how_a_run_ended_that_did_not_end_as_planned(plot, tmp_path, make, charts, said):
    run_dir = str(tmp_path / "run")
    make(run_dir)
    ran, drawn = chart_runs(plot, run_dir)
    assert (ran.status, ran.err_lines) == (0, [f"plot: {run_dir}: {s}" for s in said])
    assert sorted(drawn) == sorted(charts)


# --- stats and speed-up files ---------------------------------------------------------

@pytest.mark.parametrize("interval", [False, True])
def test_draws_whiskers_and_intervals_from_a_stats_file(plot, tmp_path, interval):
    run_dir = str(tmp_path / "stats")
    write_run(run_dir, [100, 1000, 10000], types=["INT"])
    rows = stats_rows([100, 1000, 10000], interval)
    if interval:
        rows[0] = rows[0][:-2] + ",0.02,0.08"
    write(f"{run_dir}/stats_INT.csv", "\n".join([STATS_HEAD + (",CiLow,CiHigh" if interval else "")] + rows))
    ran, charts = chart_runs(plot, run_dir)
    chart = charts["bench_INT"]
    assert (ran.status, ran.err) == (0, "") and whiskers(chart)
    assert chart.panels[0].lines[0].spread[0] == pytest.approx((0.02, 0.08))
    assert any(line.interval for line in chart.panels[0].lines) == interval
    assert "whiskers min to max" in chart.title and ("95% interval" in chart.title) == interval


SPEEDUPS = "speed-ups drawn from the medians, without bars"
WHISKERS = "chart drawn without whiskers"
ROW = "1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,"


# A row at line 7 of a stats file (or line 6 of a speed-up file) at odds with
# itself or its result file: one line, and the chart without what it would give.
@pytest.mark.parametrize("kind, row, message", [
    ("stats", "1000,CPU Standard,3,0.01,fast,0.02,0.04,0.015,0.01", "Median cell 'fast' is not a number"),
    ("stats", ROW, "Times cell is empty"),
    ("stats", "1000,CPU Standard,3,0.01,0.02,0.02,0.04,0.015,0.02;0.01;0.04",
     "the result file's time 0.400000 for 1000 records, CPU Standard is outside Min 0.01 to Max 0.04"),
    ("stats", ROW + "0.2;0.8", "Times holds 2 values, Runs is 3"),
    ("stats", ROW + "0.3;0.4;0.8", "smallest of Times 0.3 is not Min 0.2"),
    ("stats", ROW + "0.2;0.4;0.7", "largest of Times 0.7 is not Max 0.8"),
    ("stats", "1000,CPU Sorted,3,0.2,0.4,0.5,0.8,0.2,0.2;0.4;0.8", "'CPU Sorted' is not a column of the result file"),
    ("stats", "1000,CPU Standard,0,0.2,0.4,0.5,0.8,0.2,0.2;0.4;0.8", "Runs '0' is not a positive whole number"),
    pytest.param("stats", "1000,CPU Standard,3" + "0" * 5000 + ",0.2,0.4,0.5,0.8,0.2,0.2;0.4;0.8",
                 "Runs '3" + "0" * 39 + "…' (5001 characters) is out of range (at most 18446744073709551615)",
                 id="stats-Runs-of-5001-digits"),
    ("stats", ROW + "0.2;0.4;" + "8" * 400, "Times value '" + "8" * 40 + "…' (400 characters) is out of range (0, "
                                            "or 10^-12 to 10^12 either side of it)"),
    ("stats", "100,CPU Standard,3,0.02,0.04,0.05,0.08,0.02,0.02;0.04;0.08",
     "a second row for 100 records, CPU Standard"),
    # Rounding at the twelfth decimal is no disagreement.
    ("stats", "1000,CPU Standard,3,0.400000000001,0.4,0.5,0.8,0.2,0.4;0.4;0.8", None),
    ("interval", ROW + "0.2;0.4;0.8,0.5,0.6", "the interval 0.5 to 0.6 does not hold the median 0.4"),
    ("interval", ROW + "0.2;0.4;0.8,0.3,", "CiHigh cell '' is not a number"),
    ("interval", ROW + "0.2;0.4;0.8,0.3", "10 cells, the header has 11"),
    ("speedup", "100,CPU 1 Thread,6,3.0,2.5,3.5,2.4;2.7;3;3;3.3", "Ratios holds 5 values, Runs is 6"),
    ("speedup", "100,CPU 1 Thread,6,3.5,2.5,3.6,2.4;2.7;3;3;3.3;3.6", "Median 3.5 is not the median of the Ratios, 3"),
    ("speedup", "100,CPU 1 Thread,6,3.0,3.1,3.6,2.4;2.7;3;3;3.3;3.6",
     "the interval 3.1 to 3.6 does not hold the median 3.0"),
    ("speedup", "100,CPU Standard,6,1,1,1,1;1;1;1;1;1", "'CPU Standard' is the reference, it has no speed-up row"),
    ("speedup", "100,CPU 1 Thread,6,3.0,2.5,3.5,", "Ratios cell is empty"),
    ("speedup", "100,CPU 1 Thread,6,x,2.5,3.5,1", "Median cell 'x' is not a number"),
])
def test_rejects_side_files_that_do_not_add_up(plot, tmp_path, kind, row, message):
    run_dir = str(tmp_path / "odd")
    write_run(run_dir, [100, 1000], types=["INT"])
    if kind == "speedup":
        write_speedups(f"{run_dir}/speedup_INT.csv", [1000])
        write(f"{run_dir}/speedup_INT.csv", "\n" + row, "a")
    else:
        rows = stats_rows([100, 1000], kind == "interval")
        rows[5] = row
        write(f"{run_dir}/stats_INT.csv", "\n".join([STATS_HEAD + (",CiLow,CiHigh" if kind == "interval" else "")]
                                                    + rows))
    ran, charts = chart_runs(plot, run_dir)
    if message is None:
        assert (ran.status, ran.err) == (0, "") and whiskers(charts["bench_INT"])
        return
    file, line, without = ("speedup", 6, SPEEDUPS) if kind == "speedup" else ("stats", 7, WHISKERS)
    assert ran.status == 1
    assert ran.err_lines == [f"plot: {run_dir}/{file}_INT.csv: line {line}: {message}; {without}"]
    assert not whiskers(charts["bench_INT"])
    speedup = line_of(charts["speedup"], "CPU 1 Thread")
    assert kind != "speedup" or (speedup.interval is None and speedup.y == pytest.approx([0.04 / 0.003, 0.4 / 0.03]))


# A stats file is read by the header run.json states, cell by field name; without run.json by the headers runs wrote.
@pytest.mark.parametrize("fields, stated, problem", [
    (["Extra"] + STATS_HEADER.split(",")[::-1], True, None),
    (STATS_HEADER.split(","), False, None),
    (STATS_HEADER.split(",")[::-1], False, "line 1 is not a stats file header (NbRecords,Column,"),
    (STATS_HEADER.split(","), STATS_HEADER + STATS_INTERVAL, "line 1 is not the header run.json states for this "
                                                             "file: field 10 is nothing here, 'CiLow' in run.json"),
])
def test_takes_the_stats_header_from_run_json(tmp_path, fields, stated, problem):
    write_result(str(tmp_path / "bench_INT.csv"), [100, 1000])
    rows = [dict(zip(STATS_HEADER.split(","), row.split(","))) for row in stats_rows([100, 1000])]
    header = ",".join(fields)
    lines = [header] + [",".join(row.get(name, "x") for name in fields) for row in rows]
    write(str(tmp_path / "stats_INT.csv"), "\n".join(lines))
    stated = header if stated is True else stated or None
    result = read_result(str(tmp_path / "bench_INT.csv"))
    if problem:
        with pytest.raises(Unusable, match="^" + re.escape(problem)):
            read_stats(str(tmp_path / "stats_INT.csv"), result, stated)
        return
    stats = read_stats(str(tmp_path / "stats_INT.csv"), result, stated)
    assert [stats.rows[("1000", c)].median for c in CPU_COLUMNS] == result.times[1]


def test_a_file_never_closed_may_end_inside_its_last_stats_row(plot, tmp_path):
    run_dir = str(tmp_path / "open")
    write_run(run_dir, [100, 1000], types=["INT"])
    write_stats(f"{run_dir}/stats_INT.csv", [100])
    write(f"{run_dir}/stats_INT.csv", "\n1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.4;0.", "a")
    pad_zeros(f"{run_dir}/stats_INT.csv", 200)
    ran, charts = chart_runs(plot, run_dir)
    assert (ran.status, ran.err) == (0, "") and whiskers(charts["bench_INT"])


@pytest.mark.parametrize("interval", [(2.5, 3.5), None])
def test_speedup_panels_take_the_paired_medians(plot, tmp_path, interval):
    run_dir = str(tmp_path / "paired")
    write_run(run_dir, [100, 1000], types=["INT"])
    write_speedups(f"{run_dir}/speedup_INT.csv", [100], interval=interval)
    ran, charts = chart_runs(plot, run_dir)
    line = line_of(charts["speedup"], "CPU 1 Thread")
    # 1000 records have no row: CPU Standard's time over the column's.
    assert (ran.status, ran.err) == (0, "") and line.y == pytest.approx([3.0, 0.4 / 0.03])
    assert (line.interval or [None])[0] == interval and "median of paired rounds" in charts["speedup"].title


# Old stats files, and new ones without a floor, chart as before: no limits chart.
@pytest.mark.parametrize("header, ratio", [
    (STATS_HEAD + LIMITS, 2.5),
    (STATS_HEAD + ",CiLow,CiHigh" + LIMITS, 0.8),
    (STATS_HEAD + LIMITS, None),
    (STATS_HEAD, None),
])
def test_charts_time_over_the_memory_floor(plot, tmp_path, header, ratio):
    run_dir = str(tmp_path / "floors")
    counts = [100, 1000, 10000]
    write_run(run_dir, counts, types=["INT"])
    rows = stats_rows(counts, "CiLow" in header)
    write(f"{run_dir}/stats_INT.csv", "\n".join([header] + (with_limits(rows, ratio) if LIMITS in header else rows)))
    ran, charts = chart_runs(plot, run_dir)
    names = ["bench_INT"] + (["limits_INT"] if ratio else []) + ["speedup"]
    assert (ran.status, ran.err) == (0, "") and whiskers(charts["bench_INT"])
    assert [os.path.basename(line) for line in ran.out_lines] == [f"{n}.png" for n in names]
    if not ratio:
        return
    points = {}
    for row in sortbench_charts.chart_table(charts["limits_INT"]).splitlines():
        points.setdefault(row.split("\t")[1], []).append(float(row.split("\t")[3]))
    assert points.pop("the memory floor") == [1, 1]
    assert points == {c: pytest.approx([ratio] * len(counts)) for c in CPU_COLUMNS[1:]}
    assert charts["limits_INT"].panels[0].y.label == "time / memory floor"


FLOORED = "1000,CPU 1 Thread,3,0.015,0.03,0.035,0.06,0.0186,0.03;0.015;0.06,33333333,"


# A malformed limits row at line 8: one line, and the chart without whiskers or limits.
@pytest.mark.parametrize("cells, message", [
    ("0.01,x", "FloorRatio cell 'x' is not a number of zero or more"),
    ("0.01,-3", "FloorRatio cell '-3' is not a number of zero or more"),
    ("0.01,2.5", "FloorRatio 2.5 is not Median 0.03 over FloorMs 0.01, 3"),
    (",3", "FloorRatio 3 without a FloorMs"),
    ("0,0", "FloorMs cell '0' is not a positive number"),
    # A floor of a few records written with twelve decimals is far from its value.
    (f"0.00008,{0.03 / 0.0000800000004:.12f}", None),
])
def test_rejects_floor_ratios_that_do_not_add_up(plot, tmp_path, cells, message):
    run_dir = str(tmp_path / "odd")
    write_run(run_dir, [100, 1000], types=["INT"])
    rows = with_limits(stats_rows([100, 1000]), 2.5)
    rows[6] = FLOORED + cells
    write(f"{run_dir}/stats_INT.csv", "\n".join([STATS_HEAD + LIMITS] + rows))
    ran, charts = chart_runs(plot, run_dir)
    if message is None:
        assert (ran.status, ran.err) == (0, "") and "limits_INT" in charts
        return
    assert ran.status == 1 and ran.err_lines == [f"plot: {run_dir}/stats_INT.csv: line 8: {message}; {WHISKERS}"]
    assert sorted(charts) == ["bench_INT", "speedup"] and not whiskers(charts["bench_INT"])


# --- titles, order, styles, runs side by side ---------------------------------------------

def test_charts_every_key_distribution_in_order(plot, tmp_path):
    run_dir = str(tmp_path / "dists")
    os.makedirs(run_dir)
    for stem in ("FLOAT_zipf", "INT_nearly-sorted", "INT", "INT_sorted"):
        write_result(f"{run_dir}/bench_{stem}.csv", [100, 1000])
    ran, charts = chart_runs(plot, run_dir)
    assert (ran.status, ran.err) == (0, "")
    assert [os.path.basename(line) for line in ran.out_lines] == [
        "bench_INT.png", "bench_INT_sorted.png", "bench_INT_nearly-sorted.png", "bench_FLOAT_zipf.png",
        "speedup.png", "speedup_sorted.png", "speedup_nearly-sorted.png", "speedup_zipf.png"]
    assert charts["bench_INT"].title == "INT: time per sort, run dists"
    assert charts["bench_INT_nearly-sorted"].title == "INT, nearly-sorted keys: time per sort, run dists"
    assert "zipf keys" in charts["speedup_zipf"].title


def test_gives_each_column_its_own_colour():
    styles = [sortbench_charts.style_of(n)
              for n in CPU_COLUMNS + GPU_COLUMNS + ["Peer vqsort", "Peer parallel stable sort"]]
    spare = sortbench_charts.style_of("Peer other")
    assert len({s.colour for s in styles}) == 10 and spare not in styles
    assert sortbench_charts.style_of("Peer other") == spare


def two_runs(tmp_path, first_counts, second_counts, gpu=False, types=TYPES):
    first, second = str(tmp_path / "cpu_gpu_251201000000"), str(tmp_path / "cpu_251202000000")
    write_run(first, first_counts, gpu, types)
    write_run(second, second_counts, types=types)
    return first, second


def test_compares_runs_in_a_dash_type_each(plot, tmp_path):
    first, second = two_runs(tmp_path, [100, 1000], [100, 1000], types=["INT"])
    for run_dir in (first, second):
        write_result(f"{run_dir}/bench_INT_zipf.csv", [100, 1000])
    _, charts = chart_runs(plot, first, second)
    runs_in_key = [line for line in charts["compare_INT"].key if line.label.startswith("run ")]
    assert [line.label for line in runs_in_key] == ["run cpu_gpu_251201000000", "run cpu_251202000000"]
    dashes = {line.dash for line in charts["compare_INT"].panels[0].lines}
    assert len({line.dash for line in runs_in_key}) == len(dashes) == 2
    assert "zipf keys" in charts["compare_ratio_INT_zipf"].title


def test_charts_what_different_runs_share(plot, tmp_path):
    first, second = two_runs(tmp_path, [100, 1000, 10000], [1000, 10000, 100000], gpu=True)
    write_result(f"{first}/bench_INT_sorted.csv", [100, 1000], gpu=True)
    ran, charts = chart_runs(plot, first, second)
    assert ran.status == 0 and ran.err_lines == [
        "plot: charting the shared counts and columns; left out: from cpu_gpu_251201000000: bench_INT_sorted.csv "
        "and counts 100 and columns GPU, GPU On Card, GPU Transfer; from cpu_251202000000: counts 100000"]
    assert "compare_INT_sorted" not in charts and "compare_ratio_BIGFLOAT" in charts
    lines = charts["compare_INT"].panels[0].lines
    assert all(line.x == [1000, 10000] and "GPU" not in line.label for line in lines)


def test_reports_what_runs_side_by_side_cannot_chart(plot, tmp_path):
    first, second = two_runs(tmp_path, [100, 1000], [100, 1000])
    os.remove(f"{first}/bench_INT.csv")
    os.symlink("gone.csv", f"{first}/bench_INT.csv")
    write_result(f"{first}/bench_INT_zipf.csv", [100, 1000])
    os.symlink("bench_INT_zipf.csv", f"{second}/bench_INT_zipf.csv")
    write_result(f"{first}/bench_FLOAT_zipf.csv", [100])
    write_result(f"{second}/bench_FLOAT_zipf.csv", [250])
    ran, charts = chart_runs(plot, first, second)
    assert ran.status == 1 and ran.err_lines == [
        f"plot: {first}/bench_INT.csv: {NOWHERE}", f"plot: {second}/bench_INT_zipf.csv: {NOWHERE}",
        "plot: bench_FLOAT_zipf.csv: the runs share no record count; no comparison chart"]
    assert sorted(charts) == sorted(f"{k}_{t}" for t in TYPES[1:] for k in ("compare", "compare_ratio"))

    second_only = str(tmp_path / "elsewhere")
    write_run(second_only, [250], types=["INT"])
    ran, charts = chart_runs(plot, str(tmp_path / "cpu_251202000000"), second_only)
    assert ran.status == 1 and charts == {} and ran.err_lines[-1] == \
        "plot: no chart written: no result file is in every run with a row to plot"


def test_names_runs_and_axes():
    assert sortbench_tool.run_names(["a/cpu_1", "b/cpu_1/", "a/cpu_1"]) == ["a/cpu_1", "b/cpu_1", "a/cpu_1 (#3)"]
    assert (sortbench_tool.default_out_dir(["x", "y//"]), sortbench_tool.default_out_dir(["y/"])) == ("y", "y/")
    assert sortbench_charts.count_axis([100, 2500, 10**6]).ticks == [(100, "100"), (2500, "2.5k"), (10**6, "1M")]
    assert sortbench_charts.count_axis(list(range(100, 1000, 100))).ticks is None
    axis = sortbench_charts.ratio_axis("r", [0.9, 1.05])
    assert axis.limits[0] < 0.8 and axis.limits[1] > 1.25 and (1, "1") in axis.ticks


# --- what the charts may replace, and how text is drawn -------------------------------------

def planted(how):
    def plant(path, run_dir, elsewhere):
        if how == "input":
            os.symlink("bench_INT.csv", path)
        elif how == "fifo":
            os.mkfifo(path)
        elif how == "dangling":
            os.symlink("gone.png", path)
        else:
            os.symlink(elsewhere, path)
    return plant


@pytest.mark.parametrize("how, reason", [
    ("input", "it is the input file {d}/bench_INT.csv"),
    ("fifo", "not a regular file"),
    ("dangling", "a symbolic link to nothing"),
    ("elsewhere", None),
])
def test_draws_no_chart_over_what_it_must_not_replace(plot, tmp_path, how, reason):
    run_dir, elsewhere = str(tmp_path / "run"), tmp_path / "mine.png"
    write_run(run_dir, [100, 1000], types=["INT"])
    write(elsewhere, "earlier chart")
    planted(how)(f"{run_dir}/bench_INT.png", run_dir, str(elsewhere))
    before = tree(tmp_path)
    ran = run_in_process(plot, [run_dir])
    assert ran.out_lines == ([] if reason else [f"{run_dir}/bench_INT.png"]) + [f"{run_dir}/speedup.png"]
    if reason is None:
        assert (ran.status, ran.err) == (0, "") and os.path.islink(f"{run_dir}/bench_INT.png") and is_png(elsewhere)
        return
    assert ran.status == 1
    assert ran.err_lines == [f"plot: cannot write {run_dir}/bench_INT.png: {reason.format(d=run_dir)}"]
    assert {k: v for k, v in tree(tmp_path).items() if k != "run/speedup.png"} == before


def test_a_full_disk_leaves_the_earlier_charts(tmp_path):
    run_dir, out = str(tmp_path / "run"), str(tmp_path / "full")
    write_run(run_dir, [100, 1000], types=["INT"])
    earlier = {"bench_INT.png": "earlier chart", "speedup.png": "earlier speed-ups"}
    ran, left = run_on_full_disk("plot", out, earlier, ["-o", out, run_dir])
    assert (ran.status, ran.out, left) == (1, "", earlier)
    assert ran.err_lines == [f"plot: cannot write {out}/{name}: No space left on device" for name in earlier]


def test_draws_names_literally_and_escapes_control_characters(plot, tmp_path):
    run_dir = str(tmp_path / "before_$5_after_$6\x1b[2J")
    os.makedirs(run_dir)
    write(f"{run_dir}/bench_INT.csv", "NbRecords,CPU Standard,$x_1$ \x1b]0;title\x07\n100,0.5,0.25\n1000,5,2.5")
    write(f"{run_dir}/bench_FLOAT.csv", HEAD + "\n100,0.5,\x1b[31m,0.1,0.2,0.3\n250,1,0.5,0.1,0.2,0.3")
    ran = run_command("plot", [run_dir], {"PLOT_KEEP_WORK": str(tmp_path / "work")})
    shown = run_dir.replace("\x1b", "\\x1b")
    assert ran.status == 1 and ran.out_lines == [f"{shown}/bench_INT.png", f"{shown}/speedup.png"]
    assert ran.err_lines == [f"plot: {shown}/bench_FLOAT.csv: line 2: CPU 1 Thread cell '\\x1b[31m' is not a number"]
    table = (tmp_path / "work/bench_INT.tsv").read_text()
    assert is_png(f"{run_dir}/bench_INT.png") and "$x_1$ \x1b]0;title\x07\t" in table


def test_says_an_unexpected_failure_in_one_line():
    def body(_argv):
        raise MemoryError("no memory\x1b[2J")

    err = io.StringIO()
    saved, sortbench_tool.sys.stderr = sortbench_tool.sys.stderr, err
    try:
        status = sortbench_tool.run_tool("plot", ("",), body, [])
    finally:
        sortbench_tool.sys.stderr = saved
    assert (status, err.getvalue()) == (1, "plot: unexpected MemoryError: no memory\\x1b[2J\n")


# A file name is bytes: one that is not UTF-8 is charted under its own bytes
# and shown escaped, in the lines, the peers' table and the kept tables alike.
def test_charts_a_result_file_whose_name_is_not_utf8(tmp_path):
    run_dir, work = tmp_path / "run", tmp_path / "work"
    write_run(str(run_dir), [100, 1000], types=["INT"], peers=True)
    write_manifest(str(run_dir), {"peers": True, "peer_sorters": [
        {"name": "vqsort", "column": "Peer vqsort", "threads": 1},
        {"name": "std-stable-sort-par", "column": "Peer parallel stable sort", "threads": 2}]})
    os.link(run_dir / "bench_INT.csv", os.fsencode(run_dir) + b"/bench_INT\xff.csv")
    ran = run_command("plot", [str(run_dir)], {"PLOT_KEEP_WORK": str(work)})
    assert (ran.status, ran.err) == (0, "")
    assert ran.out_lines == [f"{run_dir}/{name}" for name in ("bench_INT.png", "bench_INT\\xff.png", "peers.csv",
                                                              "speedup.png")]
    assert is_png(os.fsencode(run_dir) + b"/bench_INT\xff.png") and is_png(run_dir / "speedup.png")
    assert [line.split(",")[0] for line in (run_dir / "peers.csv").read_text().splitlines()[1:]] == \
        ["INT", "INT", "INT\\xff", "INT\\xff"]
    assert os.path.exists(os.fsencode(work) + b"/bench_INT\xff.tsv") and (work / "speedup.tsv").exists()
