"""Every file scripts/plot and scripts/report write, written whole or not at all.

The rules are the benchmark's own for its -JSON file. The path may be a path
that does not exist, a regular file, or a symbolic link to a regular file
(the link stays and the file it leads to is replaced, as editors keep it),
when the link is the writing user's or root's; anything else is refused
before anything is drawn, and so is a path that is one of the files read to
make it. The bytes go to a temporary file of a new,
hidden name beside the file they replace, created exclusively and never
through a link, so no name planted by another user is ever opened; it gets
the permissions (and, for root, the owner) of the file it replaces, is
flushed to the disk and only then renamed over it. On any failure, Ctrl-C,
SIGTERM or SIGHUP included, the temporary file is removed and the earlier
file stays as it was.
"""

import contextlib
import errno
import itertools
import os
import signal
import stat
import threading

# Signals that end a tool: while a file is written they are noted and acted on
# once its temporary file is gone, never in the middle of the clean-up.
_STOPPING = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
_CREATE = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC
_ATTEMPTS = 1000
_MAX_LINKS = 40  # as the kernel follows at most
_CHUNK = 1 << 20  # a stopping signal waits for at most one chunk
_serial = itertools.count()


class Refused(Exception):
    """A file that cannot be written; str() is "cannot write <path>: <why>"."""

    def __init__(self, path, reason):
        super().__init__(f"cannot write {path}: {reason}")
        self.path = path
        self.reason = reason


class _Stopped(Exception):
    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


def _why(error):
    return error.strerror or str(error)


def _resolved(path):
    """The file a write to `path` replaces: the path, or where a link there
    leads. A link is followed only when its owner is the user writing or root:
    one planted by another user in a run directory would otherwise make root
    replace whatever file it names."""
    target = path
    for hop in range(_MAX_LINKS):
        try:
            found = os.lstat(target)
        except FileNotFoundError:
            if hop == 0:
                return target
            raise Refused(path, "a symbolic link to nothing") from None
        except OSError as error:
            if hop == 0:
                return target  # what is wrong with it is found by _existing
            raise Refused(path, _why(error)) from None
        if not stat.S_ISLNK(found.st_mode):
            return target
        if found.st_uid not in (0, os.geteuid()):
            raise Refused(path, f"a symbolic link of another user (uid {found.st_uid}), not followed")
        # Joined, not normalised: the kernel resolves "..", as it would through the link.
        target = os.path.join(os.path.dirname(target), os.readlink(target))
    raise Refused(path, os.strerror(errno.ELOOP))


def _existing(path, target):
    """The status of the regular file at `target`, None when there is nothing;
    raises Refused for anything else, which is never ours to replace."""
    if not os.path.basename(target):
        raise Refused(path, os.strerror(errno.EISDIR))
    try:
        found = os.lstat(target)
    except FileNotFoundError:
        return None
    except OSError as error:
        raise Refused(path, _why(error)) from None
    if stat.S_ISDIR(found.st_mode):
        raise Refused(path, os.strerror(errno.EISDIR))
    if not stat.S_ISREG(found.st_mode):
        raise Refused(path, "not a regular file")
    return found


def _check_inputs(path, found, inputs):
    """Refuses a target that is (or is a hard link of) one of the files read to make it."""
    if found is None:
        return
    for given in inputs:
        with contextlib.suppress(OSError):
            source = os.stat(given)
            if (source.st_dev, source.st_ino) == (found.st_dev, found.st_ino):
                raise Refused(path, f"it is the input file {given}")


def _check_sticky(path, target, found):
    """Refuses what rename could not replace: another user's file in a sticky
    directory such as /tmp, unless the directory is ours."""
    if found is None or os.geteuid() == 0 or found.st_uid == os.geteuid():
        return
    with contextlib.suppress(OSError):
        folder = os.stat(os.path.dirname(target) or ".")
        if folder.st_mode & stat.S_ISVTX and folder.st_uid != os.geteuid():
            raise Refused(path, os.strerror(errno.EPERM))


def _create(target, mode):
    """A new temporary file ".<name>.<pid>.<n>.tmp" beside `target`: (descriptor, path)."""
    folder, name = os.path.split(target)
    for _ in range(_ATTEMPTS):
        temporary = os.path.join(folder, f".{name}.{os.getpid()}.{next(_serial)}.tmp")
        try:
            return os.open(temporary, _CREATE, mode), temporary
        except FileExistsError:
            continue
    raise FileExistsError(errno.EEXIST, os.strerror(errno.EEXIST))


@contextlib.contextmanager
def _signals_noted():
    """Within it, the stopping signals a tool would act on are only noted in the
    list it yields; on the way out each is raised again for its own handler."""
    if threading.current_thread() is not threading.main_thread():
        yield []
        return
    noted, saved = [], {}
    for signum in _STOPPING:
        handler = signal.getsignal(signum)
        if handler not in (signal.SIG_IGN, None):
            saved[signum] = handler
    try:
        for signum in saved:
            signal.signal(signum, lambda number, _frame: noted.append(number))
        yield noted
    finally:
        for signum, handler in saved.items():
            signal.signal(signum, handler)
        for signum in dict.fromkeys(noted):
            signal.raise_signal(signum)


def _go_on(noted):
    if noted:
        raise _Stopped(noted[0])


def _write_temporary(target, data, found, noted):
    """Writes `data` to a new temporary file beside `target` and renames it over
    the target; the temporary file never outlives a failure."""
    descriptor = temporary = None
    try:
        # Until it has the target's permissions, the copy is its owner's alone.
        descriptor, temporary = _create(target, 0o600 if found else 0o666)
        if found:
            if os.geteuid() == 0:
                os.fchown(descriptor, found.st_uid, found.st_gid)
            # After the owner: a change of owner clears the set-user-ID bits.
            os.fchmod(descriptor, stat.S_IMODE(found.st_mode))
        view = memoryview(data)
        while view:
            _go_on(noted)
            written = os.write(descriptor, view[:_CHUNK])
            if written == 0:
                raise OSError(errno.EIO, os.strerror(errno.EIO))
            view = view[written:]
        os.fsync(descriptor)
        os.close(descriptor)
        descriptor = None
        _go_on(noted)
        os.rename(temporary, target)
        temporary = None
    finally:
        if descriptor is not None:
            os.close(descriptor)
        if temporary is not None:
            with contextlib.suppress(OSError):
                os.unlink(temporary)


def target_of(path, inputs=()):
    """The file writing `path` replaces, checked as write() checks it, and by a
    trial temporary file where its directory exists: ask before drawing what
    would go there. Raises Refused."""
    target = _resolved(path)
    found = _existing(path, target)
    _check_inputs(path, found, inputs)
    _check_sticky(path, target, found)
    if os.path.isdir(os.path.dirname(target) or "."):
        try:
            with _signals_noted():
                descriptor, temporary = _create(target, 0o600)
                os.close(descriptor)
                os.unlink(temporary)
        except OSError as error:
            raise Refused(path, _why(error)) from None
    return target


def write(path, data, inputs=()):
    """Replaces the file at `path` (see the module's rules) with the bytes
    `data`; `inputs` are the paths of the files they were made from. Raises
    Refused, the earlier file then untouched."""
    target = _resolved(path)
    found = _existing(path, target)
    _check_inputs(path, found, inputs)
    try:
        with _signals_noted() as noted:
            _write_temporary(target, data, found, noted)
    except _Stopped as stopped:
        raise Refused(path, f"stopped by {signal.Signals(stopped.signum).name}") from None
    except OSError as error:
        raise Refused(path, _why(error)) from None
