"""Draws one chart of the history page with matplotlib, as SVG text: a data
type, distribution and record count on one machine, each column's time over
that machine's runs with its interval, the steps ringed. Columns keep the
colours and markers of every other chart (sortbench_charts.style_of); the
rcParams are sortbench_render's (text as drawn, no mathtext)."""

import io
import math

from matplotlib.figure import Figure
from matplotlib.ticker import FixedLocator, FuncFormatter, LogLocator, NullFormatter

from sortbench_charts import style_of
from sortbench_render import DPI
from sortbench_tool import printable

_GRID = "#d8d8d8"
_STEP = "#d62728"
_MOST_TICKS = 10  # labels of runs on the x axis beyond this would overlap: every k-th then
_SIZE = (820, 300)  # pixels: wide enough for ten run labels, low enough for many charts a page


def _run_label(run):
    """A run as the x axis names it: its month, day and time, and the program version below."""
    return f"{run['made'][5:16]}\n{printable(run['program_version'])}"


def svg_chart(title, runs, trends, drawn):
    """One <svg> element: every Trend of `trends` (one cell on one machine
    each) over `runs`, that machine's runs oldest first, their x positions."""
    position = {run["id"]: k for k, run in enumerate(runs)}
    figure = Figure(figsize=(_SIZE[0] / DPI, _SIZE[1] / DPI), dpi=DPI, layout="constrained")
    ax = figure.add_subplot()
    ax.set_yscale("log")
    for trend in trends:
        style = style_of(trend.column)
        x = [position[p.run] for p in trend.points]
        y = [p.median for p in trend.points]
        ax.plot(x, y, color=style.colour, lw=1.6, marker=style.marker, ms=5, label=printable(trend.column),
                markerfacecolor=style.colour if style.filled else "white", markeredgecolor=style.colour, zorder=3)
        held = [(xk, p) for xk, p in zip(x, trend.points) if p.low is not None and p.high is not None]
        if held:
            ax.errorbar([xk for xk, _ in held], [p.median for _, p in held],
                        yerr=[[p.median - p.low for _, p in held], [p.high - p.median for _, p in held]],
                        fmt="none", ecolor=style.colour, elinewidth=5, alpha=0.35, zorder=2)
        for step in trend.steps:
            ax.plot([x[step.at]], [y[step.at]], marker="o", ms=13, markerfacecolor="none", markeredgecolor=_STEP,
                    markeredgewidth=1.8, zorder=4)
    every = max(1, math.ceil(len(runs) / _MOST_TICKS))
    ticks = list(range(0, len(runs), every))
    ax.xaxis.set_major_locator(FixedLocator(ticks))
    ax.xaxis.set_major_formatter(FuncFormatter(lambda v, _p: _run_label(runs[int(v)]) if v in ticks else ""))
    ax.set_xlim(-0.5, len(runs) - 0.5)
    ax.yaxis.set_major_locator(LogLocator(base=10))
    ax.yaxis.set_minor_locator(LogLocator(base=10, subs=(2, 5)))
    ax.yaxis.set_major_formatter(FuncFormatter(lambda v, _p: f"{v:g}"))
    ax.yaxis.set_minor_formatter(FuncFormatter(lambda v, _p: f"{v:g}") if _narrow(ax) else NullFormatter())
    ax.tick_params(axis="x", labelsize=8)
    ax.grid(True, which="both", color=_GRID, lw=0.6)
    ax.set_axisbelow(True)
    ax.set_ylabel(f"ms ({drawn.label})")
    ax.set_title(printable(title))
    ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8)
    buffer = io.StringIO()
    figure.savefig(buffer, format="svg", metadata=dict.fromkeys(("Date", "Creator", "Format", "Type")))
    text = buffer.getvalue()
    return text[text.index("<svg"):]


def _narrow(ax):
    low, high = ax.get_ylim()
    return high / low < 100
