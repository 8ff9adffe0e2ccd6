"""Tests of scripts/history: the store keeps each ended run once, never loses
one, refuses what it cannot use, and finds steps beyond both intervals."""

import io
import json
import os
import signal
import sqlite3
import subprocess
import sys

import pytest
from conftest import ROOT, Page, assert_self_contained, load_script, write, write_manifest

import sortbench_history_trend as trend_lib
import sortbench_tool

COLUMNS = ["CPU Standard", "CPU 1 Thread"]


def made_run(folder, times, load=0.1, interval=0.02):
    """A -R auto run of INT at 1000 records: `times` its columns' medians, each with a ±`interval` interval."""
    os.makedirs(folder)
    write(f"{folder}/bench_INT.csv", "NbRecords," + ",".join(COLUMNS) + "\n1000," +
          ",".join(f"{t:.6f}" for t in times))
    rows = [f"1000,{c},3,{t * 0.9:.6f},{t:.6f},{t:.6f},{t * 1.1:.6f},0.1,{t * 0.9:.6f};{t:.6f};{t * 1.1:.6f},"
            f"{t * (1 - interval):.6f},{t * (1 + interval):.6f}" for c, t in zip(COLUMNS, times)]
    write(f"{folder}/stats_INT.csv", "NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times,CiLow,CiHigh\n" +
          "\n".join(rows))
    machine = {"load_averages": [load, 0, 0], "online_cpus": 2, "governors": [], "transparent_huge_pages": "never",
               "hypervisor": True, "host_name": "vm"}
    return write_manifest(folder, {"until_sure": True}, machine=machine)


@pytest.fixture(scope="module")
def history():
    return load_script("history")


def run(history, argv, busy=0.05):
    """scripts/history's main on `argv`, its lines captured."""
    out, err = io.StringIO(), io.StringIO()
    saved = sys.stdout, sys.stderr
    sys.stdout, sys.stderr = out, err
    try:
        status = sortbench_tool.run_tool("history", history.FORMS, lambda a: history.main(a, busy), argv)
    finally:
        sys.stdout, sys.stderr = saved
    return status, out.getvalue(), err.getvalue().splitlines()


def listed(history, db):
    status, out, err = run(history, ["--db", db, "list"])
    assert (status, err) == (0, [])
    return out.splitlines()


def test_adds_a_run_once_into_a_new_store_of_mode_0644(history, tmp_path):
    made_run(tmp_path / "cpu_261201101010", [5.0, 1.0])
    made_run(tmp_path / "cpu_261202101010", [5.0, 1.0], load=0.2)
    db = str(tmp_path / "data" / "h.sqlite")
    saved = os.umask(0o077)
    try:
        status, out, err = run(history, ["--db", db, "add", str(tmp_path / "cpu_261201101010")])
    finally:
        os.umask(saved)
    assert (status, err) == (0, [])
    assert os.stat(db).st_mode & 0o777 == 0o644
    status, out, _ = run(history, ["--db", db, "add", *(str(p) for p in sorted(tmp_path.glob("cpu_*")))])
    assert status == 0 and "1 runs added, 1 already held" in out
    assert [line.split("  ")[0] for line in listed(history, db)] == ["2026-12-01 10:10:10", "2026-12-02 10:10:10"]


def test_a_killed_add_leaves_the_store_as_it_was(history, tmp_path):
    made_run(tmp_path / "cpu_261201101010", [5.0, 1.0])
    made_run(tmp_path / "cpu_261202101010", [6.0, 1.0], load=0.2)
    db = str(tmp_path / "h.sqlite")
    assert run(history, ["--db", db, "add", str(tmp_path / "cpu_261201101010")])[0] == 0
    before = listed(history, db)
    # The child inserts the run's row and many cells through a tiny page
    # cache, so that they reach the file itself, then dies before COMMIT.
    child = f"""
import dataclasses, os, signal, sys
sys.path.insert(0, {os.path.join(ROOT, 'tests', 'scripts')!r})
from conftest import load_script
import sortbench_history_store as store
insert = store.Store._insert_cells
def dying(self, run_id, cells):
    self.db.execute("PRAGMA cache_size = 2")
    insert(self, run_id, [dataclasses.replace(cells[0], count=n) for n in range(1, 20000)])
    os.kill(os.getpid(), signal.SIGKILL)
store.Store._insert_cells = dying
load_script("history").main(["--db", {db!r}, "add", {str(tmp_path / 'cpu_261202101010')!r}])
"""
    done = subprocess.run([sys.executable, "-c", child], capture_output=True, timeout=120)
    assert done.returncode == -signal.SIGKILL, done.stderr
    assert os.path.exists(db + "-journal") and os.path.getsize(db) > 100000
    assert listed(history, db) == before
    assert sqlite3.connect(db).execute("PRAGMA integrity_check").fetchone()[0] == "ok"


def stopped(folder):
    made_run(folder, [5.0, 1.0])
    write_manifest(folder, exit_status=None)


def half_written(folder):
    made_run(folder, [5.0, 1.0])
    with open(f"{folder}/run.json", "r+b") as stream:
        stream.truncate(200)


def another_users_link(folder):
    made_run(folder, [5.0, 1.0])
    os.rename(f"{folder}/stats_INT.csv", f"{folder}/../elsewhere.csv")
    os.symlink("../elsewhere.csv", f"{folder}/stats_INT.csv")
    os.lchown(f"{folder}/stats_INT.csv", 12345, 12345)


def without_manifest(folder):
    made_run(folder, [5.0, 1.0])
    os.unlink(f"{folder}/run.json")


@pytest.mark.parametrize("make, said", [
    (stopped, "no exit status; the run is still going on, or was interrupted"),
    (half_written, "run.json: not a whole JSON document"),
    (another_users_link, "a symbolic link of another user (uid 12345), not followed"),
    (without_manifest, "no run.json"),
])
def test_refuses_a_run_it_cannot_use_and_adds_none(history, tmp_path, make, said):
    if make is another_users_link and os.geteuid() != 0:
        pytest.skip("giving a link to another user needs root")
    made_run(tmp_path / "cpu_261201101010", [5.0, 1.0])
    make(tmp_path / "cpu_261202101010")
    db = str(tmp_path / "h.sqlite")
    status, out, err = run(history, ["--db", db, "add", *(str(p) for p in sorted(tmp_path.glob("cpu_*")))])
    assert (status, out, len(err)) == (1, "", 1) and said in err[0], err
    assert not os.path.exists(db)


def foreign(db):
    sqlite3.connect(db).execute("CREATE TABLE notes (text)")


def corrupt(db):
    with open(db, "r+b") as stream:
        stream.seek(100)
        stream.write(b"\xff" * 3000)


def others(db):
    os.chown(db, 12345, 12345)


def linked_by_another(db):
    os.rename(db, db + ".real")
    os.symlink(os.path.basename(db) + ".real", db)
    os.lchown(db, 12345, 12345)


def hard_linked(db):
    os.link(db, db + ".second")


@pytest.mark.parametrize("spoil, status, said", [
    (None, 0, None),
    (foreign, 1, "a SQLite file of another program"),
    (corrupt, 1, "not a usable history"),
    (others, 1, "belongs to another user (uid 12345)"),
    (linked_by_another, 1, "a symbolic link of another user (uid 12345)"),
    (hard_linked, 1, "2 hard links"),
])
def test_refuses_a_store_it_cannot_use(history, tmp_path, spoil, status, said):
    made_run(tmp_path / "cpu_261201101010", [5.0, 1.0])
    db = str(tmp_path / "h.sqlite")
    if spoil is foreign:
        foreign(db)
    else:
        assert run(history, ["--db", db, "add", str(tmp_path / "cpu_261201101010")])[0] == 0
        if spoil:
            if spoil in (others, linked_by_another) and os.geteuid() != 0:
                pytest.skip("giving a file to another user needs root")
            spoil(db)
    for argv in (["add", str(tmp_path / "cpu_261201101010")], ["list"]):
        got, _, err = run(history, ["--db", db, *argv])
        assert got == status and (said is None or len(err) == 1 and said in err[0]), err


def test_keeps_no_store_inside_a_run_folder(history, tmp_path):
    made_run(tmp_path / "cpu_261201101010", [5.0, 1.0])
    status, _, err = run(history, ["--db", str(tmp_path / "cpu_261201101010" / "h.sqlite"), "add",
                                   str(tmp_path / "cpu_261201101010")])
    assert status == 1 and "holds a run.json" in err[0]
    assert not os.path.exists(tmp_path / "cpu_261201101010" / "h.sqlite")


def test_a_store_another_process_holds_is_refused_as_locked(history, tmp_path):
    made_run(tmp_path / "cpu_261201101010", [5.0, 1.0])
    db = str(tmp_path / "h.sqlite")
    assert run(history, ["--db", db, "add", str(tmp_path / "cpu_261201101010")])[0] == 0
    holder = sqlite3.connect(db, isolation_level=None)
    holder.execute("BEGIN EXCLUSIVE")
    try:
        status, _, err = run(history, ["--db", db, "list"])
    finally:
        holder.execute("ROLLBACK")
    assert status == 3 and len(err) == 1 and "locked by another process" in err[0]


def points(*cells):
    """Points of (median, half width of the interval or None)."""
    return [trend_lib.Point(k, "", "", m, None if h is None else m - h, None if h is None else m + h)
            for k, (m, h) in enumerate(cells)]


@pytest.mark.parametrize("series, steps", [
    ([(10, 1), (10.5, 1), (9.6, 1)], []),  # within the intervals
    ([(10, 1), (12, 1)], [1]),  # beyond both
    ([(10, 1), (11.5, 2)], []),  # beyond the first interval, not the second
    ([(10, 0.1), (9, 0.1), (9, 0.1), (10, 0.1)], [1, 3]),  # down, then back up
    ([(10, None), (20, 1)], []),  # no interval: no step claimed
])
def test_finds_steps_beyond_both_intervals(series, steps):
    assert [s.at for s in trend_lib.find_steps(points(*series))] == steps


def test_the_page_names_the_time_drawn_and_the_steps(history, tmp_path):
    for k, times in enumerate(([5.0, 1.0], [5.0, 1.0], [5.0, 1.6])):
        document = made_run(tmp_path / f"cpu_26120{k + 1}101010", times, load=k)
        document["program_version"] = f"v{k}<b>"
        write(f"{tmp_path}/cpu_26120{k + 1}101010/run.json", json.dumps(document))
    db = str(tmp_path / "h.sqlite")
    assert run(history, ["--db", db, "add", *(str(p) for p in sorted(tmp_path.glob("cpu_*")))])[0] == 0
    status, _, err = run(history, ["--db", db, "report", "-o", str(tmp_path / "page.html")])
    assert (status, err) == (0, [])
    page = Page((tmp_path / "page.html").read_text())
    assert_self_contained(page)
    assert page.tags["svg"] == 1
    assert "Time drawn: the raw median" in page.source and "v2&lt;b&gt;" in page.source
    assert "+60%" in page.section_text["every-step"] and "CPU Standard" not in page.section_text["every-step"]
