"""The program and the scripts agree on the run directory: short real runs,
every file their run.json lists read by the scripts' readers with the header
it states, and scripts/report, scripts/plot and benchmarks/repeatability on
them. A change of format on one side fails here."""

import os
import subprocess

import pytest
from conftest import ROOT, is_png, run_in_process

from sortbench_columns import STANDARD
from sortbench_manifest import floor_pricing_notice, read_manifest
from sortbench_peers import PAIRS_HEADER, PEERS_FILE, peer_rows
from sortbench_results import read_result
from sortbench_speedups import read_speedups
from sortbench_stats import read_stats
from sortbench_rundir import result_files
from sortbench_tool import DEFAULT_LOG_DIR, newest_run_dir

PROGRAM = os.environ.get("SORTBENCH_BINARY", "")
pytestmark = pytest.mark.skipif(not PROGRAM, reason="SORTBENCH_BINARY is unset: it names the sortbench program "
                                                    "to run (CTest sets it)")
# A probe of the machine's limits small enough to take no time.
QUICK = {**os.environ, "SORTBENCH_QUICK_LIMITS": "1"}
RUNS = {"peers": ["-S", "1000", "-R", "3", "-D", "uniform,zipf", "-PEERS"],
        "pairs": ["-S", "1000", "-R", "2", "-PAIRS", "-PEERS", "vqsort,tbb"],
        "auto": ["-S", "1000", "-R", "auto", "-T", "0.2", "-CI", "50"],
        "single": ["-MIN"],
        # Without CPU Standard: no speed-up files, and no speed-ups in the page or the charts.
        "chosen": ["-S", "1000", "-R", "2", "-TYPES", "int,BIGFLOAT", "-COLUMNS", "radix,tbb", "-PEERS", "tbb,vqsort"]}
READERS = {"stats": read_stats, "speedups": read_speedups}


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    """{name: run directory} of one run per entry of RUNS."""
    found = {}
    for name, options in RUNS.items():
        out = str(tmp_path_factory.mktemp(name))
        done = subprocess.run([PROGRAM, *options, "-O", out], env=QUICK, capture_output=True, text=True, timeout=600)
        assert done.returncode == 0, done.stdout + done.stderr
        found[name] = newest_run_dir(out)
    return found


@pytest.mark.parametrize("name", RUNS)
def test_the_readers_take_every_file_run_json_lists(runs, name):
    run_dir = runs[name]
    manifest = read_manifest(run_dir)
    plan = manifest.plan
    assert manifest.exit_status == 0 and manifest.arguments[:len(RUNS[name])] == RUNS[name]
    assert {d.outcome for d in manifest.data_sets} == {"complete"}
    # -R auto, and only it, times the machine's reference after every round.
    assert {d.reference is not None for d in manifest.data_sets} == {plan.until_sure}
    # The program's verdicts on the cells, which the scripts read rather than judge again.
    assert {(d.noisy is not None, d.interval_missed is not None) for d in manifest.data_sets} == {
        (plan.rounds_at_most > 1, plan.until_sure)}
    results = {}
    for entry in sorted(manifest.files, key=lambda f: f["kind"] != "results"):
        path = f"{run_dir}/{entry['name']}"
        if entry["kind"] == "results":
            found = results[entry["series"]] = read_result(path, entry["header"])
            assert found.columns == plan.columns and not found.notices
        else:
            found = READERS[entry["kind"]](path, results[entry["series"]], entry["header"])
            assert found.rows and not found.notices
            assert entry["kind"] != "stats" or found.with_interval == found.with_reference == plan.until_sure
    # A data set per row of every result file, and a stats and a speed-up file beside each with repetitions.
    assert sorted((d.series, str(d.count)) for d in manifest.data_sets) == \
        sorted((series, count) for series, found in results.items() for count in found.counts)
    assert len(manifest.files) == len(results) * (1 if plan.rounds_at_most == 1 else 2 + (STANDARD in plan.columns))
    listed = {f["name"] for f in manifest.files}
    assert listed == set(os.listdir(run_dir)) - {"run.json", "run.lock", "run_conditions.txt"}
    assert {f"bench_{stem}.csv" for stem, _ in result_files(run_dir)} == {n for n in listed if n.startswith("bench_")}


@pytest.mark.parametrize("name", RUNS)
def test_the_scripts_take_every_run(report, plot, runs, name, tmp_path):
    page, charts = str(tmp_path / "report.html"), str(tmp_path / "charts")
    ran = run_in_process(report, ["-o", page, runs[name]])
    assert (ran.status, ran.err, ran.out_lines) == (0, "", [page])
    ran = run_in_process(plot, ["-o", charts, runs[name]])
    tables = [path for path in ran.out_lines if path == f"{charts}/{PEERS_FILE}"]
    assert (ran.status, ran.err) == (0, "") and ran.out_lines and len(tables) == (name in ("peers", "pairs", "chosen"))
    assert all(is_png(path) for path in ran.out_lines if path not in tables)


def test_a_pairs_run_sets_its_pair_columns_against_the_peers_in_page_and_table(report, plot, runs, tmp_path):
    run_dir = runs["pairs"]
    plan = read_manifest(run_dir).plan
    assert list(plan.pair_threads) == ["Pair Radix 1 Thread", "Pair Radix All CPUs"]
    assert plan.pair_threads["Pair Radix All CPUs"] == plan.peer_threads["Peer tbb"]
    rows = peer_rows(read_result(f"{run_dir}/bench_BIGINT.csv"), plan.peer_threads)
    assert [(r.pair_one.ours, r.pair_one.peer, r.pair_many.ours, r.pair_many.peer) for r in rows] == \
        [("Pair Radix 1 Thread", "Peer vqsort", "Pair Radix All CPUs", "Peer tbb")]
    page, charts = str(tmp_path / "report.html"), str(tmp_path / "charts")
    assert run_in_process(report, ["-o", page, run_dir]).status == 0
    assert "Pairs, one thread: Pair Radix 1 Thread over the fastest one-thread peer" in open(page).read()
    assert run_in_process(plot, ["-o", charts, run_dir]).status == 0
    header = open(f"{charts}/{PEERS_FILE}").readline().rstrip("\n").split(",")
    assert header[-1 - len(PAIRS_HEADER):-1] == list(PAIRS_HEADER)


def test_a_run_that_leaves_columns_out_says_so_and_shows_no_speed_ups(report, runs, tmp_path):
    plan = read_manifest(runs["chosen"]).plan
    radix = [f"CPU {n} Thread" for n in (1, 2, 4, 8)]
    assert (plan.types, plan.columns) == (["INT", "BIGFLOAT"], radix + ["Peer tbb"])
    assert (plan.left_out, list(plan.peer_threads)) == (("CPU Standard", "Peer vqsort"), ["Peer tbb"])
    page = str(tmp_path / "report.html")
    assert run_in_process(report, ["-o", page, runs["chosen"]]).status == 0
    text = open(page).read()
    assert "CPU Standard, Peer vqsort" in text and "×" not in text and "No speed-ups: the run did not time" in text


def test_repeatability_reads_its_runs(tmp_path):
    done = subprocess.run([os.path.join(ROOT, "benchmarks", "repeatability"), "-n", "2", "-b", PROGRAM, "--",
                           *RUNS["auto"]], env=QUICK, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    assert "| INT 1000 CPU Standard |" in done.stdout and "| BIGFLOAT 1000 CPU 8 Thread |" in done.stdout
    assert "Slowest data set against its budget: " in done.stdout
    assert "Calibration: one run's 95% interval held" in done.stdout and "Largest drift" in done.stdout


def test_the_scripts_look_for_runs_where_the_program_puts_them():
    usage = subprocess.run([PROGRAM, "-h"], capture_output=True, text=True, timeout=60).stdout
    assert "Results: " + DEFAULT_LOG_DIR + "cpu_" in usage


def test_run_json_says_how_the_floors_were_priced_and_a_mix_gets_one_notice(runs):
    manifests = {name: read_manifest(run_dir) for name, run_dir in runs.items()}
    assert manifests["peers"].floor_pricing == "own sizes"
    assert manifests["single"].floor_pricing is None
    assert floor_pricing_notice([("a", manifests["peers"]), ("b", manifests["auto"])]) is None
    assert floor_pricing_notice([("new", manifests["peers"]), ("old", None)]) == (
        "Floors priced differently (new: own sizes, old: fixed sizes): their floor ratios do not compare")
