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
# Our radix sort's columns and the threads each sorts on.
RADIX_COLUMNS = {f"CPU {n} Thread": n for n in (1, 2, 4, 8)}
GPU_COLUMNS = ("GPU", "GPU On Card", "GPU Transfer")
GPU_PARTS = GPU_COLUMNS[1:]  # parts of the GPU's whole sort, no sorter of their own
# -PAIRS: our key-carrying radix sort on one thread and on every online CPU.
PAIR_ONE, PAIR_MANY = PAIR_COLUMNS = ("Pair Radix 1 Thread", "Pair Radix All CPUs")
PEER_COUNT = 11  # the peers -PEERS times (kPeers in driver/sorters/Peers.h)
# The columns a run writes at most: with -GPU, -PAIRS and -PEERS.
RUN_COLUMNS = 1 + len(RADIX_COLUMNS) + len(GPU_COLUMNS) + len(PAIR_COLUMNS) + PEER_COUNT
MAX_COLUMNS = 32  # beyond RUN_COLUMNS: a file of more holds something else

# The headers of the stats and speed-up files, for runs without run.json: a
# run's run.json states each file's header, and its files are read by that.
STATS_HEADER = "NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times"
STATS_INTERVAL = ",CiLow,CiHigh"
STATS_LIMITS = ",KeysPerSecond,FloorMs,FloorRatio"
# -R auto runs that time the machine's reference after every round add it after the limits.
STATS_REFERENCE = ",ReferenceTimes"
SPEEDUP_HEADER = "NbRecords,Column,Runs,Median,CiLow,CiHigh,Ratios"


# --- result files ----------------------------------------------------------------

class NoRows(Unusable):
    """A result file with a header and no complete row: of a -INFO run, or of
    a data type the run did not reach or finish a row of."""


@dataclass
class ResultTable:
    """A result file's complete rows. texts[r][c] is the cell of column c as
    written; times[r][c] its value, None where a log axis cannot show it
    (zero or negative) and where the peer was skipped. counts[r] is the
    record count as written; skipped holds the (count, column) of the empty
    cells of peers and pair columns run.json says were skipped (they did not
    fit in memory)."""
    path: str
    columns: list
    counts: list = field(default_factory=list)
    texts: list = field(default_factory=list)
    times: list = field(default_factory=list)
    padded: bool = False
    notices: list = field(default_factory=list)
    hidden: int = 0  # times a log axis cannot show
    skipped: set = field(default_factory=set)

    def time(self, row, column_name):
        return self.times[row][self.columns.index(column_name)]


def _check_result_header(header):
    if len(header) < 3 or tuple(header[:2]) != RESULT_HEAD:
        raise Unusable("line 1 is not a result file header (NbRecords,CPU Standard,...)")
    if len(header) > MAX_COLUMNS + 1:
        raise Unusable(f"line 1: more than {MAX_COLUMNS} columns; a run writes {RUN_COLUMNS} at most")
    for number, name in enumerate(header[2:], start=3):
        if name == "" or "\t" in name:
            raise Unusable(f"line 1: header cell {number} is empty or holds a tab")


def _result_row(number, cells, header, skipped):
    """Checks one row of a result file, whose cells of the columns `skipped`
    may be empty; returns (count text, cell texts, the columns left empty)."""
    problem = whole_problem(cells[0])
    if problem:
        raise Unusable(f"line {number}: record count {quoted(cells[0])} {problem}")
    empty = []
    for name, cell in zip(header[1:], cells[1:]):
        if cell == "" and name in skipped:
            empty.append(name)
            continue
        try:
            checked_number(cell, f"{name} cell")
        except ValueError as fault:
            raise Unusable(f"line {number}: {fault}") from None
    return cells[0], cells[1:], empty


def _read_result_rows(table, lines, header, last, skipped):
    """Adds the rows of lines 2 to `last` to the table; an incomplete last row is
    left out with a notice. Raises Unusable for a malformed row. `skipped`:
    {count text: columns whose cell may be empty}."""
    for number in range(2, last + 1):
        cells = lines[number - 1].split(",")
        if len(cells) != len(header):
            if number == last and len(cells) < len(header):
                why = "" if table.padded else " (the file was cut short)"
                table.notices.append(Notice(f"line {number}: last row has {len(cells)} of {len(header)} cells, "
                                            f"left out{why}", cut_short=True))
                break
            raise Unusable(f"line {number}: {len(cells)} cells, the header has {len(header)}")
        count, texts, empty = _result_row(number, cells, header, skipped.get(cells[0], ()))
        values = [float(t) if t != "" and float(t) > 0 else None for t in texts]
        table.hidden += values.count(None) - len(empty)
        table.skipped.update((count, column) for column in empty)
        table.counts.append(count)
        table.texts.append(texts)
        table.times.append(values)


def check_stated(line, stated):
    """Refuses a header line other than the one run.json states for the file
    (`stated`; None when the run has no run.json or it does not list the file),
    naming the first field where they part."""
    if stated is None or line == stated:
        return
    here, there = line.split(","), stated.split(",")
    at = next((k for k, (a, b) in enumerate(zip(here, there)) if a != b), min(len(here), len(there)))
    field_here = quoted(here[at]) if at < len(here) else "nothing"
    field_there = quoted(there[at]) if at < len(there) else "nothing"
    raise Unusable(f"line 1 is not the header run.json states for this file: field {at + 1} is {field_here} "
                   f"here, {field_there} in run.json")


@within_memory
def read_result(where, stated=None, skipped=None):
    """Reads and checks one result file, a Place or a path; raises Unusable
    when nothing can be charted.

    The last row may be incomplete (a run cut short): it is left out with a
    failing notice. Times that are zero or negative become None, with one
    informative notice counting them. `stated`: the header run.json gives
    the file, if any. `skipped`: {count text: columns} of the peers run.json
    says were skipped, whose cells are empty and become None; an empty cell
    anywhere else is refused.
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
    _read_result_rows(table, lines, header, last, skipped or {})
    if not table.counts:
        raise NoRows("no complete row to plot (the run was cut short)")
    if table.hidden == len(table.counts) * len(table.columns) - len(table.skipped):
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


def _check_times(cell):
    """Checks that a stats row's Times are Runs numbers from Min to Max; returns them."""
    times = _numbers(cell["Times"], "Times")
    if len(times) != int(cell["Runs"]):
        raise ValueError(f"Times holds {len(times)} values, Runs is {cell['Runs']}")
    least, most = min(times, key=float), max(times, key=float)
    if not same(float(least), float(cell["Min"])):
        raise ValueError(f"smallest of Times {least} is not Min {cell['Min']}")
    if not same(float(most), float(cell["Max"])):
        raise ValueError(f"largest of Times {most} is not Max {cell['Max']}")
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


def _check_key(cell, columns):
    """Checks a side file row's record count, column and Runs."""
    problem = whole_problem(cell["NbRecords"])
    if problem:
        raise ValueError(f"record count {quoted(cell['NbRecords'])} {problem}")
    if cell["Column"] not in columns:
        raise ValueError(f"{quoted(cell['Column'])} is not a column of the result file")
    problem = whole_problem(cell["Runs"])
    if problem:
        raise ValueError(f"Runs {quoted(cell['Runs'])} {problem}")


_STATS_NUMBERS = tuple(STATS_HEADER.split(",")[3:8])  # Min to StdDev, as CellStats takes them


def _stats_row(cell, columns, form):
    """Checks one stats row ({field: text}) against its result file's columns;
    `form` (a SideFile) says which optional cells its header has. Returns its
    CellStats."""
    _check_key(cell, columns)
    for name in _STATS_NUMBERS:
        checked_number(cell[name], f"{name} cell")
    times = _check_times(cell)
    median = cell["Median"]
    interval = _interval(cell["CiLow"], cell["CiHigh"], median) if form.with_interval else None
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


def _speedup_row(cell, columns):
    """Checks one speed-up row ({field: text}) against its result file's columns; returns its SpeedupStats."""
    if cell["Column"] == STANDARD:
        raise ValueError(f"'{STANDARD}' is the reference, it has no speed-up row")
    _check_key(cell, columns)
    median = cell["Median"]
    checked_number(median, "Median cell")
    ratios = [float(r) for r in _numbers(cell["Ratios"], "Ratios")]
    if len(ratios) != int(cell["Runs"]):
        raise ValueError(f"Ratios holds {len(ratios)} values, Runs is {cell['Runs']}")
    if not same(median_of(ratios), float(median)):
        raise ValueError(f"Median {median} is not the median of the Ratios, {median_of(ratios):.12g}")
    return SpeedupStats(int(cell["Runs"]), float(median), _interval(cell["CiLow"], cell["CiHigh"], median), ratios)


def _fields(text):
    return tuple(text.lstrip(",").split(","))


@dataclass(frozen=True)
class _Shape:
    """The header of a kind of side file: the fields every row has, the
    groups of fields (by the SideFile flag they set) it has all or none of,
    and the header lines of runs without run.json (`fallback`). Its cells
    are read by these names, wherever the header puts them."""
    kind: str
    fields: tuple
    groups: dict
    fallback: tuple

    def flags(self, line):
        """{flag: whether the header line has its group}; raises Unusable for a
        line without one of the fields or with part of a group, or naming a
        field twice. Fields it names beyond these are left alone: a later
        program may add some, as run.json states."""
        given = line.split(",")
        if len(set(given)) != len(given):
            raise Unusable(f"line 1 names a field twice, not a {self.kind} header")
        missing = [name for name in self.fields if name not in given]
        if missing:
            raise Unusable(f"line 1 is not a {self.kind} header: it has no {missing[0]} field")
        flags = {}
        for flag, group in self.groups.items():
            have = [name in given for name in group]
            if any(have) and not all(have):
                raise Unusable(f"line 1 is not a {self.kind} header: it has {group[have.index(True)]} without "
                               f"{group[have.index(False)]}")
            flags[flag] = all(have)
        return flags


_STATS = _Shape("stats file", _fields(STATS_HEADER),
                {"with_interval": _fields(STATS_INTERVAL), "with_limits": _fields(STATS_LIMITS),
                 "with_reference": _fields(STATS_REFERENCE)},
                tuple(STATS_HEADER + interval + limits + reference
                      for limits in ("", STATS_LIMITS) for interval in ("", STATS_INTERVAL)
                      for reference in (("", STATS_REFERENCE) if limits else ("",))))
_SPEEDUPS = _Shape("speed-up file", _fields(SPEEDUP_HEADER), {}, (SPEEDUP_HEADER,))


def _read_side_file(where, shape, parse_row, forms=None, stated=None):
    """The rows of a stats or speed-up file of the _Shape `shape` as {(count,
    column): (line number, cells by field name, parse_row(cells, side))},
    each checked by parse_row (which raises ValueError with the reason). Its
    header is `stated`, the one run.json gives the file, when there is one;
    otherwise one of the shape's fallback lines, which `forms` names in a
    refusal (by default every one in full). None when there is no such
    file."""
    with placed(where) as place:
        if not place.exists():
            return None
        lines, padded = read_lines(place, shape.kind)
    if not lines:
        raise Unusable("empty file")
    if stated is not None:
        check_stated(lines[0], stated)
    elif lines[0] not in shape.fallback:
        raise Unusable(f"line 1 is not a {shape.kind} header ({forms or ' or '.join(shape.fallback)})")
    side = SideFile(str(where), **shape.flags(lines[0]))
    names = lines[0].split(",")
    width = len(names)
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
        cells = dict(zip(names, cells))
        try:
            row = parse_row(cells, side)
        except ValueError as fault:
            # A file never closed may end inside its last row.
            if padded and number == last:
                break
            raise Unusable(f"line {number}: {fault}") from None
        key = (cells["NbRecords"], cells["Column"])
        if key in side.rows:
            raise Unusable(f"line {number}: a second row for {key[0]} records, {key[1]}")
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
    side = _read_side_file(where, _STATS, lambda cells, form: _stats_row(cells, result.columns, form),
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


@within_memory
def read_speedups(where, result, stated=None):
    """Reads the speed-up file at `where` (a Place or a path): per count and column other than CPU
    Standard, Runs ratios whose median is Median, and an interval that holds
    it; its header is `stated` when run.json states one. Returns a SideFile of
    SpeedupStats, None when there is no file; raises Unusable for a file that
    cannot be used."""
    side = _read_side_file(where, _SPEEDUPS, lambda cells, _side: _speedup_row(cells, result.columns),
                           stated=stated)
    if side is not None:
        side.rows = {key: stats for key, (_, _, stats) in side.rows.items()}
    return side
