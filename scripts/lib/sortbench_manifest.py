"""What a run was asked to do and how far it got, as the tools read it.

A run directory holds run.json, the run's manifest: the plan (counts, data
types, distributions, columns, repetitions, -R auto's target and budget,
-GPU, -QA, -PEERS with every peer's column and threads, -PAIRS with the pair
columns' threads), the machine, every file the run opens with its header, each
data set's rounds and outcome (with -PEERS or -PAIRS the columns skipped for
memory; in -R auto runs that time it, the machine's reference after every
round; the program's verdicts on its cells, in runs made since it gives them),
the exit status (null while the run goes on, or when it was
interrupted) and, when a file could not be written whole, which one and why.
The program writes it whole at the start of measuring, after every data set and
at the end.

Runs made before the manifest have none. What the tools know of those runs
comes from the Options line of run_conditions.txt, read by older_plan, the
only reader of that line; the values such runs took without an option are
OLDER_RUNS. Nothing here prints or exits: problems raise Unusable.
"""

import dataclasses
import json
import math
import shlex
from dataclasses import dataclass, field
from functools import cached_property

from sortbench_folder import held
from sortbench_columns import PEER_COUNT, RUN_COLUMNS
from sortbench_rundir import DATA_TYPES, DISTRIBUTIONS, MANIFEST, MAX_COUNTS
from sortbench_text import MAX_WHOLE, NUMBER_RANGE, Unusable, quoted, read_bytes, within_memory, within_range

FORMAT = "sortbench run manifest"
FORMAT_VERSION = 1  # the newest these tools read
LADDER_PRICING = "fixed sizes"  # floors of runs made before run.json said how it priced them
MAX_MANIFEST_BYTES = 1 << 20  # a run of every count, type and distribution writes under 200 KiB


@dataclass
class Plan:
    """What a run was asked to do, as far as the tools use it. until_sure and
    qa are None, distributions, columns, counts and types empty, where a run
    made before run.json does not say. `defaulted` names the options (-CI,
    -T) such a run left to its program. peer_threads maps each peer's column
    to the threads it sorts on, empty for a run without -PEERS or made before
    run.json listed the peers; pair_threads the same of the pair columns,
    empty for a run without -PAIRS. noisy_cv and drift_targets are the
    thresholds the program gave its verdicts at (a coefficient of variation;
    interval targets of drift), None where run.json does not say them."""
    until_sure: object
    interval_target: float
    budget_seconds: float
    rounds_at_most: int
    qa: object = None
    distributions: list = field(default_factory=list)
    columns: list = field(default_factory=list)
    defaulted: tuple = ()
    counts: list = field(default_factory=list)
    types: list = field(default_factory=list)
    peer_threads: dict = field(default_factory=dict)
    pair_threads: dict = field(default_factory=dict)
    noisy_cv: float = None
    drift_targets: float = None
    left_out: tuple = ()  # the columns -COLUMNS left out of those the other options add


@dataclass
class DataSet:
    """One data set the run ended: seconds and interval_reached tell only under
    -R auto. reference holds the time in ms of the machine's reference (a few
    milliseconds of fixed memory work) after each round, in round order, and
    drift how far the machine's speed moved over them as the program reckoned
    it (0.073 for 7.3%); both None where the run did not time it (other runs,
    runs made before it), drift also with fewer than two times. skipped
    names the peers' columns that did not fit beside the data set in memory:
    their cells of its row are empty. The program's verdicts, None where
    run.json does not give them (runs made before it did, other kinds of run):
    noisy names the columns whose coefficient of variation is above the
    plan's noisy_cv, interval_missed (-R auto) those whose 95% interval is
    missing or wider than the target, drifted (-R auto) whether the machine
    drifted beyond drift_targets interval targets."""
    series: str
    count: int
    outcome: str
    rounds: int
    interval_reached: bool
    seconds: float
    reference: list = None

    drift: float = None
    skipped: tuple = ()
    noisy: tuple = None
    interval_missed: tuple = None
    drifted: bool = None


@dataclass
class FailedWrite:
    """A file the run could not write whole, as run.json's ending names it:
    `file` is a run directory file's name or the -JSON path as given, `reason`
    the system's error text, `cells` the cells a result, stats or speed-up
    file lacks (0 for the others)."""
    file: str
    reason: str
    cells: int = 0


@dataclass
class Manifest:
    """A run's run.json as checked by read_manifest."""
    path: str
    program_version: str
    arguments: list
    plan: Plan
    machine: dict
    files: list  # {"name", "kind", "series", "header", ...} in the run's order
    data_sets: list  # DataSet
    exit_status: object  # int, or None while the run goes on or after it was interrupted
    # How the radix floors were priced: "own sizes" (from 2026-12-08), None
    # without repetitions, LADDER_PRICING for runs made before the field.
    floor_pricing: object = None
    failed_writes: list = field(default_factory=list)  # FailedWrite, in the order the run found them

    def header(self, name):
        """The header run.json states for the file `name`, None when it lists no such file."""
        return next((f["header"] for f in self.files if f["name"] == name), None)

    def skipped(self, series):
        """{count as written: the columns run.json says were skipped} of the series' data sets that skipped any."""
        return {str(s.count): set(s.skipped) for s in self.data_sets if s.series == series and s.skipped}

    def rounds(self, series):
        """{count as written: rounds} of the series' data sets that ended complete."""
        return {str(s.count): s.rounds for s in self.data_sets if s.series == series and s.outcome == "complete"}

    def noisy(self, series, count, column, with_interval):
        """Whether the program found the cell noisy: its interval missed the
        target (`with_interval`, -R auto) or its coefficient of variation is
        above noisy_cv; None when run.json gives no such verdict for its data set."""
        data_set = self._data_set_of.get((series, count))
        columns = getattr(data_set, "interval_missed" if with_interval else "noisy", None)
        return None if columns is None else column in columns

    @cached_property
    def _data_set_of(self):
        """{(series, count as written): DataSet}: a page asks for every cell's verdict."""
        return {(s.series, str(s.count)): s for s in self.data_sets}

    def references(self, series):
        """{count as written: reference times} of the series' data sets that timed the reference."""
        return {str(s.count): s.reference for s in self.data_sets if s.series == series and s.reference}


# --- checking the document ----------------------------------------------------------

@dataclass
class _Kind:
    test: object
    text: str
    bounded: bool = False  # numbers within the bounds of the result files' cells (NUMBER_RANGE)
    most: int = None  # a list of at most this many entries, as many as a run can write


def _is_whole(value, least=0):
    return isinstance(value, int) and not isinstance(value, bool) and least <= value <= MAX_WHOLE


def _is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value) and value >= 0


def _is_text(value):
    # The program writes U+FFFD for bytes that are no UTF-8; a lone surrogate cannot be printed.
    return isinstance(value, str) and not any("\ud800" <= char <= "\udfff" for char in value)


_TEXT = _Kind(_is_text, "a string")
_FLAG = _Kind(lambda v: isinstance(v, bool), "true or false")
_WHOLE = _Kind(_is_whole, "a whole number")
_POSITIVE = _Kind(lambda v: _is_whole(v, 1), "a positive whole number")
_NUMBER = _Kind(_is_number, "a number of zero or more", True)
_FRACTION = _Kind(lambda v: _is_number(v) and 0 < v <= 1, "a fraction above 0, at most 1", True)
_SECONDS = _Kind(lambda v: _is_number(v) and v > 0, "a positive number", True)
_STATUS = _Kind(lambda v: v is None or (_is_whole(v) and v <= 255), "null or an exit status")
_HYPERVISOR = _Kind(lambda v: v is None or isinstance(v, bool), "true, false or null")
_TEXTS = _Kind(lambda v: isinstance(v, list) and all(map(_is_text, v)), "a list of strings")
_NUMBERS = _Kind(lambda v: isinstance(v, list) and all(map(_is_number, v)), "a list of numbers", True)
_POSITIVES = _Kind(lambda v: isinstance(v, list) and all(_is_number(n) and n > 0 for n in v),
                   "a list of positive numbers", True)
_COUNTS = _Kind(lambda v: isinstance(v, list) and all(_is_whole(c, 1) for c in v), "a list of record counts")
_OBJECTS = _Kind(lambda v: isinstance(v, list), "a list")
_OBJECT = _Kind(lambda v: isinstance(v, dict), "an object")
_JSON_FILE = _Kind(lambda v: v is None or _is_text(v), "null or a string")


def _at_most(kind, most):
    return dataclasses.replace(kind, most=most)


# The readers go over types x distributions x counts, and over every data set
# per series: lists longer than a run writes would make a small run.json cost
# minutes and gigabytes, so they are refused before anything is read from them.
_SERIES = len(DATA_TYPES) * len(DISTRIBUTIONS)
_TOP = {"program_version": _TEXT, "arguments": _TEXTS, "plan": _OBJECT, "machine": _OBJECT,
        "files": _at_most(_OBJECTS, 3 * _SERIES),  # a result, a stats and a speed-up file per series
        "data_sets": _at_most(_OBJECTS, _SERIES * MAX_COUNTS), "exit_status": _STATUS}
_PLAN = {"counts": _at_most(_COUNTS, MAX_COUNTS), "types": _at_most(_TEXTS, len(DATA_TYPES)),
         "distributions": _at_most(_TEXTS, len(DISTRIBUTIONS)), "columns": _at_most(_TEXTS, RUN_COLUMNS),
         "repetitions": _POSITIVE,
         "until_sure": _FLAG, "interval_target": _FRACTION, "budget_seconds": _SECONDS, "gpu": _FLAG, "qa": _FLAG,
         "peers": _FLAG, "json": _JSON_FILE}
_MACHINE = {"load_averages": _NUMBERS, "online_cpus": _WHOLE, "governors": _TEXTS, "transparent_huge_pages": _TEXT,
            "hypervisor": _HYPERVISOR}
_FILE = {"name": _TEXT, "kind": _TEXT, "series": _TEXT, "type": _TEXT, "distribution": _TEXT, "header": _TEXT}
_DATA_SET = {"series": _TEXT, "count": _POSITIVE, "outcome": _TEXT, "rounds": _WHOLE, "interval_reached": _FLAG,
             "seconds": _NUMBER}
# Only with -PEERS: every peer's column and threads in the plan, the columns skipped in each data set.
_PEERS = {"peer_sorters": _at_most(_OBJECTS, PEER_COUNT)}
_PEER = {"name": _TEXT, "column": _TEXT, "threads": _POSITIVE}
# Only with -PAIRS: the pair columns and their threads.
_PAIRS = {"pair_sorters": _at_most(_OBJECTS, 2)}
_PAIR = {"column": _TEXT, "threads": _POSITIVE}
_SKIPPED = {"skipped": _at_most(_TEXTS, RUN_COLUMNS)}
# Only in a run whose -COLUMNS left columns out.
_LEFT_OUT = {"left_out": _at_most(_TEXTS, RUN_COLUMNS)}
# Only at the end of a run that could not write every file whole.
_FAILED_WRITES = {"failed_writes": _at_most(_OBJECTS, 3 * _SERIES + 2)}  # its files, run.json and the -JSON file
_FAILED_WRITE = {"file": _TEXT, "reason": _TEXT}
_CELLS = {"cells": _POSITIVE}
# Only in -R auto runs that time the reference.
_REFERENCE = {"reference_ms": _POSITIVES}
_DRIFT = {"drift": _Kind(lambda v: v is None or _is_number(v), "null or a number of zero or more", True)}
# The program's verdicts and the thresholds it gave them at, in runs made since it writes them.
_VERDICTS = {"noisy": _at_most(_TEXTS, RUN_COLUMNS), "interval_missed": _at_most(_TEXTS, RUN_COLUMNS)}
_DRIFTED = {"drifted": _FLAG}
_THRESHOLDS = {"noisy_cv": _NUMBER, "drift_targets": _NUMBER}


def _checked(value, fields, where):
    """`value` when it is an object holding every key of `fields` as its kind;
    raises Unusable naming the first that is missing or of another kind.
    Other keys are left alone: a later program may add some."""
    if not isinstance(value, dict):
        raise Unusable(f"{where or 'the document'} is not an object")
    for key, kind in fields.items():
        name = f"{where}.{key}" if where else key
        if key not in value:
            raise Unusable(f'"{name}" is missing')
        if kind.most is not None and isinstance(value[key], list) and len(value[key]) > kind.most:
            raise Unusable(f'"{name}" holds {len(value[key])} entries, more than a run writes ({kind.most})')
        if not kind.test(value[key]):
            raise Unusable(f'"{name}" is not {kind.text}: {quoted(json.dumps(value[key]))}')
        numbers = value[key] if isinstance(value[key], list) else [value[key]]
        if kind.bounded and not all(n is None or within_range(n) for n in numbers):
            raise Unusable(f'"{name}" is out of range ({NUMBER_RANGE}): {quoted(json.dumps(value[key]))}')
    return value


def _no_constant(name):
    raise ValueError(f"{name} is not a JSON number")


def _document(data):
    """The JSON value of the bytes; raises Unusable when they are none."""
    if not data.strip():
        raise Unusable("empty file")
    try:
        return json.loads(data.decode("utf-8"), parse_constant=_no_constant)
    except UnicodeDecodeError:
        raise Unusable("not UTF-8 text") from None
    except json.JSONDecodeError as error:
        raise Unusable(f"not a whole JSON document: {error.msg} at line {error.lineno} column {error.colno}") from None
    except RecursionError:
        raise Unusable("nested deeper than a run manifest is") from None
    except ValueError as error:  # NaN, Infinity, a number of thousands of digits
        raise Unusable(f"not a JSON document a run writes: {error}") from None


@within_memory
def read_manifest(run_dir):
    """The Manifest of a run directory (a held Folder or a path); None when it
    has no run.json (a run made before it). Raises Unusable for one that cannot be used: not a whole
    JSON document, not a run manifest, of a newer format than FORMAT_VERSION,
    or missing a field the tools read or holding one of another kind."""
    with held(run_dir) as folder:
        place = folder.file(MANIFEST)
        if not place.exists():
            return None
        document = _document(read_bytes(place, MAX_MANIFEST_BYTES))
    if not isinstance(document, dict) or document.get("format") != FORMAT:
        raise Unusable(f'not a run manifest: "format" is not "{FORMAT}"')
    version = document.get("format_version")
    if not _is_whole(version, 1):
        raise Unusable('"format_version" is not a positive whole number')
    if version > FORMAT_VERSION:
        raise Unusable(f"format_version {version} is newer than these scripts read ({FORMAT_VERSION}): "
                       "use the scripts of the program that made the run")
    _checked(document, _TOP, "")
    plan = _checked(document["plan"], _PLAN, "plan")
    machine = _checked(document["machine"], _MACHINE, "machine")
    files = [_checked(f, _FILE, f"files[{k}]") for k, f in enumerate(document["files"])]
    sets = [_checked(d, _DATA_SET, f"data_sets[{k}]") for k, d in enumerate(document["data_sets"])]
    data_sets = [DataSet(**{key: s[key] for key in _DATA_SET}, **_reference(s, f"data_sets[{k}]"),
                         **_optional(s, _SKIPPED, f"data_sets[{k}]", tuple),
                         **_optional(s, _VERDICTS, f"data_sets[{k}]", tuple),
                         **_optional(s, _DRIFTED, f"data_sets[{k}]", bool))
                 for k, s in enumerate(sets)]
    return Manifest(place.path, document["program_version"], document["arguments"],
                    Plan(plan["until_sure"], plan["interval_target"], plan["budget_seconds"], plan["repetitions"],
                         plan["qa"], plan["distributions"], plan["columns"], counts=plan["counts"],
                         types=plan["types"], peer_threads=_threads(plan, _PEERS, _PEER),
                         pair_threads=_threads(plan, _PAIRS, _PAIR),
                         **_optional(plan, _THRESHOLDS, "plan", float),
                         **_optional(plan, _LEFT_OUT, "plan", tuple)),
                    machine, files, data_sets, document["exit_status"],
                    document.get("floor_pricing", LADDER_PRICING), _failed_writes(document))


def floor_pricing_notice(runs):
    """One line when runs' floors were priced differently, so their floor
    ratios are not alike; None when they agree. `runs`: (name, Manifest or None)."""
    pricings = {name: manifest.floor_pricing if manifest else LADDER_PRICING for name, manifest in runs}
    if len({p for p in pricings.values() if p is not None}) < 2:
        return None
    listed = ", ".join(f"{name}: {pricing}" for name, pricing in pricings.items() if pricing is not None)
    return f"Floors priced differently ({listed}): their floor ratios do not compare"


def _optional(value, fields, where, kind):
    """{key: kind(value[key])} of the keys of `fields` the object holds (each
    checked as _checked does), empty for those it lacks."""
    present = {key: f for key, f in fields.items() if key in value}
    return {key: kind(v) for key, v in _checked(value, present, where).items() if key in present}


def _threads(plan, listed, fields):
    """{column: threads} of the plan's list `listed` names (peer_sorters,
    pair_sorters), each entry checked as `fields`; empty without it."""
    (key,) = listed
    sorters = _optional(plan, listed, "plan", list).get(key, [])
    return {p["column"]: p["threads"]
            for p in (_checked(p, fields, f"plan.{key}[{k}]") for k, p in enumerate(sorters))}


def _failed_writes(document):
    """The FailedWrites of run.json's ending, empty without any."""
    listed = _optional(document, _FAILED_WRITES, "", list).get("failed_writes", [])
    checked = [_checked(w, _FAILED_WRITE, f"failed_writes[{k}]") for k, w in enumerate(listed)]
    return [FailedWrite(w["file"], w["reason"], **_optional(w, _CELLS, f"failed_writes[{k}]", int))
            for k, w in enumerate(checked)]


def _reference(data_set, where):
    """{"reference": reference_ms, "drift": drift} of a data set, empty without
    reference_ms; raises Unusable unless it holds positive numbers, one per
    round of a complete data set, and a drift of zero or more (or null)."""
    if "reference_ms" not in data_set:
        return {}
    reference = _checked(data_set, _REFERENCE, where)["reference_ms"]
    if data_set["outcome"] == "complete" and len(reference) != data_set["rounds"]:
        raise Unusable(f'"{where}.reference_ms" holds {len(reference)} values, rounds is {data_set["rounds"]}')
    return {"reference": reference, "drift": _checked(data_set, _DRIFT, where)["drift"]}


def conditions_of(manifest):
    """The run conditions run.json gives, as (key, value) pairs named as
    run_conditions.txt names them: for the runs that have no such file."""
    machine = manifest.machine
    loads = machine["load_averages"]
    hypervisor = machine["hypervisor"]
    return [("Load average", f"{loads[0]:.2f} ({machine['online_cpus']} CPUs online)" if loads else "unknown"),
            ("CPU frequency governor", ", ".join(machine["governors"]) or "not exposed"),
            ("Transparent huge pages", machine["transparent_huge_pages"]),
            ("Hypervisor", "unknown" if hypervisor is None else "yes" if hypervisor else "no"),
            ("Options", " ".join(map(shlex.quote, manifest.arguments)) or "none"),
            ("Version", manifest.program_version)]


# --- runs made before run.json ----------------------------------------------------------

@dataclass(frozen=True)
class _OlderRuns:
    """What runs made before run.json did without an option, which their
    Options line leaves unsaid: facts of those runs, read for them alone."""
    interval_percent: float = 1.0  # -R auto without -CI
    interval_percents: tuple = (0.1, 50.0)  # the values their -CI took
    budget_seconds: float = 10.0  # -R auto without -T
    rounds_at_most: int = 1000  # -R auto's cap
    distributions: tuple = ("uniform",)  # without -D


OLDER_RUNS = _OlderRuns()


def older_plan(conditions):
    """The Plan of a run made before run.json, from the Options line of its
    run conditions (None: it has none). Raises Unusable (the reason starting
    "Options:") for a -CI or -T value such a run could not have taken."""
    options = _options(conditions)
    given = options or []
    percent, seconds = _value(given, ("-CI",)), _value(given, ("-T",))
    low, high = OLDER_RUNS.interval_percents
    if percent is not None and not low <= _number(percent) <= high:
        raise Unusable(f"Options: -CI {percent} is not a percentage from {low:g} to {high:g}")
    if seconds is not None and not 0 < _number(seconds) < math.inf:
        raise Unusable(f"Options: -T {seconds} is not a positive number of seconds")
    listed = (_value(given, ("-D", "-d")) or ",".join(OLDER_RUNS.distributions)).split(",")
    return Plan(until_sure=None if options is None else _value(given, ("-R", "-r")) == "auto",
                interval_target=float(percent or OLDER_RUNS.interval_percent) / 100,
                budget_seconds=float(seconds or OLDER_RUNS.budget_seconds),
                rounds_at_most=OLDER_RUNS.rounds_at_most,
                qa=None if options is None else "-QA" in options,
                distributions=[] if options is None else
                list(DISTRIBUTIONS) if "all" in listed else list(dict.fromkeys(listed)),
                defaulted=tuple(name for name, value in (("-CI", percent), ("-T", seconds)) if value is None))


def _options(conditions):
    """The command-line options of the Options line; None without one."""
    for key, value in conditions or ():
        if key == "Options":
            try:
                return [] if value == "none" else shlex.split(value)
            except ValueError:
                return value.split()
    return None


def _value(options, names):
    """The argument after the last of `names` in the options, None without one."""
    value = None
    for k, option in enumerate(options[:-1]):
        if option in names:
            value = options[k + 1]
    return value


def _number(text):
    """The value of a number's text; nan (within no bounds) when it is none."""
    try:
        return float(text)
    except ValueError:
        return math.nan
