"""Tests of benchmarks/repeatability's own reckoning, on made-up runs; its
runs of the real program are in test_contract.py."""

import os

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
