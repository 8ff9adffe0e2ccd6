"""The speed-up file beside a result file (speedup_*.csv): per count and
column the paired per-round ratios over CPU Standard, checked row by row.

The reader returns what it read, or raises Unusable with the reason.
"""

from dataclasses import dataclass

from sortbench_columns import STANDARD
from sortbench_side_files import SPEEDUP_HEADER, Shape, check_key, fields_of, interval_of, numbers_of, read_side_file
from sortbench_text import checked_number, median_of, same, within_memory


@dataclass
class SpeedupStats:
    """One speed-up row: the median of the paired per-round ratios over CPU
    Standard, its 95% interval (low, high) or None, and every ratio."""
    runs: int
    median: float
    interval: tuple
    ratios: list


def _speedup_row(cell, columns):
    """Checks one speed-up row ({field: text}) against its result file's columns; returns its SpeedupStats."""
    if cell["Column"] == STANDARD:
        raise ValueError(f"'{STANDARD}' is the reference, it has no speed-up row")
    check_key(cell, columns)
    median = cell["Median"]
    checked_number(median, "Median cell")
    ratios = [float(r) for r in numbers_of(cell["Ratios"], "Ratios")]
    if len(ratios) != int(cell["Runs"]):
        raise ValueError(f"Ratios holds {len(ratios)} values, Runs is {cell['Runs']}")
    if not same(median_of(ratios), float(median)):
        raise ValueError(f"Median {median} is not the median of the Ratios, {median_of(ratios):.12g}")
    return SpeedupStats(int(cell["Runs"]), float(median), interval_of(cell["CiLow"], cell["CiHigh"], median), ratios)


_SPEEDUPS = Shape("speed-up file", fields_of(SPEEDUP_HEADER), {}, (SPEEDUP_HEADER,))


@within_memory
def read_speedups(where, result, stated=None):
    """Reads the speed-up file at `where` (a Place or a path): per count and column other than CPU
    Standard, Runs ratios whose median is Median, and an interval that holds
    it; its header is `stated` when run.json states one. Returns a SideFile of
    SpeedupStats, None when there is no file; raises Unusable for a file that
    cannot be used."""
    side = read_side_file(where, _SPEEDUPS, lambda cells, _side: _speedup_row(cells, result.columns),
                          stated=stated)
    if side is not None:
        side.rows = {key: stats for key, (_, _, stats) in side.rows.items()}
    return side
