"""Folders opened once and held, and the files reached through them.

Every file the tools read or write is reached through a Folder: the folder is
opened once, and each name in it is opened, listed, stat'ed, created or
renamed relative to that descriptor, so that a rename of the folder or a link
put in its place meanwhile redirects nothing. Paths are kept for messages only.

Every path is resolved one name at a time, as the kernel would, but a
symbolic link is followed only when its owner is the running user or root
(the rule of the kernel's protected_symlinks, applied everywhere): a link of
another user raises NotFollowed; a link whose target is missing, or that
loops, raises LeadsNowhere. A regular file with more than one link whose
owner is another user is refused the same way, as HardLinked, for reading as
for writing: the kernel's protected_hardlinks, which keeps a user from
linking a file they could not write, may be off. Nothing here prints or exits.
"""

import contextlib
import errno
import os
import stat

_MAX_LINKS = 40  # as the kernel follows at most
# A step into a folder on the way: enough to open what is inside, even in a
# folder the user may search but not list.
_STEP = os.O_PATH | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC
_LISTED = os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC


class NotFollowed(OSError):
    """A symbolic link whose owner is neither the running user nor root."""

    def __init__(self, uid, reason=None):
        super().__init__(errno.EPERM, reason or f"a symbolic link of another user (uid {uid}), not followed")
        self.uid = uid


class HardLinked(NotFollowed):
    """A regular file of more than one link whose owner is neither the running
    user nor root: one of its names may have been made by someone who could
    not have written the file, to have it read or replaced for them."""

    def __init__(self, uid, links):
        super().__init__(uid, f"a file of another user (uid {uid}) with {links} hard links, not used")


class LeadsNowhere(OSError):
    """A symbolic link to nothing (errno ENOENT) or one that loops (ELOOP)."""


def trusted(info):
    """Whether a link of this lstat may be followed: its owner is the running user or root."""
    return info.st_uid in (0, os.geteuid())


def check_links(info):
    """Raises HardLinked when the status `info` is that of a regular file of
    more than one link and of another owner than the running user or root."""
    if stat.S_ISREG(info.st_mode) and info.st_nlink > 1 and not trusted(info):
        raise HardLinked(info.st_uid, info.st_nlink)


def _names(path):
    return [part for part in path.split("/") if part not in ("", ".")]


def _lstat(name, at):
    try:
        return os.stat(name, dir_fd=at, follow_symlinks=False)
    except FileNotFoundError:
        return None


def _resolve(path, start, create=False):
    """(descriptor of the folder holding the last name, that name, whether a
    link was followed) of `path` from the folder `start` (None: the working
    folder). A last name that is a link is followed; "." stands for a path
    that names a folder itself ("/", "a/.."). With `create`, missing folders
    on the way are made. The caller closes the descriptor."""
    parts = _names(path)
    here = os.open("/" if path.startswith("/") else ".", _STEP, dir_fd=start)
    hops, followed = 0, False
    try:
        while parts:
            part = parts.pop(0)
            info = None if part == ".." else _lstat(part, here)
            if info is None and part != "..":
                if not parts:
                    return here, part, followed
                if not create:
                    raise (LeadsNowhere(errno.ENOENT, os.strerror(errno.ENOENT)) if followed else
                           FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), path))
                with contextlib.suppress(FileExistsError):
                    os.mkdir(part, dir_fd=here)
                parts.insert(0, part)
                continue
            if info is not None and stat.S_ISLNK(info.st_mode):
                if not trusted(info):
                    raise NotFollowed(info.st_uid)
                hops += 1
                if hops > _MAX_LINKS:
                    raise LeadsNowhere(errno.ELOOP, os.strerror(errno.ELOOP))
                target = os.readlink(part, dir_fd=here)
                if target.startswith("/"):
                    os.close(here)
                    here = os.open("/", _STEP)
                parts = _names(target) + parts
                followed = True
                if not parts:
                    return here, ".", followed
                continue
            if not parts:
                return here, part, followed
            try:
                step = os.open(part, _STEP, dir_fd=here)
            except NotADirectoryError:
                # A link put there since the lstat: look again, as one more hop.
                now = _lstat(part, here)
                if now is None or not stat.S_ISLNK(now.st_mode) or hops >= _MAX_LINKS:
                    raise
                hops += 1
                parts.insert(0, part)
                continue
            os.close(here)
            here = step
        return here, ".", followed
    except BaseException:
        os.close(here)
        raise


def open_at(path, flags, start=None, create=False):
    """A descriptor of what `path` names, opened with `flags` (O_NOFOLLOW and
    O_CLOEXEC added) after every link on the way was allowed. Raises OSError:
    FileNotFoundError for nothing there, LeadsNowhere for a link to nothing,
    NotFollowed for another user's link, HardLinked for another user's file
    of more than one link. With `create`, a missing folder on the way, and
    the last one when `flags` hold O_DIRECTORY, is made."""
    for _ in range(_MAX_LINKS):
        here, name, followed = _resolve(path, start, create)
        try:
            if create and flags & os.O_DIRECTORY and name != ".":
                with contextlib.suppress(FileExistsError):
                    os.mkdir(name, dir_fd=here)
            opened = os.open(name, flags | os.O_NOFOLLOW | os.O_CLOEXEC, dir_fd=here)
            # Checked on what was opened: a name swapped meanwhile changes nothing.
            try:
                check_links(os.fstat(opened))
            except BaseException:
                os.close(opened)
                raise
            return opened
        except FileNotFoundError:
            if followed:
                raise LeadsNowhere(errno.ENOENT, os.strerror(errno.ENOENT)) from None
            raise
        except OSError as error:
            # ELOOP, or ENOTDIR for a folder: a link put there since it was looked at; look again.
            now = _lstat(name, here) if error.errno in (errno.ELOOP, errno.ENOTDIR) else None
            if now is None or not stat.S_ISLNK(now.st_mode):
                raise
        finally:
            os.close(here)
    raise LeadsNowhere(errno.ELOOP, os.strerror(errno.ELOOP))


class Folder:
    """A folder opened once. `path` is the folder as given, for messages
    only; every file is reached through the descriptor. `listed` folders can
    be listed (run folders); the others (where files are written) only
    reached through. `bytes_read` counts what the readers took from it, for
    the bound on all the files of a run directory."""

    def __init__(self, path, fd):
        self.path = path
        self.fd = fd
        self.bytes_read = 0

    @classmethod
    def open(cls, path, listed=True, within=None, create=False):
        """The folder at `path` (relative to the Folder `within`, if given),
        made when missing with `create`. Raises OSError as open_at does, and
        NotADirectoryError for anything but a folder."""
        flags = _LISTED if listed else _STEP
        fd = open_at(path, flags, within.fd if within else None, create)
        return cls(path if within is None else f"{within.path}/{path}", fd)

    def __str__(self):
        return self.path

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def file(self, name, path=None):
        """The Place of the name `name` in this folder (`path` for messages:
        by default the folder's, "/" and the name)."""
        return Place(self, name, path)

    def alias(self, path):
        """The same folder held again, named `path` in messages."""
        return Folder(path, os.dup(self.fd))

    def entries(self):
        """An iterator over the folder's entries (os.DirEntry), read as they come."""
        return os.scandir(self.fd)

    def lstat(self, name):
        """The status of the name itself (a link not followed), None when there is nothing."""
        return _lstat(name, self.fd)

    def open_file(self, name, flags):
        """A descriptor of the file `name` in this folder (see open_at)."""
        return open_at(name, flags, self.fd)

    def stat(self, name):
        """The status of what `name` leads to by the owner rule; raises OSError."""
        fd = self.open_file(name, os.O_PATH)
        try:
            return os.fstat(fd)
        finally:
            os.close(fd)

    def resolve(self, name):
        """(folder descriptor, last name, whether a link was followed) of what
        a write to `name` replaces; the caller closes the descriptor."""
        return _resolve(name, self.fd)

    def real_path(self):
        """Where the folder is now, as the kernel names it."""
        try:
            return os.readlink(f"/proc/self/fd/{self.fd}")
        except OSError:
            return os.path.realpath(self.path)

    def status(self):
        return os.fstat(self.fd)


class Place:
    """A name in a held Folder; str() is its path, for messages."""

    def __init__(self, folder, name, path=None):
        self.folder = folder
        self.name = name
        self.path = path or f"{folder.path}/{name}"

    def __str__(self):
        return self.path

    def __repr__(self):
        return f"Place({self.path!r})"

    def exists(self):
        return self.folder.lstat(self.name) is not None


@contextlib.contextmanager
def held(where, listed=True):
    """The Folder `where`, or the folder at the path `where` opened for the
    time of the block."""
    if isinstance(where, Folder):
        yield where
        return
    with Folder.open(where, listed) as folder:
        yield folder


@contextlib.contextmanager
def placed(where, listed=False):
    """The Place `where`, or the Place of the path `where` in its folder,
    opened for the time of the block; its path is `where` as given."""
    if isinstance(where, Place):
        yield where
        return
    parent, name = os.path.split(where)
    with Folder.open(parent or ".", listed) as folder:
        yield folder.file(name, where)
