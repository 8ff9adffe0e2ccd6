"""What a run directory holds and what its files are called.

A run directory holds a result file bench_<stem>.csv per data type and key
distribution, the stem naming both ("INT" for uniform keys, "INT_zipf"); with
repetitions the stats_<stem>.csv and speedup_<stem>.csv files beside each;
run_conditions.txt; and run.json, the run's manifest. The tools name these
files only through here.
"""

from sortbench_folder import Folder, held
from sortbench_text import Unusable

DISTRIBUTIONS = ("uniform", "sorted", "reverse", "nearly-sorted", "few-unique", "equal", "zipf", "skewed")
DATA_TYPES = ("INT", "FLOAT", "BIGINT", "BIGFLOAT")
# The counts of the longest ladder a run measures (-1B: the standard ladder's
# 25, then 250, 500 and 750 million and a billion), the most a run has.
MAX_COUNTS = 29
MANIFEST = "run.json"
CONDITIONS = "run_conditions.txt"
_RESULT, _CSV = "bench_", ".csv"
RESULT_FILES = f"{_RESULT}*{_CSV}"  # as a message names every result file


def result_name(stem):
    return f"{_RESULT}{stem}{_CSV}"


def stats_name(stem):
    return f"stats_{stem}{_CSV}"


def speedup_name(stem):
    return f"speedup_{stem}{_CSV}"


# --- stems: "INT", "INT_zipf" -------------------------------------------------

def split_stem(stem):
    """(data type, distribution) of a stem; a name ending in no known
    distribution is a data type of uniform keys."""
    for dist in DISTRIBUTIONS[1:]:
        suffix = "_" + dist
        if stem.endswith(suffix) and len(stem) > len(suffix):
            return stem[: -len(suffix)], dist
    return stem, "uniform"


def stem_label(stem):
    """How a title names a stem: "INT", "INT, sorted keys"."""
    data_type, dist = split_stem(stem)
    return data_type if dist == "uniform" else f"{data_type}, {dist} keys"


def stem_order(stem):
    """Sort key of stems: the known data types in run order, others after them by
    name, then the distributions in the order of DISTRIBUTIONS."""
    data_type, dist = split_stem(stem)
    rank = DATA_TYPES.index(data_type) if data_type in DATA_TYPES else len(DATA_TYPES)
    return rank, data_type, DISTRIBUTIONS.index(dist)


# --- the files ------------------------------------------------------------------

# A run writes a result file per data type and key distribution, 32 at most:
# a directory of more holds something else, and is not read file by file.
MAX_RESULT_FILES = 2 * len(DATA_TYPES) * len(DISTRIBUTIONS)


def input_files(run_dir):
    """Every file of a run directory the tools may read: the result files, the
    stats and speed-up files beside them, run_conditions.txt and run.json.
    Places in a held Folder `run_dir`, or paths; raises Unusable as
    result_files does."""
    found = [place_in(run_dir, CONDITIONS), place_in(run_dir, MANIFEST)]
    for stem, where in result_files(run_dir):
        found += [where, place_in(run_dir, stats_name(stem)), place_in(run_dir, speedup_name(stem))]
    return found


def result_files(run_dir):
    """The ordered (stem, place) pairs of a run directory's bench_*.csv names;
    links that lead nowhere are among them, to be reported when read. For a
    held Folder the places are Places in it; for a path they are the
    directory as given, "/" and the name. Raises Unusable for more than
    MAX_RESULT_FILES of them."""
    stems = []
    try:
        with held(run_dir) as folder, folder.entries() as entries:
            for entry in entries:
                name = entry.name
                if name.startswith(_RESULT) and name.endswith(_CSV) and len(name) >= len(result_name("")):
                    stems.append(name[len(_RESULT):-len(_CSV)])
                    if len(stems) > MAX_RESULT_FILES:
                        raise Unusable(f"more than {MAX_RESULT_FILES} result files ({RESULT_FILES}), far more than "
                                       f"a run writes ({len(DATA_TYPES) * len(DISTRIBUTIONS)}): not read")
    except OSError:
        return []
    return [(stem, place_in(run_dir, result_name(stem))) for stem in sorted(stems, key=stem_order)]


def place_in(run_dir, name):
    """The file `name` of a run directory: a Place of a held Folder, or the path "<run_dir>/<name>"."""
    return run_dir.file(name) if isinstance(run_dir, Folder) else f"{run_dir}/{name}"
