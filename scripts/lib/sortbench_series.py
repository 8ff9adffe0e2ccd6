"""A run directory's series, read one way for scripts/plot and scripts/report:
each result file with the stats and speed-up files beside it, every problem
of every file said on the log in one line.

A result file that cannot be used takes its series with it. A stats or
speed-up file that cannot be used does not: the series stays, drawn without
whiskers or with its speed-ups from the medians, and the line that names the
file says so. The tools still end with status 1 for it, having made what
they could.
"""

import os
from dataclasses import dataclass, field

from sortbench_ending import NOT_REACHED, ending_of, fails, not_reached
from sortbench_results import read_result
from sortbench_rundir import place_in, result_files, result_name, speedup_name, stats_name
from sortbench_speedups import read_speedups
from sortbench_stats import read_stats
from sortbench_text import Unusable

# What a series shows without the side file that could not be used.
WITHOUT_STATS = "chart drawn without whiskers"
WITHOUT_SPEEDUPS = "speed-ups drawn from the medians, without bars"


@dataclass
class Series:
    """One result file of a run with the stats and speed-up files beside it
    (None when absent or unusable); `unused` holds "<file>: <reason>" of
    each side file that was there and could not be used."""
    stem: str
    result: object
    stats: object
    speedups: object
    unused: list = field(default_factory=list)


def stated_header(manifest, name):
    """The header the run's Manifest states for a file name; None without a Manifest or a statement."""
    return manifest.header(name) if manifest else None


def read_result_table(path, stem, log, manifest):
    """The checked table of the result file of `stem` at `path` (with the
    header and the skipped peers the Manifest states, if any), its notices
    said; None (said) when unusable, NOT_REACHED (said by the run's Ending)
    for a data type the run did not reach."""
    try:
        table = read_result(path, stated_header(manifest, result_name(stem)),
                            manifest.skipped(stem) if manifest else None)
    except Unusable as reason:
        if not_reached(reason, manifest):
            return NOT_REACHED
        log.problem(f"{path}: {reason}")
        return None
    for notice in table.notices:
        log.problem(f"{path}: {notice.text}", fails(notice, manifest))
    return table


def _read_side(reader, place, without, log, manifest, *args):
    """A side file read by reader(place, *args), its notices said; (None,
    "<name>: <reason>") when it cannot be used, said with what the series
    does `without` it."""
    try:
        side = reader(place, *args)
    except Unusable as reason:
        log.problem(f"{place}: {reason}; {without}", stops=False)
        return None, f"{os.path.basename(str(place))}: {reason}"
    for notice in side.notices if side else ():
        log.problem(f"{place}: {notice.text}", fails(notice, manifest))
    return side, None


def read_series(run_dir, stem, path, log, manifest):
    """The Series of the result file of `stem` at `path` in `run_dir` (a held
    Folder or a path); None or NOT_REACHED as read_result_table gives. The
    stats file is held against the reference times and rounds the Manifest
    records."""
    result = read_result_table(path, stem, log, manifest)
    if result is None or result is NOT_REACHED:
        return result
    stated_sets = (manifest.references(stem), manifest.rounds(stem)) if manifest else ()
    stats, bad_stats = _read_side(read_stats, place_in(run_dir, stats_name(stem)), WITHOUT_STATS, log, manifest,
                                  result, stated_header(manifest, stats_name(stem)), *stated_sets)
    speedups, bad_speedups = _read_side(read_speedups, place_in(run_dir, speedup_name(stem)), WITHOUT_SPEEDUPS, log,
                                        manifest, result, stated_header(manifest, speedup_name(stem)))
    return Series(stem, result, stats, speedups, [u for u in (bad_stats, bad_speedups) if u])


def read_run_series(run_dir, log, manifest):
    """({stem: Series} of every usable result file of `run_dir`, in the
    order result_files lists them, and the run's Ending), for a run with
    the Manifest `manifest` (None without a usable one)."""
    try:
        found = result_files(run_dir)
    except Unusable as reason:
        log.problem(f"{run_dir}: {reason}")
        found = []
    series, unusable = {}, []
    for stem, path in found:
        read = read_series(run_dir, stem, path, log, manifest)
        if read is None:
            unusable.append(stem)
        elif read is not NOT_REACHED:
            series[stem] = read
    ending = ending_of(run_dir, manifest, {stem: s.result for stem, s in series.items()},
                       {stem: s.stats for stem, s in series.items()}, unusable,
                       {stem: s.speedups for stem, s in series.items()})
    return series, ending
