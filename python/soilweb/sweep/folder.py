"""The sweep's folder: its record (sweep.json), one folder per run with its configuration, the
list of runs to do, the lock that keeps a second sweep out, and what each run left."""
import fcntl
import json
import os
import random
import shutil

from .. import records
from ..safe import check_file, check_folder, read_json
from .config import (SWEEP_KEYS, Keys, check_configs, check_grid_key, fail, load_json, resolve, RunConfigs,
                     runs_text)
from .design import SENSITIVITY, design_points
from .parts import FINISHED, outcome
from .runner import refuse_live_runs


def write_whole(path, data):
    """Writes a file (text or bytes) under a temporary name and renames it, so that it is whole or absent."""
    with open(path + ".partial", "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)
    os.replace(path + ".partial", path)


def make_run_folder(out, run, config):
    """Makes a run's folder, when missing, whole or not at all: built under a temporary name, then renamed.
    config: gives the run's configuration as JSON text."""
    folder = os.path.join(out, "runs", run["run"])
    if check_folder(folder):
        return
    partial = os.path.join(out, "runs", "." + run["run"] + ".partial")
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    # On one line: written for thousands of runs (the run's record holds it laid out).
    with open(os.path.join(partial, "run_params"), "w") as f:
        f.write(config() + "\n")
    os.rename(partial, folder)


def lock_sweep(out):
    """Keeps a second soilweb-sweep out of OUT (made when missing) while this one prepares or runs it."""
    os.makedirs(out, exist_ok=True)
    lock = open(os.path.join(out, ".lock"), "a+")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        lock.seek(0)
        holder = lock.read().strip()
        fail(f"{out} is in use by another soilweb-sweep" + (f" (pid {holder})" if holder else ""))
    lock.truncate(0)
    lock.write(f"{os.getpid()}\n")
    lock.flush()
    return lock  # held until the process ends


def prepare(base_path, grid_path, out, replicates, master_seed, design="grid", samples=None, binary=None,
            lenient=False, levels=4, files=None):
    """Writes the run folders still missing and lists the runs to do in OUT/jobs.txt.

    Every run to do is checked with soilweb --check before anything is written.
    On a folder that holds a sweep already, finished runs are kept, failed and
    unfinished ones are listed again, and a larger --replicates adds replicates
    whose seeds continue the master seed's sequence. files: the result kinds every run writes
    (simulation.outputs.files), or None for what the base configuration says."""
    known = Keys(binary)
    base = load_json(base_path, "base configuration")
    if files is not None:
        if not isinstance(base.get("simulation"), dict) or not isinstance(base["simulation"].get("outputs"), dict):
            fail(f"{base_path} has no simulation.outputs object to set the files of")
        base["simulation"]["outputs"]["files"] = files
    grid = load_json(grid_path, "grid")
    if not isinstance(grid, dict) or not grid:
        fail("the grid must be a JSON object of key path -> list of values, or -> range")
    for key in grid:
        if key in SWEEP_KEYS:
            fail(f"grid key '{key}' is set by the sweep itself (each run's seed is drawn from the master seed, "
                 "its name is its folder's); leave it out of the grid")
        resolve(base, key, known)
        check_grid_key(key, known)
    # A sweep's folder is locked before it is read; a new one only once its runs are checked.
    lock = lock_sweep(out) if os.path.isdir(out) else None
    if lock is not None:
        refuse_live_runs(out)
    sweep_file = os.path.join(out, "sweep.json")
    earlier = read_json(sweep_file, "sweep record") if check_file(sweep_file) else None
    if earlier is not None:
        records.check_sweep_record(earlier, sweep_file)
    if earlier is None and os.path.lexists(os.path.join(out, "runs")):
        fail(f"{out}/runs exists but {out}/sweep.json does not; choose a new folder")
    if earlier is not None:
        if earlier.get("grid") != grid or ("base" in earlier and earlier["base"] != base) or \
                earlier.get("design", "grid") != design or earlier.get("samples") != samples or \
                (design == "morris" and earlier.get("levels") != levels):
            fail(f"{out} holds a sweep of another base, grid or design; choose a new folder")
        if master_seed is not None and master_seed != earlier["master_seed"]:
            fail(f"{out} was swept with master seed {earlier['master_seed']}; give that or none")
        master_seed = earlier["master_seed"]
        replicates = max(replicates, earlier["replicates"])
    elif master_seed is None:
        master_seed = random.SystemRandom().randrange(1, 2**31 - 1)
    keys = list(grid)
    combinations, unit = design_points(grid, design, samples, master_seed, known, levels)
    # The points of a sensitivity design are its rows in order, whatever their values: each run
    # keeps the number of its point, and equal values stay different points.
    by_point = design in SENSITIVITY
    runs = list(earlier["runs"]) if earlier else []
    # Seeds are drawn in one sequence from the master seed; each sample is a
    # prefix of any larger one, so added runs never reuse a seed.
    seeds = random.Random(master_seed).sample(range(1, 2**31 - 1), len(combinations) * replicates)
    for point, values in enumerate(combinations):
        parameters = dict(zip(keys, values))
        have = sum(1 for r in runs if (r.get("point") == point if by_point else r["parameters"] == parameters))
        for _ in range(replicates - have):
            number = len(runs)
            runs.append({"run": f"run-{number + 1:04d}", "seed": seeds[number], "parameters": parameters})
            if by_point:
                runs[-1]["point"] = point
    todo = [r for r in runs if outcome(out, r)["end"] not in FINISHED]
    # Runs of the same parameters differ only in seed and name: each such configuration is checked once.
    configs = RunConfigs(base, known)
    check_configs(binary, [(r["run"], json.dumps(r["parameters"], sort_keys=True), lambda r=r: configs.text(r))
                           for r in todo], lenient)
    if lock is None:
        lock = lock_sweep(out)
        if os.path.exists(sweep_file):
            fail(f"another soilweb-sweep made a sweep in {out} meanwhile; choose a new folder")
    # The record first, then the folders: an interrupted prepare is completed by the next one.
    if not check_folder(os.path.join(out, "runs")):
        os.makedirs(os.path.join(out, "runs"))
    record = {"master_seed": master_seed, "replicates": replicates, "design": design, "samples": samples}
    if design == "morris":
        record["levels"] = levels
    if by_point:
        record["points"] = unit  # in the unit cube, in design order: what the analysis reads
    record.update(grid=grid, base=base, runs=runs)
    write_whole(sweep_file, json.dumps(record, indent=2))
    for r in runs:
        make_run_folder(out, r, lambda r=r: configs.text(r))
    # The wrapper of one run, for array tasks on a cluster (which cannot find it beside their script).
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "run_one.sh")) as f:
        write_whole(os.path.join(out, "run_one.sh"), f.read())
    write_whole(os.path.join(out, "jobs.txt"),
                "".join(os.path.abspath(os.path.join(out, "runs", r["run"])) + "\n" for r in todo))
    kept = len(runs) - len(todo)
    print(f"{runs_text(len(todo))} to do in {out}/runs, {runs_text(kept, 'finished run')} kept "
          f"(master seed {master_seed})")
    return lock  # held until the process ends
