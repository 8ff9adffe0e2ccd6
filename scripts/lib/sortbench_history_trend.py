"""What the history page shows: each cell's time over the runs of one
machine, and the steps in it.

A step is a change between two consecutive runs of one machine beyond both
runs' intervals: the later median lies outside the earlier run's 95%
interval and the earlier median outside the later one's, so that neither
run's own uncertainty explains it (the rule asv's step detection applies to
its runs). Points without an interval (runs without -R auto, or too few
rounds) can show no step, whatever the change. Nothing here draws or writes.
"""

from dataclasses import dataclass, field

from sortbench_rundir import DATA_TYPES, DISTRIBUTIONS


@dataclass(frozen=True)
class TimeDrawn:
    """A time the store keeps per cell and the page can draw: `columns` are
    its (median, interval low, interval high) columns of the cells table,
    `label` and `explained` how the page says which one it draws."""
    name: str
    label: str
    explained: str
    columns: tuple


# The one time kept today. A time corrected for the machine's state would be
# one more entry here (and its columns in the store); the page draws DRAWN.
RAW = TimeDrawn("raw", "raw median", "the median of each cell's timed sorts in ms as the run measured it, "
                "with its 95% interval where the run has one (-R auto)", ("median", "ci_low", "ci_high"))
TIMES = {RAW.name: RAW}
DRAWN = RAW


@dataclass
class Point:
    """One run's time of a cell: `run` its id in the store, `made` when, `version` the program's."""
    run: int
    made: str
    version: str
    median: float
    low: float = None
    high: float = None


@dataclass
class Step:
    """A step between points[at - 1] and points[at] of a Trend; `change` is
    the later median over the earlier, less one (0.12 for 12% slower)."""
    at: int
    change: float


@dataclass
class Trend:
    """One cell's points on one machine, oldest first, and the steps found in them."""
    machine: str
    data_type: str
    distribution: str
    count: int
    column: str
    points: list = field(default_factory=list)
    steps: list = field(default_factory=list)


def is_step(before, after):
    """Whether two consecutive Points differ beyond both their intervals."""
    if None in (before.low, before.high, after.low, after.high):
        return False
    rose = after.median > before.high and before.median < after.low
    fell = after.median < before.low and before.median > after.high
    return rose or fell


def find_steps(points):
    """The Steps of a series of Points, oldest first."""
    return [Step(k, points[k].median / points[k - 1].median - 1)
            for k in range(1, len(points)) if is_step(points[k - 1], points[k])]


def _kind_order(data_type, distribution):
    rank = DATA_TYPES.index(data_type) if data_type in DATA_TYPES else len(DATA_TYPES)
    spread = DISTRIBUTIONS.index(distribution) if distribution in DISTRIBUTIONS else len(DISTRIBUTIONS)
    return rank, data_type, spread, distribution


def trends(runs, cells):
    """Every Trend with its steps, in the page's order (machine, data type,
    distribution, count, then the columns in the order the runs' plans
    list them). `runs`: the store's runs (dicts with their plan's
    "columns", oldest first); `cells`: its (run id, type, distribution,
    count, column, median, low, high) rows."""
    order = {run["id"]: k for k, run in enumerate(runs)}
    by_id = {run["id"]: run for run in runs}
    columns = {}
    for run in runs:
        for column in run.get("columns", ()):
            columns.setdefault(column, len(columns))
    found = {}
    for run_id, data_type, distribution, count, column, median, low, high in sorted(
            cells, key=lambda c: (order[c[0]], c[4])):
        run = by_id[run_id]
        key = (run["machine"], data_type, distribution, count, column)
        columns.setdefault(column, len(columns))
        trend = found.setdefault(key, Trend(*key))
        trend.points.append(Point(run_id, run["made"], run["program_version"], median, low, high))
    for trend in found.values():
        trend.steps = find_steps(trend.points)
    return sorted(found.values(), key=lambda t: (t.machine, _kind_order(t.data_type, t.distribution), t.count,
                                                 columns[t.column]))
