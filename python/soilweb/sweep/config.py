"""The configurations of a sweep's runs: what soilweb reads (asked of the binary), the grid's keys
resolved in the base configuration, each run's configuration, and their check with soilweb --check."""
import concurrent.futures
import difflib
import json
import os
import re
import stat
import subprocess
import sys
import tempfile


from ..command import fail
from ..safe import Unreadable, read_json


def runs_text(count, what="run"):
    """'1 run', '3 runs', '1 finished run', ..."""
    return f"{count} {what}" + ("" if count == 1 else "s")


# Keys the sweep sets in every run itself.
SWEEP_KEYS = ("simulation.seed", "simulation.outputs.simulationName")


def load_json(path, what):
    """A JSON file given on the command line (a link to one is followed), which must be a regular file (a FIFO
    or a device is never opened) of at most MOST_READ bytes."""
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            fail(f"cannot read the {what} {path}: it is not a regular file")
        return read_json(os.path.realpath(path), what)
    except OSError as e:
        fail(f"cannot read the {what} {path}: {e.strerror or e}")
    except Unreadable as e:
        fail(str(e).replace(os.path.realpath(path), path))


class Keys:
    """What soilweb reads, asked of the binary itself: path -> {"type", "required", "meaning"}."""

    def __init__(self, binary):
        done = subprocess.run([binary, "--list-keys"], capture_output=True, text=True)
        if done.returncode != 0:
            fail(f"{binary} --list-keys failed: {done.stderr.strip() or done.returncode}")
        self.known = {k["path"]: k for k in json.loads(done.stdout)}

    def info(self, path):
        """What soilweb says of a dotted path; a species index reads as the list's elements."""
        return self.known.get(re.sub(r"\.[0-9]+(?=\.|$)", "[]", path), {})

    def reads(self, path):
        """Whether soilweb reads the key at path: a key of its table, or an element of a list it reads
        (simulation.temperatureSeries.2.1)."""
        parts = path.split(".")
        while parts:
            if self.info(".".join(parts)):
                return True
            if not parts[-1].isdigit():
                return False
            parts.pop()
        return False

    def nearest(self, path):
        """The key soilweb reads that path most likely meant, or None."""
        normal = re.sub(r"\.[0-9]+(?=\.|$)", "[]", path)
        near = difflib.get_close_matches(normal, list(self.known), n=1, cutoff=0.8)
        return near[0] if near else None

    def is_whole_number(self, path):
        """Keys soilweb reads as whole numbers: sampled values of these are whole too."""
        return "integer" in self.info(path).get("type", "")


def check_grid_key(path, keys):
    """Refuses a grid key that soilweb does not read (a comment key, a misspelt one), with the key meant."""
    if any(part.startswith("//") for part in path.split(".")):
        fail(f"grid key '{path}' is a comment: soilweb does not read it, so sweeping it would change nothing")
    if not keys.reads(path):
        meant = keys.nearest(path)
        fail(f"grid key '{path}' is not a key soilweb reads" + (f"; did you mean '{meant}'?" if meant else
                                                                 " (see soilweb --list-keys)"))


def resolve(document, path, keys):
    """The container and last key of a dotted path that exists in document (or an optional simulation key
    soilweb knows, to be added), or a one-line error."""
    node, parts, walked = document, path.split("."), []
    for k, part in enumerate(parts):
        last = k == len(parts) - 1
        if isinstance(node, list):
            if not part.isdigit():
                fail(f"grid key '{path}': '{'.'.join(walked)}' is a list; give an element's index, not '{part}'")
            if int(part) >= len(node):
                fail(f"grid key '{path}': '{'.'.join(walked)}' has {len(node)} elements (indices from 0)")
            part = int(part)
        elif not isinstance(node, dict) or part not in node:
            optional = keys.info(path).get("required") is False and path.startswith("simulation.")
            if optional and isinstance(node, dict) and last:
                return node, part
            near = difflib.get_close_matches(part, list(node) if isinstance(node, dict) else [], n=1, cutoff=0.8)
            meant = ".".join(walked + [near[0]]) if near else None
            fail(f"grid key '{path}' is not in the base configuration" +
                 (f"; did you mean '{meant}'?" if meant else " (misspelt?)"))
        if last:
            return node, part
        node = node[part]
        walked.append(str(part))


def set_path(document, path, value, keys):
    node, key = resolve(document, path, keys)
    node[key] = value


class RunConfigs:
    """The configurations of a sweep's runs, as the JSON text of each: the base with the run's parameters, seed
    and name. Every run sets the same keys, so one working copy of the base serves them all, each run's values
    written over the last's."""

    def __init__(self, base, keys):
        self.work = json.loads(json.dumps(base))
        self.keys = keys

    def text(self, run):
        for key, value in run["parameters"].items():
            set_path(self.work, key, value, self.keys)
        set_path(self.work, "simulation.seed", run["seed"], self.keys)
        set_path(self.work, "simulation.outputs.simulationName", run["run"], self.keys)
        return json.dumps(self.work)


def check_configs(binary, runs, lenient, command="soilweb-sweep", what="sweep"):
    """Checks each run's configuration with soilweb --check; refuses the sweep on an error, or on a
    warning unless lenient, naming run, key and value. runs: (run name, the key it shares with the runs whose
    configurations differ from it only in seed and name, a function giving its configuration's JSON text)."""
    def check(item):
        name, text = item
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, "run_params")
            with open(path, "w") as f:
                f.write(text)
            done = subprocess.run([binary, "--check", path], capture_output=True, text=True)
        prefix = f"soilweb: {path}: "
        lines = [line[len(prefix):] if line.startswith(prefix) else line for line in done.stderr.splitlines()]
        return name, done.returncode, lines

    # Replicates differ only in their seed and name: each configuration is checked once, as the run of the
    # longest name among those sharing it, and what is said of that run is said of each of them.
    alike = {}
    for name, key, text in runs:
        alike.setdefault(key, []).append((name, text))
    checked = [max(group, key=lambda item: (len(item[0]), item[0])) for group in alike.values()]
    checked = [(name, text()) for name, text in checked]
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 1) as pool:
        said = dict((name, (status, lines)) for name, status, lines in pool.map(check, checked))
    results = []
    for group, (shown, _) in zip(alike.values(), checked):
        status, lines = said[shown]
        results += [(name, status, [line.replace(shown, name) for line in lines]) for name, _ in group]
    order = {name: k for k, (name, _, _) in enumerate(runs)}
    results.sort(key=lambda result: order[result[0]])
    errors = [(name, line) for name, status, lines in results if status != 0
              for line in lines if not line.startswith("warning: ")] or \
             [(name, f"soilweb --check exited with {status}") for name, status, _ in results if status != 0]
    warned = [(name, line[len("warning: "):]) for name, _, lines in results for line in lines
              if line.startswith("warning: ")]
    problems = errors or ([] if lenient else warned)
    if not problems:
        return
    for run, line in problems[:20]:
        print(f"{command}: {run}: {line}", file=sys.stderr)
    if len(problems) > 20:
        print(f"{command}: ... and {len(problems) - 20} more", file=sys.stderr)
    runs = len({run for run, _ in problems})
    whose = "1 run's configuration" if runs == 1 else f"{runs} runs' configurations"
    fail(f"the {what} was not started: {whose} " +
         (("holds" if runs == 1 else "hold") + " errors" if errors else
          ("has" if runs == 1 else "have") + " warnings (pass --lenient to run them anyway)"))
