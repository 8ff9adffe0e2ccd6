"""What each chart of a run, or of runs side by side, draws: titles, axes,
lines, whiskers and keys as plain data. sortbench_render draws them; keeping
the two apart lets tests look at a chart without drawing it.

Axes are log-log throughout: record counts span decades, and so do times.
"""

import math
from dataclasses import dataclass, field

from sortbench_columns import STANDARD
from sortbench_rundir import split_stem, stem_label


@dataclass(frozen=True)
class Style:
    """How one column is drawn on every chart and in every run, so that it
    keeps its colour: a colour, a marker (matplotlib's letter), whether the
    marker is filled, the line's dash ("solid", "dashed", "dotted",
    "dashdot") and width."""
    colour: str
    marker: str
    filled: bool = True
    dash: str = "solid"
    width: float = 2.0


_KNOWN_STYLES = {
    STANDARD: Style("#000000", "o", width=2.5),
    "CPU 1 Thread": Style("#1f77b4", "s"),
    "CPU 2 Thread": Style("#2ca02c", "^"),
    "CPU 4 Thread": Style("#ff7f0e", "v"),
    "CPU 8 Thread": Style("#9467bd", "D"),
    "GPU": Style("#d62728", "s", filled=False),
    "GPU On Card": Style("#e377c2", "o", filled=False, dash="dashed"),
    "GPU Transfer": Style("#8c564b", "^", filled=False, dash="dotted"),
    "Pair Radix 1 Thread": Style("#ad494a", "*"),
    "Pair Radix All CPUs": Style("#6b6ecf", "P"),
    "Peer vqsort": Style("#17becf", "p"),
    "Peer parallel stable sort": Style("#a5a619", "D", filled=False),
}
_SPARE_STYLES = (
    Style("#7f7f7f", "v", filled=False, dash="dashdot"),
    Style("#393b79", "p", filled=False),
    Style("#637939", "+"),
    Style("#843c39", "x"),
)
_spare_taken = {}

# Runs side by side: the first run solid, the others each its own dash
# (on/off lengths in line widths).
RUN_DASHES = ((), (4, 2.5), (1, 2), (6, 2, 1, 2), (6, 2, 1, 2, 1, 2), (2, 2))
REFERENCE = Style("#000000", "", width=1.5)
RUN_KEY = Style("#404040", "", width=2.0)


def style_of(column):
    """The style of a column name; a name the benchmark does not write takes
    one of the spare styles, the same one for the rest of the process."""
    if column in _KNOWN_STYLES:
        return _KNOWN_STYLES[column]
    if column not in _spare_taken:
        _spare_taken[column] = _SPARE_STYLES[len(_spare_taken) % len(_SPARE_STYLES)]
    return _spare_taken[column]


def run_dash(k):
    return RUN_DASHES[k % len(RUN_DASHES)]


@dataclass
class Line:
    """One line of points; y None where there is none. spread and interval,
    when given, hold per point a (low, high) whisker or None: spread the
    thin min … max whisker, interval the wide bar of a 95% interval."""
    label: str
    style: Style
    x: list
    y: list
    dash: tuple = ()
    spread: list = None
    interval: list = None
    in_key: bool = True
    markers: bool = True


@dataclass
class Axis:
    """A log axis: its range (None: fit the data), its ticks as (value, label)
    pairs (None: decades), and whether its minor ticks get labels."""
    label: str
    limits: tuple = None
    ticks: list = None


@dataclass
class Panel:
    title: str
    x: Axis
    y: Axis
    lines: list


@dataclass
class Chart:
    """A picture: `name` is the file's name without its extension; panels are
    laid out `columns` a row, each panel_size pixels; the key lists `key`
    (lines whose points do not matter) on the right of a single panel or in
    a strip below several."""
    name: str
    title: str
    panels: list
    key: list = field(default_factory=list)
    columns: int = 1
    panel_size: tuple = (1000, 700)


# --- axes -------------------------------------------------------------------------

# How far a count axis reaches beyond its first and last count, so that no
# point sits on its edge.
_ROOM = 1.4


def count_label(n):
    """A record count as an axis names it: 100, 2.5k, 1M, 1G."""
    for size, suffix in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if n >= size:
            return f"{n / size:g}{suffix}"
    return f"{n:g}"


def count_axis(counts):
    """The record count axis of `counts`: a little room at both ends, and a
    labelled tick per count unless a long ladder makes decades clearer."""
    low, high = min(counts), max(counts)
    ticks = None if len(counts) > 8 else [(n, count_label(n)) for n in counts]
    return Axis("records", (low / _ROOM, high * _ROOM), ticks)


_RATIO_LEVELS = (
    (0.45, (0.5, 0.6, 0.7, 0.8, 0.9, 1, 1.1, 1.25, 1.5, 2)),
    (0.009, (0.01, 0.02, 0.05, 0.1, 0.2, 0.3, 0.5, 1, 2, 3, 5, 10, 20, 50, 100)),
    (0.0, (1e-6, 1e-5, 1e-4, 1e-3, 0.01, 0.1, 1, 10, 100, 1000, 1e4, 1e5, 1e6)),
)


def ratio_axis(label, ratios):
    """An axis of ratios centred on 1, at least 0.8 to 1.25, with ticks at ratios
    a reader can name."""
    far = max([abs(math.log(r)) for r in ratios if r] + [math.log(1.25)]) * 1.15
    low, high = math.exp(-far), math.exp(far)
    levels = next(levels for floor, levels in _RATIO_LEVELS if low >= floor)
    return Axis(label, (low, high), [(v, f"{v:g}") for v in levels if low <= v <= high])


def _level_one(label, x, **how):
    """The reference line at 1 across the count axis of the points `x`."""
    return Line(label, REFERENCE, [x[0] / _ROOM, x[-1] * _ROOM], [1, 1], markers=False, **how)


def time_axis():
    return Axis("time per sort (ms)")


_FLOOR_LEVELS = (0.5, 0.75, 1, 1.5, 2, 3, 5, 10, 20, 50, 100, 200, 500, 1000)


def floor_axis(ratios):
    """The axis of times over their memory floor: from the ratios, and 1, with
    some room; ticks a reader can name where they reach, else decades."""
    low, high = min(ratios + [1]) / 1.25, max(ratios + [1.25]) * 1.25
    fits = _FLOOR_LEVELS[0] <= low and high <= _FLOOR_LEVELS[-1] * 1.25
    return Axis("time / memory floor", (low, high),
                [(v, f"{v:g}") for v in _FLOOR_LEVELS if low <= v <= high] if fits else None)


# --- one run ------------------------------------------------------------------------

def _whiskers(result, stats, column, pick):
    """Per row of `result`, pick(CellStats) for the column's cell, or None where
    the stats file has no row, the result no time, or the whisker no end a log
    axis can show."""
    if stats is None:
        return [None] * len(result.counts)
    out = []
    for row, count in enumerate(result.counts):
        cell = stats.rows.get((count, column))
        whisker = pick(cell) if cell is not None and result.time(row, column) is not None else None
        out.append(whisker if whisker is not None and whisker[0] > 0 else None)
    return out


def time_chart(stem, result, stats, run_name):
    """The chart of one result file: time per sort against the record count,
    one line per column with a time, with min … max whiskers around each
    median (and the median's 95% interval) where the stats file has them.
    None when no column has a time to draw."""
    x = [int(c) for c in result.counts]
    lines, whiskers, intervals = [], False, False
    for at, column in enumerate(result.columns):
        y = [row[at] for row in result.times]
        if all(v is None for v in y):
            continue
        spread = _whiskers(result, stats, column, lambda c: (c.minimum, c.maximum))
        interval = _whiskers(result, stats, column, lambda c: c.interval)
        whiskers = whiskers or any(spread)
        intervals = intervals or any(interval)
        lines.append(Line(column, style_of(column), x, y, spread=spread if any(spread) else None,
                          interval=interval if any(interval) else None))
    if not lines:
        return None
    what = "time per sort"
    if intervals:
        what += " (median, whiskers min to max, bars its 95% interval)"
    elif whiskers:
        what += " (median, whiskers min to max)"
    panel = Panel(None, count_axis(x), time_axis(), lines)
    return Chart(f"bench_{stem}", f"{stem_label(stem)}: {what}, run {run_name}", [panel])


def limits_chart(stem, result, stats, run_name):
    """Each column's median time over its memory floor against the record count,
    with the line at 1: the floor bounds the time from below, so a point under
    it is a cell the floor's model does not hold for. None when the stats file
    has no floor ratio a log axis can show."""
    if stats is None:
        return None
    x = [int(c) for c in result.counts]
    lines, ratios = [], []
    for column in result.columns:
        cells = [stats.rows.get((count, column)) for count in result.counts]
        y = [c.floor_ratio if c is not None and c.floor_ratio else None for c in cells]
        if any(v is not None for v in y):
            ratios.extend(v for v in y if v is not None)
            lines.append(Line(column, style_of(column), x, y))
    if not lines:
        return None
    lines.insert(0, _level_one("the memory floor", x))
    title = (f"{stem_label(stem)}: median time per sort over the column's memory floor "
             "(below 1: the floor does not hold)")
    panel = Panel(None, count_axis(x), floor_axis(ratios), lines)
    return Chart(f"limits_{stem}", f"{title}, run {run_name}", [panel])


def speedup_points(result, speedups, column):
    """Per row: (speed-up over CPU Standard, its interval or None). The speed-up
    file's median of paired per-round ratios where it has the cell, else
    CPU Standard's time over the column's; None where neither is known."""
    points = []
    # A run that left CPU Standard out (-COLUMNS) has no speed-ups: nothing else stands in for it.
    if STANDARD not in result.columns:
        return [None] * len(result.counts)
    for row, count in enumerate(result.counts):
        cell = speedups.rows.get((count, column)) if speedups else None
        if cell is not None and cell.median > 0:
            points.append((cell.median, cell.interval if cell.interval and cell.interval[0] > 0 else None))
            continue
        standard, time = result.time(row, STANDARD), result.time(row, column)
        points.append((standard / time, None) if standard and time else None)
    return points


def speedup_panel(stem, result, speedups):
    """One data type's panel: every column's speed-up over CPU Standard, with the
    line at 1 (CPU Standard itself); None when the run did not time CPU Standard."""
    if STANDARD not in result.columns:
        return None
    x = [int(c) for c in result.counts]
    lines = [_level_one(f"{STANDARD} (1x)", x)]
    for column in result.columns:
        if column == STANDARD:
            continue
        points = speedup_points(result, speedups, column)
        if not any(points):
            continue
        y = [p[0] if p else None for p in points]
        interval = [p[1] if p else None for p in points]
        lines.append(Line(column, style_of(column), x, y, interval=interval if any(interval) else None))
    return Panel(split_stem(stem)[0], count_axis(x), Axis("speed-up (x)"), lines)


def speedup_chart(dist, panels, run_name, paired):
    """The speed-up chart of one key distribution: a panel per data type, two a
    row, each with its own y range, one key below them all. `paired` says
    whether speed-up files gave the medians of per-round ratios."""
    name = "speedup" if dist == "uniform" else f"speedup_{dist}"
    if dist == "uniform":
        title = "Speed-up over CPU Standard (its time / column time; above 1 = faster)"
    else:
        title = f"Speed-up over CPU Standard, {dist} keys (above 1 = faster)"
    if paired:
        title += ", median of paired rounds"
    if any(line.interval for panel in panels for line in panel.lines):
        title += ", bars its 95% interval"
    key, seen = [], set()
    for panel in panels:
        for line in panel.lines:
            if line.label not in seen:
                seen.add(line.label)
                key.append(line)
    key = [key[0]] + sorted(key[1:], key=lambda line: _style_rank(line.label))
    for panel in panels:
        for line in panel.lines:
            line.in_key = False
    return Chart(name, f"{title}, run {run_name}", panels, key, columns=1 if len(panels) == 1 else 2,
                 panel_size=(800, 520))


def _style_rank(column):
    known = list(_KNOWN_STYLES)
    return (known.index(column), "") if column in known else (len(known), column)


# --- runs side by side ----------------------------------------------------------------

def _run_key(run_names, first=0):
    return [Line(f"run {name}", RUN_KEY, [], [], dash=run_dash(k), markers=False)
            for k, name in enumerate(run_names) if k >= first]


def _column_key(columns):
    return [Line(c, style_of(c), [], []) for c in columns]


def compare_chart(stem, joined, run_names):
    """Every run's times of one result file: a colour per column, a dash per run."""
    x = [int(c) for c in joined.counts]
    lines = []
    for k, run in enumerate(joined.times):
        for j, column in enumerate(joined.columns):
            y = [row[j] for row in run]
            if any(v is not None for v in y):
                lines.append(Line(f"{column}, run {run_names[k]}", style_of(column), x, y,
                                  dash=run_dash(k), in_key=False))
    title = f"{stem_label(stem)}: time per sort in each run (colour: column, line: run)"
    panel = Panel(None, count_axis(x), time_axis(), lines)
    return Chart(f"compare_{stem}", title, [panel], _column_key(joined.columns) + _run_key(run_names),
                 panel_size=(1100, 700))


def ratio_chart(stem, joined, run_names):
    """Each column's time in every later run over its time in the first run;
    None when no column has a time in the first run and a later one."""
    x = [int(c) for c in joined.counts]
    first = joined.times[0]
    lines, ratios = [], []
    for k, run in enumerate(joined.times[1:], start=1):
        for j, column in enumerate(joined.columns):
            y = [row[j] / base[j] if row[j] and base[j] else None for row, base in zip(run, first)]
            if any(v is not None for v in y):
                ratios.extend(v for v in y if v)
                lines.append(Line(f"{column}, run {run_names[k]}", style_of(column), x, y,
                                  dash=run_dash(k), in_key=False))
    if not lines:
        return None
    lines.insert(0, _level_one("", x, in_key=False))
    title = f"{stem_label(stem)}: time per sort relative to run {run_names[0]} (above 1 = slower)"
    panel = Panel(None, count_axis(x), ratio_axis(f"time / time in {run_names[0]}", ratios), lines)
    return Chart(f"compare_ratio_{stem}", title, [panel],
                 _column_key(joined.columns) + _run_key(run_names, first=1), panel_size=(1100, 700))


# --- what a chart drew ----------------------------------------------------------------------

def chart_table(chart):
    """Every point a chart draws as tab-separated lines: panel title, line
    label, count, value, whisker low and high, interval low and high ("NaN"
    for none). The same numbers give the same table in any locale."""
    def cell(v):
        return "NaN" if v is None else repr(float(v))

    rows = []
    for panel in chart.panels:
        for line in panel.lines:
            for i, (x, y) in enumerate(zip(line.x, line.y)):
                spread = line.spread[i] if line.spread and line.spread[i] else (None, None)
                interval = line.interval[i] if line.interval and line.interval[i] else (None, None)
                rows.append("\t".join([panel.title or "", line.label, cell(x), cell(y),
                                       *map(cell, spread), *map(cell, interval)]))
    return "\n".join(rows) + "\n"
