"""The files of a sortbench run directory, read and checked line by line.

A run directory holds bench_<TYPE>[_<dist>].csv result files and, with
repetitions, stats_<stem>.csv and speedup_<stem>.csv beside them. Every reader
here returns what it read, or raises Unusable with the reason; complaints that
leave the file usable travel with the result as Notice values. Nothing here
prints or exits: the tools decide how to say it.
"""

import os
import re
import stat
from dataclasses import dataclass, field

DISTRIBUTIONS = ("uniform", "sorted", "reverse", "nearly-sorted", "few-unique", "equal", "zipf", "skewed")
DATA_TYPES = ("INT", "FLOAT", "BIGINT", "BIGFLOAT")
STANDARD = "CPU Standard"
RESULT_HEAD = ("NbRecords", STANDARD)
STATS_HEADER = "NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times"
STATS_INTERVAL = ",CiLow,CiHigh"
STATS_LIMITS = ",KeysPerSecond,FloorMs,FloorRatio"
SPEEDUP_HEADER = "NbRecords,Column,Runs,Median,CiLow,CiHigh,Ratios"

# Times as the benchmark writes them: a decimal point, no exponent.
_TIME = re.compile(r"-?([0-9]+\.?[0-9]*|\.[0-9]+)")
_WHOLE = re.compile(r"[0-9]+")
# The benchmark writes twelve decimals at most, and no time of a sort comes
# near 10^12 ms (31 years): between these bounds every ratio, logarithm and
# axis the tools compute stays a finite float.
MIN_NUMBER, MAX_NUMBER = 1e-12, 1e12
MAX_WHOLE = 2 ** 64 - 1  # record counts are 64-bit
# Far beyond what a run writes (29 counts and 11 columns, 290 stats rows of up
# to 1000 times each, a few MiB), and small enough that a file this large is
# read, checked and drawn in seconds and a few hundred MB.
MAX_BYTES = 32 << 20
MAX_ROWS = 2000
MAX_COLUMNS = 32


class Unusable(Exception):
    """A file that cannot be used at all; str() is the reason, without the path."""


def quoted(text, most=40):
    """A cell's text as a message quotes it, cut short when long."""
    return f"'{text}'" if len(text) <= most else f"'{text[:most]}…' ({len(text)} characters)"


@dataclass
class Notice:
    """A complaint about a file that is still used. `fails` makes the tool's
    exit status 1 (the file is incomplete); otherwise it only informs."""
    text: str
    fails: bool = True


# --- stems: "INT", "INT_zipf" -------------------------------------------------

def split_stem(stem):
    """(data type, distribution) of a stem; a name ending in no known
    distribution is a data type of uniform keys."""
    for dist in DISTRIBUTIONS[1:]:
        suffix = "_" + dist
        if stem.endswith(suffix) and len(stem) > len(suffix):
            return stem[: -len(suffix)], dist
    return stem, "uniform"


def stem_label(stem):
    """How a title names a stem: "INT", "INT, sorted keys"."""
    data_type, dist = split_stem(stem)
    return data_type if dist == "uniform" else f"{data_type}, {dist} keys"


def stem_order(stem):
    """Sort key of stems: the known data types in run order, others after them by
    name, then the distributions in the order of DISTRIBUTIONS."""
    data_type, dist = split_stem(stem)
    rank = DATA_TYPES.index(data_type) if data_type in DATA_TYPES else len(DATA_TYPES)
    return rank, data_type, DISTRIBUTIONS.index(dist)


def input_files(run_dir):
    """Every file of a run directory the tools may read: the result files, the
    stats and speed-up files beside them, run_conditions.txt and run.json."""
    paths = [f"{run_dir}/run_conditions.txt", f"{run_dir}/run.json"]
    for stem, path in result_files(run_dir):
        paths += [path, f"{run_dir}/stats_{stem}.csv", f"{run_dir}/speedup_{stem}.csv"]
    return paths


def result_files(run_dir):
    """The ordered (stem, path) pairs of a run directory's bench_*.csv names;
    links that lead nowhere are among them, to be reported when read. Paths
    are the directory as given, "/" and the name."""
    try:
        names = os.listdir(run_dir)
    except OSError:
        return []
    stems = [n[len("bench_"):-len(".csv")] for n in names
             if n.startswith("bench_") and n.endswith(".csv") and len(n) >= len("bench_.csv")]
    return [(stem, f"{run_dir}/bench_{stem}.csv") for stem in sorted(stems, key=stem_order)]


# --- text ----------------------------------------------------------------------

def read_bytes(path, most=None):
    """The bytes of the regular file at `path`. Raises Unusable for a link that
    leads nowhere, anything but a readable regular file, and more than `most`
    bytes (by default MAX_BYTES)."""
    most = MAX_BYTES if most is None else most
    if os.path.islink(path) and not os.path.exists(path):
        raise Unusable("symbolic link that leads nowhere (dangling or looping)")
    if not os.path.isfile(path) or not os.access(path, os.R_OK):
        raise Unusable("not a readable file")
    try:
        # Not blocking: a FIFO put in the file's place meanwhile is refused, not waited on.
        with open(os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC), "rb") as stream:
            if not stat.S_ISREG(os.fstat(stream.fileno()).st_mode):
                raise Unusable("not a readable file")
            data = stream.read(most + 1)
    except OSError:
        raise Unusable("not a readable file") from None
    if len(data) > most:
        raise Unusable(f"larger than {most / (1 << 20):g} MiB, far more than a run writes")
    return data


def read_lines(path, kind):
    """The lines of a file's text and whether a writer left it unclosed.

    A file still open by the benchmark, or left by a killed run, ends in zero
    bytes; they are dropped and reported as padded=True. Returns (lines, padded)
    with carriage returns stripped, trailing empty lines kept. Raises Unusable
    as read_bytes does, for zero bytes before the last text byte (`kind` names
    what the file should have been), and for more than MAX_ROWS lines after
    the first.
    """
    data = read_bytes(path)
    text = data.rstrip(b"\0")
    if data and not text:
        raise Unusable(f"only zero bytes, no text: the run was cut short (or is still running) "
                       f"before it wrote this {kind}")
    if b"\0" in text:
        raise Unusable(f"zero bytes inside the text, not a {kind}")
    if text.count(b"\n") + (not text.endswith(b"\n")) > MAX_ROWS + 1:
        raise Unusable(f"more than {MAX_ROWS} rows; a run writes a few hundred at most")
    lines = text.decode("utf-8", "replace").split("\n")
    if lines[-1] == "":
        lines.pop()
    return [line[:-1] if line.endswith("\r") else line for line in lines], len(text) < len(data)


def last_text_line(lines):
    """1-based number of the last line that is not empty (1 for the header)."""
    last = len(lines)
    while last > 1 and lines[last - 1] == "":
        last -= 1
    return last


def number_problem(text):
    """Why a cell is not a number of these files ("is not a number", "is out
    of range ..."), None when it is one: a decimal without exponent, zero or
    from MIN_NUMBER to MAX_NUMBER either side of it."""
    if _TIME.fullmatch(text) is None:
        return "is not a number"
    size = abs(float(text))
    if size == 0 or MIN_NUMBER <= size <= MAX_NUMBER:
        return None
    return "is out of range (0, or 10^-12 to 10^12 either side of it)"


def checked_number(text, name):
    """The value of a cell named `name`; raises ValueError when it is no number of these files."""
    problem = number_problem(text)
    if problem:
        raise ValueError(f"{name} {quoted(text)} {problem}")
    return float(text)


def whole_problem(text, least=1):
    """Why a cell is not a whole number from `least` to MAX_WHOLE, None when it is one."""
    digits = text.lstrip("0") or "0"
    if _WHOLE.fullmatch(text) is None or (len(digits) <= 20 and int(digits) < least):
        return "is not a positive whole number" if least else "is not a whole number"
    if len(digits) > 20 or int(digits) > MAX_WHOLE:
        return f"is out of range (at most {MAX_WHOLE})"
    return None


def at_most(a, b):
    """a <= b, give or take the rounding of numbers written with twelve decimals."""
    return a - b <= 1e-9 * max(abs(a), abs(b)) + 1e-12


def same(a, b):
    return at_most(a, b) and at_most(b, a)


def median_of(values):
    """The median, the mean of the two middle values for an even count."""
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


# --- result files ----------------------------------------------------------------

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
                                            f"left out{why}"))
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


def read_result(path, stated=None):
    """Reads and checks one result file; raises Unusable when nothing can be charted.

    The last row may be incomplete (a run cut short): it is left out with a
    failing notice. Times that are zero or negative become None, with one
    informative notice counting them. `stated`: the header run.json gives
    the file, if any.
    """
    lines, padded = read_lines(path, "result file")
    if not lines:
        raise Unusable("empty file")
    check_stated(lines[0], stated)
    header = lines[0].split(",")
    _check_result_header(header)
    last = last_text_line(lines)
    if last == 1:
        if padded:
            raise Unusable("no rows: the run was cut short (or is still running) before this data type")
        raise Unusable("header only, no rows to plot (a -INFO run, or a run that ended before this data type)")
    table = ResultTable(path, header[1:], padded=padded)
    _read_result_rows(table, lines, header, last)
    if not table.counts:
        raise Unusable("no complete row to plot (the run was cut short)")
    if table.hidden == len(table.counts) * len(table.columns):
        raise Unusable(f"no positive time to draw: all {table.hidden} are zero or negative")
    if padded:
        table.notices.append(Notice("the file was never closed: the run was cut short (or is still running); "
                                    f"{len(table.counts)} complete rows charted"))
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
    None where the file has no such cell or leaves it empty."""
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
    """A stats or speed-up file: rows by (count text, column name)."""
    path: str
    rows: dict = field(default_factory=dict)
    with_interval: bool = False
    with_limits: bool = False
    notices: list = field(default_factory=list)


def _numbers(text, name):
    """The ;-separated number texts of a Times or Ratios cell; raises ValueError
    when the cell is empty or one is not a number."""
    if text == "":
        raise ValueError(f"{name} cell is empty")
    values = text.split(";")
    for value in values:
        checked_number(value, f"{name} value")
    return values


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
    limits = _limits(*cells[-3:], cells[4]) if form.with_limits else ()
    return CellStats(int(cells[2]), *(float(c) for c in cells[3:8]), times, interval, *limits)


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


def _read_side_file(path, kind, headers, parse_row, forms=None, stated=None):
    """The rows of a stats or speed-up file as {(count, column): (line number,
    cells, parse_row(cells, side))}, each checked by parse_row (which raises
    ValueError with the reason). `headers` maps each accepted header line to a
    pair: whether it carries the interval cells, whether it carries the limits
    cells; `forms` names them in a refusal, by default every one in full;
    `stated` is the header run.json gives the file, if any. None when there is
    no such file."""
    if not os.path.lexists(path):
        return None
    lines, padded = read_lines(path, kind)
    if not lines:
        raise Unusable("empty file")
    check_stated(lines[0], stated)
    if lines[0] not in headers:
        raise Unusable(f"line 1 is not a {kind} header ({forms or ' or '.join(headers)})")
    with_interval, with_limits = headers[lines[0]]
    side = SideFile(path, with_interval=with_interval, with_limits=with_limits)
    width = len(lines[0].split(","))
    last = last_text_line(lines)
    for number in range(2, last + 1):
        cells = lines[number - 1].split(",")
        if len(cells) != width:
            if number == last and len(cells) < width:
                # A run cut short is already reported for its result file.
                if not padded:
                    side.notices.append(Notice(f"line {number}: last row has {len(cells)} of {width} cells, "
                                               "left out (the file was cut short)"))
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


def read_stats(path, result, stated=None):
    """Reads the stats file at `path` and checks it against its result file:
    each row's Times are Runs numbers from Min to Max, Min to Max holds the
    result file's time, the interval (when the header has one) holds the
    Median, the floor ratio (when the header has the limits) is the Median
    over the floor; its header is `stated` when run.json states one. Returns a
    SideFile of CellStats, None when there is no file; raises Unusable for a
    file that cannot be used."""
    headers = {STATS_HEADER + interval + limits: (bool(interval), bool(limits))
               for limits in ("", STATS_LIMITS) for interval in ("", STATS_INTERVAL)}
    side = _read_side_file(path, "stats file", headers, lambda cells, form: _stats_row(cells, result.columns, form),
                           f"{STATS_HEADER}[{STATS_INTERVAL}][{STATS_LIMITS}]", stated)
    if side is None:
        return None
    _check_against_result(side, result)
    side.rows = {key: stats for key, (_, _, stats) in side.rows.items()}
    return side


def read_speedups(path, result, stated=None):
    """Reads the speed-up file at `path`: per count and column other than CPU
    Standard, Runs ratios whose median is Median, and an interval that holds
    it; its header is `stated` when run.json states one. Returns a SideFile of
    SpeedupStats, None when there is no file; raises Unusable for a file that
    cannot be used."""
    side = _read_side_file(path, "speed-up file", {SPEEDUP_HEADER: (True, False)},
                           lambda cells, _side: _speedup_row(cells, result.columns), stated=stated)
    if side is not None:
        side.rows = {key: stats for key, (_, _, stats) in side.rows.items()}
    return side


# --- run conditions ------------------------------------------------------------------

def read_conditions(path):
    """The "Key: value" lines of run_conditions.txt as (key, value) pairs in file
    order, WARNING lines as ("WARNING", text), the banner and anything else
    left out; None when there is no such file. Raises Unusable for a file
    that cannot be read.

    Each line is one value, but for an Options line that ends inside a quoted
    argument (an older benchmark quoted a line feed as it was): its value goes
    on to the line that closes the quote, so no line of an argument is taken
    for a line of its own."""
    if not os.path.lexists(path):
        return None
    lines, _ = read_lines(path, "run conditions file")
    pairs = []
    rest = iter(lines)
    for line in rest:
        key, colon, value = line.partition(": ")
        if key == "Options":
            value = "\n".join([value] + list(_quoted_lines(value, rest)))
        if colon and key and not key.startswith("-"):
            pairs.append((key, value.strip()))
    return pairs


def _quoted_lines(text, rest):
    """The lines of `rest` an argument opened in `text` goes on to, quoted as
    the benchmark quotes its options: 'single quotes', with \\' between them."""
    inside = False
    while True:
        escaped = False
        for char in text:
            if inside:
                inside = char != "'"
            elif escaped:
                escaped = False
            else:
                escaped, inside = char == "\\", char == "'"
        text = next(rest, None) if inside else None
        if text is None:
            return
        yield text


# --- runs side by side ------------------------------------------------------------------

@dataclass
class Joined:
    """One result file of every run over the counts and columns all runs have.
    times[k][i][j]: run k, shared count i, shared column j (None: no time a log
    axis can show). left_counts[k] / left_columns[k]: what run k has beyond."""
    columns: list
    counts: list
    times: list
    left_counts: list
    left_columns: list


def join_runs(tables):
    """Joins one result file's tables of every run (the first run's order, the
    first row of a count twice); raises Unusable when they share no count."""
    rows = []
    for table in tables:
        first = {}
        for index, count in enumerate(table.counts):
            first.setdefault(count, index)
        rows.append(first)
    columns = [c for c in tables[0].columns if all(c in t.columns for t in tables)]
    counts = [c for c in rows[0] if all(c in r for r in rows)]
    left_counts = [[c for c in r if c not in counts] for r in rows]
    left_columns = [[c for c in t.columns if c not in columns] for t in tables]
    if not counts:
        raise Unusable("the runs share no record count")
    times = [[[t.times[r[count]][t.columns.index(c)] for c in columns] for count in counts]
             for t, r in zip(tables, rows)]
    return Joined(columns, counts, times, left_counts, left_columns)


def left_out_message(run_names, left_files, left_lists, charted):
    """What some runs have and the charts leave out, run by run: its files other
    runs lack, then its counts and its columns, each list followed by the files
    it applies to unless it applies to every one of the `charted` files.

    left_files[k]: file names only run k (and some others) has; left_lists[k]:
    ("counts"|"columns", list text, stem) in chart order. None when nothing
    was left out.
    """
    parts = []
    for k, name in enumerate(run_names):
        items = [", ".join(left_files[k])] if left_files[k] else []
        for kind in ("counts", "columns"):
            groups = {}
            for entry_kind, listed, stem in left_lists[k]:
                if entry_kind == kind:
                    groups.setdefault(listed, []).append(f"bench_{stem}.csv")
            for listed, files in groups.items():
                where = "" if len(files) == charted else " in " + ", ".join(files)
                items.append(f"{kind} {listed}{where}")
        if items:
            parts.append(f"from {name}: " + " and ".join(items))
    return "; ".join(parts) or None
