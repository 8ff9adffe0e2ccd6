"""Tests of benchmarks/repeatability's own reckoning, on made-up runs; its
runs of the real program are in test_contract.py."""

import os
import subprocess

import pytest
from conftest import ROOT, load_script

repeatability = load_script("repeatability", os.path.join(ROOT, "benchmarks"))


# Per run {cell: (median, interval)}; each ordered pair of distinct runs counts
# the cells with an interval in the first that the second also has.
@pytest.mark.parametrize("runs, expected", [
    # Each holds the other's median, one of them on its bound.
    ([{"c": (10, (9, 11))}, {"c": (11, (10, 12))}], (2, 2)),
    # A narrow interval misses the other run's median; the wide one holds it.
    ([{"c": (10, (9, 11))}, {"c": (10.9, (10.8, 11))}], (1, 2)),
    # No interval: no pair from that run; a cell the other run lacks: no pair.
    ([{"c": (10, None), "d": (5, (4, 6))}, {"c": (10, (9, 11))}], (1, 1)),
    # Three runs, six ordered pairs: the third run's median lies outside both others' intervals.
    ([{"c": (10, (9, 11))}, {"c": (10, (9.5, 10.5))}, {"c": (12, (11.5, 12.5))}], (2, 6)),
    ([{"c": (10, (9, 11))}], (0, 0)),
])
def test_counts_how_often_one_runs_interval_holds_anothers_median(runs, expected):
    assert repeatability.calibration(runs) == expected


# A command line it cannot take: one line and a non-zero status before
# anything runs (the program, a script that notes each start, is never started).
@pytest.mark.parametrize("argv, status, message", [
    (["-n", "abc"], 2, "argument -n: abc is not a positive whole number of runs"),
    (["-n", "0"], 2, "argument -n: 0 is not a positive whole number of runs"),
    (["-n", "-1"], 2, "argument -n: -1 is not a positive whole number of runs"),
    (["-l", "nan"], 2, "argument -l: nan is not a ratio of 1 or more"),
    (["-b", "/nonexistent"], 1, "cannot run /nonexistent: No such file or directory"),
])
def test_refuses_a_bad_command_line_in_one_line(tmp_path, argv, status, message):
    started = tmp_path / "started"
    program = tmp_path / "sortbench"
    program.write_text(f"#!/bin/sh\necho >> {started}\n")
    program.chmod(0o755)
    done = subprocess.run([os.path.join(ROOT, "benchmarks", "repeatability"), "-b", str(program), *argv, "--",
                           "-S", "100", "-R", "3"], capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stdout, done.stderr) == (status, "", f"repeatability: {message}\n")
    assert not started.exists()
