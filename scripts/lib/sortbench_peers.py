"""Our sorters against the peers of a -PEERS run, per result file: at each
record count the fastest column, and our radix sort's time over the fastest
peer's on as many threads (CPU 1 Thread over the fastest one-thread peer; the
fastest of our multi-threaded columns over the fastest parallel peer), as
ratios of times: below 1, ours is faster. A run with -PAIRS also sets each
pair column against the same peers (Pair Radix 1 Thread over the fastest
one-thread peer, Pair Radix All CPUs over the fastest parallel peer).

How many threads each peer sorts on is what run.json's plan lists
(Plan.peer_threads): a run without that list (no -PEERS, or made before
run.json listed the peers) gets no comparison. The times are the result
file's: the median where the run has repetitions. A peer skipped for memory
has no time and takes no part. Nothing here prints or writes: scripts/report
shows the rows in its page, scripts/plot writes them as PEERS_FILE.
"""

import csv
import io
from dataclasses import dataclass

from sortbench_columns import GPU_PARTS, PAIR_COLUMNS, PAIR_MANY, PAIR_ONE, RADIX_COLUMNS
from sortbench_tool import printable

PEERS_FILE = "peers.csv"  # what scripts/plot writes the rows of a run into
PEERS_HEADER = ("Series", "NbRecords", "Fastest", "FastestMs", "OneThread", "OneThreadPeer", "OneThreadRatio",
                "Parallel", "ParallelPeer", "ParallelRatio", "Skipped")
# Before Skipped, in the files of runs with pair columns only: others' stay as they were.
PAIRS_HEADER = ("PairOneThread", "PairOneThreadPeer", "PairOneThreadRatio", "PairParallel", "PairParallelPeer",
                "PairParallelRatio")
OUR_ONE = next(c for c, n in RADIX_COLUMNS.items() if n == 1)
OUR_MANY = tuple(c for c, n in RADIX_COLUMNS.items() if n > 1)


@dataclass
class Against:
    """Our column's time over a peer's (below 1, ours is faster)."""
    ours: str
    peer: str
    ratio: float


@dataclass
class PeerRow:
    """One record count (as written): its fastest column and time in ms
    (None where no column has a time), ours against the fastest one-thread
    peer (`one`) and the fastest parallel peer (`many`), None where a side
    has no time; the pair columns against the same peers (`pair_one`,
    `pair_many`), None likewise or without them; `skipped` the peers and pair
    columns skipped for memory."""
    count: str
    fastest: str
    fastest_ms: float
    one: Against = None
    many: Against = None
    skipped: tuple = ()
    pair_one: Against = None
    pair_many: Against = None


def _fastest(times, columns):
    """The fastest (column, time) of `columns` with a time in `times`, None when none has one."""
    timed = [(times[c], k, c) for k, c in enumerate(columns) if times.get(c) is not None]
    if not timed:
        return None
    time, _, column = min(timed)
    return column, time


def _against(times, ours, peers):
    mine, theirs = _fastest(times, ours), _fastest(times, peers)
    return Against(mine[0], theirs[0], mine[1] / theirs[1]) if mine and theirs else None


def peer_rows(result, peer_threads):
    """The PeerRows of a ResultTable, one per count; empty when none of its
    columns is a peer `peer_threads` ({column: threads}, from run.json) lists."""
    peers = [c for c in result.columns if c in peer_threads]
    if not peers:
        return []
    one = [c for c in peers if peer_threads[c] == 1]
    many = [c for c in peers if peer_threads[c] > 1]
    skippable = [c for c in result.columns if c in PAIR_COLUMNS] + peers
    # The GPU's on-card and transfer columns are parts of its whole sort, no sorter of their own.
    sorters = [c for c in result.columns if c not in GPU_PARTS]
    rows = []
    for count, values in zip(result.counts, result.times):
        times = dict(zip(result.columns, values))
        fastest = _fastest(times, sorters) or (None, None)
        rows.append(PeerRow(count, *fastest, _against(times, [OUR_ONE], one), _against(times, OUR_MANY, many),
                            tuple(c for c in skippable if (count, c) in result.skipped),
                            _against(times, [PAIR_ONE], one), _against(times, [PAIR_MANY], many)))
    return rows


def parallel_threads(peer_threads):
    """The threads the parallel peers sort on, a text ("2", "2 to 4"); None without parallel peers."""
    counts = sorted({n for n in peer_threads.values() if n > 1})
    if not counts:
        return None
    return str(counts[0]) if len(counts) == 1 else f"{counts[0]} to {counts[-1]}"


def ratio_text(ratio):
    return f"{ratio:.6g}"


def peers_csv(rows_of, pairs=False):
    """The text of PEERS_FILE: PEERS_HEADER (with PAIRS_HEADER before Skipped
    when `pairs`, the run has pair columns), then a line per series
    (`rows_of`: {stem: [PeerRow]}, in order) and count; a comparison without
    both sides has empty cells, Skipped the skipped columns separated by ";".
    Names are quoted as CSV quotes them, so each stays one field, and
    escaped as the tools' lines escape them: a series named by a file name
    that is not UTF-8 is written as its name is shown (INT\\xff), and no
    cell holds a control character."""
    text = io.StringIO()
    out = csv.writer(text, lineterminator="\n")
    out.writerow(PEERS_HEADER[:-1] + (PAIRS_HEADER if pairs else ()) + PEERS_HEADER[-1:])
    for stem, rows in rows_of.items():
        for row in rows:
            sides = []
            for against in (row.one, row.many) + ((row.pair_one, row.pair_many) if pairs else ()):
                sides += [against.ours, against.peer, ratio_text(against.ratio)] if against else ["", "", ""]
            cells = [stem, row.count, row.fastest or "", "" if row.fastest_ms is None else repr(row.fastest_ms),
                     *sides, ";".join(row.skipped)]
            out.writerow([printable(cell) for cell in cells])
    return text.getvalue()
