"""Reading and checking what lies in a run's or a sweep's folder as soilweb itself does: a link, a FIFO
or a device where soilweb writes a file or a folder is refused, never followed, opened or waited on,
and a file is read only up to a bound, so that nothing placed there can hang a reader, exhaust its
memory, or send its reads and writes outside the folder."""
import json
import os
import stat

# The most read as a configuration, a grid or a sweep's record; a run's record holds its whole
# configuration written out, so it may be larger (as the binary reads its own).
MOST_READ = 64 << 20
RECORD_MOST_READ = 4 * MOST_READ


class Unreadable(ValueError):
    """A file in a run's or sweep's folder that cannot be read as what soilweb wrote there (damaged, cut short,
    too large); its message is one line."""


class NotOurs(Unreadable):
    """A link, a FIFO, a device or a folder where soilweb writes a file (or the other way round): never
    followed or opened, and refused whatever reads it."""


def _kind(mode):
    return ("a link" if stat.S_ISLNK(mode) else "a FIFO" if stat.S_ISFIFO(mode) else
            "a device" if stat.S_ISCHR(mode) or stat.S_ISBLK(mode) else "a socket" if stat.S_ISSOCK(mode) else
            "a folder" if stat.S_ISDIR(mode) else "a file")


def _check(path, is_kind, what):
    """Refuses path when it exists as anything but what is_kind (of its lstat mode) accepts; True when it
    is such, False when it is absent."""
    try:
        mode = os.lstat(path).st_mode
    except FileNotFoundError:
        return False
    if not is_kind(mode):
        raise NotOurs(f"{path} is {_kind(mode)}, not {what}; move it away")
    return True


def check_folder(path):
    """Refuses path when it exists as anything but a folder (a link to one included); True when it is one."""
    return _check(path, stat.S_ISDIR, "a folder soilweb made")


def check_file(path):
    """Refuses path when it exists as anything but a regular file; True when it is one."""
    return _check(path, stat.S_ISREG, "a file soilweb wrote")


def read_bytes(path, most=MOST_READ):
    """The bytes of the regular file at path, at most `most` of them (more is refused)."""
    check_file(path)
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOFOLLOW | os.O_CLOEXEC)
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):  # replaced between the look and the open
            raise NotOurs(f"{path} is not a file soilweb wrote; move it away")
        chunks, size = [], 0
        while True:
            chunk = os.read(fd, 1 << 20)
            if not chunk:
                break
            chunks.append(chunk)
            size += len(chunk)
            if size > most:
                raise Unreadable(f"{path} is larger than {most >> 20} MiB, the most soilweb reads")
        return b"".join(chunks)
    finally:
        os.close(fd)


def read_text(path, most=MOST_READ):
    return read_bytes(path, most).decode(errors="replace")


def read_json(path, what, most=MOST_READ):
    """A JSON document from the regular file at path; Unreadable (one line naming it) otherwise."""
    try:
        return json.loads(read_bytes(path, most))
    except (OSError, ValueError) as e:
        if isinstance(e, Unreadable):
            raise
        reason = e.strerror if isinstance(e, OSError) and e.strerror else str(e).splitlines()[0]
        raise Unreadable(f"cannot read the {what} {path}: {reason}") from None
