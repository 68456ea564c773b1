"""What soilweb's commands share: a problem the user can mend is one line on standard error and
exit status 1, never a traceback."""
import sys

from .safe import Unreadable


class Refused(Exception):
    """A problem the user can mend: reported in one line, exit status 1."""


class Usage(Refused):
    """A command line that asks for what cannot be: reported in one line, exit status 2."""


def fail(message):
    raise Refused(message)


def usage(message):
    raise Usage(message)


def run_command(name, main):
    """Runs a command's main, reporting what the user can mend as "NAME: message"."""
    try:
        main()
    except (Refused, Unreadable) as e:
        print(f"{name}: {e}", file=sys.stderr)
        sys.exit(2 if isinstance(e, Usage) else 1)
    except KeyboardInterrupt:
        print(f"{name}: stopped by SIGINT", file=sys.stderr)
        sys.exit(130)
    except OSError as e:
        print(f"{name}: " + (f"{e.filename}: " if e.filename else "") + f"{e.strerror or e}", file=sys.stderr)
        sys.exit(1)
