"""Draws the charts of sortbench_charts with matplotlib, as PNG files or as
SVG text to put inside a page. No display is needed: figures are drawn
without pyplot."""

import io
import math

import matplotlib
from matplotlib.figure import Figure
from matplotlib.lines import Line2D
from matplotlib.ticker import FixedLocator, FuncFormatter, LogLocator, NullFormatter

from sortbench_charts import count_label
from sortbench_tool import printable

DPI = 100
_GRID = "#d8d8d8"
_MINOR_GRID = "#efefef"
_DASHES = {"solid": "-", "dashed": "--", "dotted": ":", "dashdot": "-."}

matplotlib.rcParams.update({
    "font.family": "DejaVu Sans",
    "font.size": 10,
    "svg.fonttype": "none",      # text stays text: smaller pages, and it can be searched
    "svg.hashsalt": "sortbench",  # the same chart gives the same SVG
    "axes.titlesize": 11,
    # Names of runs, files and columns are drawn as written: "$5" is no formula.
    "text.parse_math": False,
})


def _number(value, _position=None):
    """A tick label: 0.001, 2.5, 100000."""
    return f"{value:g}"


def _count(value, _position=None):
    return count_label(value)


def _two_five(value, _position=None):
    """Labels 2 and 5 times a power of ten: a y range within two decades then
    still shows where it lies."""
    mantissa = value / 10 ** math.floor(math.log10(value) + 1e-9)
    return _number(value) if round(mantissa, 6) in (2.0, 5.0) else ""


def _line_style(line):
    """matplotlib's linestyle of a Line: its run's dash pattern, else its column's."""
    return (0, line.dash) if line.dash else _DASHES[line.style.dash]


def _draw_line(ax, line):
    style = line.style
    x = list(line.x)
    y = [math.nan if v is None else v for v in line.y]
    marker = style.marker if line.markers else ""
    face = style.colour if style.filled else "white"
    ax.plot(x, y, color=style.colour, lw=style.width, ls=_line_style(line), marker=marker, ms=6,
            markerfacecolor=face, markeredgecolor=style.colour, label=line.label, zorder=3)
    for whiskers, width, alpha, caps in ((line.spread, 1.2, 1.0, 3), (line.interval, 5, 0.35, 0)):
        if not whiskers:
            continue
        points = [(x[i], y[i], w) for i, w in enumerate(whiskers) if w and not math.isnan(y[i])]
        if points:
            px, py, w = zip(*points)
            ax.errorbar(px, py, yerr=[[v - lo for v, (lo, _) in zip(py, w)], [hi - v for v, (_, hi) in zip(py, w)]],
                        fmt="none", ecolor=style.colour, elinewidth=width, alpha=alpha, capsize=caps, zorder=2)


def _set_axis(axis, plan, formatter):
    """Ticks of a log axis: the ones its plan lists, labelled as it says, or
    decades labelled by `formatter`."""
    axis.set_minor_formatter(NullFormatter())
    if plan.ticks is None:
        axis.set_major_locator(LogLocator(base=10))
        axis.set_minor_locator(LogLocator(base=10, subs=range(2, 10)))
        axis.set_major_formatter(FuncFormatter(formatter))
        return
    labels = dict(plan.ticks)
    axis.set_major_locator(FixedLocator(list(labels)))
    axis.set_major_formatter(FuncFormatter(lambda value, _position: labels.get(value, formatter(value))))


def _draw_panel(ax, panel):
    ax.set_xscale("log")
    ax.set_yscale("log")
    for line in panel.lines:
        _draw_line(ax, line)
    if panel.x.limits:
        ax.set_xlim(*panel.x.limits)
    if panel.y.limits:
        ax.set_ylim(*panel.y.limits)
    _set_axis(ax.xaxis, panel.x, _count)
    _set_axis(ax.yaxis, panel.y, _number)
    low, high = ax.get_ylim()
    if panel.y.ticks is None and high / low < 100:
        ax.yaxis.set_minor_formatter(FuncFormatter(_two_five))
    ax.grid(True, which="major", color=_GRID, lw=0.8)
    ax.grid(True, which="minor", color=_MINOR_GRID, lw=0.6)
    ax.set_axisbelow(True)
    ax.set_xlabel(printable(panel.x.label))
    ax.set_ylabel(printable(panel.y.label))
    if panel.title:
        ax.set_title(printable(panel.title))


def _key_handle(line):
    style = line.style
    return Line2D([], [], color=style.colour, lw=style.width, ls=_line_style(line),
                  marker=style.marker if line.markers else "", ms=6, markeredgecolor=style.colour,
                  markerfacecolor=style.colour if style.filled else "white")


def _key_columns(key, width):
    """How many key entries fit side by side in `width` pixels: a sample line
    and the label (about 7 pixels a letter) each."""
    widest = max([len(line.label) for line in key] + [1]) * 7 + 80
    return max(1, min(len(key), width // widest))


def figure_of(chart):
    """The matplotlib Figure of a chart: panels `columns` a row, the key on
    the right of a single panel and in a strip below several."""
    rows = math.ceil(len(chart.panels) / chart.columns)
    panel_w, panel_h = chart.panel_size
    key = chart.key or [line for line in chart.panels[0].lines if line.in_key]
    key_columns = _key_columns(key, chart.columns * panel_w)
    strip = 0 if len(chart.panels) == 1 else 20 * math.ceil(len(key) / key_columns) + 16
    figure = Figure(figsize=(chart.columns * panel_w / DPI, (rows * panel_h + strip) / DPI), dpi=DPI,
                    layout="constrained")
    figure.suptitle(printable(chart.title), fontsize=11)
    grid = figure.add_gridspec(rows + (1 if strip else 0), chart.columns,
                               height_ratios=[panel_h] * rows + ([strip] if strip else []))
    for k, panel in enumerate(chart.panels):
        _draw_panel(figure.add_subplot(grid[k // chart.columns, k % chart.columns]), panel)
    handles = [_key_handle(line) for line in key]
    labels = [printable(line.label) for line in key]
    if not strip:
        figure.axes[0].legend(handles, labels, loc="upper left", bbox_to_anchor=(1.01, 1.0), handlelength=3.5)
        return figure
    # The key strip: empty axes whose only content is the key, so no key hides data.
    holder = figure.add_subplot(grid[rows, :])
    holder.axis("off")
    holder.legend(handles, labels, loc="center", ncol=key_columns, frameon=False, handlelength=3.5)
    return figure


def png_bytes(chart):
    """The chart as a PNG file's bytes: drawn whole before any file is touched."""
    buffer = io.BytesIO()
    figure_of(chart).savefig(buffer, format="png", dpi=DPI)
    return buffer.getvalue()


def svg_text(chart):
    """The chart as one <svg> element (no XML prologue), ready to sit in a page."""
    buffer = io.StringIO()
    # No metadata: no date, so the same chart gives the same text, and no creator's address.
    figure_of(chart).savefig(buffer, format="svg", metadata=dict.fromkeys(("Date", "Creator", "Format", "Type")))
    text = buffer.getvalue()
    return text[text.index("<svg"):]
