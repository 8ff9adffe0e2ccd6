"""The page of one run: its conditions, what it checked and how it ended,
how far the machine's speed drifted (-R auto runs that timed the reference),
then per result file its charts, its table of medians and what the table
shows, and with -PEERS our sorters against the fastest peers."""

import os

import sortbench_page as html
from sortbench_charts import limits_chart, speedup_points, time_chart
from sortbench_columns import PAIR_COLUMNS, PAIR_MANY, PAIR_ONE, STANDARD
from sortbench_peers import OUR_MANY, OUR_ONE, parallel_threads, peer_rows
from sortbench_rundir import stem_label
from sortbench_run import (drift_limit, drift_targets, drifted, drifts_of, limits_of, noise_of, noisy_cv,
                           repetitions_text, verdict_of,
                           run_order)
from sortbench_text import median_of

MACHINE_SPEED = "Machine speed"
ENDING = "How the run ended"


def conditions_part(run):
    """The run conditions, the run's warnings, its repetitions and its limits."""
    parts = []
    if run.conditions:
        pairs = [(k, v) for k, v in run.conditions if k != "WARNING"]
        parts.append(html.pairs_table(pairs))
        parts += [html.paragraph(f"WARNING: {v}", "warning") for k, v in run.conditions if k == "WARNING"]
    else:
        parts.append(html.paragraph("This run directory holds no run_conditions.txt: the benchmark writes it "
                                    "for runs with repetitions (-R) only."))
    facts = [("Run directory", run.real_path), ("Repetitions", repetitions_text(run))]
    if run.plan.left_out:
        facts.append(("Columns left out (-COLUMNS)", ", ".join(run.plan.left_out)))
    parts.append(html.pairs_table(facts))
    limits = limits_of(run)
    if limits:
        parts.append("<h3>Limits</h3>" + html.pairs_table(limits))
    return html.section("Run conditions", "".join(parts))


def checked_columns(run, columns):
    """What the run checked in each timed sort of a row with these columns; None
    when whether the GPU was checked is unknown."""
    checks = [f"the permutation of {c}" for c in columns if c.startswith("Peer ") or c in PAIR_COLUMNS]
    if any(c.startswith("GPU") for c in columns):
        if run.plan.qa is None:
            return None
        if run.plan.qa:
            checks.append("the GPU permutation against the CPU radix sort's (-QA)")
    return checks


def last_row(run):
    """" (INT, zipf keys, 100000 records)": the last row the run wrote, when
    its options give the order it measured in; "" otherwise."""
    order = run_order(run)
    if not order:
        return ""
    return f" ({stem_label(order[-1])}, {run.series[order[-1]].result.counts[-1]} records)"


def checks_part(run):
    """What the run checked and what its run.json, or else its files, tell of
    the outcome: the console that says it is not kept, but a failed check
    ends the run."""
    columns = run.plan.columns or list(dict.fromkeys(c for s in run.series.values() for c in s.result.columns))
    checks = checked_columns(run, columns)
    if checks is None:
        texts = ["The GPU columns are checked against the CPU radix sort only with -QA, and this run directory "
                 "does not say whether it was given: run_conditions.txt, which records the options, is written "
                 "with repetitions only."]
    elif not checks:
        texts = ["No column of this run is checked: the peer sorters' and the pair columns' permutations are "
                 "(-PEERS, -PAIRS), and the GPU's with -GPU -QA; this run has none of them."]
    elif run.manifest:
        texts = [f"Checked in every timed sort: {'; '.join(checks)}. What run.json records of each data set is "
                 f"under {ENDING}."]
    else:
        rows = sum(len(s.result.counts) for s in run.series.values())
        texts = [f"Checked in every timed sort: {'; '.join(checks)}.",
                 "A failed check ends the run with exit status 1 right after its data set's row is written, and "
                 "the console that names it is not kept in the run directory. So every row the run went on from "
                 f"passed its checks: {rows - 1} of the {rows} rows here. The last row the run wrote"
                 f"{last_row(run)} passed too if the run exited with status 0."]
    return html.section("QA and peer checks", "".join(html.paragraph(t) for t in texts))


def ending_part(run):
    """How the run ended, what it did not measure, and whether run.json is as new as its files."""
    return html.section(ENDING, "".join(html.paragraph(t) for t in run.ending.sentences))


def drift_cell(drift, marked, limit):
    """A data set's drift in percent, `marked` when above `limit`; a dash for a single round."""
    if drift is None:
        return html.cell([(None, "—")], ["num"])
    text = f"{drift * 100:.1f}%"
    if not marked:
        return html.cell([(None, text)], ["num"])
    why = f"the machine's speed varied more than {limit * 100:g}% over the rounds"
    return html.cell([(None, f"⚠ {text}")], ["num", "noisy"], title=why)


def machine_speed_part(run, drifts):
    """Per series, each data set's rounds, the reference's median time and its
    drift; then what the drift means and what helps."""
    limit = drift_limit(run)
    parts, marked, total = [], 0, 0
    for stem, sets in drifts.items():
        rows = [[f'<th class="num">{s.count:,}</th>', html.cell([(None, str(s.rounds))], ["num"]),
                 html.cell([(None, html.significant(median_of(s.reference)))], ["num"]),
                 drift_cell(s.drift, drifted(run, s), limit)]
                for s in sets]
        marked += sum(1 for s in sets if drifted(run, s))
        total += len(sets)
        parts.append(f"<h3>{html.esc(stem_label(stem))}</h3>" +
                     html.table(["Records", "Rounds", "Reference median (ms)", "Drift"], rows))
    notes = [
        "After every round the run timed a fixed reference, a few milliseconds of memory copies and gathers, "
        "outside the sorts' timings. Drift is the best reference time of the later half of the rounds against "
        "that of the earlier half: how far the machine's own speed moved while the data set was measured. A "
        "single slow round is noise the sorts' intervals hold; a shift of the whole machine is not.",
        f"⚠ marks a drift above {limit * 100:g}%, {drift_targets(run):g} times the interval target of "
        f"±{run.plan.interval_target * 100:g}%: {marked} of the {total} data sets.",
        "What helps: no other work on the machine while it measures, a fixed CPU frequency (the performance "
        "governor, no frequency scaling), and a longer time budget per data set (-T), over which a slow spell "
        "weighs less."]
    return html.section(MACHINE_SPEED, "".join(parts) + "".join(html.paragraph(n) for n in notes))


def time_cell(run, series, row, column, speedups):
    """The cell of one column at one row: median, spread or interval, the
    speed-up of `speedups` (speedup_points of the column), noise mark."""
    result, count = series.result, series.result.counts[row]
    time = result.time(row, column)
    if (count, column) in result.skipped:
        return html.cell([(None, "skipped"), ("spread", "too little memory beside the data set")], ["num"])
    if time is None:
        return html.cell([(None, "—"), ("spread", "no positive time")], ["num"])
    parts = [(None, html.significant(time))]
    stats = series.stats.rows.get((count, column)) if series.stats else None
    noise = None
    if stats:
        if series.stats.with_interval and stats.interval:
            low, high = stats.interval
            parts.append(("spread", f"[{html.significant(low)} … {html.significant(high)}]"))
        else:
            parts.append(("spread", f"{html.significant(stats.minimum)} … {html.significant(stats.maximum)}"))
        with_interval = series.stats.with_interval
        verdict = verdict_of(run, series.stem, count, column, with_interval)
        noise = noise_of(stats, with_interval, run.plan.interval_target, verdict, noisy_cv(run))
    if column != STANDARD:
        point = speedups[row]
        if point:
            bracket = f" [{html.significant(point[1][0], 3)} … {html.significant(point[1][1], 3)}]" if point[1] else ""
            parts.append(("speedup", f"×{html.significant(point[0], 3)}{bracket}"))
    if noise:
        parts.append(("spread", f"⚠ {noise}"))
    return html.cell(parts, ["num"] + (["noisy"] if noise else []), title=noise)


def series_notes(run, series):
    """What the table of a series shows, said below it."""
    notes = ["Times in milliseconds, the median where the run has repetitions."]
    if series.stats:
        spread = "its 95% interval in brackets where there is one, else min … max" if series.stats.with_interval \
            else "min … max of the repetitions"
        notes.append(f"Below each median: {spread}.")
        notes.append("⚠ marks a noisy cell: " + (
            f"its 95% interval is missing or wider than ±{run.plan.interval_target * 100:g}% of the median "
            "(the mark gives its width)."
            if series.stats.with_interval else f"coefficient of variation above {noisy_cv(run) * 100:g}%."))
    if STANDARD not in series.result.columns:
        notes.append("No speed-ups: the run did not time CPU Standard (-COLUMNS left it out).")
    else:
        notes.append("× is the speed-up over CPU Standard: " + (
            "the median of the paired per-round ratios, their 95% interval in brackets where there is one."
            if series.speedups else "CPU Standard's time over the column's."))
    checks = checked_columns(run, series.result.columns)
    if checks:
        notes.append(f"Checked in every timed sort of these {len(series.result.counts)} rows: "
                     f"{'; '.join(checks)}; see QA and peer checks.")
    # Where the stats and speed-up files part from run.json, as the tool's lines say it; files cut
    # short are said under How the run ended.
    notes += [f"{os.path.basename(side.path)}: {notice.text}." for side in (series.stats, series.speedups) if side
              for notice in side.notices if not notice.cut_short]
    notes += [f"{unused}; not used, so this series is shown without it." for unused in series.unused]
    return "".join(html.paragraph(n) for n in notes)


def against_cell(against, missing):
    """A ratio of our time over a peer's, its two columns below; a dash and why when a side has no time."""
    if against is None:
        return html.cell([(None, "—"), ("spread", missing)], ["num"])
    faster = "faster" if against.ratio < 1 else "slower" if against.ratio > 1 else None
    return html.cell([(None, html.significant(against.ratio, 3)), ("spread", f"{against.ours} / {against.peer}")],
                     ["num"] + ([faster] if faster else []))


def peers_part(run, series):
    """The table of our sorters against the fastest peers, with its notes; "" without peers."""
    threads = run.plan.peer_threads
    rows = peer_rows(series.result, threads)
    if not rows:
        return ""
    many = parallel_threads(threads)
    pairs = run.plan.pair_threads or {c: None for c in series.result.columns if c in PAIR_COLUMNS}
    table = [[f'<th class="num">{int(row.count):,}</th>',
              html.cell([(None, row.fastest or "—"),
                         ("spread", None if row.fastest_ms is None else f"{html.significant(row.fastest_ms)} ms")]),
              against_cell(row.one, "no one-thread peer, or no time of ours"),
              against_cell(row.many, "no parallel peer, or no time of ours")]
             + ([against_cell(row.pair_one, "no one-thread peer, or no time of the pair column"),
                 against_cell(row.pair_many, "no parallel peer, or no time of the pair column")] if pairs else [])
             for row in rows]
    head = ["Records", "Fastest column", f"One thread: {OUR_ONE} over the fastest one-thread peer",
            f"Parallel: the fastest of {', '.join(OUR_MANY)} over the fastest parallel peer"
            + (f" ({many} threads)" if many else "")]
    if pairs:
        on = pairs.get(PAIR_MANY)
        head += [f"Pairs, one thread: {PAIR_ONE} over the fastest one-thread peer",
                 f"Pairs, parallel: {PAIR_MANY}" + (f" ({on} threads)" if on else "")
                 + " over the fastest parallel peer"]
    notes = ["Ratios of times, from the table above: below 1 (green), ours is faster. How many threads each peer "
             "sorts on is what run.json lists."]
    skipped = [f"{int(row.count):,} records: {', '.join(row.skipped)}" for row in rows if row.skipped]
    if skipped:
        notes.append("Skipped for lack of memory beside the data set, and left out of the comparison: "
                     f"{'; '.join(skipped)}.")
    return "<h3>Against the peers</h3>" + html.table(head, table) + "".join(html.paragraph(n) for n in notes)


def series_part(run, series, render):
    """The section of one result file: its chart (and its limits chart), its table and the notes."""
    result = series.result
    speedups = {c: speedup_points(result, series.speedups, c) for c in result.columns if c != STANDARD}
    rows = [[f'<th class="num">{int(count):,}</th>'] +
            [time_cell(run, series, r, c, speedups.get(c)) for c in result.columns]
            for r, count in enumerate(result.counts)]
    chart = time_chart(series.stem, result, series.stats, run.name)
    body = html.chart(render.svg_text(chart), f"chart-{html.anchor(series.stem)}", chart.title) if chart else ""
    limits = limits_chart(series.stem, result, series.stats, run.name)
    if limits:
        body += html.chart(render.svg_text(limits), f"limits-{html.anchor(series.stem)}", limits.title)
    body += html.table(["Records"] + result.columns, rows) + series_notes(run, series) + peers_part(run, series)
    return html.section(stem_label(series.stem), body)


def run_page(run, render):
    """The page of one run."""
    drifts = drifts_of(run)
    headings = ["Run conditions", ENDING, "QA and peer checks"] + ([MACHINE_SPEED] if drifts else [])
    headings += [stem_label(s) for s in run.series]
    parts = [html.contents(headings), conditions_part(run), ending_part(run), checks_part(run)]
    parts += [machine_speed_part(run, drifts)] if drifts else []
    parts += [series_part(run, s, render) for s in run.series.values()]
    return html.page(f"sortbench run {run.name}", parts)
