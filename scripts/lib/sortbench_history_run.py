"""A run folder as the history keeps it: who made it (program version,
machine), what it was asked (plan, arguments), when, and every cell it
measured whole (median, interval, rounds).

Everything is read through the run readers the other tools use (run.json by
read_manifest, the result, stats and speed-up files by read_run), within the
bounds they keep per run folder. Only runs that ended are kept: a run folder
without run.json, one whose run.json has no exit status (still running, or
interrupted) or any file those readers refuse is refused whole, with the
first reason. Nothing here prints or exits: problems raise Unusable.
"""

import dataclasses
import datetime
import hashlib
import io
import json
import os
import re
from dataclasses import dataclass, field

import sortbench_tool as tool
from sortbench_rundir import MANIFEST, split_stem
from sortbench_run import read_run
from sortbench_text import Unusable

# SQLite's integers are signed 64-bit; a count beyond them is no run's.
MAX_COUNT = 2 ** 63 - 1
_STAMP = re.compile(r"cpu_(?:gpu_)?([0-9]{12})")
# Of each data set in run.json, the fields that tell it from another run's
# (with the program version, arguments and machine, which a run writes once):
# the same run added twice has the same key, two runs practically never
# (their load averages and data sets' seconds differ).
_DATA_SET_FIELDS = ("series", "count", "outcome", "rounds", "seconds")


@dataclass
class Cell:
    """One measured cell: its raw median time in ms, the median's 95%
    interval (None where the run has none: without -R auto, or with too few
    rounds), and how many timed sorts it is the median of."""
    data_type: str
    distribution: str
    count: int
    column: str
    median: float
    low: float = None
    high: float = None
    rounds: int = 1


@dataclass
class HistoryRun:
    """A run as the store keeps it. `made` is local time as text
    ("2026-12-09 14:55:03"): the stamp of the run folder's name, else when its
    run.json was written last. `machine` is how the page groups runs."""
    key: str
    name: str
    made: str
    program_version: str
    machine: str
    exit_status: int
    arguments: list
    machine_facts: dict
    plan: dict
    cells: list = field(default_factory=list)


class _FirstProblem(tool.Log):
    """A Log that keeps the first problem that fails the read, says nothing."""

    def __init__(self):
        super().__init__("history", io.StringIO(), io.StringIO())
        self.first = None

    def problem(self, text, fails=True, stops=True):
        if fails and self.first is None:
            self.first = text
        super().problem(text, fails, stops)


def machine_label(facts):
    """How the page names a machine: its host name and online CPUs."""
    host = facts.get("host_name")
    host = host if isinstance(host, str) and host else "unnamed host"
    cpus = facts.get("online_cpus")
    return f"{host} ({cpus} CPUs)" if isinstance(cpus, int) else host


def run_key(manifest):
    """The run's identity: a SHA-256 of what its run.json says once and for all."""
    data_sets = [{name: getattr(s, name) for name in _DATA_SET_FIELDS} for s in manifest.data_sets]
    identity = {"program_version": manifest.program_version, "arguments": manifest.arguments,
                "machine": manifest.machine, "data_sets": data_sets}
    text = json.dumps(identity, sort_keys=True, separators=(",", ":"), ensure_ascii=True)
    return hashlib.sha256(text.encode("ascii")).hexdigest()


def _made(folder):
    """The run's local time: its folder name's stamp (%y%m%d%H%M%S), else run.json's modification time."""
    found = _STAMP.fullmatch(os.path.basename(folder.real_path()))
    if found:
        try:
            return datetime.datetime.strptime(found.group(1), "%y%m%d%H%M%S").strftime("%Y-%m-%d %H:%M:%S")
        except ValueError:
            pass
    when = folder.stat(MANIFEST).st_mtime
    return datetime.datetime.fromtimestamp(when).strftime("%Y-%m-%d %H:%M:%S")


def _cells(run):
    """Every cell of a data set the run ended complete: from the stats file
    when there is one (median, interval, rounds), else the result file's time."""
    cells = []
    for stem, series in run.series.items():
        data_type, distribution = split_stem(stem)
        complete = run.manifest.rounds(stem)
        result = series.result
        for row, count in enumerate(result.counts):
            if count not in complete:
                continue
            if int(count) > MAX_COUNT:
                raise Unusable(f"{result.path}: record count {count} is beyond what the history keeps (2^63 - 1)")
            for at, column in enumerate(result.columns):
                time = result.times[row][at]
                if time is None:
                    continue  # skipped, or no time a chart can show
                stats = series.stats.rows.get((count, column)) if series.stats else None
                if stats is None:
                    cells.append(Cell(data_type, distribution, int(count), column, time, rounds=complete[count]))
                    continue
                low, high = stats.interval or (None, None)
                cells.append(Cell(data_type, distribution, int(count), column, stats.median, low, high, stats.runs))
    return cells


def read_history_run(folder, name):
    """The HistoryRun of a held run Folder named `name`; raises Unusable with
    the first reason it cannot be kept, which names the file or folder."""
    log = _FirstProblem()
    run = read_run(folder, name, log)
    if log.status:
        raise Unusable(log.first)
    manifest = run.manifest
    if manifest is None:
        raise Unusable(f"{folder.path}: no {MANIFEST}; a run made before it says neither its program version nor "
                       "its machine")
    if manifest.exit_status is None:
        raise Unusable(f"{manifest.path}: no exit status; the run is still going on, or was interrupted")
    cells = _cells(run)
    if not cells:
        raise Unusable(f"{folder.path}: no data set measured whole")
    plan = dataclasses.asdict(manifest.plan)
    return HistoryRun(run_key(manifest), name, _made(folder), manifest.program_version,
                      machine_label(manifest.machine), manifest.exit_status, manifest.arguments,
                      manifest.machine, plan, cells)


def open_history_run(path):
    """The HistoryRun of the run folder at `path`, opened once and read
    through; raises Refusal as the tools word it."""
    with tool.open_run_dir(path) as folder:
        try:
            return read_history_run(folder, os.path.basename(folder.real_path()))
        except Unusable as reason:
            raise tool.Refusal(str(reason)) from None
