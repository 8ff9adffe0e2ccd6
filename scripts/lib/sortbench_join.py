"""One result file of every run side by side: what all of them share, and
what some have that the others lack.

Runs that differ (another ladder of counts, other columns, other files) are
compared over what they share; what is left out is said in one line, run by
run, so that nothing leaves the comparison unsaid.
"""

from dataclasses import dataclass

from sortbench_rundir import result_name
from sortbench_text import Unusable


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


class LeftOut:
    """What some runs have and the others lack, gathered result file by result
    file for the one line that says it."""

    def __init__(self, runs):
        self.files = [[] for _ in range(runs)]  # per run: names of files other runs lack
        self.lists = [[] for _ in range(runs)]  # per run: ("counts"|"columns", list text, stem)

    def file(self, stem, holders):
        """A result file only the runs `holders` (their indices) have."""
        for k in holders:
            self.files[k].append(result_name(stem))

    def joined(self, stem, joined):
        """The counts and columns of a Joined some runs have beyond the others."""
        for k, lists in enumerate(self.lists):
            for kind, left in (("counts", joined.left_counts[k]), ("columns", joined.left_columns[k])):
                if left:
                    lists.append((kind, ", ".join(left), stem))

    def message(self, run_names, charted):
        """What was left out, run by run: its files other runs lack, then its
        counts and its columns, each list followed by the files it applies to
        unless it applies to every one of the `charted` files. None when
        nothing was left out."""
        parts = []
        for k, name in enumerate(run_names):
            items = [", ".join(self.files[k])] if self.files[k] else []
            for kind in ("counts", "columns"):
                groups = {}
                for entry_kind, listed, stem in self.lists[k]:
                    if entry_kind == kind:
                        groups.setdefault(listed, []).append(result_name(stem))
                for listed, files in groups.items():
                    where = "" if len(files) == charted else " in " + ", ".join(files)
                    items.append(f"{kind} {listed}{where}")
            if items:
                parts.append(f"from {name}: " + " and ".join(items))
        return "; ".join(parts) or None
