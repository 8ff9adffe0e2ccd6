"""How a later run's times compare with a first run's: per cell the change of
the median, whether a Mann-Whitney U test over both runs' repetitions finds it
significant, and per column the geometric mean of the changes."""

import math
from dataclasses import dataclass

ALPHA = 0.05  # a change is significant when the U test's two-sided p is below this


@dataclass
class Change:
    """A cell's time in a later run over its time in the first (None where one
    has no time), and the U test's p-value (None without repetitions in both)."""
    ratio: float = None
    p: float = None

    @property
    def percent(self):
        return None if self.ratio is None else (self.ratio - 1) * 100

    @property
    def significant(self):
        """True or False by the U test; None when there was no test."""
        return None if self.p is None else self.p < ALPHA


def u_test_p(first, later):
    """Two-sided p-value of the Mann-Whitney U test of two samples of times."""
    from scipy.stats import mannwhitneyu  # scipy loads slowly: only when runs are compared

    return float(mannwhitneyu(first, later, alternative="two-sided").pvalue)


def smallest_p(first_runs, later_runs):
    """The smallest two-sided p the exact U test can give for samples of these
    sizes (all of one sample below all of the other): with 3 and 3 it is 0.1,
    so no change can be significant at ALPHA."""
    return min(1.0, 2 / math.comb(first_runs + later_runs, first_runs))


def change_of(first_time, later_time, first_stats=None, later_stats=None):
    """The Change of one cell from its medians (None where missing) and, when both
    runs have repetitions of it (CellStats with more than one time), the U test."""
    ratio = later_time / first_time if first_time and later_time else None
    p = None
    if ratio is not None and first_stats and later_stats and first_stats.runs > 1 and later_stats.runs > 1:
        p = u_test_p(first_stats.times, later_stats.times)
    return Change(ratio, p)


def geometric_mean(ratios):
    """The geometric mean of the ratios that are there, None when none is."""
    present = [r for r in ratios if r]
    if not present:
        return None
    return math.exp(sum(math.log(r) for r in present) / len(present))
