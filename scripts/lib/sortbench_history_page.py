"""The history page: every run the store holds, the steps found, and per
machine, data type, distribution and record count a chart of each column's
time over the runs with a table of its points and the program version at
each. Built of sortbench_page's pieces: every text escaped, styles inline,
charts as inline SVG, nothing fetched."""

import itertools

from sortbench_page import anchor, chart, esc, page, paragraph, signed_percent, significant, table
from sortbench_rundir import DISTRIBUTIONS

TITLE = "Sortbench history"


def _data_set(trend):
    if trend.distribution == DISTRIBUTIONS[0]:
        return trend.data_type
    return f"{trend.data_type}, {trend.distribution} keys"


def _step_class(step):
    """A slower time marked as the comparison page marks one, a faster as faster."""
    return "slower" if step.change > 0 else "faster"


def _run_text(run):
    return f"{run['made']} ({run['program_version']})"


def _time(point):
    if point.low is None or point.high is None:
        return significant(point.median)
    return f"{significant(point.median)} [{significant(point.low)} … {significant(point.high)}]"


def _td(text, css=None):
    return f'<td class="{css}">{esc(text)}</td>' if css else f"<td>{esc(text)}</td>"


def _runs_table(runs):
    rows = [[_td(k + 1, "num"), _td(r["made"]), _td(r["name"]), _td(r["program_version"]), _td(r["machine"]),
             _td(r["exit_status"], "num"), _td(r["cells"], "num")] for k, r in enumerate(runs)]
    return table(["#", "Made", "Run", "Program version", "Machine", "Exit status", "Cells"], rows)


def _steps_table(trends, by_id):
    rows = []
    for trend in trends:
        for step in trend.steps:
            before, after = trend.points[step.at - 1], trend.points[step.at]
            rows.append([_td(trend.machine), _td(_data_set(trend)), _td(f"{trend.count:,}", "num"),
                         _td(trend.column), _td(_run_text(by_id[before.run])), _td(_run_text(by_id[after.run])),
                         _td(f"{_time(before)} → {_time(after)}"),
                         _td(signed_percent(step.change * 100), f"num {_step_class(step)}")])
    if not rows:
        return paragraph("None.")
    return table(["Machine", "Data set", "Records", "Column", "From run", "To run", "Time (ms)", "Change"], rows)


def _pairs_table(trends, by_id):
    """Per pair of consecutive runs of a machine with any step: how many
    cells became slower and faster, and the largest change: one column's
    step, or the machine's (or the program's) across the board."""
    pairs = {}
    for trend in trends:
        for step in trend.steps:
            key = (trend.machine, trend.points[step.at - 1].run, trend.points[step.at].run)
            pairs.setdefault(key, []).append(step.change)
    rows = []
    for (machine, before, after), changes in sorted(pairs.items(), key=lambda p: (p[0][0], by_id[p[0][2]]["made"])):
        largest = max(changes, key=abs)
        rows.append([_td(machine), _td(_run_text(by_id[before])), _td(_run_text(by_id[after])),
                     _td(sum(c > 0 for c in changes), "num"), _td(sum(c < 0 for c in changes), "num"),
                     _td(signed_percent(largest * 100), "num slower" if largest > 0 else "num faster")])
    if not rows:
        return paragraph("No steps: no change between consecutive runs of a machine lies beyond both their "
                         "intervals.")
    return table(["Machine", "From run", "To run", "Cells slower", "Cells faster", "Largest change"], rows)


def _points_table(runs, trends):
    """Rows of the machine's runs that measured any of the trends: made, version, each column's time."""
    points = [{p.run: (k, p) for k, p in enumerate(t.points)} for t in trends]
    steps = [{s.at: _step_class(s) for s in t.steps} for t in trends]
    rows = []
    for run in runs:
        if not any(run["id"] in held for held in points):
            continue
        row = [_td(run["made"]), _td(run["program_version"])]
        for held, stepped in zip(points, steps):
            k, point = held.get(run["id"], (None, None))
            row.append(_td("" if point is None else _time(point), f"num {stepped[k]}" if k in stepped else "num"))
        rows.append(row)
    return table(["Made", "Program version"] + [t.column for t in trends], rows)


def _section(ident, level, heading, body):
    return f'<section id="{ident}"><h{level}>{esc(heading)}</h{level}>{body}</section>'


def history_page(store_path, runs, trends, drawn, draw):
    """The whole page. `runs`: the store's runs (dicts, oldest first);
    `trends`: sortbench_history_trend.trends of them; `drawn`: the TimeDrawn
    on the charts; `draw(title, runs, trends, drawn)`: one chart's SVG."""
    by_id = {run["id"]: run for run in runs}
    machines = list(dict.fromkeys(t.machine for t in trends))
    parts = [paragraph(f"Store: {store_path}. Runs: {len(runs)}; machines: {len(machines)}."),
             paragraph(f"Time drawn: the {drawn.label}, {drawn.explained}."),
             paragraph("A step is a change between two consecutive runs of one machine beyond both runs' "
                       "intervals: each median lies outside the other run's 95% interval. Runs without "
                       "intervals show no step. Steps are ringed on the charts and marked in the tables.")]
    headings = [("runs", "Runs"), ("steps", "Steps between runs")]
    sections = [_section("runs", 2, "Runs", _runs_table(runs)),
                _section("steps", 2, "Steps between runs", _pairs_table(trends, by_id))]
    for m, machine in enumerate(machines):
        ident = f"machine-{m + 1}"
        headings.append((ident, machine))
        own = [run for run in runs if run["machine"] == machine]
        body = []
        machine_trends = [t for t in trends if t.machine == machine]
        for (kind, count), group in itertools.groupby(machine_trends, key=lambda t: (_data_set(t), t.count)):
            group = list(group)
            title = f"{kind}, {count:,} records"
            prefix = f"m{m + 1}-{anchor(kind)}-{count}"
            body.append(_section(prefix + "-s", 3, title,
                                 chart(draw(f"{machine}: {title}", own, group, drawn), prefix, title)
                                 + _points_table(own, group)))
        sections.append(_section(ident, 2, f"Machine: {machine}", "".join(body)))
    headings.append(("every-step", "Every step"))
    sections.append(_section("every-step", 2, "Every step", _steps_table(trends, by_id)))
    nav = "<nav><ul>" + "".join(f'<li><a href="#{i}">{esc(h)}</a></li>' for i, h in headings) + "</ul></nav>"
    return page(TITLE, parts + [nav] + sections)
