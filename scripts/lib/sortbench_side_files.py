"""What the stats and speed-up files beside a result file share: their
headers, a side file's rows read by their fields' names, and the cells both
kinds hold (the record count, the column, Runs, a ;-separated list of
numbers, a 95% interval).

The headers of runs without run.json are spelled here alone: a run's
run.json states each file's header, and its files are read by that.
Nothing here prints or exits: problems are raised as Unusable or
ValueError with the reason.
"""

from dataclasses import dataclass, field

from sortbench_folder import placed
from sortbench_results import check_stated
from sortbench_text import Notice, Unusable, at_most, checked_number, last_text_line, quoted, read_lines, whole_problem

STATS_HEADER = "NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times"
STATS_INTERVAL = ",CiLow,CiHigh"
STATS_LIMITS = ",KeysPerSecond,FloorMs,FloorRatio"
# -R auto runs that time the machine's reference after every round add it after the limits.
STATS_REFERENCE = ",ReferenceTimes"
SPEEDUP_HEADER = "NbRecords,Column,Runs,Median,CiLow,CiHigh,Ratios"


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


def numbers_of(text, name):
    """The ;-separated number texts of a Times or Ratios cell; raises ValueError
    when the cell is empty or one is not a number."""
    if text == "":
        raise ValueError(f"{name} cell is empty")
    values = text.split(";")
    for value in values:
        checked_number(value, f"{name} value")
    return values


def interval_of(low, high, median):
    """The (low, high) interval of two cells, None when both are empty; raises
    ValueError unless both are numbers around the Median cell's text."""
    if low == "" and high == "":
        return None
    for name, text in (("CiLow", low), ("CiHigh", high)):
        checked_number(text, f"{name} cell")
    if not (at_most(float(low), float(median)) and at_most(float(median), float(high))):
        raise ValueError(f"the interval {low} to {high} does not hold the median {median}")
    return float(low), float(high)


def check_key(cell, columns):
    """Checks a side file row's record count, column and Runs."""
    problem = whole_problem(cell["NbRecords"])
    if problem:
        raise ValueError(f"record count {quoted(cell['NbRecords'])} {problem}")
    if cell["Column"] not in columns:
        raise ValueError(f"{quoted(cell['Column'])} is not a column of the result file")
    problem = whole_problem(cell["Runs"])
    if problem:
        raise ValueError(f"Runs {quoted(cell['Runs'])} {problem}")


def fields_of(text):
    return tuple(text.lstrip(",").split(","))


@dataclass(frozen=True)
class Shape:
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


def read_side_file(where, shape, parse_row, forms=None, stated=None):
    """The rows of a stats or speed-up file of the Shape `shape` as {(count,
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
