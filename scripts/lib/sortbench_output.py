"""Every file scripts/plot and scripts/report write, written whole or not at all.

The rules are the benchmark's own for its -JSON file. The file is a name in
a held Folder (sortbench_folder), or a path whose folder is held while it is
written: every step below goes through the folder's descriptor, so renaming
the folder or putting a link in its place meanwhile redirects nothing. The
name may be one that does not exist, a regular file (one of more than one
link only when it is the writing user's or root's), or a symbolic link to a
regular file (the link stays and the file it leads to is replaced, as editors
keep it), when the link is the writing user's or root's; anything else is
refused before anything is drawn, and so is one of the files read to make
it. The bytes go to a temporary file of a new, hidden name beside the file
they replace, created exclusively and never
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

from sortbench_folder import HardLinked, LeadsNowhere, NotFollowed, Place, check_links, placed

# Signals that end a tool: while a file is written they are noted and acted on
# once its temporary file is gone, never in the middle of the clean-up.
_STOPPING = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
_CREATE = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC
_ATTEMPTS = 1000
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


@contextlib.contextmanager
def _target(path, where):
    """(folder descriptor, name) of the file a write to `where` (a Place in a
    held Folder, or a path) replaces: the name, or where a link there leads,
    the folder held for the time of the block. A link is followed only when
    its owner is the user writing or root: one planted by another user in a
    run directory would otherwise make root replace whatever file it names.
    Raises Refused; FileNotFoundError when the folder itself is missing."""
    if path.endswith("/"):
        raise Refused(path, os.strerror(errno.EISDIR))
    try:
        with placed(where) as place:
            folder, name, followed = place.folder.resolve(place.name)
    except NotFollowed as refused:
        raise Refused(path, refused.strerror) from None
    except LeadsNowhere as nowhere:
        raise Refused(path, "a symbolic link to nothing" if nowhere.errno == errno.ENOENT
                      else os.strerror(errno.ELOOP)) from None
    except FileNotFoundError:
        raise
    except OSError as error:
        raise Refused(path, _why(error)) from None
    try:
        if followed and _lstat(folder, name) is None:
            raise Refused(path, "a symbolic link to nothing")
        yield folder, name
    finally:
        os.close(folder)


def _lstat(folder, name):
    try:
        return os.stat(name, dir_fd=folder, follow_symlinks=False)
    except FileNotFoundError:
        return None


def _existing(path, folder, name):
    """The status of the regular file `name` in `folder`, None when there is
    nothing; raises Refused for anything else, which is never ours to replace."""
    if name in (".", ".."):
        raise Refused(path, os.strerror(errno.EISDIR))
    try:
        found = _lstat(folder, name)
    except OSError as error:
        raise Refused(path, _why(error)) from None
    if found is None:
        return None
    if stat.S_ISDIR(found.st_mode):
        raise Refused(path, os.strerror(errno.EISDIR))
    if not stat.S_ISREG(found.st_mode):
        raise Refused(path, "not a regular file")
    try:
        check_links(found)
    except HardLinked as refused:
        raise Refused(path, refused.strerror) from None
    return found


def _identity(given):
    """(device, inode) of an input, a Place (reached by the owner rule) or a path."""
    found = given.folder.stat(given.name) if isinstance(given, Place) else os.stat(given)
    return found.st_dev, found.st_ino


def _check_inputs(path, found, inputs):
    """Refuses a target that is (or is a hard link of) one of the files read to make it."""
    if found is None:
        return
    for given in inputs:
        with contextlib.suppress(OSError):
            if _identity(given) == (found.st_dev, found.st_ino):
                raise Refused(path, f"it is the input file {given}")


def _check_sticky(path, folder, found):
    """Refuses what rename could not replace: another user's file in a sticky
    directory such as /tmp, unless the directory is ours."""
    if found is None or os.geteuid() == 0 or found.st_uid == os.geteuid():
        return
    with contextlib.suppress(OSError):
        status = os.fstat(folder)
        if status.st_mode & stat.S_ISVTX and status.st_uid != os.geteuid():
            raise Refused(path, os.strerror(errno.EPERM))


def _create(folder, name, mode):
    """A new temporary file ".<name>.<pid>.<n>.tmp" in `folder`: (descriptor, its name)."""
    for _ in range(_ATTEMPTS):
        temporary = f".{name}.{os.getpid()}.{next(_serial)}.tmp"
        try:
            return os.open(temporary, _CREATE, mode, dir_fd=folder), temporary
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


def _write_temporary(folder, name, data, found, noted):
    """Writes `data` to a new temporary file in `folder` and renames it over
    `name` there; the temporary file never outlives a failure."""
    descriptor = temporary = None
    try:
        # Until it has the target's permissions, the copy is its owner's alone.
        descriptor, temporary = _create(folder, name, 0o600 if found else 0o666)
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
        os.rename(temporary, name, src_dir_fd=folder, dst_dir_fd=folder)
        temporary = None
    finally:
        if descriptor is not None:
            os.close(descriptor)
        if temporary is not None:
            with contextlib.suppress(OSError):
                os.unlink(temporary, dir_fd=folder)


def target_of(where, inputs=()):
    """Checks the file writing `where` (a Place in a held Folder, or a path)
    would replace as write() checks it, and by a trial temporary file where
    its folder exists: ask before drawing what would go there. Raises Refused."""
    path = str(where)
    try:
        with _target(path, where) as (folder, name):
            found = _existing(path, folder, name)
            _check_inputs(path, found, inputs)
            _check_sticky(path, folder, found)
            try:
                with _signals_noted():
                    descriptor, temporary = _create(folder, name, 0o600)
                    os.close(descriptor)
                    os.unlink(temporary, dir_fd=folder)
            except OSError as error:
                raise Refused(path, _why(error)) from None
    except FileNotFoundError:
        return  # no folder yet: nothing there to refuse


def write(where, data, inputs=()):
    """Replaces the file at `where` (a Place in a held Folder, or a path; see
    the module's rules) with the bytes `data`; `inputs` are the Places or
    paths of the files they were made from. Raises Refused, the earlier file
    then untouched."""
    path = str(where)
    try:
        with _target(path, where) as (folder, name):
            found = _existing(path, folder, name)
            _check_inputs(path, found, inputs)
            try:
                with _signals_noted() as noted:
                    _write_temporary(folder, name, data, found, noted)
            except _Stopped as stopped:
                raise Refused(path, f"stopped by {signal.Signals(stopped.signum).name}") from None
            except OSError as error:
                raise Refused(path, _why(error)) from None
    except FileNotFoundError as error:
        raise Refused(path, _why(error)) from None
