"""Tests of scripts/plot: charts of good runs and of runs side by side, and one
clear line and a non-zero status for each kind of bad input. Most call the
script's functions with a drawer that keeps the charts instead of drawing them;
those marked as whole runs draw real PNGs."""

import io
import os
import subprocess

import pytest
from conftest import (CPU_COLUMNS, GPU_COLUMNS, SCRIPTS, TYPES, Ran, is_png, pad_zeros, run_command,
                      run_in_process, stats_rows, write, write_result, write_run, write_speedups, write_stats)

import sortbench_charts
import sortbench_tool
from sortbench_results import Unusable, read_result


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


def has_whiskers(chart):
    return any(line.spread for panel in chart.panels for line in panel.lines)


def has_bars(chart):
    return any(line.interval for panel in chart.panels for line in panel.lines)


# --- whole runs, drawn ---------------------------------------------------------

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
    assert sorted(ran.out_lines) == sorted(expected)
    assert all(is_png(path) for path in expected)
    if out:
        assert not os.path.exists(f"{run_dir}/bench_INT.png")


def test_draws_times_a_log_axis_cannot_show_as_gaps(plot, tmp_path):
    run_dir = str(tmp_path / "zeros")
    os.makedirs(run_dir)
    write(f"{run_dir}/bench_INT.csv", ",".join(["NbRecords"] + CPU_COLUMNS) +
          "\n100,0,0,0.1,0.2,0.3\n250,0.03,0,0.1,0.2,-0.3")
    ran = run_in_process(plot, [run_dir])
    assert ran.status == 0
    assert ran.err_lines == [f"plot: {run_dir}/bench_INT.csv: zero or negative times left out, "
                             "a log scale cannot show them: 4"]
    assert is_png(f"{run_dir}/bench_INT.png") and is_png(f"{run_dir}/speedup.png")


def test_picks_the_last_modified_run_without_an_argument(plot, tmp_path, monkeypatch):
    logs = tmp_path / "logs"
    stamps = {"cpu_gpu_251231235959": "2025-01-01", "cpu_251001000000": "2025-10-01",
              "cpu_250101000000": "2025-10-01", "cpu_991231235959_copy": "2026-01-01"}
    for name, day in stamps.items():
        write_run(str(logs / name), [100], types=["INT"])
    for name, day in stamps.items():
        subprocess.run(["touch", "-d", f"{day} 00:00", str(logs / name)], check=True)
    monkeypatch.setenv("SORTBENCH_LOG_DIR", str(logs))
    ran = run_in_process(plot, [])
    assert ran.status == 0
    # Modified at the same time: the larger name wins.
    assert ran.out_lines[0] == f"Newest run: {logs}/cpu_251001000000"
    assert [p for p in logs.glob("*/speedup.png")] == [logs / "cpu_251001000000" / "speedup.png"]


def test_charting_an_older_run_keeps_it_older(plot, tmp_path, monkeypatch):
    logs = tmp_path / "logs"
    for name, day in (("cpu_251001000000", "2025-10-01"), ("cpu_251002000000", "2025-10-02")):
        write_run(str(logs / name), [100], types=["INT"])
        subprocess.run(["touch", "-d", f"{day} 00:00", str(logs / name)], check=True)
    assert run_in_process(plot, [str(logs / "cpu_251001000000")]).status == 0
    monkeypatch.setenv("SORTBENCH_LOG_DIR", str(logs))
    ran = run_in_process(plot, [])
    assert ran.status == 0 and f"{logs}/cpu_251002000000/speedup.png" in ran.out_lines


def test_charts_the_same_numbers_in_any_locale(tmp_path):
    locales = tmp_path / "locales"
    locales.mkdir()
    built = subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", str(locales / "de_DE.UTF-8")],
                           capture_output=True)
    if built.returncode != 0:
        pytest.skip("localedef cannot build de_DE.UTF-8")
    run_dir = str(tmp_path / "Zahlen" / "Lauf_ä")
    write_run(run_dir, [100, 1000, 10000], types=["INT"])
    reference = run_command("plot", [run_dir], {"PLOT_KEEP_WORK": str(tmp_path / "C"), "LC_ALL": "C"})
    assert reference.status == 0
    points = [row.split("\t")[3] for row in (tmp_path / "C" / "bench_INT.tsv").read_text().splitlines()]
    # A decimal comma would read the times below 1 ms as 0, which a log axis leaves out.
    assert "0.003" in points and "NaN" not in points
    for variable in ("LANG", "LC_ALL", "LC_NUMERIC"):
        env = {k: v for k, v in os.environ.items() if k not in ("LANG", "LC_ALL", "LC_NUMERIC")}
        env.update({"LOCPATH": str(locales), variable: "de_DE.UTF-8", "PLOT_KEEP_WORK": str(tmp_path / variable)})
        done = subprocess.run([os.path.join(SCRIPTS, "plot"), run_dir],
                              capture_output=True, text=True, env=env)
        assert (done.returncode, done.stderr) == (0, ""), variable
        assert sorted(done.stdout.split()) == sorted(reference.out.split())
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
    stems = ["INT", "INT_zipf", "FLOAT", "BIGINT", "BIGFLOAT"]
    assert ran.out_lines == [f"{second}/{kind}_{stem}.png" for stem in stems for kind in ("compare", "compare_ratio")]
    assert all(is_png(path) for path in ran.out_lines)
    assert not os.path.exists(f"{second}/bench_INT.png")


# --- bad command lines and directories -------------------------------------------

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
    assert ran.status == status
    assert message.format(tmp=tmp_path) in ran.err_lines
    assert ran.out == ""


# --- result files ---------------------------------------------------------------------

HEAD = ",".join(["NbRecords"] + CPU_COLUMNS)


@pytest.mark.parametrize("text, message", [
    (HEAD + "\n100,0.01,0.002,0.1,0.2,0.3\n250,0.03,abc,0.1,0.2,0.3", "line 3: CPU 1 Thread cell 'abc' is not a number"),
    (HEAD + "\n100,0.01,0.002,0.1,0.2,0.3\n250,0.03,0.1,0.2,0.3\n500,0.05,0.006,0.1,0.2,0.3",
     "line 3: 5 cells, the header has 6"),
    (HEAD + "\n100,0.01,0.002,0.1,0.2,0.3\n-250,0.03,0.004,0.1,0.2,0.3",
     "line 3: record count '-250' is not a positive whole number"),
    ("Count,Time\n100,0.01", "line 1 is not a result file header (NbRecords,CPU Standard,...)"),
    (HEAD + ",\n100,0.01,0.002,0.1,0.2,0.3,0.4", "line 1: header cell 7 is empty or holds a tab"),
    (HEAD + "\n100,0.01,0.002,0.1,0.2,0.3\0\n250,0.03,0.004,0.1,0.2,0.3", "zero bytes inside the text, not a result file"),
    ("", "empty file"),
    (HEAD, "header only, no rows to plot (a -INFO run, or a run that ended before this data type)"),
    (HEAD + "\0" * 950, "no rows: the run was cut short (or is still running) before this data type"),
    (HEAD + "\n100,0.01,0.002", "no complete row to plot (the run was cut short)"),
])
def test_refuses_result_files_it_cannot_chart(tmp_path, text, message):
    path = tmp_path / "bench_INT.csv"
    path.write_bytes(text.encode())
    with pytest.raises(Unusable) as refused:
        read_result(str(path))
    assert str(refused.value) == message


def test_rejects_malformed_result_files_and_charts_the_others(plot, tmp_path):
    run_dir = str(tmp_path / "malformed")
    write_run(run_dir, [100, 250], types=["INT", "FLOAT"])
    write(f"{run_dir}/bench_INT.csv", "\n250,0.03,abc,0.1,0.2,0.3", "a")
    write(f"{run_dir}/bench_BIGFLOAT.csv", "Count,Time\n100,0.01")
    ran, charts = chart_runs(plot, run_dir)
    assert ran.status == 1
    assert ran.err_lines == [f"plot: {run_dir}/bench_INT.csv: line 4: CPU 1 Thread cell 'abc' is not a number",
                             f"plot: {run_dir}/bench_BIGFLOAT.csv: line 1 is not a result file header "
                             "(NbRecords,CPU Standard,...)"]
    assert sorted(charts) == ["bench_FLOAT", "speedup"]


def test_fails_on_an_info_run_with_headers_only(plot, tmp_path):
    run_dir = str(tmp_path / "info")
    os.makedirs(run_dir)
    for data_type in TYPES:
        write(f"{run_dir}/bench_{data_type}.csv", HEAD)
    ran, charts = chart_runs(plot, run_dir)
    assert ran.status == 1 and charts == {}
    assert f"plot: {run_dir}/bench_BIGINT.csv: header only, no rows to plot " \
           "(a -INFO run, or a run that ended before this data type)" in ran.err_lines
    assert ran.err_lines[-1] == f"plot: no chart written: no result file in {run_dir} has a row to plot"


def test_charts_the_complete_rows_of_a_killed_run(plot, tmp_path):
    run_dir = str(tmp_path / "killed")
    write_run(run_dir, [100, 250, 500], types=["INT"])
    write(f"{run_dir}/bench_INT.csv", "\n750,0.3,0.02", "a")
    pad_zeros(f"{run_dir}/bench_INT.csv", 700)
    write(f"{run_dir}/bench_FLOAT.csv", HEAD)
    pad_zeros(f"{run_dir}/bench_FLOAT.csv", 950)
    write_stats(f"{run_dir}/stats_INT.csv", [100, 250, 500])
    write(f"{run_dir}/stats_INT.csv", "\n750,CPU Standard,3,0.0", "a")
    pad_zeros(f"{run_dir}/stats_INT.csv", 300)
    ran, charts = chart_runs(plot, run_dir)
    assert ran.status == 1
    assert ran.err_lines == [
        f"plot: {run_dir}/bench_INT.csv: line 5: last row has 3 of 6 cells, left out",
        f"plot: {run_dir}/bench_INT.csv: the file was never closed: the run was cut short (or is still running); "
        "3 complete rows charted",
        f"plot: {run_dir}/bench_FLOAT.csv: no rows: the run was cut short (or is still running) before this data type"]
    assert sorted(charts) == ["bench_INT", "speedup"] and has_whiskers(charts["bench_INT"])


def test_leaves_out_an_incomplete_last_row_of_a_trimmed_file(plot, tmp_path):
    run_dir = str(tmp_path / "cut")
    os.makedirs(run_dir)
    write_result(f"{run_dir}/bench_INT.csv", [100, 250], gpu=True)
    write(f"{run_dir}/bench_INT.csv", "\n500,0.3,0.02,0.1,0.2,0.3", "a")
    ran, charts = chart_runs(plot, run_dir)
    assert ran.status == 1
    assert ran.err_lines == [f"plot: {run_dir}/bench_INT.csv: line 4: last row has 6 of 9 cells, left out "
                             "(the file was cut short)"]
    assert charts["bench_INT"].panels[0].lines[0].x == [100, 250]


# A link to a result file that is gone, or a ring of links, is reported; the
# other files are still charted, of one run and of runs side by side.
def test_reports_result_links_that_lead_nowhere(plot, tmp_path):
    run_dir = str(tmp_path / "links")
    write_run(run_dir, [100, 1000])
    os.symlink("gone.csv", f"{run_dir}/bench_INT_sorted.csv")
    os.symlink("ring.csv", f"{run_dir}/bench_INT_zipf.csv")
    os.symlink("bench_INT_zipf.csv", f"{run_dir}/ring.csv")
    os.symlink("gone.csv", f"{run_dir}/stats_FLOAT.csv")
    ran, charts = chart_runs(plot, run_dir)
    assert ran.status == 1
    assert sorted(ran.err_lines) == sorted([
        f"plot: {run_dir}/bench_INT_sorted.csv: symbolic link that leads nowhere (dangling or looping)",
        f"plot: {run_dir}/bench_INT_zipf.csv: symbolic link that leads nowhere (dangling or looping)",
        f"plot: {run_dir}/stats_FLOAT.csv: symbolic link that leads nowhere (dangling or looping); "
        "chart drawn without whiskers"])
    assert len(ran.out_lines) == 5 and sorted(charts) == sorted([f"bench_{t}" for t in TYPES] + ["speedup"])

    first, second = str(tmp_path / "two/cpu_251201000000"), str(tmp_path / "two/cpu_251202000000")
    write_run(first, [100, 1000])
    write_run(second, [100, 1000])
    os.symlink("gone.csv", f"{first}/bench_INT_sorted.csv")
    write_result(f"{second}/bench_INT_sorted.csv", [100, 1000])
    write_result(f"{first}/bench_INT_zipf.csv", [100, 1000])
    os.symlink("bench_INT_zipf.csv", f"{second}/bench_INT_zipf.csv")
    ran, charts = chart_runs(plot, first, second)
    assert ran.status == 1
    assert ran.err_lines == [
        f"plot: {first}/bench_INT_sorted.csv: symbolic link that leads nowhere (dangling or looping)",
        f"plot: {second}/bench_INT_zipf.csv: symbolic link that leads nowhere (dangling or looping)"]
    assert len(ran.out_lines) == 8 and all(f"compare_{t}" in charts for t in TYPES)


# --- stats and speed-up files ---------------------------------------------------------------

@pytest.mark.parametrize("interval", [False, True])
def test_draws_whiskers_from_a_stats_file(plot, tmp_path, interval):
    run_dir = str(tmp_path / "stats")
    write_run(run_dir, [100, 1000, 10000], types=["INT"])
    write_stats(f"{run_dir}/stats_INT.csv", [100, 1000, 10000], interval)
    if interval:
        text = (tmp_path / "stats/stats_INT.csv").read_text().split("\n")
        t = 100 * 0.0004
        text[1] = text[1][:-2] + f",{t / 2:.12f},{t * 2:.12f}"
        write(f"{run_dir}/stats_INT.csv", "\n".join(text))
    ran, charts = chart_runs(plot, run_dir)
    assert (ran.status, ran.err) == (0, "")
    chart = charts["bench_INT"]
    assert has_whiskers(chart) and has_bars(chart) == interval
    standard = chart.panels[0].lines[0]
    assert standard.spread[0] == pytest.approx((0.02, 0.08))
    assert "whiskers min to max" in chart.title and ("95% interval" in chart.title) == interval


def stats_row_7(row):
    """A stats file of two counts whose line 7 (1000 records, CPU Standard) is `row`."""
    rows = stats_rows([100, 1000])
    rows[5] = row
    return rows


@pytest.mark.parametrize("row, message", [
    ("1000,CPU Standard,3,0.01,fast,0.02,0.04,0.015,0.01", "Median cell 'fast' is not a number"),
    ("1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,", "Times cell is empty"),
    ("1000,CPU Standard,3,0.01,0.02,0.02,0.04,0.015,0.02;0.01;0.04",
     "the result file's time 0.400000 for 1000 records, CPU Standard is outside Min 0.01 to Max 0.04"),
    ("1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.2;0.8", "Times holds 2 values, Runs is 3"),
    ("1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.3;0.4;0.8", "smallest of Times 0.3 is not Min 0.2"),
    ("1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.2;0.4;0.7", "largest of Times 0.7 is not Max 0.8"),
    ("1000,CPU Sorted,3,0.2,0.4,0.5,0.8,0.2,0.2;0.4;0.8", "'CPU Sorted' is not a column of the result file"),
    ("1000,CPU Standard,0,0.2,0.4,0.5,0.8,0.2,0.2;0.4;0.8", "Runs '0' is not a positive whole number"),
    ("100,CPU Standard,3,0.02,0.04,0.05,0.08,0.02,0.02;0.04;0.08", "a second row for 100 records, CPU Standard"),
    # Rounding at the twelfth decimal is no disagreement.
    ("1000,CPU Standard,3,0.400000000001,0.4,0.5,0.8,0.2,0.4;0.4;0.8", None),
])
def test_rejects_stats_that_do_not_add_up(plot, tmp_path, row, message):
    run_dir = str(tmp_path / "odd_stats")
    write_run(run_dir, [100, 1000], types=["INT"])
    write(f"{run_dir}/stats_INT.csv", "\n".join([HEAD_STATS] + stats_row_7(row)))
    ran, charts = chart_runs(plot, run_dir)
    assert "bench_INT" in charts
    if message is None:
        assert (ran.status, ran.err) == (0, "") and has_whiskers(charts["bench_INT"])
        return
    assert ran.status == 1
    assert ran.err_lines == [f"plot: {run_dir}/stats_INT.csv: line 7: {message}; chart drawn without whiskers"]
    assert not has_whiskers(charts["bench_INT"])


HEAD_STATS = "NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times"


@pytest.mark.parametrize("cells, message", [
    (",0.5,0.6", "the interval 0.5 to 0.6 does not hold the median 0.4"),
    (",0.3,", "CiHigh cell '' is not a number"),
    (",0.3", "10 cells, the header has 11"),
])
def test_rejects_intervals_that_do_not_hold_the_median(plot, tmp_path, cells, message):
    run_dir = str(tmp_path / "odd_interval")
    write_run(run_dir, [100, 1000], types=["INT"])
    rows = stats_rows([100, 1000], interval=True)
    rows[5] = "1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.2;0.4;0.8" + cells
    write(f"{run_dir}/stats_INT.csv", "\n".join([HEAD_STATS + ",CiLow,CiHigh"] + rows))
    ran, charts = chart_runs(plot, run_dir)
    assert ran.status == 1
    assert ran.err_lines == [f"plot: {run_dir}/stats_INT.csv: line 7: {message}; chart drawn without whiskers"]


def test_a_file_never_closed_may_end_inside_its_last_stats_row(plot, tmp_path):
    run_dir = str(tmp_path / "odd_stats_open")
    write_run(run_dir, [100, 1000], types=["INT"])
    write_stats(f"{run_dir}/stats_INT.csv", [100])
    write(f"{run_dir}/stats_INT.csv", "\n1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.4;0.", "a")
    pad_zeros(f"{run_dir}/stats_INT.csv", 200)
    ran, charts = chart_runs(plot, run_dir)
    assert (ran.status, ran.err) == (0, "") and has_whiskers(charts["bench_INT"])


def speedup_line(chart, column):
    return next(line for line in chart.panels[0].lines if line.label == column)


@pytest.mark.parametrize("interval", [(2.5, 3.5), None])
def test_speedup_panels_take_the_paired_medians(plot, tmp_path, interval):
    run_dir = str(tmp_path / "paired")
    write_run(run_dir, [100, 1000], types=["INT"])
    write_speedups(f"{run_dir}/speedup_INT.csv", [100], interval=interval)
    ran, charts = chart_runs(plot, run_dir)
    assert (ran.status, ran.err) == (0, "")
    line = speedup_line(charts["speedup"], "CPU 1 Thread")
    # 1000 records have no row: CPU Standard's time over the column's.
    assert line.y == pytest.approx([3.0, 0.4 / 0.03])
    assert (line.interval or [None])[0] == interval
    assert "median of paired rounds" in charts["speedup"].title


@pytest.mark.parametrize("row, message", [
    ("100,CPU 1 Thread,6,3.0,2.5,3.5,2.4;2.7;3;3;3.3", "Ratios holds 5 values, Runs is 6"),
    ("100,CPU 1 Thread,6,3.5,2.5,3.6,2.4;2.7;3;3;3.3;3.6", "Median 3.5 is not the median of the Ratios, 3"),
    ("100,CPU 1 Thread,6,3.0,3.1,3.6,2.4;2.7;3;3;3.3;3.6", "the interval 3.1 to 3.6 does not hold the median 3.0"),
    ("100,CPU Standard,6,1,1,1,1;1;1;1;1;1", "'CPU Standard' is the reference, it has no speed-up row"),
    ("100,CPU 1 Thread,6,3.0,2.5,3.5,", "Ratios cell is empty"),
    ("100,CPU 1 Thread,6,x,2.5,3.5,1", "Median cell 'x' is not a number"),
])
def test_rejects_speedup_files_that_do_not_add_up(plot, tmp_path, row, message):
    run_dir = str(tmp_path / "odd_speedups")
    write_run(run_dir, [100, 1000], types=["INT"])
    write_speedups(f"{run_dir}/speedup_INT.csv", [1000])
    write(f"{run_dir}/speedup_INT.csv", "\n" + row, "a")
    ran, charts = chart_runs(plot, run_dir)
    assert ran.status == 1
    assert ran.err_lines == [f"plot: {run_dir}/speedup_INT.csv: line 6: {message}; "
                             "speed-ups drawn from the medians, without bars"]
    line = speedup_line(charts["speedup"], "CPU 1 Thread")
    assert line.interval is None and line.y == pytest.approx([0.04 / 0.003, 0.4 / 0.03])


# --- titles, order, styles ---------------------------------------------------------------------

def test_charts_every_key_distribution(plot, tmp_path):
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
    names = CPU_COLUMNS + GPU_COLUMNS + ["Peer vqsort", "Peer parallel stable sort"]
    styles = [sortbench_charts.style_of(name) for name in names]
    assert len(set(styles)) == 10 and len({s.colour for s in styles}) == 10
    spare = sortbench_charts.style_of("Peer other")
    assert spare not in styles and sortbench_charts.style_of("Peer other") == spare


def test_compares_two_runs_in_dash_types(plot, tmp_path):
    first, second = str(tmp_path / "cpu_251201000000"), str(tmp_path / "cpu_251202000000")
    for run_dir in (first, second):
        write_run(run_dir, [100, 1000], types=["INT"])
        write_result(f"{run_dir}/bench_INT_zipf.csv", [100, 1000])
    ran, charts = chart_runs(plot, first, second)
    compare = charts["compare_INT"]
    runs_in_key = [line for line in compare.key if line.label.startswith("run ")]
    assert [line.label for line in runs_in_key] == ["run cpu_251201000000", "run cpu_251202000000"]
    assert len({line.dash for line in runs_in_key}) == 2
    assert len({line.dash for line in compare.panels[0].lines}) == 2
    assert "zipf keys" in charts["compare_ratio_INT_zipf"].title


def test_charts_what_different_runs_share(plot, tmp_path):
    first, second = str(tmp_path / "differ/cpu_gpu_251201000000"), str(tmp_path / "differ/cpu_251202000000")
    write_run(first, [100, 1000, 10000], gpu=True)
    write_result(f"{first}/bench_INT_sorted.csv", [100, 1000], gpu=True)
    write_run(second, [1000, 10000, 100000])
    ran, charts = chart_runs(plot, first, second)
    assert ran.status == 0
    assert ran.err_lines == [
        "plot: charting the shared counts and columns; left out: from cpu_gpu_251201000000: bench_INT_sorted.csv "
        "and counts 100 and columns GPU, GPU On Card, GPU Transfer; from cpu_251202000000: counts 100000"]
    assert "compare_INT_sorted" not in charts and "compare_ratio_BIGFLOAT" in charts
    lines = charts["compare_INT"].panels[0].lines
    assert all(line.x == [1000, 10000] for line in lines)
    assert not any("GPU" in line.label for line in lines)


def test_reports_runs_that_share_no_count(plot, tmp_path):
    first, second = str(tmp_path / "a"), str(tmp_path / "b")
    write_run(first, [100], types=["INT"])
    write_run(second, [250], types=["INT"])
    ran, charts = chart_runs(plot, first, second)
    assert ran.status == 1 and charts == {}
    assert ran.err_lines == ["plot: bench_INT.csv: the runs share no record count; no comparison chart",
                             "plot: no chart written: no result file is in every run with a row to plot"]


def test_names_runs_of_one_name_by_their_paths():
    assert sortbench_tool.run_names(["a/cpu_1", "b/cpu_1/", "a/cpu_1"]) == ["a/cpu_1", "b/cpu_1", "a/cpu_1 (#3)"]
    assert sortbench_tool.default_out_dir(["x", "y//"]) == "y"
    assert sortbench_tool.default_out_dir(["y/"]) == "y/"


def test_count_axis_labels_short_ladders_and_keeps_decades_for_long_ones():
    assert sortbench_charts.count_axis([100, 2500, 1000000]).ticks == [(100, "100"), (2500, "2.5k"), (1000000, "1M")]
    assert sortbench_charts.count_axis(list(range(100, 1000, 100))).ticks is None
    axis = sortbench_charts.ratio_axis("r", [0.9, 1.05])
    assert axis.limits[0] < 0.8 and axis.limits[1] > 1.25 and (1, "1") in axis.ticks
