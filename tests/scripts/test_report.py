"""Tests of scripts/report: the page of one run, the page comparing runs, and
no page but one clear line per problem for bad input."""

import json
import os
import signal
import stat
import statistics
import subprocess
import sys

import pytest
from conftest import (CPU_COLUMNS, LIMITS, SCRIPTS, TYPES, Page, assert_self_contained, pad_zeros, row_times,
                      run_command, run_in_process, run_on_full_disk, tree, with_limits, write, write_manifest,
                      write_result, write_run, write_speedups, write_stats)

import sortbench_changes
import sortbench_page
import sortbench_peers
import sortbench_results
import sortbench_rundir
import sortbench_text
import sortbench_tool
from sortbench_side_files import STATS_HEADER, STATS_INTERVAL
from sortbench_stats import CellStats
from sortbench_series import WITHOUT_SPEEDUPS, WITHOUT_STATS

CONDITIONS = """----------------------------- RUN CONDITIONS -----------------------------
Load average: 0.12 (2 CPUs online)
CPU frequency governor: not exposed
Transparent huge pages: madvise
Hypervisor: yes
Options: {options}
Version: a071519
"""


def write_times(path, counts, times_of, interval=False):
    """A result file and its stats file whose cells hold the times times_of(count, column)."""
    rows, stats = [], []
    for n in counts:
        medians = [statistics.median(times_of(n, name)) for name in CPU_COLUMNS]
        rows.append(",".join([str(n)] + [f"{m:.12f}" for m in medians]))
        for name, median in zip(CPU_COLUMNS, medians):
            times = times_of(n, name)
            stats.append(f"{n},{name},{len(times)},{min(times):.12f},{median:.12f},{statistics.mean(times):.12f},"
                         f"{max(times):.12f},{statistics.pstdev(times):.12f},"
                         + ";".join(f"{t:.12f}" for t in times) + (",," if interval else ""))
    write(path, "\n".join([",".join(["NbRecords"] + CPU_COLUMNS)] + rows))
    header = STATS_HEADER + (STATS_INTERVAL if interval else "")
    write(path.replace("bench_", "stats_"), "\n".join([header] + stats))


def single_run(run_dir):
    write_run(run_dir, [100, 1000], types=["INT"])
    write_result(f"{run_dir}/bench_INT_zipf.csv", [100, 1000])


def repeated_run(run_dir):
    write_run(run_dir, [100, 1000], types=["INT"], peers=True)
    write_stats(f"{run_dir}/stats_INT.csv", [100, 1000])
    write_speedups(f"{run_dir}/speedup_INT.csv", [100, 1000])
    write(f"{run_dir}/run_conditions.txt", CONDITIONS.format(options="-O /tmp/x -S 1000 -R 3 -PEERS"))


def floored_run(run_dir):
    write_run(run_dir, [100, 1000], types=["INT"])
    write_stats(f"{run_dir}/stats_INT.csv", [100, 1000], floor_ratio=2.5)


def auto_run(run_dir):
    os.makedirs(run_dir)
    write_times(f"{run_dir}/bench_INT.csv", [100, 1000],
                lambda n, c: [t * n for t in (1, 1.002, 1.003, 1.001, 0.999, 0.998, 1.0)], interval=True)
    rows = open(f"{run_dir}/stats_INT.csv").read().split("\n")
    # The first cell's median has its interval; the others had too few runs.
    rows[1] = rows[1][:-2] + ",99.8,100.2"
    write(f"{run_dir}/stats_INT.csv", "\n".join(rows))
    write(f"{run_dir}/run_conditions.txt", CONDITIONS.format(options="-S 1000 -R auto -CI 2 -D uniform"))


def gpu_run(options):
    def make(run_dir):
        write_run(run_dir, [100, 1000], gpu=True, types=["INT"])
        if options:
            write(f"{run_dir}/run_conditions.txt", CONDITIONS.format(options=options))
    return make


def with_manifest(make, plan=(), ended=None, **top):
    """`make`'s run with a run.json; `ended` is the outcome of its last data set."""
    def build(run_dir):
        make(run_dir)
        document = write_manifest(run_dir, plan, **top)
        if ended:
            document["data_sets"][-1]["outcome"] = ended
            write(f"{run_dir}/run.json", json.dumps(document))
    return build


def interrupted(make):
    """`make`'s run, then a FLOAT file the run did not get past the first count of."""
    def build(run_dir):
        make(run_dir)
        write_result(f"{run_dir}/bench_FLOAT.csv", [100], gpu=True)
    return build


def with_reference(references, drifts=None):
    """auto_run with the machine's reference timed after each round: `references`
    {count: its times, one per round; seven or more} in its stats file and
    run.json, `drifts` {count: the drift run.json gives} (0 unless given), and
    an interval target of ±1%."""
    def build(run_dir):
        auto_run(run_dir)
        lines = open(f"{run_dir}/stats_INT.csv").read().split("\n")
        rows = [f"{row},{';'.join(map(str, references[int(row.split(',')[0])]))}"
                for row in with_limits(lines[1:], None)]
        write(f"{run_dir}/stats_INT.csv", "\n".join([lines[0] + LIMITS + ",ReferenceTimes"] + rows))
        document = write_manifest(run_dir, {**AUTO_PLAN, "interval_target": 0.01})
        for data_set in document["data_sets"]:
            data_set["reference_ms"] = references[data_set["count"]]
            data_set["rounds"] = len(data_set["reference_ms"])
            data_set["drift"] = (drifts or {}).get(data_set["count"], 0)
        write(f"{run_dir}/run.json", json.dumps(document))
    return build


AUTO_PLAN = {"until_sure": True, "interval_target": 0.5, "budget_seconds": 0.2, "repetitions": 1000}


@pytest.mark.parametrize("make, sections, expected, absent", [
    (single_run, ["int", "int-zipf-keys"],
     ["one timed sort per cell", "holds no run_conditions.txt", "No column of this run is checked"], ["⚠"]),
    (repeated_run, ["int"],
     ["3 timed sorts per cell", "-R 3 -PEERS", "⚠ cv 53.1%", "×3.00 [2.50 … 3.50]", "0.04000", "0.02000 … 0.08000",
      "the permutation of Peer vqsort", "1 of the 2 rows", "(INT, 1000 records)", "median of the paired"],
     ["Limits"]),
    (floored_run, [], ["INT: median time per sort over the column's memory floor", "time / memory floor"], []),
    (auto_run, ["int"],
     ["7 timed sorts per cell (-R auto)", "Limits", "±2% of it", "10 s, warm-ups included (the default of -T)",
      "Cells that missed the target", "[99.80 … 100.2]", "⚠ no 95% interval in 7 runs"], ["cv "]),
    (gpu_run("-GPU -QA -R 3"), ["int"], ["the GPU permutation against the CPU radix sort's (-QA)", "1 of the 2 rows"],
     ["does not say"]),
    (gpu_run(None), ["int"], ["does not say whether it was given"], ["Checked in every timed sort"]),
    # With run.json its plan is taken, whatever the Options line says.
    (with_manifest(auto_run, AUTO_PLAN), ["int"],
     ["7 timed sorts per cell (-R auto)", "±50% of it", "0.2 s, warm-ups included", "-R auto -CI 2"],
     ["±2%", "the default of", "Machine speed", "Drift"]),
    # Above twice the target of ±1%, a drift is marked.
    (with_reference({100: [2.0, 2.0, 2.0, 2.0, 2.146, 2.146, 2.146], 1000: [2.0, 2.0, 2.0, 2.0, 2.01, 2.01, 2.01]},
                    {100: 0.073, 1000: 0.005}),
     ["int"], ["Machine speed", "10072.000⚠ 7.3%", "1,00072.0000.5%",
               "⚠ marks a drift above 2%, 2 times the interval target of ±1%: 1 of the 2 data sets.", "-T"], []),
    (with_manifest(single_run), ["int", "int-zipf-keys"], ["-S 1000 -R 3", "Transparent huge pages"],
     ["holds no run_conditions.txt"]),
    (with_manifest(repeated_run, ended="check failed", exit_status=1), ["int"],
     ["the permutation of Peer vqsort", "Of the 2 data sets run.json records, 1 passed every check; INT, 1,000 "
      "records: check failed.", "The run ended with exit status 1: it stopped early"], ["1 of the 2 rows"]),
    (with_manifest(interrupted(gpu_run(None)), {"gpu": True, "qa": True}, exit_status=None), ["int", "float"],
     ["(-QA)", "It records no exit status: the run was interrupted, or is still running.",
      "Not measured, of what the run was asked for: FLOAT: 1 of 2 counts, 1,000 records missing."],
     ["does not say", "the way a failed check"]),
])
def test_writes_the_page_of_one_run(report, tmp_path, make, sections, expected, absent):
    run_dir = str(tmp_path / "cpu_261207184009")
    make(run_dir)
    ran = run_in_process(report, [run_dir])
    assert (ran.status, ran.err, ran.out_lines) == (0, "", [f"{run_dir}/report.html"])
    page = Page(open(f"{run_dir}/report.html", encoding="utf-8").read())
    assert_self_contained(page)
    for section in sections:
        assert page.sections[section]["svg"] == 1 and page.sections[section]["table"] == 1
    text = "".join(page.section_text.values())
    assert [e for e in expected if e not in text] == []
    assert [a for a in absent if a in text] == []


def with_verdicts(make, noisy, drifted=None):
    """`make`'s run (with a run.json) whose run.json gives the program's
    verdicts, as runs made since it does: every data set's `noisy` and
    interval_missed columns, and `drifted` {count: verdict} where given."""
    def build(run_dir):
        make(run_dir)
        with open(f"{run_dir}/run.json", encoding="utf-8") as stream:
            document = json.load(stream)
        document["plan"].update(noisy_cv=0.05, drift_targets=2)
        for data_set in document["data_sets"]:
            data_set.update(noisy=noisy, interval_missed=noisy)
            if drifted:
                data_set["drifted"] = drifted[data_set["count"]]
        write(f"{run_dir}/run.json", json.dumps(document))
    return build


DRIFTING = with_reference({100: [2.0] * 4 + [2.146] * 3, 1000: [2.0] * 4 + [2.01] * 3}, {100: 0.073, 1000: 0.005})


# The rules would mark a cv of 53.1% and the drift of 7.3%: where run.json gives verdicts, they decide.
@pytest.mark.parametrize("make, expected, absent", [
    (with_verdicts(with_manifest(repeated_run), []), ["3 timed sorts per cell"], ["⚠ cv"]),
    (with_manifest(repeated_run), ["⚠ cv 53.1%"], []),
    (with_verdicts(DRIFTING, [], {100: False, 1000: True}),
     ["10072.0007.3%", "1,00072.000⚠ 0.5%", "1 of the 2 data sets"], ["⚠ 7.3%", "⚠ no 95% interval"]),
    (DRIFTING, ["10072.000⚠ 7.3%", "1,00072.0000.5%", "⚠ no 95% interval in 7 runs"], []),
])
def test_marks_follow_run_json_verdicts_and_the_rules_for_runs_without(report, tmp_path, make, expected, absent):
    run_dir = str(tmp_path / "cpu_261207184009")
    make(run_dir)
    assert run_in_process(report, [run_dir]).status == 0
    text = "".join(Page(open(f"{run_dir}/report.html", encoding="utf-8").read()).section_text.values())
    assert [e for e in expected if e not in text] == []
    assert [a for a in absent if a in text] == []


def stopped(run_dir):
    """Files of a run stopped in FLOAT's second data set: INT whole, FLOAT one row, the others header only."""
    write_result(f"{run_dir}/bench_FLOAT.csv", [100])
    for data_type in TYPES[2:]:
        write(f"{run_dir}/bench_{data_type}.csv", ",".join(["NbRecords"] + CPU_COLUMNS))


def ended(exit_status, cut=None):
    """A run of every data type at 100 and 1000 records with a stats file for
    INT, its files as cut(run_dir) leaves them, then its run.json, which
    asked for all of it and records `exit_status`."""
    def build(run_dir):
        write_run(run_dir, [100, 1000])
        write_stats(f"{run_dir}/stats_INT.csv", [100, 1000])
        if cut:
            cut(run_dir)
        write_manifest(run_dir, {"types": list(TYPES)}, exit_status=exit_status)
    return build


NOT_REACHED = "FLOAT: 1 of 2 counts, 1,000 records missing; BIGINT, BIGFLOAT: no row (not reached)."
NEVER_CLOSED = "bench_FLOAT.csv: the file was never closed: the run was cut short (or is still running); 1 complete " \
               "rows charted"


# Every page says how its run ended, and what it left unmeasured or short.
@pytest.mark.parametrize("make, expected, err", [
    (ended(0), ["The run ended with exit status 0."], []),
    (ended(None, stopped), ["It records no exit status: the run was interrupted, or is still running.",
                            f"Not measured, of what the run was asked for: {NOT_REACHED}"], []),
    (ended(1, lambda d: write_stats(f"{d}/stats_INT.csv", [100])),
     ["The run ended with exit status 1: it stopped early",
      "stats_INT.csv has no row for 5 of the 10 cells of bench_INT.csv, from 1,000 records, CPU Standard on: it was "
      "cut short."], []),
    (ended(None, lambda d: stopped(d) or pad_zeros(f"{d}/bench_FLOAT.csv", 300)),
     [f"{NEVER_CLOSED}.", "It records no exit status", NOT_REACHED], [f"{{d}}/{NEVER_CLOSED}"]),
    (single_run, ["This run directory holds no usable run.json, so how the run ended is not recorded."], []),
])
def test_says_how_the_run_ended(report, tmp_path, make, expected, err):
    run_dir = str(tmp_path / "run")
    make(run_dir)
    ran = run_in_process(report, [run_dir])
    assert (ran.status, ran.err_lines) == (0, [f"report: {e.format(d=run_dir)}" for e in err])
    text = Page(open(f"{run_dir}/report.html", encoding="utf-8").read()).section_text["how-the-run-ended"]
    assert [e for e in expected if e not in text] == []
    assert ("Not measured" in text) == any(NOT_REACHED in e for e in expected)


def out_of_disk(failed_writes, cut=None):
    """As ended(1): every data set measured and recorded, the files as cut(run_dir)
    leaves them after run.json, whose ending names the writes that failed."""
    def build(run_dir):
        write_run(run_dir, [100, 1000])
        write_stats(f"{run_dir}/stats_INT.csv", [100, 1000])
        write_manifest(run_dir, {"types": list(TYPES)}, exit_status=1, failed_writes=failed_writes)
        if cut:
            cut(run_dir)
    return build


FULL = "No space left on device"


# A run that measured everything and could not write every file says which and
# why, not that it stopped early; rows it measured and lost are not "not measured".
@pytest.mark.parametrize("make, said", [
    (out_of_disk([{"file": "/runs/out.json", "reason": FULL}]),
     ["The run ended with exit status 1 because not every file could be written, not because it stopped early: "
      f"/runs/out.json ({FULL})."]),
    (out_of_disk([{"file": "bench_FLOAT.csv", "reason": FULL, "cells": 6},
                  {"file": "stats_INT.csv", "reason": FULL, "cells": 5}],
                 lambda d: (write_result(f"{d}/bench_FLOAT.csv", [100]), write_stats(f"{d}/stats_INT.csv", [100]))),
     [f"not because it stopped early: bench_FLOAT.csv lacks 6 cells ({FULL}); stats_INT.csv lacks 5 cells ({FULL}).",
      "Measured, but missing from result files that could not be written: FLOAT: 1,000 records.",
      f"stats_INT.csv has no row for 5 of the 10 cells of bench_INT.csv, from 1,000 records, CPU Standard on: it "
      f"could not be written whole ({FULL})."]),
])
def test_says_which_write_failed_and_what_was_measured(report, tmp_path, make, said):
    run_dir = str(tmp_path / "run")
    make(run_dir)
    assert run_in_process(report, [run_dir]).status == 0
    text = Page(open(f"{run_dir}/report.html", encoding="utf-8").read()).section_text["how-the-run-ended"]
    assert [e for e in said if e not in text] == []
    assert "stopped early (" not in text and "Not measured" not in text and "cut short" not in text


def test_keeps_the_run_directory_modification_time(report, tmp_path):
    run_dir = str(tmp_path / "kept")
    single_run(run_dir)
    os.utime(run_dir, ns=(0, 10**18))
    assert run_in_process(report, [run_dir]).status == 0
    assert os.stat(run_dir).st_mtime_ns == 10**18


def compared_runs(tmp_path):
    """Three runs: a baseline of six repetitions, a later one where CPU 1 Thread
    takes twice as long, a last one without repetitions."""
    runs = [str(tmp_path / name) for name in ("cpu_261201000000", "cpu_261202000000", "cpu_261203000000")]
    jitter = (0.9, 0.95, 0.99, 1.01, 1.05, 1.1)
    for k, run_dir in enumerate(runs[:2]):
        os.makedirs(run_dir)
        slower = {"CPU 1 Thread": 2.0} if k else {}
        write_times(f"{run_dir}/bench_INT.csv", [100, 1000],
                    lambda n, c: [row_times(n)[CPU_COLUMNS.index(c)] * slower.get(c, 1) * j for j in jitter])
    write_run(runs[2], [100, 1000, 5000], types=["INT", "FLOAT"])
    return runs


def test_compares_runs(report, tmp_path):
    runs = compared_runs(tmp_path)
    out = str(tmp_path / "pages" / "compare.html")
    ran = run_in_process(report, ["-o", out] + runs)
    assert (ran.status, ran.out_lines) == (0, [out])
    assert ran.err_lines == ["report: comparing the shared counts and columns; left out: from cpu_261203000000: "
                             "bench_FLOAT.csv and counts 5000"]
    page = Page(open(out, encoding="utf-8").read())
    assert_self_contained(page)
    assert page.sections["int"]["svg"] == 2 and page.sections["int"]["table"] == 2
    text = page.section_text["int"]
    doubled = "+100%0.003000 → 0.006000 msp = 0.00216, significant"
    assert doubled in text and "0%0.04000 → 0.04000 msp = 1, not significant" in text
    assert "no U test: a run without repetitions" in text
    assert "geometric mean" in text and "cannot go below" not in text
    summary = page.section_text["geometric-mean-of-the-changes"]
    assert "Run cpu_261202000000 against run cpu_261201000000" in summary and "+100%" in summary
    assert "left out: from cpu_261203000000" in page.source


def test_says_when_repetitions_are_too_few_for_the_test(report, tmp_path):
    runs = [str(tmp_path / "a"), str(tmp_path / "b")]
    for run_dir in runs:
        write_run(run_dir, [100], types=["INT"])
        write_stats(f"{run_dir}/stats_INT.csv", [100])
    assert run_in_process(report, runs).status == 0
    text = open(f"{runs[1]}/report.html", encoding="utf-8").read()
    assert "With 3 and 3 repetitions the test cannot go below p = 0.1" in text


def killed(run_dir):
    write_run(run_dir, [100, 1000], types=["INT"])
    pad_zeros(f"{run_dir}/bench_INT.csv", 300)


def odd_stats(run_dir):
    write_run(run_dir, [100, 1000], types=["INT"])
    write_stats(f"{run_dir}/stats_INT.csv", [100])
    write(f"{run_dir}/stats_INT.csv", "\n1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.2;0.8", "a")
    write_speedups(f"{run_dir}/speedup_INT.csv", [100])
    write(f"{run_dir}/speedup_INT.csv", "\n1000,CPU 1 Thread,1,x,,,1", "a")


def conditions(options):
    def make(run_dir):
        write_run(run_dir, [100], types=["INT"])
        write(f"{run_dir}/run_conditions.txt", CONDITIONS.format(options=options))
    return make


@pytest.mark.parametrize("make, messages", [
    (lambda d: write_run(d, [100], types=["INT"]) or write(f"{d}/bench_INT.csv", "\n250,0.1,abc,1,1,1", "a"),
     ["{d}/bench_INT.csv: line 3: CPU 1 Thread cell 'abc' is not a number"]),
    # As scripts/plot: a file with no time to draw is no result at all.
    (lambda d: os.makedirs(d) or write(f"{d}/bench_INT.csv", ",".join(["NbRecords"] + CPU_COLUMNS) + "\n250,0,0,0,0,0"),
     ["{d}/bench_INT.csv: no positive time to draw: all 5 are zero or negative"]),
    (conditions("-R auto -CI 1e400"),
     ["{d}/run_conditions.txt: Options: -CI 1e400 is not a percentage from 0.1 to 50"]),
    (conditions("-R auto -T abc"), ["{d}/run_conditions.txt: Options: -T abc is not a positive number of seconds"]),
    (conditions("-R 3\0"), ["{d}/run_conditions.txt: zero bytes inside the text, not a run conditions file"]),
    (killed, ["{d}/bench_INT.csv: the file was never closed: the run was cut short (or is still running); "
              "2 complete rows charted"]),
    (with_reference({100: [2.0] * 7, 1000: [2.0] * 6 + [0.0]}),
     ["{d}/run.json: \"data_sets[1].reference_ms\" is not a list of positive numbers: "
      "'[2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 0.0]'",
      f"{{d}}/stats_INT.csv: line 7: ReferenceTimes value '0.0' is not a positive number; {WITHOUT_STATS}"]),
    (lambda d: os.makedirs(d), ["no result files (bench_*.csv) in {d}"]),
    (lambda d: None, ["no such directory: {d}"]),
])
def test_refuses_bad_input_with_one_line_each_and_no_page(report, tmp_path, make, messages):
    run_dir = str(tmp_path / "bad")
    make(run_dir)
    if os.path.isdir(run_dir):
        write(f"{run_dir}/report.html", "earlier page")
    ran = run_in_process(report, [run_dir])
    assert (ran.status, ran.out) == (1, "")
    assert ran.err_lines == [f"report: {m.format(d=run_dir)}" for m in messages]
    if os.path.isdir(run_dir):
        assert open(f"{run_dir}/report.html").read() == "earlier page"


# A stats or speed-up file that cannot be used takes nothing else with it, in
# either tool: the series stays without it, one line says so, and the status is 1.
@pytest.mark.parametrize("make, messages", [
    (odd_stats, [f"{{d}}/stats_INT.csv: line 7: Times holds 2 values, Runs is 3; {WITHOUT_STATS}",
                 f"{{d}}/speedup_INT.csv: line 6: Median cell 'x' is not a number; {WITHOUT_SPEEDUPS}"]),
    (with_reference({100: [2.0] * 7, 1000: [2.0] * 6}),
     [f"{{d}}/stats_INT.csv: line 7: ReferenceTimes holds 6 values, fewer than Runs 7; {WITHOUT_STATS}"]),
    (lambda d: with_reference({100: [2.0] * 7, 1000: [2.0] * 7})(d) or
     write(f"{d}/stats_INT.csv", open(f"{d}/stats_INT.csv").read().replace(";2.0\n", ";2.5\n", 1)),
     [f"{{d}}/stats_INT.csv: line 3: ReferenceTimes is not that of the other rows of 100 records; {WITHOUT_STATS}"]),
])
def test_keeps_a_series_without_the_side_file_it_cannot_use(report, plot, tmp_path, make, messages):
    run_dir = str(tmp_path / "run")
    make(run_dir)
    for tool, module in (("report", report), ("plot", plot)):
        ran = run_in_process(module, [run_dir])
        assert (ran.status, ran.err_lines) == (1, [f"{tool}: {m.format(d=run_dir)}" for m in messages])
        assert f"{run_dir}/{'report.html' if tool == 'report' else 'bench_INT.png'}" in ran.out_lines
    table = Page(open(f"{run_dir}/report.html", encoding="utf-8").read()).section_text["int"]
    assert "1,000" in table and "…" not in table
    assert "stats_INT.csv: line " in table and "not used, so this series is shown without it" in table


def changed_manifest(change):
    """A run whose run.json is change(its text), a string or bytes."""
    def make(run_dir):
        write_run(run_dir, [100], types=["INT"])
        changed = change(json.dumps(write_manifest(run_dir), indent=2))
        with open(f"{run_dir}/run.json", "wb") as stream:
            stream.write(changed if isinstance(changed, bytes) else changed.encode())
    return make


def with_plan(**entries):
    """A change of run.json's text: its plan with these entries."""
    def change(text):
        document = json.loads(text)
        document["plan"].update(entries)
        return json.dumps(document)
    return change


# A run.json that is broken, cut short, hostile or newer: one line, no page.
@pytest.mark.parametrize("change, message", [
    (lambda t: t[:t.index(',\n  "program_version"')],
     "run.json: not a whole JSON document: Expecting ',' delimiter at line 3 column 22"),
    (lambda t: b"\xff" + t.encode(), "run.json: not UTF-8 text"),
    (lambda t: "[" * 100000, "run.json: nested deeper than a run manifest is"),
    (lambda t: t.replace('"sortbench run manifest"', '"other"'),
     'run.json: not a run manifest: "format" is not "sortbench run manifest"'),
    (lambda t: t.replace('"format_version": 1', '"format_version": 2'),
     "run.json: format_version 2 is newer than these scripts read (1): use the scripts of the program that made "
     "the run"),
    (lambda t: t.replace('"interval_target": 0.01', '"interval_target": NaN'),
     "run.json: not a JSON document a run writes: NaN is not a JSON number"),
    (lambda t: t.replace('"interval_target": 0.01', '"interval_target": 1e400'),
     "run.json: \"plan.interval_target\" is not a fraction above 0, at most 1: 'Infinity'"),
    (lambda t: t.replace('"exit_status": 0', '"exit_status": "0"'),
     "run.json: \"exit_status\" is not null or an exit status: '\"0\"'"),
    (lambda t: t.replace('"e79fbd8"', '"\\ud800"'), "run.json: \"program_version\" is not a string: '\"\\ud800\"'"),
    (lambda t: t.replace('"columns"', '"kolumns"'), 'run.json: "plan.columns" is missing'),
    (lambda t: t.replace('"data_sets": [', '"data_sets": [7, '), "run.json: data_sets[0] is not an object"),
    (lambda t: t.replace('"seconds": 0', '"seconds": 0, "reference_ms": [1.5, 0]'),
     "run.json: \"data_sets[0].reference_ms\" is not a list of positive numbers: '[1.5, 0]'"),
    (lambda t: t.replace('"seconds": 0', '"seconds": 0, "reference_ms": [1.5]'),
     "run.json: \"data_sets[0].reference_ms\" holds 1 values, rounds is 3"),
    # Numbers the result files would refuse as cells.
    (lambda t: t.replace('"interval_target": 0.01', '"interval_target": 5e-324'),
     "run.json: \"plan.interval_target\" is out of range (0, or 10^-12 to 10^12 either side of it): '5e-324'"),
    (lambda t: t.replace('"seconds": 0', '"seconds": 0, "reference_ms": [1.5, 1.5, 1.5], "drift": 1.7e308'),
     "run.json: \"data_sets[0].drift\" is out of range (0, or 10^-12 to 10^12 either side of it): '1.7e+308'"),
    # Lists longer than a run writes, which would cost minutes and gigabytes to go through.
    (with_plan(types=["INT"] * 3000, distributions=["uniform"] * 3000, counts=list(range(1, 2001))),
     'run.json: "plan.counts" holds 2000 entries, more than a run writes (29)'),
    (with_plan(distributions=list(sortbench_rundir.DISTRIBUTIONS) + ["uniform"]),
     'run.json: "plan.distributions" holds 9 entries, more than a run writes (8)'),
    (with_plan(peer_sorters=[{"name": "p", "column": "Peer p", "threads": 1}] * 12),
     'run.json: "plan.peer_sorters" holds 12 entries, more than a run writes (11)'),
    (lambda t: t.replace(',CPU 8 Thread"', ',CPU 9 Thread"'),
     "bench_INT.csv: line 1 is not the header run.json states for this file: field 6 is 'CPU 8 Thread' here, "
     "'CPU 9 Thread' in run.json"),
])
def test_refuses_a_run_json_it_cannot_use(report, tmp_path, change, message):
    run_dir = str(tmp_path / "bad")
    changed_manifest(change)(run_dir)
    ran = run_in_process(report, [run_dir])
    assert (ran.status, ran.out, ran.err_lines) == (1, "", [f"report: {run_dir}/{message}"])
    assert not os.path.exists(f"{run_dir}/report.html")


def test_says_where_run_json_and_the_stats_file_disagree_on_the_reference(report, tmp_path):
    run_dir = str(tmp_path / "run")
    with_reference({100: [2.0] * 7, 1000: [2.0] * 7})(run_dir)
    document = json.load(open(f"{run_dir}/run.json"))
    document["data_sets"][1]["reference_ms"][6] = 2.5
    write(f"{run_dir}/run.json", json.dumps(document))
    ran = run_in_process(report, [run_dir])
    assert (ran.status, ran.err_lines) == (0, [f"report: {run_dir}/stats_INT.csv: ReferenceTimes of 1000 records are "
                                               "not the reference_ms run.json gives: round 7 took 2 ms here, 2.5 ms "
                                               "there"])


# Said on the page below the table, as on the tool's line, and no bad input.
def test_remarks_where_run_json_and_the_stats_file_disagree_on_the_rounds(report, tmp_path):
    run_dir = str(tmp_path / "run")
    with_manifest(repeated_run)(run_dir)
    document = json.load(open(f"{run_dir}/run.json"))
    document["data_sets"][1]["rounds"] = 5
    write(f"{run_dir}/run.json", json.dumps(document))
    ran = run_in_process(report, [run_dir])
    remark = ("stats_INT.csv: Runs is not the rounds run.json records for the data set in 5 rows, from 1000 records, "
              "CPU Standard on: Runs 3 here, 5 rounds in run.json")
    assert (ran.status, ran.err_lines) == (0, [f"report: {run_dir}/{remark}"])
    assert f"{remark}." in Page(open(f"{run_dir}/report.html").read()).section_text["int"]


# An empty cell is a skipped peer where run.json names it for the data set, and bad input elsewhere.
@pytest.mark.parametrize("named, status, err", [
    (True, 0, []),
    (False, 1, ["bench_INT.csv: line 3: Peer vqsort cell '' is not a number"]),
])
def test_shows_a_skipped_peer_only_where_run_json_names_it(report, tmp_path, named, status, err):
    run_dir = str(tmp_path / "run")
    write_run(run_dir, [100, 1000], types=["INT"], peers=True)
    lines = open(f"{run_dir}/bench_INT.csv").read().split("\n")
    cells = lines[2].split(",")
    cells[lines[0].split(",").index("Peer vqsort")] = ""
    write(f"{run_dir}/bench_INT.csv", "\n".join(lines[:2] + [",".join(cells)]))
    document = write_manifest(run_dir, {"peers": True, "peer_sorters": [
        {"name": "vqsort", "column": "Peer vqsort", "threads": 1},
        {"name": "std-stable-sort-par", "column": "Peer parallel stable sort", "threads": 2}]})
    document["data_sets"][1]["skipped"] = ["Peer vqsort"] if named else []
    write(f"{run_dir}/run.json", json.dumps(document))
    ran = run_in_process(report, [run_dir])
    assert (ran.status, ran.err_lines) == (status, [f"report: {run_dir}/{m}" for m in err])
    if named:
        text = Page(open(f"{run_dir}/report.html").read()).section_text["int"]
        assert "skipped" in text and "1,000 records: Peer vqsort" in text


# Ratios of times to the fastest peer on as many threads; Peer b is skipped at 1000 records.
@pytest.mark.parametrize("row, fastest, one, many, skipped", [
    (0, "Peer b", ("CPU 1 Thread", "Peer b", 2.0), ("CPU 4 Thread", "Peer c", 0.5), ()),
    (1, "Peer d", ("CPU 1 Thread", "Peer a", 0.8), ("CPU 8 Thread", "Peer d", 4.0), ("Peer b",)),
])
def test_sets_our_sorters_against_the_fastest_peer_on_as_many_threads(row, fastest, one, many, skipped):
    threads = {"Peer a": 1, "Peer b": 1, "Peer c": 4, "Peer d": 4}
    times = [[10, 2, 3, 1.5, 1.8, 4, 1, 3, 6], [100, 8, 9, 5, 4, 10, None, 2, 1]]
    table = sortbench_results.ResultTable("bench_INT.csv", CPU_COLUMNS + list(threads), ["100", "1000"],
                                          times=times, skipped={("1000", "Peer b")})
    found = sortbench_peers.peer_rows(table, threads)[row]
    assert (found.fastest, found.one, found.many, found.skipped) == \
        (fastest, sortbench_peers.Against(*one), sortbench_peers.Against(*many), skipped)


def out_of_memory(*_args):
    raise MemoryError()


# A whole run directory is bounded, and running out of memory is said as such.
@pytest.mark.parametrize("module, name, value, messages", [
    # Room for one result file of the two.
    (sortbench_text, "MAX_RUN_BYTES", 256, ["{d}/bench_FLOAT.csv: not read: with it the files read from its run "
                                            "directory would hold more than 0.000244141 MiB, far more than a run "
                                            "writes"]),
    (sortbench_rundir, "MAX_RESULT_FILES", 1, ["{d}: more than 1 result files (bench_*.csv), far more than a run "
                                               "writes (32): not read"]),
    (sortbench_results, "_result_row", out_of_memory, [f"{{d}}/bench_{t}.csv: out of memory while reading it"
                                                       for t in ("INT", "FLOAT")]),
    ("report", "run_page", out_of_memory, ["unexpected MemoryError: out of memory: run it with more memory, or on "
                                           "fewer runs at once"]),
])
def test_bounds_what_a_run_directory_may_cost(report, tmp_path, monkeypatch, module, name, value, messages):
    run_dir = str(tmp_path / "run")
    write_run(run_dir, [100, 1000], types=["INT", "FLOAT"])
    monkeypatch.setattr(report if module == "report" else module, name, value)
    ran = run_in_process(report, [run_dir])
    assert (ran.status, ran.out, ran.err_lines) == (1, "", [f"report: {m.format(d=run_dir)}" for m in messages])


def test_refuses_runs_that_share_no_count(report, tmp_path):
    runs = [str(tmp_path / "a"), str(tmp_path / "b")]
    write_run(runs[0], [100], types=["INT"])
    write_run(runs[1], [250], types=["INT"])
    ran = run_in_process(report, runs)
    assert ran.status == 1 and not os.path.exists(f"{runs[1]}/report.html")
    assert ran.err_lines == ["report: bench_INT.csv: the runs share no record count",
                             "report: no result file is in every run with a row to compare"]


@pytest.mark.parametrize("argv, message", [(["-x"], "report: unknown option -x"),
                                           (["-o"], "report: option -o needs a file"),
                                           (["-h"], "usage: scripts/report [-o FILE] [RUN_DIR...]")])
def test_refuses_bad_command_lines(argv, message):
    ran = run_command("report", argv)
    assert ran.status == 2 and message in ran.err_lines


@pytest.mark.parametrize("value, digits, text", [
    (0.0049312, 4, "0.004931"), (146.54, 4, "146.5"), (12345.6, 4, "12346"), (3.0, 3, "3.00"), (0, 4, "0")])
def test_writes_numbers_with_significant_digits(value, digits, text):
    assert sortbench_page.significant(value, digits) == text


@pytest.mark.parametrize("percent, text", [(0.04, "+0.04%"), (-3.21, "-3.2%"), (12.4, "+12%"), (-0.001, "0%")])
def test_writes_changes_in_percent(percent, text):
    assert sortbench_page.signed_percent(percent) == text


def test_changes_are_tested_only_with_repetitions_in_both_runs():
    first = CellStats(6, 1, 1, 1, 1, 0, [1.0, 1.1, 0.9, 1.05, 0.95, 1.01])
    later = CellStats(6, 2, 2, 2, 2, 0, [2.0, 2.2, 1.8, 2.1, 1.9, 2.01])
    change = sortbench_changes.change_of(1.0, 2.0, first, later)
    # Apart with no ties: the exact test's smallest p, 2 / C(12, 6).
    assert change.percent == pytest.approx(100) and change.significant and change.p == pytest.approx(2 / 924)
    assert sortbench_changes.change_of(1.0, 2.0, first, None).significant is None
    assert sortbench_changes.change_of(None, 2.0).ratio is None
    assert sortbench_changes.geometric_mean([2.0, 0.5, None]) == pytest.approx(1.0)
    assert sortbench_changes.smallest_p(3, 3) == pytest.approx(0.1)


# Marks that reorder or hide text, and a C1 control: escaped on the page as in the lines printed.
@pytest.mark.parametrize("char, shown", [("\u200e", "\\u200e"), ("\u200f", "\\u200f"), ("\u202e", "\\u202e"),
                                         ("\u2067", "\\u2067"), ("\u200b", "\\u200b"), ("\x9b", "\\x9b")])
def test_escapes_bidirectional_and_invisible_format_characters(char, shown):
    assert sortbench_tool.printable(f"a{char}b") == f"a{shown}b"
    assert sortbench_page.esc(f"<{char}>") == f"&lt;{shown}&gt;"


def test_scopes_the_ids_of_each_chart():
    svg = '<svg><path id="m1"/><use xlink:href="#m1"/><g clip-path="url(#p2)"/></svg>'
    assert sortbench_page.scoped_svg(svg, "c") == \
        '<svg><path id="c-m1"/><use xlink:href="#c-m1"/><g clip-path="url(#c-p2)"/></svg>'


# An Options line of an older benchmark that quoted a line feed as it was: the
# lines of the argument are no run conditions of their own.
def test_takes_the_run_conditions_as_plain_data(report, tmp_path):
    run_dir = str(tmp_path / "conditions")
    gpu_run("-O '/tmp/x\nOptions: -GPU -QA -R auto\nWARNING: <b>fake</b>' -GPU -R 3")(run_dir)
    ran = run_in_process(report, [run_dir])
    page = Page(open(f"{run_dir}/report.html", encoding="utf-8").read())
    text = page.section_text["run-conditions"] + page.section_text["qa-and-peer-checks"]
    assert (ran.status, ran.err) == (0, "") and 'class="warning"' not in page.source
    assert "/tmp/x\\nOptions: -GPU -QA -R auto\\nWARNING: <b>fake</b>' -GPU -R 3" in text
    assert "Limits" not in text and "(-QA)" not in text and page.tags["b"] == 0


def test_shows_names_and_cells_as_written(report, tmp_path):
    run_dir = str(tmp_path / "before_$5_after_$6\x1b[2J")
    os.makedirs(run_dir)
    write(f"{run_dir}/bench_INT.csv", "NbRecords,CPU Standard,$x_1$ \x1b]0;title\x07\n100,0.5,0.25\n1000,5,2.5")
    ran = run_in_process(report, [run_dir])
    shown = run_dir.replace("\x1b", "\\x1b")
    assert (ran.status, ran.err, ran.out_lines) == (0, "", [f"{shown}/report.html"])
    page = open(f"{run_dir}/report.html", encoding="utf-8").read()
    assert "\x1b" not in page and "\x07" not in page
    assert "before_$5_after_$6\\x1b[2J" in page and "$x_1$ \\x1b]0;title\\x07" in page


# --- the page's file ---------------------------------------------------------------------

def other_users_link(out, _run_dir):
    if os.geteuid() != 0:
        pytest.skip("only root can make another user's link")
    os.symlink("page.html", out)
    os.lchown(out, 1234, 1234)


def other_users_hard_link(out, _run_dir):
    if os.geteuid() != 0:
        pytest.skip("only root can give a file to another user (uid 65534)")
    write(out, "earlier page")
    os.chown(out, 65534, 65534)
    os.link(out, f"{out}.link")


# Each refused before the runs are read: one line, and every file as it was.
@pytest.mark.parametrize("name, make, reason", [
    ("out/page.html", lambda out, d: os.mkfifo(out), "not a regular file"),
    ("out/page.html", lambda out, d: os.mkdir(out), "Is a directory"),
    ("out/page.html", lambda out, d: os.symlink("gone.html", out), "a symbolic link to nothing"),
    ("out/page.html", lambda out, d: os.symlink(f"{d}/bench_INT.csv", out), "it is the input file {d}/bench_INT.csv"),
    ("out/page.html", lambda out, d: os.link(f"{d}/stats_INT.csv", out), "it is the input file {d}/stats_INT.csv"),
    ("out/page.html", other_users_link, "a symbolic link of another user (uid 1234), not followed"),
    ("out/page.html", other_users_hard_link, "a file of another user (uid 65534) with 2 hard links, not used"),
    ("run/bench_INT.csv", lambda out, d: None, "it is the input file {d}/bench_INT.csv"),
])
def test_refuses_to_write_the_page_over_what_it_must_not_replace(report, tmp_path, name, make, reason):
    run_dir, out = str(tmp_path / "run"), str(tmp_path / name)
    repeated_run(run_dir)
    os.makedirs(tmp_path / "out")
    make(out, run_dir)
    before = tree(tmp_path)
    ran = run_in_process(report, ["-o", out, run_dir])
    assert (ran.status, ran.out) == (1, "")
    assert ran.err_lines == [f"report: cannot write {out}: {reason.format(d=run_dir)}"]
    assert tree(tmp_path) == before


@pytest.mark.parametrize("earlier, umask, mode", [(None, 0o027, 0o640), (0o600, 0o022, 0o600)])
def test_replaces_the_file_a_link_leads_to_keeping_its_mode_and_owner(report, tmp_path, earlier, umask, mode):
    run_dir, page = str(tmp_path / "run"), tmp_path / "page.html"
    single_run(run_dir)
    out = page
    if earlier:
        write(page, "earlier page")
        os.chmod(page, earlier)
        if os.geteuid() == 0:
            os.chown(page, 1234, 1234)
        out = tmp_path / "link.html"
        os.symlink("page.html", out)
    umask = os.umask(umask)
    try:
        ran = run_in_process(report, ["-o", str(out), run_dir])
    finally:
        os.umask(umask)
    assert (ran.status, ran.err, ran.out_lines) == (0, "", [str(out)])
    assert page.read_text().startswith("<!DOCTYPE html>") and stat.S_IMODE(page.stat().st_mode) == mode
    assert not earlier or (os.path.islink(out) and (os.geteuid() != 0 or page.stat().st_uid == 1234))
    assert sorted(os.listdir(tmp_path)) == sorted(["run", "page.html"] + (["link.html"] if earlier else []))


def test_a_full_disk_leaves_the_earlier_page(tmp_path):
    run_dir, out = str(tmp_path / "run"), str(tmp_path / "full")
    single_run(run_dir)
    ran, left = run_on_full_disk("report", out, {"report.html": "earlier page"}, ["-o", f"{out}/report.html", run_dir])
    assert (ran.status, ran.out) == (1, "") and left == {"report.html": "earlier page"}
    assert ran.err_lines == [f"report: cannot write {out}/report.html: No space left on device"]


# Stopped while it writes, the tool dies of the signal as it would have, and
# leaves no temporary file.
@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGHUP, signal.SIGINT])
def test_a_signal_while_writing_leaves_the_earlier_file(tmp_path, signum):
    page = tmp_path / "page.html"
    write(page, "earlier page")
    code = (f"import os, signal, sys; sys.path.insert(0, {os.path.join(SCRIPTS, 'lib')!r}); import sortbench_output\n"
            f"signal.signal({signum}, signal.default_int_handler if {signum} == signal.SIGINT else signal.SIG_DFL)\n"
            "fsync = os.fsync\n"
            f"os.fsync = lambda fd: (os.kill(os.getpid(), {signum}), fsync(fd))\n"
            f"sortbench_output.write({str(page)!r}, b'new page')")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, timeout=60)
    assert done.returncode == -signum and os.listdir(tmp_path) == ["page.html"]
    assert page.read_text() == "earlier page"


# --- the run directory as another user may change it ----------------------------------------

def as_root():
    if os.geteuid() != 0:
        pytest.skip("only root can make a link of another user (uid 65534)")


# A file of the run (or the run directory itself, ".") replaced by a link to a
# root-only one: followed only when the link is the running user's or root's.
@pytest.mark.parametrize("owner", [65534, 0])
@pytest.mark.parametrize("name", [".", "run_conditions.txt", "run.json", "bench_INT.csv", "stats_INT.csv",
                                  "speedup_INT.csv"])
def test_follows_a_link_among_the_inputs_only_when_its_owner_may_be_trusted(report, tmp_path, name, owner):
    as_root()
    run_dir, secret = str(tmp_path / "run"), tmp_path / "root-only"
    with_manifest(repeated_run)(run_dir)
    secret.mkdir(mode=0o700)
    link = os.path.normpath(f"{run_dir}/{name}")
    os.rename(link, secret / name)
    os.chmod(secret / name, 0o700 if name == "." else 0o600)
    os.symlink(os.path.normpath(secret / name), link)
    os.lchown(link, owner, owner)
    ran = run_in_process(report, [run_dir])
    if owner == 0:
        assert (ran.status, ran.err) == (0, "")
        return
    refused = "a symbolic link of another user (uid 65534), not followed"
    # Without its stats or speed-up file the series stays, and so does the page.
    without = {"stats_INT.csv": f"; {WITHOUT_STATS}", "speedup_INT.csv": f"; {WITHOUT_SPEEDUPS}"}.get(name)
    assert ran.status == 1 and (ran.out != "") == bool(without)
    assert ran.err_lines == [f"report: cannot read {run_dir}: {refused}" if name == "." else
                             f"report: {run_dir}/{name}: {refused}{without or ''}"]


# A file of the run with a second name: read only when its owner is the user
# running or root, whoever may have made that name.
@pytest.mark.parametrize("owner, links", [(65534, 2), (65534, 1), (0, 2)])
def test_reads_a_hard_linked_file_only_of_the_running_user_or_root(report, tmp_path, owner, links):
    as_root()
    run_dir = str(tmp_path / "run")
    with_manifest(repeated_run)(run_dir)
    os.chown(f"{run_dir}/stats_INT.csv", owner, owner)
    if links > 1:
        os.link(f"{run_dir}/stats_INT.csv", tmp_path / "second name")
    ran = run_in_process(report, [run_dir])
    refused = [f"report: {run_dir}/stats_INT.csv: a file of another user (uid 65534) with 2 hard links, not used; "
               f"{WITHOUT_STATS}"]
    assert (ran.status, ran.err_lines) == ((1, refused) if owner != 0 and links > 1 else (0, []))


# The run directory swapped for a link to another directory once the tool has
# opened it: every read and write still goes to the directory it opened.
@pytest.mark.parametrize("tool, step, written", [("report", "read_run", ["report.html"]),
                                                 ("plot", "chart_one_run", ["bench_INT.png", "speedup.png"])])
def test_a_run_directory_swapped_for_a_link_redirects_nothing(report, plot, tmp_path, monkeypatch, tool, step,
                                                              written):
    module = {"report": report, "plot": plot}[tool]
    run_dir, moved, elsewhere = str(tmp_path / "run"), str(tmp_path / "moved"), str(tmp_path / "elsewhere")
    write_run(run_dir, [100, 1000], types=["INT"])
    write_run(elsewhere, [250], types=["INT"])
    before = tree(elsewhere)
    original = getattr(module, step)

    def swapped(*args):
        os.rename(run_dir, moved)
        os.symlink(elsewhere, run_dir)
        return original(*args)

    monkeypatch.setattr(module, step, swapped)
    ran = run_in_process(module, [run_dir])
    assert (ran.status, ran.err) == (0, "") and tree(elsewhere) == before
    assert sorted(os.listdir(moved)) == sorted(["bench_INT.csv"] + [n for n in written])
    assert tool != "report" or "1,000" in open(f"{moved}/report.html", encoding="utf-8").read()
