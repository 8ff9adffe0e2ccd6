"""A run as scripts/report reads it: its result files with the stats and
speed-up files beside them, its run conditions, its plan and its manifest, and
what the run says about itself (how it repeated, its limits, its noisy
cells, how far the machine's speed drifted); and runs side by side, joined over what they share with the change
of every cell.

Every problem of every file is said on the log; nothing here writes HTML.
"""

import os
from dataclasses import dataclass

from sortbench_changes import change_of
from sortbench_conditions import read_conditions
from sortbench_ending import Ending
from sortbench_join import LeftOut, join_runs
from sortbench_manifest import conditions_of, older_plan, read_manifest
from sortbench_folder import Folder
from sortbench_rundir import (CONDITIONS, DATA_TYPES, MANIFEST, place_in, result_name, split_stem, stats_name,
                              stem_order)
from sortbench_series import read_run_series
from sortbench_text import Unusable

# The benchmark's rules, for runs whose run.json gives no verdicts (made
# before it did): its noise report names cells above this coefficient of
# variation; a drift above this many interval targets moves a whole data
# set's medians by more than the intervals say they are sure of. Runs that
# give verdicts are read as they say, at the thresholds their run.json states.
NOISY_CV = 0.05
DRIFT_TARGETS = 2


@dataclass
class Run:
    """A run's series, its conditions as (key, value) pairs (None when it says
    none), its Plan, and its Manifest (None for a run made before run.json).
    `path` is the run directory as given, `real_path` where it was when read;
    `ending` what its files say of how it ended."""
    path: str
    name: str
    series: dict
    conditions: list
    plan: object
    manifest: object = None
    real_path: str = None
    ending: Ending = None


# --- reading ----------------------------------------------------------------------

def read_run(run_dir, name, log):
    """A run's usable series, run conditions and plan (`run_dir` a held
    Folder or a path); problems go to the log. With a run.json the plan is
    its own, and its conditions stand in for a missing run_conditions.txt;
    without one the plan is older_plan's."""
    path = run_dir.path if isinstance(run_dir, Folder) else run_dir
    real_path = run_dir.real_path() if isinstance(run_dir, Folder) else os.path.realpath(run_dir)
    manifest = None
    try:
        manifest = read_manifest(run_dir)
    except Unusable as reason:
        log.problem(f"{path}/{MANIFEST}: {reason}")
    series, ending = read_run_series(run_dir, log, manifest)
    where = place_in(run_dir, CONDITIONS)
    try:
        conditions = read_conditions(where)
    except Unusable as reason:
        log.problem(f"{where}: {reason}")
        conditions = None
    if manifest:
        return Run(path, name, series, conditions or conditions_of(manifest), manifest.plan, manifest, real_path,
                   ending)
    try:
        plan = older_plan(conditions)
    except Unusable as reason:
        log.problem(f"{where}: {reason}")
        plan = older_plan(None)
    return Run(path, name, series, conditions, plan, real_path=real_path, ending=ending)


# --- what a run says about itself --------------------------------------------------------

def until_sure(run):
    """Whether the run went on until its intervals were narrow (-R auto); for
    a run that does not say, whether its stats files have intervals."""
    if run.plan.until_sure is not None:
        return run.plan.until_sure
    return any(s.stats and s.stats.with_interval for s in run.series.values())


def limits_of(run):
    """(limit, value) pairs of a run made with -R auto; None for any other run."""
    if not until_sure(run):
        return None
    plan = run.plan
    missed = sum(1 for s in run.series.values() if s.stats
                 for (count, column), stats in s.stats.rows.items()
                 if noise_of(stats, True, plan.interval_target, verdict_of(run, s.stem, count, column, True)))

    def defaulted(option):
        return f" (the default of {option})" if option in plan.defaulted else ""

    return [
        ("Stopping rule", "rounds until every median's 95% interval is within "
                          f"±{plan.interval_target * 100:g}% of it" + defaulted("-CI")),
        ("Time budget per data set", f"{plan.budget_seconds:g} s, warm-ups included" + defaulted("-T")),
        ("Rounds at most", str(plan.rounds_at_most)),
        ("Cells that missed the target", str(missed)),
    ]


def drifts_of(run):
    """{stem: [DataSet]} of a -R auto run: its data sets that timed the
    machine's reference after every round, as run.json gives them, stems in
    the page's order; empty for any other run and for runs made before the
    reference was timed."""
    if not run.manifest or not until_sure(run):
        return {}
    found = {}
    for data_set in run.manifest.data_sets:
        if data_set.reference:
            found.setdefault(data_set.series, []).append(data_set)
    return {stem: found[stem] for stem in sorted(found, key=stem_order)}


def noisy_cv(run):
    """The coefficient of variation above which the run's cells are noisy: as its run.json states, else NOISY_CV."""
    return NOISY_CV if run.plan.noisy_cv is None else run.plan.noisy_cv


def drift_targets(run):
    """How many interval targets a data set's drift may reach unmarked: as its run.json states, else DRIFT_TARGETS."""
    return DRIFT_TARGETS if run.plan.drift_targets is None else run.plan.drift_targets


def drift_limit(run):
    """The drift (a fraction) above which a data set is marked: drift_targets interval targets."""
    return drift_targets(run) * run.plan.interval_target


def drifted(run, data_set):
    """Whether the machine drifted beyond drift_limit over the data set: the
    program's verdict where run.json gives it, else the rule applied here."""
    if data_set.drifted is not None:
        return data_set.drifted
    return data_set.drift is not None and data_set.drift > drift_limit(run)


def verdict_of(run, stem, count, column, with_interval):
    """The program's verdict on a cell (as Manifest.noisy), None for a run
    whose run.json gives none."""
    return run.manifest.noisy(stem, count, column, with_interval) if run.manifest else None


def noise_of(stats, with_interval, target, noisy=None, cv_limit=NOISY_CV):
    """Why a cell is noisy, None when it is not: under -R auto its interval is
    missing or wider than the target, otherwise its coefficient of variation
    is above `cv_limit`. `noisy` is the program's verdict (verdict_of), which
    decides where there is one; without one the rules decide here."""
    if with_interval:
        if stats.interval is None:
            return f"no 95% interval in {stats.runs} runs" if noisy is not False else None
        half = max(stats.median - stats.interval[0], stats.interval[1] - stats.median) / stats.median
        return f"±{half * 100:.1f}%" if (half > target if noisy is None else noisy) else None
    return f"cv {stats.cv * 100:.1f}%" if (stats.cv > cv_limit if noisy is None else noisy) else None


def repetitions_text(run):
    runs = sorted({stats.runs for s in run.series.values() if s.stats for stats in s.stats.rows.values()})
    if not runs and any(u.startswith(stats_name(s.stem) + ":") for s in run.series.values() for u in s.unused):
        return "not known: no stats file could be used (no spread, no noise marks, no U test)"
    if not runs:
        return "one timed sort per cell (no repetitions: no spread, no noise marks, no U test)"
    counted = str(runs[0]) if len(runs) == 1 else f"{runs[0]} to {runs[-1]}"
    return f"{counted} timed sorts per cell" + (" (-R auto)" if until_sure(run) else "")


def run_order(run):
    """The run's stems in the order the benchmark measured them, when its
    plan says the distributions' order; None otherwise."""
    if not run.plan.distributions:
        return None
    order = {(t, d): (i, j) for i, t in enumerate(DATA_TYPES) for j, d in enumerate(run.plan.distributions)}
    stems = [s for s in run.series if split_stem(s) in order]
    return sorted(stems, key=lambda s: order[split_stem(s)]) if len(stems) == len(run.series) else None


# --- runs side by side -----------------------------------------------------------------------

def shared_series(runs, log):
    """[(stem, Joined)] of the result files every run holds, over the counts and
    columns they share; what only some runs have is said on the log (without
    failing); runs sharing no count in a file are a failing problem."""
    stems = sorted(set().union(*(r.series for r in runs)), key=stem_order)
    left_out = LeftOut(len(runs))
    shared = []
    for stem in stems:
        have = [k for k, run in enumerate(runs) if stem in run.series]
        if len(have) < len(runs):
            left_out.file(stem, have)
            continue
        try:
            joined = join_runs([run.series[stem].result for run in runs])
        except Unusable as reason:
            log.problem(f"{result_name(stem)}: {reason}")
            continue
        left_out.joined(stem, joined)
        shared.append((stem, joined))
    message = left_out.message([r.name for r in runs], len(shared))
    if message:
        log.problem(f"comparing the shared counts and columns; left out: {message}", fails=False)
    return shared, message


def changes_of(stem, joined, runs, k):
    """Per shared count, per shared column: the Change of run k against the first run."""
    def stats(run, count, column):
        side = run.series[stem].stats
        return side.rows.get((count, column)) if side else None

    first, later = runs[0], runs[k]
    return [[change_of(joined.times[0][i][j], joined.times[k][i][j],
                       stats(first, count, column), stats(later, count, column))
             for j, column in enumerate(joined.columns)]
            for i, count in enumerate(joined.counts)]
