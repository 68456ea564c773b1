"""What the tests of the Python package, the scripts and the R loader share: where things are,
a tiny configuration, and running a command in a folder."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BINARY = os.environ.get("SOILWEB_BINARY", os.path.join(ROOT, "build", "soilweb"))
SWEEP = os.path.join(ROOT, "scripts", "soilweb-sweep")
PLOT = os.path.join(ROOT, "scripts", "soilweb-plot")
CALIBRATE = os.path.join(ROOT, "scripts", "soilweb-calibrate")
# The scripts run with `env python3`: the Python running these tests, which has their modules.
os.environ["PATH"] = os.path.dirname(sys.executable) + os.pathsep + os.environ.get("PATH", "")
# R's library(soilweb) runs this tree's commands, and loads the package as ctest installed it from this
# tree (SOILWEB_R_LIBRARY); a test run by hand installs it into a folder of its own first.
os.environ.update(SOILWEB_BINARY=BINARY, SOILWEB_SWEEP=SWEEP, SOILWEB_CALIBRATE=CALIBRATE)


def r_library():
    library = os.environ.get("SOILWEB_R_LIBRARY")
    if not library:
        library = tempfile.mkdtemp(prefix="soilweb-r-library-")
        subprocess.run(["R", "CMD", "INSTALL", "--no-test-load", "-l", library, os.path.join(ROOT, "R", "soilweb")],
                       check=True, capture_output=True)
        os.environ["SOILWEB_R_LIBRARY"] = library
    return library


if shutil.which("R"):
    os.environ["R_LIBS"] = os.pathsep.join(filter(None, (r_library(), os.environ.get("R_LIBS"))))


def tiny_config(days=3):
    with open(os.path.join(ROOT, "examples", "run_params")) as f:
        config = json.load(f)
    config["simulation"].update(days=days, worldLength=6)
    config["world"]["life"]["animals"][0]["initialPopulation"] = 30
    config["world"]["life"]["animals"][1]["initialPopulation"] = 5
    return config


def wait_for_lines(path, lines):
    """Waits until a file that grows line by line holds at least lines lines."""
    for _ in range(20000):
        if os.path.exists(path):
            with open(path) as f:
                if f.read().count("\n") >= lines:
                    return
        time.sleep(0.001)


def run(*command, cwd, env=None):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, env=env)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")

sys.path.insert(0, os.path.join(ROOT, "python"))


def run_config(folder, config):
    """Runs config (a dict) as folder/run_params in folder, which is made; the finished process."""
    os.makedirs(folder)
    with open(os.path.join(folder, "run_params"), "w") as f:
        json.dump(config, f)
    return run(BINARY, cwd=folder)
