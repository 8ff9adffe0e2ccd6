"""The result files of a run and the stats and speed-up files beside them,
read and checked line by line.

Every reader here returns what it read, or raises Unusable with the reason;
complaints that leave the file usable travel with the result as Notice values.
Nothing here prints or exits: the tools decide how to say it.
"""

from dataclasses import dataclass, field

from sortbench_folder import placed
from sortbench_text import (Notice, Unusable, at_most, checked_number, last_text_line, median_of, number_problem,
                            quoted, read_lines, same, whole_problem, within_memory)

STANDARD = "CPU Standard"
RESULT_HEAD = ("NbRecords", STANDARD)
STATS_HEADER = "NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times"
STATS_INTERVAL = ",CiLow,CiHigh"
STATS_LIMITS = ",KeysPerSecond,FloorMs,FloorRatio"
# -R auto runs that time the machine's reference after every round add it after the limits.
STATS_REFERENCE = ",ReferenceTimes"
SPEEDUP_HEADER = "NbRecords,Column,Runs,Median,CiLow,CiHigh,Ratios"
MAX_COLUMNS = 32


# --- result files ----------------------------------------------------------------

class NoRows(Unusable):
    """A result file with a header and no complete row: of a -INFO run, or of
    a data type the run did not reach or finish a row of."""


@dataclass
class ResultTable:
    """A result file's complete rows. texts[r][c] is the cell of column c as
    written; times[r][c] its value, None where a log axis cannot show it
    (zero or negative). counts[r] is the record count as written."""
    path: str
    columns: list
    counts: list = field(default_factory=list)
    texts: list = field(default_factory=list)
    times: list = field(default_factory=list)
    padded: bool = False
    notices: list = field(default_factory=list)
    hidden: int = 0  # times a log axis cannot show

    def time(self, row, column_name):
        return self.times[row][self.columns.index(column_name)]


def _check_result_header(header):
    if len(header) < 3 or tuple(header[:2]) != RESULT_HEAD:
        raise Unusable("line 1 is not a result file header (NbRecords,CPU Standard,...)")
    if len(header) > MAX_COLUMNS + 1:
        raise Unusable(f"line 1: more than {MAX_COLUMNS} columns; a run writes 11 at most")
    for number, name in enumerate(header[2:], start=3):
        if name == "" or "\t" in name:
            raise Unusable(f"line 1: header cell {number} is empty or holds a tab")


def _result_row(number, cells, header):
    """Checks one row of a result file; returns (count text, cell texts)."""
    problem = whole_problem(cells[0])
    if problem:
        raise Unusable(f"line {number}: record count {quoted(cells[0])} {problem}")
    for name, cell in zip(header[1:], cells[1:]):
        try:
            checked_number(cell, f"{name} cell")
        except ValueError as fault:
            raise Unusable(f"line {number}: {fault}") from None
    return cells[0], cells[1:]


def _read_result_rows(table, lines, header, last):
    """Adds the rows of lines 2 to `last` to the table; an incomplete last row is
    left out with a notice. Raises Unusable for a malformed row."""
    for number in range(2, last + 1):
        cells = lines[number - 1].split(",")
        if len(cells) != len(header):
            if number == last and len(cells) < len(header):
                why = "" if table.padded else " (the file was cut short)"
                table.notices.append(Notice(f"line {number}: last row has {len(cells)} of {len(header)} cells, "
                                            f"left out{why}", cut_short=True))
                break
            raise Unusable(f"line {number}: {len(cells)} cells, the header has {len(header)}")
        count, texts = _result_row(number, cells, header)
        values = [float(t) if float(t) > 0 else None for t in texts]
        table.hidden += values.count(None)
        table.counts.append(count)
        table.texts.append(texts)
        table.times.append(values)


def check_stated(line, stated):
    """Refuses a header line other than the one run.json states for the file
    (`stated`; None when the run has no run.json or it does not list the file)."""
    if stated is not None and line != stated:
        raise Unusable(f"line 1 is not the header run.json states for this file, {quoted(stated, 80)}")


@within_memory
def read_result(where, stated=None):
    """Reads and checks one result file, a Place or a path; raises Unusable
    when nothing can be charted.

    The last row may be incomplete (a run cut short): it is left out with a
    failing notice. Times that are zero or negative become None, with one
    informative notice counting them. `stated`: the header run.json gives
    the file, if any.
    """
    lines, padded = read_lines(where, "result file")
    if not lines:
        raise Unusable("empty file")
    check_stated(lines[0], stated)
    header = lines[0].split(",")
    _check_result_header(header)
    last = last_text_line(lines)
    if last == 1:
        if padded:
            raise NoRows("no rows: the run was cut short (or is still running) before this data type")
        raise NoRows("header only, no rows to plot (a -INFO run, or a run that ended before this data type)")
    table = ResultTable(str(where), header[1:], padded=padded)
    _read_result_rows(table, lines, header, last)
    if not table.counts:
        raise NoRows("no complete row to plot (the run was cut short)")
    if table.hidden == len(table.counts) * len(table.columns):
        raise Unusable(f"no positive time to draw: all {table.hidden} are zero or negative")
    if padded:
        table.notices.append(Notice("the file was never closed: the run was cut short (or is still running); "
                                    f"{len(table.counts)} complete rows charted", cut_short=True))
    if table.hidden:
        table.notices.append(Notice(f"zero or negative times left out, a log scale cannot show them: {table.hidden}",
                                    False))
    return table


# --- stats and speed-up files -----------------------------------------------------

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


@dataclass
class SpeedupStats:
    """One speed-up row: the median of the paired per-round ratios over CPU
    Standard, its 95% interval (low, high) or None, and every ratio."""
    runs: int
    median: float
    interval: tuple
    ratios: list


@dataclass
class SideFile:
    """A stats or speed-up file: rows by (count text, column name); with
    ReferenceTimes, also each data set's reference times by count text."""
    path: str
    rows: dict = field(default_factory=dict)
    with_interval: bool = False
    with_limits: bool = False
    with_reference: bool = False
    notices: list = field(default_factory=list)
    references: dict = field(default_factory=dict)


def _numbers(text, name):
    """The ;-separated number texts of a Times or Ratios cell; raises ValueError
    when the cell is empty or one is not a number."""
    if text == "":
        raise ValueError(f"{name} cell is empty")
    values = text.split(";")
    for value in values:
        checked_number(value, f"{name} value")
    return values


def _check_reference(text, runs):
    """The reference times of a ReferenceTimes cell: positive numbers, one per
    round of the data set, so at least Runs of them; raises ValueError."""
    values = _numbers(text, "ReferenceTimes")
    for value in values:
        if float(value) <= 0:
            raise ValueError(f"ReferenceTimes value {quoted(value)} is not a positive number")
    if len(values) < runs:
        raise ValueError(f"ReferenceTimes holds {len(values)} values, fewer than Runs {runs}")
    return [float(v) for v in values]


def _check_times(cells):
    """Checks that a stats row's Times are Runs numbers from Min to Max; returns them."""
    times = _numbers(cells[8], "Times")
    if len(times) != int(cells[2]):
        raise ValueError(f"Times holds {len(times)} values, Runs is {cells[2]}")
    least, most = min(times, key=float), max(times, key=float)
    if not same(float(least), float(cells[3])):
        raise ValueError(f"smallest of Times {least} is not Min {cells[3]}")
    if not same(float(most), float(cells[6])):
        raise ValueError(f"largest of Times {most} is not Max {cells[6]}")
    return [float(t) for t in times]


def _interval(low, high, median):
    """The (low, high) interval of two cells, None when both are empty; raises
    ValueError unless both are numbers around the Median cell's text."""
    if low == "" and high == "":
        return None
    for name, text in (("CiLow", low), ("CiHigh", high)):
        checked_number(text, f"{name} cell")
    if not (at_most(float(low), float(median)) and at_most(float(median), float(high))):
        raise ValueError(f"the interval {low} to {high} does not hold the median {median}")
    return float(low), float(high)


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


def _check_key(cells, columns):
    """Checks a side file row's record count, column and Runs."""
    problem = whole_problem(cells[0])
    if problem:
        raise ValueError(f"record count {quoted(cells[0])} {problem}")
    if cells[1] not in columns:
        raise ValueError(f"{quoted(cells[1])} is not a column of the result file")
    problem = whole_problem(cells[2])
    if problem:
        raise ValueError(f"Runs {quoted(cells[2])} {problem}")


def _stats_row(cells, columns, form):
    """Checks one stats row against its result file's columns; `form` (a
    SideFile) says which optional cells its header has. Returns its CellStats."""
    _check_key(cells, columns)
    for name, cell in zip(STATS_HEADER.split(",")[3:8], cells[3:8]):
        checked_number(cell, f"{name} cell")
    times = _check_times(cells)
    interval = _interval(cells[9], cells[10], cells[4]) if form.with_interval else None
    at = 11 if form.with_interval else 9  # where the limits cells start
    limits = _limits(*cells[at:at + 3], cells[4]) if form.with_limits else (None, None, None)
    reference = None
    if form.with_reference:
        reference = _check_reference(cells[at + 3], int(cells[2]))
        if form.references.setdefault(cells[0], reference) != reference:
            raise ValueError(f"ReferenceTimes is not that of the other rows of {cells[0]} records")
    return CellStats(int(cells[2]), *(float(c) for c in cells[3:8]), times, interval, *limits, reference)


def _speedup_row(cells, columns):
    """Checks one speed-up row against its result file's columns; returns its SpeedupStats."""
    if cells[1] == STANDARD:
        raise ValueError(f"'{STANDARD}' is the reference, it has no speed-up row")
    _check_key(cells, columns)
    checked_number(cells[3], "Median cell")
    ratios = [float(r) for r in _numbers(cells[6], "Ratios")]
    if len(ratios) != int(cells[2]):
        raise ValueError(f"Ratios holds {len(ratios)} values, Runs is {cells[2]}")
    if not same(median_of(ratios), float(cells[3])):
        raise ValueError(f"Median {cells[3]} is not the median of the Ratios, {median_of(ratios):.12g}")
    return SpeedupStats(int(cells[2]), float(cells[3]), _interval(cells[4], cells[5], cells[3]), ratios)


def _read_side_file(where, kind, headers, parse_row, forms=None, stated=None):
    """The rows of a stats or speed-up file as {(count, column): (line number,
    cells, parse_row(cells, side))}, each checked by parse_row (which raises
    ValueError with the reason). `headers` maps each accepted header line to
    whether it carries the interval cells, the limits cells and the reference
    cell; `forms` names them in a refusal, by default every one in full;
    `stated` is the header run.json gives the file, if any. None when there is
    no such file."""
    with placed(where) as place:
        if not place.exists():
            return None
        lines, padded = read_lines(place, kind)
    if not lines:
        raise Unusable("empty file")
    check_stated(lines[0], stated)
    if lines[0] not in headers:
        raise Unusable(f"line 1 is not a {kind} header ({forms or ' or '.join(headers)})")
    with_interval, with_limits, with_reference = headers[lines[0]]
    side = SideFile(str(where), with_interval=with_interval, with_limits=with_limits, with_reference=with_reference)
    width = len(lines[0].split(","))
    last = last_text_line(lines)
    for number in range(2, last + 1):
        cells = lines[number - 1].split(",")
        if len(cells) != width:
            if number == last and len(cells) < width:
                # A run cut short is already reported for its result file.
                if not padded:
                    side.notices.append(Notice(f"line {number}: last row has {len(cells)} of {width} cells, "
                                               "left out (the file was cut short)", cut_short=True))
                break
            raise Unusable(f"line {number}: {len(cells)} cells, the header has {width}")
        try:
            row = parse_row(cells, side)
        except ValueError as fault:
            # A file never closed may end inside its last row.
            if padded and number == last:
                break
            raise Unusable(f"line {number}: {fault}") from None
        key = (cells[0], cells[1])
        if key in side.rows:
            raise Unusable(f"line {number}: a second row for {cells[0]} records, {cells[1]}")
        side.rows[key] = (number, cells, row)
    return side


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
                           f"{count} records, {column} is outside Min {cells[3]} to Max {cells[6]}")


@within_memory
def read_stats(where, result, stated=None, references=None):
    """Reads the stats file at `where` (a Place or a path) and checks it against its result file:
    each row's Times are Runs numbers from Min to Max, Min to Max holds the
    result file's time, the interval (when the header has one) holds the
    Median, the floor ratio (when the header has the limits) is the Median
    over the floor, the reference times (when the header has them, after the
    limits) are positive, at least Runs of them and the same in every row of
    a count; its header is `stated` when run.json states one. Reference times
    other than run.json's (`references`, {count text: times}) are an
    informing notice. Returns a SideFile of CellStats, None when there is no
    file; raises Unusable for a file that cannot be used."""
    headers = {STATS_HEADER + interval + limits + reference: (bool(interval), bool(limits), bool(reference))
               for limits in ("", STATS_LIMITS) for interval in ("", STATS_INTERVAL)
               for reference in (("", STATS_REFERENCE) if limits else ("",))}
    side = _read_side_file(where, "stats file", headers, lambda cells, form: _stats_row(cells, result.columns, form),
                           f"{STATS_HEADER}[{STATS_INTERVAL}][{STATS_LIMITS}[{STATS_REFERENCE}]]", stated)
    if side is None:
        return None
    _check_against_result(side, result)
    side.rows = {key: stats for key, (_, _, stats) in side.rows.items()}
    side.notices += _check_references(side, references or {})
    return side


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


@within_memory
def read_speedups(where, result, stated=None):
    """Reads the speed-up file at `where` (a Place or a path): per count and column other than CPU
    Standard, Runs ratios whose median is Median, and an interval that holds
    it; its header is `stated` when run.json states one. Returns a SideFile of
    SpeedupStats, None when there is no file; raises Unusable for a file that
    cannot be used."""
    side = _read_side_file(where, "speed-up file", {SPEEDUP_HEADER: (True, False, False)},
                           lambda cells, _side: _speedup_row(cells, result.columns), stated=stated)
    if side is not None:
        side.rows = {key: stats for key, (_, _, stats) in side.rows.items()}
    return side
