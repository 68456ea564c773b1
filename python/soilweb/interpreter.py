"""The Python soilweb's commands run on: the running one when it has the modules a command needs,
else /usr/bin/python3, else $SOILWEB_PYTHON, whichever has them first; the command then runs
itself again on that one. Light by design: nothing here (nor in the package's __init__) needs
more than the standard library, so that --help works on any Python."""
import importlib.util
import os
import subprocess
import sys

RERUN = "SOILWEB_RERUN"  # set in a command run again on another Python, so it never loops


def missing_here(modules):
    return [m for m in modules if importlib.util.find_spec(m) is None]


def has_modules(python, modules):
    probe = "import importlib.util, sys; sys.exit(any(importlib.util.find_spec(m) is None for m in sys.argv[1:]))"
    try:
        return subprocess.run([python, "-c", probe, *modules], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def ensure_modules(name, modules):
    """Returns when this Python has the modules (or when only help is asked for, which needs none);
    else runs the command again on a Python that has them, or ends with one line saying what is missing."""
    missing = missing_here(modules)
    if not missing:
        return
    if not os.environ.get(RERUN):
        # The same file may lack them here only for how it was started (python3 -S, a venv).
        for python in ("/usr/bin/python3", os.environ.get("SOILWEB_PYTHON")):
            if python and os.access(python, os.X_OK) and has_modules(python, modules):
                os.environ[RERUN] = "1"
                # That Python imports this very package, never another installation's.
                here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
                os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, (here, os.environ.get("PYTHONPATH"))))
                os.execv(python, [python, os.path.abspath(sys.argv[0]), *sys.argv[1:]])
    if "-h" in sys.argv[1:] or "--help" in sys.argv[1:]:
        return
    sys.exit(f"{name}: the Python at {sys.executable} has no module '{missing[0]}', nor has /usr/bin/python3 or "
             f"$SOILWEB_PYTHON: install it (Debian: apt install python3-pandas python3-scipy python3-matplotlib) "
             f"or set SOILWEB_PYTHON to a Python that has it")
