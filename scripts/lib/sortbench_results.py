"""The result files of a run (bench_*.csv), read and checked line by line,
and a file's header held against the one run.json states.

Every reader here returns what it read, or raises Unusable with the reason;
complaints that leave the file usable travel with the result as Notice values.
Nothing here prints or exits: the tools decide how to say it.
"""

from dataclasses import dataclass, field

from sortbench_columns import MAX_COLUMNS, RUN_COLUMNS, STANDARD
from sortbench_text import (Notice, Unusable, checked_number, last_text_line, quoted, read_lines, whole_problem,
                            within_memory)

RESULT_HEAD = ("NbRecords", STANDARD)  # a run's whole header starts so; -COLUMNS may leave CPU Standard out


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
    if len(header) < 2 or header[0] != RESULT_HEAD[0]:
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
