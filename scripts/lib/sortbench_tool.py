"""What scripts/plot and scripts/report share as command-line tools: their
lines and exit statuses, the interpreter and packages they run with, and the
run directories they are given or find."""

import contextlib
import getopt
import os
import re
import subprocess
import sys

from sortbench_folder import Folder, LeadsNowhere, NotFollowed
from sortbench_rundir import RESULT_FILES, result_files
from sortbench_text import Unusable

DEBIAN_PYTHON = "/usr/bin/python3"
DEFAULT_LOG_DIR = "/var/log/dezavadure/"
# The deps.sh list of what charts and pages are drawn with.
PACKAGES = "PLOT_PACKAGES"
_RUN_NAME = re.compile(r"cpu_(gpu_)?[0-9]{12}")
RUN_DIR_NAMES = "cpu_<12 digits> or cpu_gpu_<12 digits>"  # _RUN_NAME's names as the help says them
_LIB_DIR = os.path.dirname(os.path.abspath(__file__))
# Characters that a terminal acts on, that break a line or that change what
# is shown without being seen: C0 and C1 controls, line and paragraph
# separators, every bidirectional mark, embedding, override and isolate (they
# reorder a name on the screen: "txt.exe" shown as "exe.txt"), the zero-width
# and other invisible format characters, and the bytes of a name that is not
# UTF-8 (decoded as lone surrogates), which a terminal could read as C1 controls.
_UNSHOWN = re.compile("[\x00-\x1f\x7f-\x9f\u061c\u180e\u200b-\u200f\u2028-\u202e\u2060-\u2064\u2066-\u206f"
                      "\ufeff\ufff9-\ufffb\udc80-\udcff]")
_NAMED = {"\n": "\\n", "\t": "\\t", "\r": "\\r"}


def printable(text):
    """`text` as one line that shows every character and makes a terminal do
    nothing: line feed as \\n, escape as \\x1b, the byte 0xff of a name that
    is not UTF-8 as \\xff, other such characters as \\xNN or \\uNNNN."""
    def escaped(match):
        char = match.group()
        code = ord(char)
        if char in _NAMED:
            return _NAMED[char]
        if 0xdc80 <= code <= 0xdcff:
            return f"\\x{code - 0xdc00:02x}"
        return f"\\x{code:02x}" if code < 0x100 else f"\\u{code:04x}"

    return _UNSHOWN.sub(escaped, str(text))


class Refusal(Exception):
    """Ends a tool with one "<prog>: <message>" line and `status`."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


class UsageError(Refusal):
    """A command line the tool cannot take: the problem (if any), then the usage, status 2."""

    def __init__(self, message=""):
        super().__init__(message, 2)


class Log:
    """Where a tool's lines go: each file written on `out`, each problem as one
    "<prog>: ..." line on `err`. `status` turns 1 with the first problem that
    leaves the output incomplete and stays so; `stopped` turns True with the
    first failing one the output cannot be made without (a file that could be
    used in part, as a series without its stats file, leaves it False)."""

    def __init__(self, prog, out=None, err=None):
        self.prog = prog
        self.out = out or sys.stdout
        self.err = err or sys.stderr
        self.status = 0
        self.stopped = False

    def wrote(self, path):
        print(printable(path), file=self.out, flush=True)

    def problem(self, text, fails=True, stops=True):
        print(f"{self.prog}: {printable(text)}", file=self.err, flush=True)
        if fails:
            self.status = 1
            self.stopped = self.stopped or stops


def use_debian_python(argv):
    """Runs the calling script again under Debian's interpreter when another one
    (a virtual environment, pyenv's python3 first on the PATH) runs it: the
    Debian packages the scripts install are importable only there. Returns
    when this is Debian's interpreter or there is none."""
    if sys.prefix == "/usr" or not os.access(DEBIAN_PYTHON, os.X_OK):
        return
    os.execv(DEBIAN_PYTHON, [DEBIAN_PYTHON, *argv])


def ensure_packages(variable=PACKAGES):
    """Installs the Debian packages that the shell variable `variable` of
    scripts/lib/deps.sh lists, as the other scripts do (as root; otherwise the
    apt-get command to run is printed). Raises Refusal when they are missing
    afterwards."""
    script = '. "$1" || exit 1; printf "%s" "${!2}"; ensure_packages ${!2} >&2'
    done = subprocess.run(["bash", "-c", script, "deps", os.path.join(_LIB_DIR, "deps.sh"), variable],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise Refusal(f"cannot install the packages charts and reports need ({done.stdout})")


def parse_command_line(argv, out="a directory"):
    """(-o's value or "", run directories) of "[-o OUT] [RUN_DIR...]", the
    options as getopts reads them (they end at the first other argument);
    raises UsageError, which says that -o needs `out`."""
    try:
        options, run_dirs = getopt.getopt(argv, "o:h")
    except getopt.GetoptError as error:
        if error.opt == "o":
            raise UsageError(f"option -o needs {out}") from None
        raise UsageError(f"unknown option -{error.opt}") from None
    given = ""
    for option, value in options:
        if option == "-h":
            raise UsageError()
        given = value
    return given, run_dirs


def log_dir():
    return os.environ.get("SORTBENCH_LOG_DIR") or DEFAULT_LOG_DIR


def _newest_name(logs):
    """The name of the run directory (RUN_DIR_NAMES) in the held Folder `logs`
    modified last, of two at the same time the larger name: a run's stamp is
    local time, which can change between runs, while the benchmark writes into
    its directory as it goes. Raises Refusal when there is none."""
    found = []
    with logs.entries() as entries:
        for entry in entries:
            if _RUN_NAME.fullmatch(entry.name) and entry.is_dir(follow_symlinks=False):
                found.append((entry.stat(follow_symlinks=False).st_mtime_ns, entry.name))
    if not found:
        raise Refusal(f"no run directory (cpu_<stamp>) in {logs.path}")
    return max(found)[1]


def _logs_folder(logs):
    try:
        return Folder.open(logs)
    except OSError:
        raise Refusal(f"no log directory {logs}: give a run directory") from None


def newest_run_dir(logs):
    """The path of the newest run directory under `logs` (see _newest_name). Raises Refusal."""
    with _logs_folder(logs) as folder:
        return _joined(logs, _newest_name(folder))


def _joined(logs, name):
    return (logs[:-1] if logs.endswith("/") else logs) + "/" + name


def open_run_dir(path, within=None):
    """The run directory `path` opened once and held (a Folder; relative to
    the Folder `within` when given); raises Refusal when it is missing, not a
    directory, or reached through another user's link."""
    try:
        return Folder.open(path, within=within)
    except NotFollowed as refused:
        raise Refusal(f"cannot read {path}: {refused.strerror}") from None
    except (FileNotFoundError, LeadsNowhere):
        raise Refusal(f"no such directory: {path}") from None
    except NotADirectoryError:
        raise Refusal(f"not a directory: {path}") from None
    except OSError as error:
        raise Refusal(f"cannot read {path}: {error.strerror or error}") from None


def run_names(run_dirs):
    """How titles name each run (a held Folder or a path): its directory's own
    name; runs of one name (from two log directories) by their paths as given,
    and the same path given twice also by its position."""
    names = [os.path.basename(d.real_path() if isinstance(d, Folder) else os.path.realpath(d)) for d in run_dirs]
    run_dirs = [d.path if isinstance(d, Folder) else d for d in run_dirs]
    if len(set(names)) == len(names):
        return names
    named = []
    for k, run_dir in enumerate(run_dirs):
        name = run_dir[:-1] if run_dir.endswith("/") else run_dir
        named.append(name + (f" (#{k + 1})" if run_dir in run_dirs[:k] else ""))
    return named


def command_line_runs(argv, out="a directory"):
    """(-o's value or "", run directories, their names) of "[-o OUT]
    [RUN_DIR...]": each run directory opened once and held (a Folder, its
    path as given), holding result files; without RUN_DIR the newest run,
    said on standard output. Raises Refusal; the caller closes the Folders."""
    given, paths = parse_command_line(argv, out)
    folders = []
    try:
        if not paths:
            with _logs_folder(log_dir()) as logs:
                name = _newest_name(logs)
                paths = [_joined(log_dir(), name)]
                print(f"Newest run: {printable(paths[0])}")
                folders.append(open_run_dir(name, logs))
                folders[0].path = paths[0]
        else:
            for path in paths:
                folders.append(open_run_dir(path))
        for folder in folders:
            try:
                found = result_files(folder)
            except Unusable as reason:
                raise Refusal(f"{folder.path}: {reason}") from None
            if not found:
                raise Refusal(f"no result files ({RESULT_FILES}) in {folder.path}")
    except BaseException:
        for folder in folders:
            folder.close()
        raise
    return given, folders, run_names(folders)


def default_out_dir(run_dirs):
    """The last run directory as given; beside other runs without its trailing slashes."""
    last = run_dirs[-1]
    if len(run_dirs) > 1 and last.strip("/"):
        last = last.rstrip("/")
    return last


def default_out_folder(folders):
    """The last run's held Folder again, named as default_out_dir names it."""
    return folders[-1].alias(default_out_dir([f.path for f in folders]))


@contextlib.contextmanager
def kept_mtimes(folders):
    """Sets every held run directory's modification time back on the way out:
    new files in an old run's directory would make it the newest run."""
    kept = [(f, os.fstat(f.fd).st_mtime_ns) for f in folders]
    try:
        yield
    finally:
        for folder, mtime in kept:
            with contextlib.suppress(OSError):
                now = os.fstat(folder.fd)
                if now.st_mtime_ns != mtime:
                    os.utime(folder.fd, ns=(now.st_atime_ns, mtime))


def prepare_out_dir(out_dir):
    """The output directory, created if missing, opened once and held; raises
    Refusal when it cannot be created or written into."""
    try:
        folder = Folder.open(out_dir, listed=False, create=True)
    except NotFollowed as refused:
        raise Refusal(f"cannot create output directory: {out_dir}: {refused.strerror}") from None
    except OSError:
        raise Refusal(f"cannot create output directory: {out_dir}") from None
    if not os.access(".", os.W_OK, dir_fd=folder.fd):
        folder.close()
        raise Refusal(f"cannot write into {out_dir}: choose another with -o OUT_DIR")
    return folder


def usage_lines(prog, forms):
    """The usage text: "usage: " before the first form, aligned below it."""
    lead = "usage: "
    return "\n".join((lead if i == 0 else " " * len(lead)) + f"scripts/{prog} {form}" for i, form in enumerate(forms))


def run_tool(prog, forms, body, argv):
    """Runs body(argv) -> status with every Refusal turned into its line and
    status, a UsageError followed by the usage text, and any other failure
    into one line and status 1."""
    for stream in (sys.stdout, sys.stderr):
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="surrogateescape", line_buffering=True)
    try:
        return body(argv)
    except Refusal as refusal:
        if str(refusal):
            print(f"{prog}: {printable(refusal)}", file=sys.stderr)
        if isinstance(refusal, UsageError):
            print(usage_lines(prog, forms), file=sys.stderr)
        return refusal.status
    except Exception as error:  # whatever the input: one line, not a traceback
        print(f"{prog}: {printable(failure_text(error))}", file=sys.stderr)
        return 1


def reason_of(error):
    """Why an exception was raised: its message, or for running out of memory
    (which has none) that, never an empty text."""
    if str(error):
        return str(error)
    if isinstance(error, MemoryError):
        return "out of memory: run it with more memory, or on fewer runs at once"
    return "no reason given"


def failure_text(error):
    """The line of an exception no one expected."""
    return f"unexpected {type(error).__name__}: {reason_of(error)}"
