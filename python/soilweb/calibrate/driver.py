"""A calibration's folder and its course: the record of its inputs (calibration.json), the runs of each
batch run as a sweep's runs are (CAL/work, through GNU parallel, on --hosts or under srun), each run reduced
to its summaries as it ends (CAL/simulated) and its folder removed, and the tables written as each generation
closes (CAL/tables). What was simulated is all the state there is: running the same command again replays
the closed generations from it, picks up the runs stopped with a checkpoint, and carries on."""
import hashlib
import json
import math
import os
import shutil
import subprocess
import sys
import time

import numpy as np

from ..command import fail, usage
from ..safe import check_file, read_json
from ..sweep.config import Keys, RunConfigs, check_configs, load_json, runs_text
from ..sweep.folder import lock_sweep, make_run_folder, write_whole
from ..sweep.parts import FINISHED, RunFiles, first_error, outcome
from ..sweep.runner import ENDED, EndedLog, check_hosts, refuse_live_runs, run_all
from .distance import Distance, needs_genetics, targets_of
from .inputs import parse_assignments, read_observed, read_priors
from .smc import Sampler, sample
from .tables import write_tables

RECORD = "calibration.json"
FORMAT = 1
NAME = "soilweb-calibrate"
# What may differ between a calibration and the command that carries it on: its stopping rules and how its
# runs are run. Anything else would give other results.
RESULTS_SETTINGS = ("population", "alpha", "replicates", "files")


def sha256(text):
    return hashlib.sha256(text.encode() if isinstance(text, str) else text).hexdigest()


def run_name(generation, index, replicate):
    return f"g{generation}-p{index}-r{replicate}"


class Store:
    """The runs reduced so far, a JSON line each ({"run", "values"}, values null for a failed run) in
    CAL/simulated/generation-G.jsonl, appended as each run ends: all a calibration needs to be carried on."""

    def __init__(self, cal):
        self.folder = os.path.join(cal, "simulated")
        os.makedirs(self.folder, exist_ok=True)
        self.runs = {}
        for name in sorted(os.listdir(self.folder)):
            path = os.path.join(self.folder, name)
            if not name.endswith(".jsonl") or not check_file(path):
                continue
            with open(path, "rb") as f:
                data = f.read()
            for line in data.split(b"\n"):
                try:
                    entry = json.loads(line)
                    self.runs[entry["run"]] = entry["values"]
                except (ValueError, KeyError, TypeError):
                    continue  # a line cut short by a kill: that run is run again
            if data and not data.endswith(b"\n"):
                with open(path, "ab") as f:
                    f.write(b"\n")

    def add(self, generation, name, values):
        with open(os.path.join(self.folder, f"generation-{generation}.jsonl"), "a") as f:
            f.write(json.dumps({"run": name, "values": values}) + "\n")
        self.runs[name] = values


def read_summary(text):
    """A summary's columns as {column: {day: value}}."""
    lines = text.splitlines()
    header = lines[0].split("\t")
    columns = {name: {} for name in header[1:]}
    for line in lines[1:]:
        fields = line.split("\t")
        day = int(fields[0])
        for name, value in zip(header[1:], fields[1:]):
            columns[name][day] = float(value) if value not in ("", "NA") else math.nan
    return columns


class Reducer:
    """Follows a batch's runs as they end: each finished run is reduced to its summaries, stored, and its folder
    removed (unless kept); a failed run is stored as failed and its folder kept for a look; a run stopped with a
    checkpoint is left to carry on."""

    def __init__(self, calibration, out, progress):
        self.calibration, self.out, self.progress = calibration, out, progress
        self.log = EndedLog(os.path.join(out, ENDED))

    def reap(self):
        ended = self.log.ended()
        self.progress.count(ended)
        for name, _ in ended:
            self.calibration.reduce(name)
        self.progress.update()


class CalibrationRun:
    """One calibration command on its folder."""

    def __init__(self, args):
        self.args = args
        self.cal = args.out
        self.check_settings()
        self.binary = args.binary  # checked and made absolute by the command line
        self.keys = Keys(self.binary)
        self.base = load_json(args.base, "base configuration")
        simulation = self.base.get("simulation") if isinstance(self.base, dict) else None
        if not isinstance(simulation, dict) or not isinstance(simulation.get("outputs"), dict):
            fail(f"{args.base} has no simulation.outputs object: it is not a run_params")
        days = simulation.get("days")
        if not isinstance(days, int) or isinstance(days, bool):
            fail(f"{args.base}: simulation.days must be a whole number to compare with the observed days")
        self.observed = read_observed(args.observed, days)
        targets = targets_of(args.target)
        self.distance = Distance(self.observed, targets, parse_assignments(args.scale, "--scale"),
                                 parse_assignments(args.weight, "--weight"),
                                 parse_assignments(args.transform, "--transform", number=False))
        self.priors_document = load_json(args.priors, "priors")
        self.priors = read_priors(self.priors_document, self.base, self.keys)
        self.truth = parse_assignments(args.truth, "--truth")
        for key in self.truth:
            if key not in self.priors_document:
                fail(f"--truth {key}: not a key of the priors ({', '.join(self.priors_document)})")
        self.files = ["summary"] + (["genetics"] if needs_genetics(targets) else [])
        lean = json.loads(json.dumps(self.base))
        lean["simulation"]["outputs"]["files"] = self.files  # only what the distance reads
        self.configs = RunConfigs(lean, self.keys)
        self.work = os.path.join(self.cal, "work")

    def check_settings(self):
        a = self.args
        if a.population < 2:
            usage(f"--population must be at least 2, got {a.population}")
        if a.replicates < 1:
            usage(f"--replicates must be at least 1, got {a.replicates}")
        if not 0 < a.alpha < 1:
            usage(f"--alpha must be between 0 and 1 (the quantile of the distances kept), got {a.alpha:g}")
        if a.generations is not None and a.generations < 1:
            usage(f"--generations must be at least 1, got {a.generations}")
        if a.jobs < 1:
            usage(f"--jobs must be at least 1, got {a.jobs}")
        if a.max_runs is not None and a.max_runs < a.population * a.replicates:
            usage(f"--max-runs {a.max_runs} cannot fill one generation of {a.population} particles "
                 f"of {a.replicates} run{'s' if a.replicates > 1 else ''}")

    # --- the folder -------------------------------------------------------------------------------------------

    def record(self, seed):
        texts = {}
        for what in ("base", "priors", "observed"):
            with open(getattr(self.args, what), "rb") as f:
                texts[what] = f.read()
        a = self.args
        return {"format": FORMAT, "soilweb_version": self.version(), "master_seed": seed,
                "inputs": {what: {"path": os.path.abspath(getattr(a, what)), "sha256": sha256(data)}
                           for what, data in texts.items()},
                "base": self.base, "priors": self.priors_document, "observed": texts["observed"].decode(),
                "targets": {t.name: t.value for t in self.distance.targets},
                "distance": {"scale": parse_assignments(a.scale, "--scale"),
                             "weight": parse_assignments(a.weight, "--weight"),
                             "transform": self.distance.transform_of},
                "settings": {"population": a.population, "alpha": a.alpha, "replicates": a.replicates,
                             "files": self.files},
                "stopping": {"generations": a.generations, "min_tolerance": a.min_tolerance,
                             "min_acceptance": a.min_acceptance, "max_runs": a.max_runs, "max_wall": a.max_wall},
                "truth": self.truth}

    def version(self):
        done = subprocess.run([self.binary, "--version"], capture_output=True, text=True)
        return done.stdout.strip().split()[-1] if done.returncode == 0 and done.stdout.strip() else ""

    def open_folder(self):
        """Locks the folder and writes (or checks) its record; returns the master seed."""
        cal = self.cal
        lock = lock_sweep(cal) if os.path.isdir(cal) else None
        path = os.path.join(cal, RECORD)
        earlier = read_json(path, "calibration record") if check_file(path) else None
        # A folder of its own: new, or holding only the logs of its cluster job.
        if earlier is None and lock is not None and set(os.listdir(cal)) - {".lock", "logs"}:
            fail(f"{cal} exists and holds no calibration; choose a new folder")
        seed = self.args.seed
        if earlier is not None:
            if not isinstance(earlier, dict) or earlier.get("format") != FORMAT:
                fail(f"{path} is not a calibration record this soilweb-calibrate reads")
            if seed is not None and seed != earlier.get("master_seed"):
                fail(f"{cal} was calibrated with master seed {earlier.get('master_seed')}; give that or none")
            seed = earlier["master_seed"]
            now = self.record(seed)
            for part in ("base", "priors", "observed", "targets", "distance"):
                if now[part] != earlier.get(part):
                    fail(f"{cal} holds a calibration of another {part}; choose a new folder")
            for name in RESULTS_SETTINGS:
                if now["settings"][name] != earlier.get("settings", {}).get(name):
                    fail(f"{cal} was calibrated with {name} {earlier.get('settings', {}).get(name)}; give that "
                         f"to carry it on, or choose a new folder")
            refuse_live_runs(self.work) if os.path.isdir(self.work) else None
        elif seed is None:
            import random
            seed = random.SystemRandom().randrange(1, 2**31 - 1)
        self.check_corners()
        if lock is None:
            lock = lock_sweep(cal)
        write_whole(path, json.dumps(self.record(seed), indent=2) + "\n")
        os.makedirs(os.path.join(self.work, "runs"), exist_ok=True)
        self.lock = lock
        return seed

    def check_corners(self):
        """Every prior's lowest and highest values, each set together, checked by soilweb --check."""
        def corner(which):
            values = {}
            for prior in self.priors:
                low, high = prior.start, prior.end - (1e-9 if prior.whole and prior.kind != "normal" else 0)
                if prior.kind == "normal":
                    low, high = max(low, prior.mean - 3 * prior.sd), min(high, prior.mean + 3 * prior.sd)
                values[prior.name] = prior.value(low if which == "lowest" else high)
            run = {"run": "corner", "seed": 1, "parameters": values}
            return lambda: self.configs.text(run)
        check_configs(self.binary, [(f"the priors' {which} values", which, corner(which))
                                    for which in ("lowest", "highest")], self.args.lenient, NAME, "calibration")

    # --- running a batch --------------------------------------------------------------------------------------

    def simulate(self, proposals):
        """Each proposal's summaries (the mean of its replicates; NaN where a run failed), its runs run unless
        stored already."""
        names = {p.index: [run_name(p.generation, p.index, r + 1) for r in range(len(p.seeds))] for p in proposals}
        todo = []
        for p in proposals:
            for name, seed in zip(names[p.index], p.seeds):
                if name in self.store.runs:
                    continue
                if self.reduce(name):
                    continue
                run = {"run": name, "seed": seed, "parameters": dict(zip(self.keys_fitted, p.values))}
                make_run_folder(self.work, run, lambda run=run: self.configs.text(run))
                todo.append(name)
        if todo:
            write_whole(os.path.join(self.work, "jobs.txt"),
                        "".join(os.path.abspath(os.path.join(self.work, "runs", n)) + "\n" for n in todo))
            run_all(self.work, self.binary, self.args.jobs, self.args.hosts,
                    reaper=lambda out, progress: Reducer(self, out, progress), name=NAME, what="calibration",
                    launcher=self.launcher)
            failed_before = len(self.failed)
            for name in todo:
                if name not in self.store.runs and not self.reduce(name, ended=True):
                    fail(f"the run {name} did not end (see {self.work}/joblog.tsv); run the same command again "
                         "to carry the calibration on")
            if len(self.failed) - failed_before == len(todo):  # nothing to learn from: refused, not looped on
                name = self.failed[-1]
                said = first_error(os.path.join(self.work, "runs", name)) or "no word on why"
                fail(f"every run of the batch failed ({runs_text(len(todo))}), e.g. {name}: {said}")
            self.runs_done[proposals[0].generation] = self.runs_done.get(proposals[0].generation, 0) + len(todo)
        self.mark_time(proposals[0].generation)
        width = len(self.distance.needs) + len(self.distance.targets)
        simulated = {}
        for p in proposals:
            values = [self.store.runs[name] for name in names[p.index]]
            if any(v is None for v in values):
                simulated[p.index] = np.full(width, np.nan)
            else:
                simulated[p.index] = np.mean(np.array(values, dtype=float), axis=0)
        return simulated

    def reduce(self, name, ended=False):
        """Stores an ended run's summaries (or its failure); False when it has not ended (or stopped). ended: the
        batch is over, so a run with a non-zero exit status and no record (its binary could not start) failed."""
        run = {"run": name}
        said = outcome(self.work, run)
        ended = "failed" if ended and said["end"] == "not run" and said["status"] not in ("not run", "0") else \
            said["end"]
        folder = os.path.join(self.work, "runs", name)
        generation = int(name[1:name.index("-")])
        if ended in FINISHED:
            files = RunFiles(self.work, name)
            record = files.record()
            path = files.summary(record)
            if path is None:
                return False
            values = self.distance.reduce(read_summary(files.text(path)), record,
                                          lambda: read_run_tables(os.path.join(folder, name)))
            self.store.add(generation, name, [None if v != v else v for v in values])
            if not self.args.keep_runs:
                shutil.rmtree(folder, ignore_errors=True)
            return True
        if ended == "failed":
            self.store.add(generation, name, None)
            self.failed.append(name)
            return True
        return False

    # --- the course -------------------------------------------------------------------------------------------

    def mark_time(self, generation):
        now = time.monotonic()
        self.walls[generation] = self.walls.get(generation, 0.0) + now - self.mark
        self.mark = now
        write_whole(os.path.join(self.cal, "simulated", "progress.json"),
                    json.dumps({"wall_seconds": self.walls, "runs_done": self.runs_done}))

    def batch_size(self, generation, needed, rate, first):
        """Proposals of the next batch: enough to fill the generation at the acceptance seen so far, in whole
        rounds of the workers; none once a budget is spent. The run budget counts the runs each generation
        looked at, so a calibration stopped by it is the same whatever the workers."""
        a = self.args
        if a.max_wall is not None and time.monotonic() - self.started > a.max_wall:
            self.spent = "wall"
            return 0
        count = math.ceil(needed / max(rate, 1e-3) * (1 if rate >= 1 else 1.15))
        count = max(count, math.ceil(self.workers / a.replicates))
        count = math.ceil(count * a.replicates / self.workers) * self.workers // a.replicates or count
        count = min(count, needed * 50)
        if a.max_runs is not None:
            used = sum(p.consumed for p in self.sampler.populations) * a.replicates
            allowed = (a.max_runs - used) // a.replicates - first
            if allowed <= 0:
                self.spent = "runs"
                return 0
            count = min(count, allowed)
        return count

    def stop(self, sampler):
        population = sampler.populations[-1]
        self.mark_time(population.generation)
        write_tables(self.cal, sampler, self.walls)
        self.say(population)
        a = self.args
        if a.min_tolerance is not None and population.tolerance <= a.min_tolerance:
            return f"the tolerance reached {population.tolerance:.4g} (--min-tolerance {a.min_tolerance:g})"
        if a.generations is not None and len(sampler.populations) >= a.generations:
            return f"{a.generations} generations done (--generations)"
        if population.generation > 0 and population.acceptance() < a.min_acceptance:
            return (f"the acceptance fell to {population.acceptance():.3g} (below --min-acceptance "
                    f"{a.min_acceptance:g})")
        return None

    def say(self, population):
        p = population
        print(f"generation {p.generation}: tolerance {p.tolerance:.4g}, {len(p.proposals)} of "
              f"{runs_text(p.consumed, 'proposal')} accepted ({100 * p.acceptance():.1f} %), effective sample size "
              f"{p.ess():.1f}, {self.walls.get(p.generation, 0):.1f} s", flush=True)

    def run(self):
        seed = self.open_folder()
        self.store = Store(self.cal)
        self.failed, self.started, self.spent = [], time.monotonic(), None
        progress = os.path.join(self.cal, "simulated", "progress.json")
        stored = read_json(progress, "calibration progress") if check_file(progress) else {}
        self.walls = {int(g): s for g, s in stored.get("wall_seconds", {}).items()}
        self.runs_done = {int(g): n for g, n in stored.get("runs_done", {}).items()}
        self.mark = time.monotonic()
        self.keys_fitted = [p.name for p in self.priors]
        self.workers = self.args.jobs * (len(check_hosts(self.args.hosts)) if self.args.hosts else 1)
        self.launcher = ("srun", "--exclusive", "--nodes=1", "--ntasks=1", "--cpus-per-task=1") \
            if self.args.srun else ()
        self.sampler = Sampler(self.priors, self.distance, self.args.population, seed, self.args.alpha,
                               self.args.replicates)
        print(f"calibrating {len(self.priors)} key{'s' if len(self.priors) > 1 else ''} to "
              f"{len(self.observed.entries)} observed value{'s' if len(self.observed.entries) > 1 else ''}"
              f"{' and ' + str(len(self.distance.targets)) + ' targets' if self.distance.targets else ''} in "
              f"{self.cal} (master seed {seed})", flush=True)
        reason = sample(self.sampler, self.simulate, self.stop, self.batch_size)
        if reason == "budget":
            reason = f"the wall-time budget of {self.args.max_wall:g} s was spent (--max-wall)" \
                if self.spent == "wall" else f"the budget of {self.args.max_runs} runs was spent (--max-runs)"
        self.report(reason)
        self.lock.close()
        return 1 if self.failed else 0

    def report(self, reason):
        done = sum(self.runs_done.values())
        if not self.sampler.populations:
            fail(f"stopped before generation 0 was complete: {reason}")
        last = self.sampler.populations[-1]
        print(f"calibration stopped: {reason}; {runs_text(done)} run in all; the posterior (generation "
              f"{last.generation}, {len(last.proposals)} particles) is in {self.cal}/tables/posterior.tsv")
        for k, prior in enumerate(self.priors):
            values = np.array([p.values[k] for p in last.proposals], dtype=float)
            low, median, high = weighted_quantiles(values, last.weights, (0.05, 0.5, 0.95))
            print(f"  {prior.name}: median {median:.4g}, 90 % interval {low:.4g} to {high:.4g}")
        if self.failed:
            print(f"{NAME}: {runs_text(len(self.failed))} failed and counted as rejected, e.g. "
                  f"{self.work}/runs/{self.failed[0]} (see its errors.txt)", file=sys.stderr)


def read_run_tables(folder):
    from ..loader import read_run
    return read_run(folder)


def weighted_quantiles(values, weights, quantiles):
    """Quantiles of weighted values: where the cumulative weight, centred on each value, reaches q."""
    order = np.argsort(values, kind="stable")
    v, w = np.asarray(values, dtype=float)[order], np.asarray(weights, dtype=float)[order]
    cumulative = np.cumsum(w) - 0.5 * w
    cumulative /= np.sum(w)
    return [float(np.interp(q, cumulative, v)) for q in quantiles]


