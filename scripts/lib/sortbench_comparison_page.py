"""The page of runs side by side: their conditions in one table, the
geometric mean of the changes of every result file, then per result file the
charts of all runs and a table of every cell's change against the first run."""

import sortbench_page as html
from sortbench_changes import ALPHA, geometric_mean, smallest_p
from sortbench_charts import compare_chart, ratio_chart
from sortbench_manifest import floor_pricing_notice
from sortbench_rundir import stem_label
from sortbench_run import changes_of, limits_of, repetitions_text, shared_series


def change_cell(change, before, after):
    """A cell of a change table: the change, both medians and the test's verdict."""
    if change.ratio is None:
        return html.cell([(None, "—"), ("test", "no time in one run")], ["num"])
    if change.significant is None:
        verdict, css = "no U test: a run without repetitions", []
    else:
        verdict = f"p = {change.p:.3g}, " + ("significant" if change.significant else "not significant")
        css = ["slower" if change.ratio > 1 else "faster"] if change.significant else []
    times = f"{html.significant(before)} → {html.significant(after)} ms" if before and after else None
    return html.cell([(None, html.signed_percent(change.percent)), ("spread", times), ("test", verdict)],
                     ["num"] + css)


def mean_cell(mean):
    """A cell of a geometric mean of changes (None: no change to average)."""
    return html.cell([(None, "—" if mean is None else html.signed_percent((mean - 1) * 100))], ["num"])


def mean_row(changes, columns):
    """The geometric mean of each column's changes, as a table row, and the means."""
    means = [geometric_mean([row[j].ratio for row in changes]) for j in range(len(columns))]
    return ['<th>geometric mean</th>'] + [mean_cell(m) for m in means], means


def against_heading(runs, k):
    return f"<h3>{html.esc(f'Run {runs[k].name} against run {runs[0].name}')}</h3>"


def change_table(stem, joined, runs, k):
    """The table of run k against the first run, and each column's geometric mean."""
    changes = changes_of(stem, joined, runs, k)
    rows = []
    for i, count in enumerate(joined.counts):
        rows.append([f'<th class="num">{int(count):,}</th>'] +
                    [change_cell(changes[i][j], joined.times[0][i][j], joined.times[k][i][j])
                     for j in range(len(joined.columns))])
    last, means = mean_row(changes, joined.columns)
    table = html.table(["Records"] + joined.columns, rows + [last], [None] * len(rows) + ["mean"])
    return against_heading(runs, k) + table, means


def test_note(runs, stem):
    """What the U test says, and what it cannot say with the runs' numbers of repetitions."""
    sizes = [max((c.runs for c in r.series[stem].stats.rows.values()), default=1) if r.series[stem].stats else 1
             for r in runs]
    note = (f"Change: the later run's median over the first run's, minus 1 (+ is slower). Significant: a "
            f"two-sided Mann-Whitney U test of both runs' repetitions gives p < {ALPHA:g}.")
    floor = smallest_p(sizes[0], max(sizes[1:]))
    if min(sizes) > 1 and floor >= ALPHA:
        note += (f" With {sizes[0]} and {max(sizes[1:])} repetitions the test cannot go below p = {floor:.2g}, "
                 "so no change can be significant here: run with more repetitions (or -R auto).")
    return html.paragraph(note)


def comparison_part(stem, joined, runs, render):
    """The section of one result file of runs side by side, and per later run
    the geometric mean of each column's changes."""
    names = [r.name for r in runs]
    parts = []
    for chart in (ratio_chart(stem, joined, names), compare_chart(stem, joined, names)):
        if chart:
            parts.append(html.chart(render.svg_text(chart), html.anchor(chart.name), chart.title))
    means = []
    for k in range(1, len(runs)):
        table, column_means = change_table(stem, joined, runs, k)
        parts.append(table)
        means.append(dict(zip(joined.columns, column_means)))
    parts.append(test_note(runs, stem))
    return html.section(stem_label(stem), "".join(parts)), means


def summary_part(runs, shared, means):
    """Per later run, the geometric mean of every result file's changes per column."""
    columns = list(dict.fromkeys(c for _, joined in shared for c in joined.columns))
    parts = []
    for k in range(1, len(runs)):
        rows = []
        for (stem, _), per_run in zip(shared, means):
            rows.append([f"<th>{html.esc(stem_label(stem))}</th>"]
                        + [mean_cell(per_run[k - 1].get(c)) for c in columns])
        parts.append(against_heading(runs, k) + html.table(["Result file"] + columns, rows))
    note = "Geometric mean over the shared counts of each column's time in the later run over the first run's, " \
           "minus 1: + is slower."
    return html.section("Geometric mean of the changes", "".join(parts) + html.paragraph(note))


def conditions_side_by_side(runs):
    """The runs' conditions and limits as one table, a column per run."""
    facts = [first_values((r.conditions or []) + (limits_of(r) or [])) for r in runs]
    warnings = [[v for k, v in (r.conditions or []) if k == "WARNING"] for r in runs]
    keys = list(dict.fromkeys(k for f in facts for k in f if k != "WARNING"))
    rows = [("Run directory", [r.real_path for r in runs]),
            ("How the run ended", [" ".join(r.ending.sentences) for r in runs]),
            ("Repetitions", [repetitions_text(r) for r in runs])]
    rows += [(key, [f.get(key, "—") for f in facts]) for key in keys]
    rows.append(("Warnings", ["; ".join(w) or "—" for w in warnings]))
    cells = [[f"<th>{html.esc(name)}</th>"] + [html.cell([(None, v)]) for v in values] for name, values in rows]
    return html.section("Run conditions", html.table([""] + [r.name for r in runs], cells))


def first_values(pairs):
    """{key: value} of (key, value) pairs, the first value of a key repeated."""
    found = {}
    for key, value in pairs:
        found.setdefault(key, value)
    return found


def comparison_page(runs, render, log):
    """The page comparing runs; None when they share no result file or a
    shared file has no shared count (reported on the log)."""
    shared, left_out = shared_series(runs, log)
    if not shared:
        log.problem("no result file is in every run with a row to compare")
    if log.stopped:
        return None
    sections, means = [], []
    for stem, joined in shared:
        part, per_run = comparison_part(stem, joined, runs, render)
        sections.append(part)
        means.append(per_run)
    intro = html.paragraph(f"Run {runs[0].name} is the baseline; every change is against it.")
    if left_out:
        intro += html.paragraph(f"Compared over the counts and columns all runs share; left out: {left_out}.")
    pricing = floor_pricing_notice([(run.name, run.manifest) for run in runs])
    if pricing:
        intro += html.paragraph(pricing + ".")
    headings = ["Run conditions", "Geometric mean of the changes"] + [stem_label(s) for s, _ in shared]
    parts = [intro, html.contents(headings), conditions_side_by_side(runs), summary_part(runs, shared, means)]
    return html.page(f"sortbench: {len(runs)} runs compared", parts + sections)
