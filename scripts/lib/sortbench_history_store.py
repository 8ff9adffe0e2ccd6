"""The history store: one SQLite file of every run added, kept safe.

The schema (application_id SCHEMA_ID, user_version SCHEMA_VERSION):

  runs  (id, key UNIQUE, name, made, added, program_version, machine, exit_status,
         arguments, machine_facts, plan)       -- one row a run; JSON in the last three
  cells (run -> runs.id, type, distribution, count, column, median, ci_low, ci_high, rounds)
         PRIMARY KEY (run, type, distribution, count, column)  -- every cell's raw time in ms

`key` is the run's identity (sortbench_history_run.run_key): a run added
twice is kept once.

The file is opened as every tool opens what it writes: its folder held, a
link followed only when its owner is the running user or root, and the file
itself used only when it is a regular file of the running user with one
link; a new one is created exclusively, mode 0644 whatever the umask. The
SQLite journal beside it must be the user's too, and after SQLite has opened
the file the store checks that what it opened is the file checked. Each add
is one transaction in SQLite's rollback journal with full syncs: a killed
add leaves the store as it was, and the next open rolls back what it began.
Nothing here prints or exits: problems raise Refusal with their status.
"""

import contextlib
import datetime
import json
import os
import sqlite3
import stat
import urllib.parse

import sortbench_tool as tool
from sortbench_folder import Folder, LeadsNowhere, NotFollowed
from sortbench_rundir import MANIFEST

SCHEMA_ID = 0x53624869  # "SbHi": a SQLite file of another program is no history
SCHEMA_VERSION = 1
DEFAULT_NAME = "history.sqlite"
BUSY_SECONDS = 10.0  # how long a command waits for another add to finish before it refuses
LOCKED = 3  # the exit status of a store another process holds: try again later
_JOURNALS = ("-journal", "-wal", "-shm")
_NEW = os.O_RDWR | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC
_SCHEMA = """
CREATE TABLE runs (
    id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE, name TEXT NOT NULL, made TEXT NOT NULL,
    added TEXT NOT NULL, program_version TEXT NOT NULL, machine TEXT NOT NULL, exit_status INTEGER NOT NULL,
    arguments TEXT NOT NULL, machine_facts TEXT NOT NULL, plan TEXT NOT NULL);
CREATE TABLE cells (
    run INTEGER NOT NULL REFERENCES runs(id), type TEXT NOT NULL, distribution TEXT NOT NULL,
    count INTEGER NOT NULL, column TEXT NOT NULL, median REAL NOT NULL, ci_low REAL, ci_high REAL,
    rounds INTEGER NOT NULL, PRIMARY KEY (run, type, distribution, count, column)) WITHOUT ROWID;
"""


def default_path(environ=None):
    """$XDG_DATA_HOME/sortbench/history.sqlite, or ~/.local/share/... when
    it is unset or not absolute (as the XDG base directory rules say)."""
    environ = os.environ if environ is None else environ
    base = environ.get("XDG_DATA_HOME", "")
    if not base.startswith("/"):
        base = os.path.join(environ.get("HOME") or os.path.expanduser("~"), ".local", "share")
    return os.path.join(base, "sortbench", DEFAULT_NAME)


def _refused(path, why, status=1):
    return tool.Refusal(f"{path}: {why}", status)


def _check_ours(path, info, what="the file"):
    """Refuses anything but a regular file of the running user with one link."""
    if not stat.S_ISREG(info.st_mode):
        raise _refused(path, f"{what} is not a regular file")
    if info.st_uid != os.geteuid():
        raise _refused(path, f"{what} belongs to another user (uid {info.st_uid}), not used")
    if info.st_nlink != 1:
        raise _refused(path, f"{what} has {info.st_nlink} hard links, not used")


def _lstat(name, folder):
    try:
        return os.stat(name, dir_fd=folder, follow_symlinks=False)
    except FileNotFoundError:
        return None


def _columns(plan):
    """The columns a stored plan lists, in its order; none when it lists none."""
    try:
        columns = json.loads(plan).get("columns")
    except (ValueError, AttributeError):
        return []
    return [c for c in columns if isinstance(c, str)] if isinstance(columns, list) else []


def _opened_by_sqlite(held):
    """Whether a descriptor of this process other than `held` is the file `held` is."""
    mine = os.fstat(held)
    for entry in os.listdir("/proc/self/fd"):
        fd = int(entry)
        if fd == held:
            continue
        with contextlib.suppress(OSError):
            found = os.fstat(fd)
            if (found.st_dev, found.st_ino) == (mine.st_dev, mine.st_ino):
                return True
    return False


class Store:
    """An open history: `db` the sqlite3 connection (autocommit; add() makes
    its own transaction), `path` as given, for messages."""

    def __init__(self, path, db, held):
        self.path = path
        self.db = db
        self._held = held  # (folder, file) descriptors: SQLite reaches the file through the folder's

    def close(self):
        self.db.close()
        for fd in self._held:
            os.close(fd)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    # --- what it holds ---------------------------------------------------------

    def runs(self):
        """Every run as a dict of the runs table with its cell count and its
        plan's columns in the run's order, oldest first."""
        rows = self.db.execute("SELECT r.id, r.name, r.made, r.program_version, r.machine, r.exit_status, "
                               "(SELECT COUNT(*) FROM cells c WHERE c.run = r.id), r.plan FROM runs r "
                               "ORDER BY r.made, r.id").fetchall()
        names = ("id", "name", "made", "program_version", "machine", "exit_status", "cells")
        return [dict(zip(names, row), columns=_columns(row[-1])) for row in rows]

    def cells(self, drawn):
        """(run id, type, distribution, count, column, median, low, high) of
        every cell, the time `drawn` (a TimeDrawn) names."""
        median, low, high = drawn.columns
        return self.db.execute(f"SELECT run, type, distribution, count, column, {median}, {low}, {high} "
                               "FROM cells").fetchall()

    # --- adding ----------------------------------------------------------------

    def add(self, runs, added=None):
        """Adds the HistoryRuns in one transaction; returns how many were new
        (a run the store holds already is left as it is)."""
        added = added or datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S UTC")
        new = 0
        with self._transaction():
            for run in runs:
                if self.db.execute("SELECT 1 FROM runs WHERE key = ?", (run.key,)).fetchone():
                    continue
                new += 1
                cursor = self.db.execute(
                    "INSERT INTO runs (key, name, made, added, program_version, machine, exit_status, arguments, "
                    "machine_facts, plan) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                    (run.key, run.name, run.made, added, run.program_version, run.machine, run.exit_status,
                     json.dumps(run.arguments), json.dumps(run.machine_facts), json.dumps(run.plan)))
                self._insert_cells(cursor.lastrowid, run.cells)
        return new

    def _insert_cells(self, run_id, cells):
        self.db.executemany(
            "INSERT INTO cells (run, type, distribution, count, column, median, ci_low, ci_high, rounds) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
            [(run_id, c.data_type, c.distribution, c.count, c.column, c.median, c.low, c.high, c.rounds)
             for c in cells])

    @contextlib.contextmanager
    def _transaction(self):
        """BEGIN IMMEDIATE ... COMMIT, or ROLLBACK on any failure: all of it or nothing."""
        self.db.execute("BEGIN IMMEDIATE")
        try:
            yield
        except BaseException:
            with contextlib.suppress(sqlite3.Error):
                self.db.execute("ROLLBACK")
            raise
        self.db.execute("COMMIT")


def _held_file(path, create):
    """(folder descriptor, name, descriptor of the file) of the store at
    `path`, created when missing with `create`; raises Refusal."""
    parent, name = os.path.split(path)
    if not name:
        raise _refused(path, "names a folder, not a file")
    try:
        with Folder.open(parent or ".", listed=False, create=create) as folder:
            place, last, _followed = folder.resolve(name)
    except NotFollowed as refused:
        raise _refused(path, refused.strerror) from None
    except (FileNotFoundError, LeadsNowhere):
        raise _refused(path, "no such file: add a run first" if not create else "its folder cannot be reached")
    except OSError as error:
        raise _refused(path, error.strerror or str(error)) from None
    try:
        if _lstat(MANIFEST, place) is not None:
            raise _refused(path, f"its folder holds a {MANIFEST}: a run folder holds the run's files alone")
        info = _lstat(last, place)
        if info is None and not create:
            raise _refused(path, "no such file: add a run first")
        if info is None:
            try:
                held = os.open(last, _NEW, 0o644, dir_fd=place)
            except OSError as error:
                raise _refused(path, f"cannot create it: {error.strerror}") from None
            os.fchmod(held, 0o644)  # whatever the umask
        else:
            _check_ours(path, info)
            try:
                held = os.open(last, os.O_RDONLY | os.O_NOFOLLOW | os.O_CLOEXEC, dir_fd=place)
            except OSError as error:
                raise _refused(path, error.strerror) from None
            try:
                _check_ours(path, os.fstat(held))
            except BaseException:
                os.close(held)
                raise
        try:
            for suffix in _JOURNALS:
                found = _lstat(last + suffix, place)
                if found is not None:
                    _check_ours(path, found, f"its journal {last + suffix}")
        except BaseException:
            os.close(held)
            raise
        return place, last, held
    except BaseException:
        os.close(place)
        raise


def _connect(path, place, last, held, busy_seconds):
    """The sqlite3 connection to the file `held` is, reached through the held folder."""
    where = urllib.parse.quote(f"/proc/self/fd/{place}/{last}")
    try:
        db = sqlite3.connect(f"file:{where}?mode=rw", uri=True, timeout=busy_seconds, isolation_level=None)
    except sqlite3.Error as error:
        raise _refused(path, f"cannot open it: {error}") from None
    try:
        db.execute("PRAGMA synchronous = FULL")
        db.execute("PRAGMA foreign_keys = ON")
        db.execute("PRAGMA schema_version").fetchone()  # opens the file, rolls back a killed add
        if not _opened_by_sqlite(held):
            raise _refused(path, "the file was replaced while it was opened, not used")
        _check_schema(path, db)
    except sqlite3.Error as error:
        db.close()
        raise database_refusal(path, error) from None
    except BaseException:
        db.close()
        raise
    return db


def database_refusal(path, error):
    """The Refusal of a SQLite error: a store another process holds, or one that is not usable."""
    text = str(error)
    if isinstance(error, sqlite3.OperationalError) and ("locked" in text or "busy" in text):
        return _refused(path, "locked by another process (an add still going on?); try again", LOCKED)
    if isinstance(error, sqlite3.DatabaseError) and not isinstance(error, sqlite3.OperationalError):
        return _refused(path, f"not a usable history: {text}")
    return _refused(path, text)


def _check_schema(path, db):
    """Makes the schema in an empty file; refuses a file of another program,
    of a newer schema, or that SQLite's quick check finds damaged."""
    application = db.execute("PRAGMA application_id").fetchone()[0]
    version = db.execute("PRAGMA user_version").fetchone()[0]
    tables = db.execute("SELECT COUNT(*) FROM sqlite_schema").fetchone()[0]
    if application == 0 and version == 0 and tables == 0:
        try:
            db.executescript(f"BEGIN IMMEDIATE; {_SCHEMA} PRAGMA application_id = {SCHEMA_ID}; "
                             f"PRAGMA user_version = {SCHEMA_VERSION}; COMMIT;")
        except BaseException:
            with contextlib.suppress(sqlite3.Error):
                db.execute("ROLLBACK")
            raise
        return
    if application != SCHEMA_ID:
        raise _refused(path, "a SQLite file of another program, not a sortbench history")
    if version > SCHEMA_VERSION:
        raise _refused(path, f"schema {version} is newer than these scripts read ({SCHEMA_VERSION})")
    damage = db.execute("PRAGMA quick_check(1)").fetchone()[0]
    if damage != "ok":
        raise _refused(path, f"not a usable history: {damage}")


def open_store(path, create=False, busy_seconds=BUSY_SECONDS):
    """The Store at `path`, made (with its folders) when missing with
    `create`; raises Refusal, status LOCKED when another process holds it."""
    place, last, held = _held_file(path, create)
    try:
        db = _connect(path, place, last, held, busy_seconds)
    except BaseException:
        os.close(held)
        os.close(place)
        raise
    return Store(path, db, (place, held))
