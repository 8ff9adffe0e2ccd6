"""The text of a run's files, read within bounds, and the numbers its cells hold.

Every reader of a run directory starts here: a file is read only when it is a
regular file of bounded size, reached through its held folder and through no
link of another user (sortbench_folder), its lines are split as the benchmark writes
them, and each cell is checked to be a number the tools can compute with.
Nothing here prints or exits: a file that cannot be used raises Unusable with
the reason; complaints that leave the file usable travel with what was read
as Notice values.
"""

import functools
import math
import os
import re
import stat
from dataclasses import dataclass

from sortbench_folder import LeadsNowhere, NotFollowed, placed

# Times as the benchmark writes them: a decimal point, no exponent.
_TIME = re.compile(r"-?([0-9]+\.?[0-9]*|\.[0-9]+)")
_WHOLE = re.compile(r"[0-9]+")
# The benchmark writes twelve decimals at most, and no time of a sort comes
# near 10^12 ms (31 years): between these bounds every ratio, logarithm and
# axis the tools compute stays a finite float.
MIN_NUMBER, MAX_NUMBER = 1e-12, 1e12
MAX_WHOLE = 2 ** 64 - 1  # record counts are 64-bit
# Far beyond what a run writes (29 counts by every column a run can write,
# sortbench_columns.RUN_COLUMNS: under 600 stats rows of up to 1000 times
# each, about 10 MiB at most), and small enough that a file this large is
# read, checked and drawn in seconds and a few hundred MB.
MAX_BYTES = 32 << 20
MAX_ROWS = 2000
# All the files the tools read from one run directory together: runs of every
# type and distribution write a few MiB of them, and checking this much takes
# seconds and under 1 GB (about ten times the bytes read).
MAX_RUN_BYTES = 64 << 20
# The bounds of a number as a message gives them.
NUMBER_RANGE = f"0, or 10^{math.log10(MIN_NUMBER):g} to 10^{math.log10(MAX_NUMBER):g} either side of it"


class Unusable(Exception):
    """A file that cannot be used at all; str() is the reason, without the path."""


def quoted(text, most=40):
    """A cell's text as a message quotes it, cut short when long."""
    return f"'{text}'" if len(text) <= most else f"'{text[:most]}…' ({len(text)} characters)"


@dataclass
class Notice:
    """A complaint about a file that is still used. `fails` makes the tool's
    exit status 1 (the file is incomplete); otherwise it only informs.
    `cut_short`: the file ends early, as a run that did not finish leaves it."""
    text: str
    fails: bool = True
    cut_short: bool = False


# --- lines ---------------------------------------------------------------------

def read_bytes(where, most=None):
    """The bytes of the regular file at `where`, a Place in a held Folder or a
    path. Raises Unusable for a symbolic link of another user than the one
    running or root (not followed), a link that leads nowhere, anything but a
    readable regular file, more than `most` bytes (by default MAX_BYTES), and
    more than what is left of MAX_RUN_BYTES for the files of its Folder."""
    most = MAX_BYTES if most is None else most
    try:
        with placed(where) as place:
            folder = place.folder
            left = max(MAX_RUN_BYTES - folder.bytes_read, 0)
            # Only a regular file, opened without blocking: a FIFO or a device
            # is refused, not waited on, and one put in its place meanwhile too.
            if not stat.S_ISREG(folder.stat(place.name).st_mode):
                raise Unusable("not a readable file")
            with open(folder.open_file(place.name, os.O_RDONLY | os.O_NONBLOCK), "rb") as stream:
                if not stat.S_ISREG(os.fstat(stream.fileno()).st_mode):
                    raise Unusable("not a readable file")
                data = stream.read(min(most, left) + 1)
    except NotFollowed as refused:
        raise Unusable(refused.strerror) from None
    except LeadsNowhere:
        raise Unusable("symbolic link that leads nowhere (dangling or looping)") from None
    except OSError:
        raise Unusable("not a readable file") from None
    if len(data) > most:
        raise Unusable(f"larger than {most / (1 << 20):g} MiB, far more than a run writes")
    if len(data) > left:
        raise Unusable(f"not read: with it the files read from its run directory would hold more than "
                       f"{MAX_RUN_BYTES / (1 << 20):g} MiB, far more than a run writes")
    folder.bytes_read += len(data)
    return data


def within_memory(reader):
    """`reader` with running out of memory turned into Unusable: the file is
    reported, and the tool goes on with the others once its memory is freed."""
    @functools.wraps(reader)
    def read(*args, **kwargs):
        try:
            return reader(*args, **kwargs)
        except MemoryError:
            raise Unusable("out of memory while reading it") from None
    return read


def read_lines(where, kind):
    """The lines of a file's text and whether a writer left it unclosed.

    A file still open by the benchmark, or left by a killed run, ends in zero
    bytes; they are dropped and reported as padded=True. Returns (lines, padded)
    with carriage returns stripped, trailing empty lines kept. Raises Unusable
    as read_bytes does, for zero bytes before the last text byte (`kind` names
    what the file should have been), and for more than MAX_ROWS lines after
    the first.
    """
    data = read_bytes(where)
    text = data.rstrip(b"\0")
    if data and not text:
        raise Unusable(f"only zero bytes, no text: the run was cut short (or is still running) "
                       f"before it wrote this {kind}")
    if b"\0" in text:
        raise Unusable(f"zero bytes inside the text, not a {kind}")
    if text.count(b"\n") + (not text.endswith(b"\n")) > MAX_ROWS + 1:
        raise Unusable(f"more than {MAX_ROWS} rows; a run writes a few hundred at most")
    lines = text.decode("utf-8", "replace").split("\n")
    if lines[-1] == "":
        lines.pop()
    return [line[:-1] if line.endswith("\r") else line for line in lines], len(text) < len(data)


def last_text_line(lines):
    """1-based number of the last line that is not empty (1 for the header)."""
    last = len(lines)
    while last > 1 and lines[last - 1] == "":
        last -= 1
    return last


# --- cells ---------------------------------------------------------------------

def number_problem(text):
    """Why a cell is not a number of these files ("is not a number", "is out
    of range ..."), None when it is one: a decimal without exponent, zero or
    from MIN_NUMBER to MAX_NUMBER either side of it."""
    if _TIME.fullmatch(text) is None:
        return "is not a number"
    return None if within_range(float(text)) else f"is out of range ({NUMBER_RANGE})"


def within_range(value):
    """Whether a number is zero or from MIN_NUMBER to MAX_NUMBER either side of it."""
    return value == 0 or MIN_NUMBER <= abs(value) <= MAX_NUMBER


def checked_number(text, name):
    """The value of a cell named `name`; raises ValueError when it is no number of these files."""
    problem = number_problem(text)
    if problem:
        raise ValueError(f"{name} {quoted(text)} {problem}")
    return float(text)


def whole_problem(text, least=1):
    """Why a cell is not a whole number from `least` to MAX_WHOLE, None when it is one."""
    digits = text.lstrip("0") or "0"
    if _WHOLE.fullmatch(text) is None or (len(digits) <= 20 and int(digits) < least):
        return "is not a positive whole number" if least else "is not a whole number"
    if len(digits) > 20 or int(digits) > MAX_WHOLE:
        return f"is out of range (at most {MAX_WHOLE})"
    return None


def at_most(a, b):
    """a <= b, give or take the rounding of numbers written with twelve decimals."""
    return a - b <= 1e-9 * max(abs(a), abs(b)) + 1e-12


def same(a, b):
    return at_most(a, b) and at_most(b, a)


def median_of(values):
    """The median, the mean of the two middle values for an even count."""
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2
