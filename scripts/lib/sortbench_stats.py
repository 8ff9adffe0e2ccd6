"""The stats file beside a result file (stats_*.csv): every time of every
cell and its summary, checked row by row, against its result file and
against what run.json records of its data sets.

The reader returns what it read, or raises Unusable with the reason;
complaints that leave the file usable travel with it as Notice values.
"""

from dataclasses import dataclass

from sortbench_side_files import (STATS_HEADER, STATS_INTERVAL, STATS_LIMITS, STATS_REFERENCE, Shape, check_key,
                                  fields_of, interval_of, numbers_of, read_side_file)
from sortbench_text import (Notice, Unusable, at_most, checked_number, number_problem, quoted, same, whole_problem,
                            within_memory)


@dataclass
class CellStats:
    """One stats row: every time of a cell and what the benchmark made of them;
    interval is the median's 95% interval (low, high) or None. keys_per_second,
    floor (the column's memory floor in ms) and floor_ratio (median / floor) are
    None where the file has no such cell or leaves it empty. reference holds
    the machine's reference time (ms) of every round of the cell's data set,
    in round order, None where the file has no ReferenceTimes."""
    runs: int
    minimum: float
    median: float
    mean: float
    maximum: float
    stddev: float
    times: list
    interval: tuple = None
    keys_per_second: int = None
    floor: float = None
    floor_ratio: float = None
    reference: list = None

    @property
    def cv(self):
        return self.stddev / self.mean if self.mean else 0.0


def _check_reference(text, runs):
    """The reference times of a ReferenceTimes cell: positive numbers, one per
    round of the data set, so at least Runs of them; raises ValueError."""
    values = numbers_of(text, "ReferenceTimes")
    for value in values:
        if float(value) <= 0:
            raise ValueError(f"ReferenceTimes value {quoted(value)} is not a positive number")
    if len(values) < runs:
        raise ValueError(f"ReferenceTimes holds {len(values)} values, fewer than Runs {runs}")
    return [float(v) for v in values]


def _check_times(cell):
    """Checks that a stats row's Times are Runs numbers from Min to Max; returns them."""
    times = numbers_of(cell["Times"], "Times")
    if len(times) != int(cell["Runs"]):
        raise ValueError(f"Times holds {len(times)} values, Runs is {cell['Runs']}")
    least, most = min(times, key=float), max(times, key=float)
    if not same(float(least), float(cell["Min"])):
        raise ValueError(f"smallest of Times {least} is not Min {cell['Min']}")
    if not same(float(most), float(cell["Max"])):
        raise ValueError(f"largest of Times {most} is not Max {cell['Max']}")
    return [float(t) for t in times]


# Half a unit of the twelfth decimal: how far a written number may be from its value.
_HALF_LAST = 5e-13


def _limits(kps, floor, ratio, median):
    """(keys per second, floor, floor ratio) of a stats row's last three cells,
    None for each empty one; raises ValueError unless the floor and its ratio
    are both given or both empty, positive numbers, and the ratio is the
    Median cell over the floor give or take the rounding of all three."""
    if kps != "" and whole_problem(kps, 0):
        raise ValueError(f"KeysPerSecond cell {quoted(kps)} {whole_problem(kps, 0)}")
    if (floor == "") != (ratio == ""):
        raise ValueError(f"FloorRatio {ratio} without a FloorMs" if floor == ""
                         else f"FloorMs {floor} without a FloorRatio")
    kps = int(kps) if kps else None
    if floor == "":
        return kps, None, None
    if number_problem(floor) == "is not a number" or float(floor) <= _HALF_LAST:
        raise ValueError(f"FloorMs cell {quoted(floor)} is not a positive number")
    checked_number(floor, "FloorMs cell")
    if number_problem(ratio) == "is not a number" or float(ratio) < 0:
        raise ValueError(f"FloorRatio cell {quoted(ratio)} is not a number of zero or more")
    checked_number(ratio, "FloorRatio cell")
    m, f, r = float(median), float(floor), float(ratio)
    low, high = max(m - _HALF_LAST, 0) / (f + _HALF_LAST), (m + _HALF_LAST) / (f - _HALF_LAST)
    if not (at_most(low - _HALF_LAST, r) and at_most(r, high + _HALF_LAST)):
        raise ValueError(f"FloorRatio {ratio} is not Median {median} over FloorMs {floor}, {m / f:.12g}")
    return kps, f, r


_STATS_NUMBERS = tuple(STATS_HEADER.split(",")[3:8])  # Min to StdDev, as CellStats takes them


def _stats_row(cell, columns, form):
    """Checks one stats row ({field: text}) against its result file's columns;
    `form` (a SideFile) says which optional cells its header has. Returns its
    CellStats."""
    check_key(cell, columns)
    for name in _STATS_NUMBERS:
        checked_number(cell[name], f"{name} cell")
    times = _check_times(cell)
    median = cell["Median"]
    interval = interval_of(cell["CiLow"], cell["CiHigh"], median) if form.with_interval else None
    limits = (_limits(cell["KeysPerSecond"], cell["FloorMs"], cell["FloorRatio"], median) if form.with_limits
              else (None, None, None))
    reference = None
    if form.with_reference:
        count = cell["NbRecords"]
        reference = _check_reference(cell["ReferenceTimes"], int(cell["Runs"]))
        if form.references.setdefault(count, reference) != reference:
            raise ValueError(f"ReferenceTimes is not that of the other rows of {count} records")
    return CellStats(int(cell["Runs"]), *(float(cell[n]) for n in _STATS_NUMBERS), times, interval, *limits,
                     reference)


_STATS = Shape("stats file", fields_of(STATS_HEADER),
               {"with_interval": fields_of(STATS_INTERVAL), "with_limits": fields_of(STATS_LIMITS),
                "with_reference": fields_of(STATS_REFERENCE)},
               tuple(STATS_HEADER + interval + limits + reference
                     for limits in ("", STATS_LIMITS) for interval in ("", STATS_INTERVAL)
                     for reference in (("", STATS_REFERENCE) if limits else ("",))))


def _check_against_result(side, result):
    """Checks that each stats row's Min to Max holds the result file's time."""
    rows_of = {count: row for row, count in enumerate(result.counts)}
    for (count, column), (number, cells, stats) in side.rows.items():
        if count not in rows_of:
            continue
        at = result.columns.index(column)
        median = result.times[rows_of[count]][at]
        if median is not None and not (at_most(stats.minimum, median) and at_most(median, stats.maximum)):
            raise Unusable(f"line {number}: the result file's time {result.texts[rows_of[count]][at]} for "
                           f"{count} records, {column} is outside Min {cells['Min']} to Max {cells['Max']}")


@within_memory
def read_stats(where, result, stated=None, references=None, rounds=None):
    """Reads the stats file at `where` (a Place or a path) and checks it against its result file:
    each row's Times are Runs numbers from Min to Max, Min to Max holds the
    result file's time, the interval (when the header has one) holds the
    Median, the floor ratio (when the header has the limits) is the Median
    over the floor, the reference times (when the header has them, after the
    limits) are positive, at least Runs of them and the same in every row of
    a count; its header is `stated` when run.json states one (its cells are
    read by their fields' names), otherwise one a run without run.json wrote.
    Reference times
    other than run.json's (`references`, {count text: times}) are an
    informing notice, and so are Runs other than the rounds run.json records
    for a complete data set (`rounds`, {count text: rounds}). Returns a
    SideFile of CellStats, None when there is no file; raises Unusable for a
    file that cannot be used."""
    side = read_side_file(where, _STATS, lambda cells, form: _stats_row(cells, result.columns, form),
                          f"{STATS_HEADER}[{STATS_INTERVAL}][{STATS_LIMITS}[{STATS_REFERENCE}]]", stated)
    if side is None:
        return None
    _check_against_result(side, result)
    side.rows = {key: stats for key, (_, _, stats) in side.rows.items()}
    side.notices += _check_references(side, references or {})
    side.notices += _check_rounds(side, rounds or {})
    return side


def _check_rounds(side, stated):
    """A notice of the rows whose Runs is not the rounds run.json records for
    their data set (`stated`, {count text: rounds} of the complete ones):
    every column of a data set that ended as planned was timed in each of its
    rounds."""
    differ = [(count, column, stats.runs) for (count, column), stats in side.rows.items()
              if count in stated and stats.runs != stated[count]]
    if not differ:
        return []
    count, column, runs = differ[0]
    return [Notice(f"Runs is not the rounds run.json records for the data set in {len(differ)} rows, from "
                   f"{count} records, {column} on: Runs {runs} here, {stated[count]} rounds in run.json", False)]


def _check_references(side, stated):
    """Notices of the counts whose ReferenceTimes are not the times run.json gives (`stated`)."""
    notices = []
    for count, times in side.references.items():
        given = stated.get(count)
        if given is None:
            continue
        differ = next((k for k, (mine, theirs) in enumerate(zip(times, given)) if not same(mine, theirs)), None)
        if differ is not None:
            how = f"round {differ + 1} took {times[differ]:g} ms here, {given[differ]:g} ms there"
        elif len(times) != len(given):
            how = f"{len(times)} rounds here, {len(given)} there"
        else:
            continue
        notices.append(Notice(f"ReferenceTimes of {count} records are not the reference_ms run.json gives: {how}",
                              False))
    return notices
