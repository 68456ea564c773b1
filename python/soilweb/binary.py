"""Which soilweb binary the package and its commands run. Light by design, as interpreter is: the
commands ask it before they know whether their Python has pandas."""
import os
import shutil
import sys

PACKAGE = os.path.dirname(os.path.abspath(__file__))

# Said wherever no binary is found: the package is installed apart from the binary it runs.
HOW_TO_GET = ("build it from soilweb's source tree with scripts/setup.sh, which also installs it beside this "
              "Python's soilweb package, or set SOILWEB_BINARY to its path, or put it on the PATH")


def candidates(beside=()):
    """Where a soilweb binary may be, in order: $SOILWEB_BINARY; the places given (a command's own
    folder); the source tree's build/ when the package is run from the tree; the bin/ of an
    installation made with cmake --install; the bin/ of this Python's installation (a virtual
    environment's, where scripts/setup.sh puts it); the PATH."""
    return [os.environ.get("SOILWEB_BINARY"), *beside,
            os.path.join(PACKAGE, "..", "..", "build", "soilweb"),
            os.path.join(PACKAGE, "..", "..", "..", "..", "bin", "soilweb"),
            os.path.join(sys.prefix, "bin", "soilweb"),
            shutil.which("soilweb")]


def found(beside=()):
    """The first executable file among the candidates, as an absolute path, or None."""
    for candidate in candidates(beside):
        if candidate and os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return os.path.normpath(os.path.abspath(candidate))
    return None
