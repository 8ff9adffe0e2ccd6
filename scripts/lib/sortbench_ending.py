"""How a run ended, as its files tell it: its exit status or that it has
none, the writes that failed, what it was asked to measure and did not, what
it measured and could not write, files shorter than their result files, and a
run.json older than the files it describes.

The program writes run.json when measuring starts, at the end of every data
set and at the end of the run; a run stopped by a signal, killed, still
running or out of disk before its first write leaves no exit status in it (or
an old one). A disk that fills later still gets the ending, which names the
files that could not be written whole and why. Nothing
here prints: the page says every sentence, scripts/plot those of a run that
did not end as planned.
"""

import os
import signal
from dataclasses import dataclass, field

from sortbench_folder import held
from sortbench_results import NoRows
from sortbench_rundir import DISTRIBUTIONS, MANIFEST, result_name, speedup_name, stats_name, stem_label

# The program rewrites run.json at the end of every data set, right after its
# rows: result files newer than it by more than this were written after its
# last write, beyond the time stamps' coarseness and a slow disk's delay.
STALE_SECONDS = 2.0
_LISTED = 3  # counts named in a sentence before "and N more"
_WRITES_LISTED = 5  # failed writes named in a sentence before "and N more files"
NOT_REACHED = "not reached"  # what a reader gives for a result file not_reached says of


@dataclass
class Ending:
    """What a run's files say of how it ended: `sentences` in the page's
    order, and whether it ended as planned (`finished`: exit status 0,
    every data set it was asked for complete and written, run.json as new as
    its files). `said` are the sentences a tool prints on standard error:
    all of them for a run with run.json that did not end as planned."""
    sentences: list = field(default_factory=list)
    finished: bool = False
    said: list = field(default_factory=list)


def ended_early(manifest):
    """Whether run.json says the run did not finish: no exit status (it was
    interrupted or is still running) or another than 0."""
    return manifest is not None and manifest.exit_status != 0


def fails(notice, manifest):
    """Whether a file's Notice fails the tool: a file cut short does not when
    run.json says the run ended early, which is how such a run leaves it
    (the run's Ending says it)."""
    return notice.fails and not (notice.cut_short and ended_early(manifest))


def not_reached(reason, manifest):
    """Whether a result file's Unusable `reason` is that of a data type the
    run did not reach: no complete row, in a run whose run.json has no exit
    status or another than 0 (a -INFO run's header-only files stay a problem)."""
    return isinstance(reason, NoRows) and ended_early(manifest)


def ending_of(run_dir, manifest, results, stats=None, unusable=(), speedups=None):
    """The Ending of a run (`run_dir` a held Folder or a path) from its
    Manifest (None without a usable one), its usable result tables
    ({stem: ResultTable}), their stats and speed-up files ({stem: SideFile
    or None}; None when they were not read) and the stems whose files could
    not be used (said elsewhere, not counted as missing)."""
    read = [*results.values(), *(stats or {}).values(), *(speedups or {}).values()]
    # Said file by file as they are read: on the page only.
    cut = [f"{os.path.basename(f.path)}: {n.text}." for f in read if f for n in f.notices if n.cut_short]
    if manifest is None:
        # Only guessed from the files: the page says it, a tool's lines do not.
        return Ending(["This run directory holds no usable run.json, so how the run ended is not recorded."]
                      + cut + short_files(results))
    said = [outcome_text(manifest)]
    said += _missing(manifest, results, unusable)
    said += _side_files(run_dir, manifest, results, stats)
    said += _stale(run_dir, manifest, results)
    finished = (manifest.exit_status == 0 and len(said) == 1 and not cut
                and all(s.outcome == "complete" for s in manifest.data_sets))
    return Ending(said[:1] + cut + said[1:], finished, [] if finished else said)


def outcome_text(manifest):
    """What run.json says of the data sets the run ended and of its end."""
    sets = manifest.data_sets
    failed = [f"{stem_label(s.series)}, {s.count:,} records: {s.outcome}" for s in sets if s.outcome != "complete"]
    text = f"Of the {len(sets)} data sets run.json records, {len(sets) - len(failed)} passed every check"
    text += f"; {'; '.join(failed)}." if failed else "."
    status = manifest.exit_status
    if status is None:
        return text + " It records no exit status: the run was interrupted, or is still running."
    text += f" The run ended with exit status {status}"
    if status > 128 and status - 128 in signal.valid_signals():
        return text + f": stopped by {signal.Signals(status - 128).name}."
    if status == 0:
        return text + "."
    writes = _failed_writes(manifest.failed_writes)
    if writes and not failed:
        return text + f" because not every file could be written, not because it stopped early: {writes}."
    text += ": it stopped early (the README's exit statuses say why)."
    return text + (f" Not every file could be written either: {writes}." if writes else "")


def _failed_writes(writes):
    """"stats_INT.csv lacks 360 cells (No space left on device); out.json
    (No space left on device)", the first _WRITES_LISTED named; empty without any."""
    named = [_failed_write(w) for w in writes[:_WRITES_LISTED]]
    if len(writes) > _WRITES_LISTED:
        named.append(f"{len(writes) - _WRITES_LISTED} more files")
    return "; ".join(named)


def _failed_write(write):
    reason = write.reason or "no reason given"
    if write.cells:
        return f"{write.file} lacks {write.cells:,} cells ({reason})"
    if write.file == MANIFEST:
        return f"{MANIFEST} ({reason}): its data sets end at its last whole write"
    return f"{write.file} ({reason})"


def short_files(results):
    """Without run.json: a sentence on result files holding fewer counts than the others, if any."""
    counts = {stem: len(table.counts) for stem, table in results.items()}
    most = max(counts.values(), default=0)
    short = [f"{stem_label(stem)}: {n}" for stem, n in counts.items() if n < most]
    if not short:
        return []
    return [f"The result files do not all hold {most} counts ({'; '.join(short)}): the run ended early there, the "
            "way a failed check or sort ends it."]


def _stems(plan):
    """The stems the run was asked for, in the order it measures them."""
    return [t if d == "uniform" else f"{t}_{d}" for t in plan.types for d in plan.distributions if d in DISTRIBUTIONS]


def _counted(counts):
    """"75,000 and 100,000 records", "100, 250, 500 and 4 more records"."""
    named = [f"{c:,}" for c in counts[:_LISTED]]
    if len(counts) > _LISTED:
        named.append(f"{len(counts) - _LISTED} more")
    return (", ".join(named[:-1]) + " and " if len(named) > 1 else "") + named[-1] + " records"


def _missing(manifest, results, unusable):
    """Sentences on the data sets the run was asked for and its result files
    lack, if any: those it did not measure, and those run.json records as
    measured, whose rows could not be written."""
    plan = manifest.plan
    measured = {(s.series, s.count) for s in manifest.data_sets if s.outcome == "complete"}
    parts, none, unwritten = [], [], []
    for stem in _stems(plan):
        if stem in unusable:
            continue
        have = {int(c) for c in results[stem].counts} if stem in results else set()
        lost = [c for c in plan.counts if c not in have and (stem, c) in measured]
        missing = [c for c in plan.counts if c not in have and (stem, c) not in measured]
        if lost:
            unwritten.append(f"{stem_label(stem)}: {_counted(lost)}")
        if not missing:
            continue
        if not have and not lost:
            none.append(stem_label(stem))
        else:
            parts.append(f"{stem_label(stem)}: {len(plan.counts) - len(missing)} of {len(plan.counts)} counts, "
                         f"{_counted(missing)} missing")
    if none:
        parts.append(f"{', '.join(none)}: no row (not reached)")
    said = [f"Not measured, of what the run was asked for: {'; '.join(parts)}."] if parts else []
    if unwritten:
        said.append(f"Measured, but missing from result files that could not be written: {'; '.join(unwritten)}.")
    return said


def _side_files(run_dir, manifest, results, stats):
    """Sentences on the stats and speed-up files run.json lists and the run
    directory lacks, and on stats files without a row for a cell of their
    result file."""
    said = []
    for stem, table in results.items():
        for name in (stats_name(stem), speedup_name(stem)):
            if manifest.header(name) is not None and not _exists(run_dir, name):
                said.append(f"{name}, which run.json lists, is missing.")
        side = (stats or {}).get(stem)
        if side is None:
            continue
        cells = [(count, column) for count in table.counts for column in table.columns
                 if (count, column) not in table.skipped]
        lacking = [cell for cell in cells if cell not in side.rows]
        if lacking:
            count, column = lacking[0]
            refused = next((w.reason for w in manifest.failed_writes if w.file == stats_name(stem)), None)
            said.append(f"{stats_name(stem)} has no row for {len(lacking)} of the {len(cells)} cells of "
                        f"{result_name(stem)}, from {int(count):,} records, {column} on: "
                        + (f"it could not be written whole ({refused or 'no reason given'})." if refused is not None
                           else "it was cut short."))
    return said


def _stale(run_dir, manifest, results):
    """A sentence when run.json is older than a result, stats or speed-up file by more than STALE_SECONDS."""
    written = _mtime(run_dir, MANIFEST)
    newest = max(((_mtime(run_dir, name), name) for stem in results
                  for name in (result_name(stem), stats_name(stem), speedup_name(stem))),
                 key=lambda found: found[0] or 0, default=(None, None))
    if written is None or newest[0] is None or newest[0] - written <= STALE_SECONDS:
        return []
    return [f"run.json is {newest[0] - written:.0f} s older than {newest[1]}: the program rewrites it at the end of "
            "every data set and of the run, so its later writes did not reach the disk (a full disk?) or the run is "
            "still measuring; what it says may be out of date."]


def _exists(run_dir, name):
    try:
        with held(run_dir) as folder:
            return folder.lstat(name) is not None
    except OSError:
        return True  # not known: nothing said


def _mtime(run_dir, name):
    """The modification time of a file of the run directory (links by the owner rule), None when there is none."""
    try:
        with held(run_dir) as folder:
            return folder.stat(name).st_mtime
    except OSError:
        return None
