"""Runs and sweeps from Python: soilweb.run(...) runs the binary and hands back the loaded run,
soilweb.sweep(...) runs a sweep and hands back the loaded sweep.

    import soilweb
    run = soilweb.run("examples/run_params", seed=7, set={"simulation.days": 50})
    run["summary"].tail()
    again = soilweb.run(run)                      # the same run again, from its record
    sweep = soilweb.sweep("examples/run_params", {"simulation.temperature": [15, 25]}, replicates=3)

A failure raises SoilwebError, carrying soilweb's own message and its exit status.
"""
import codecs
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from .binary import HOW_TO_GET, PACKAGE, found
from .loader import Run, read_run
from .stacked import read_sweep


class SoilwebError(Exception):
    """soilweb (or soilweb-sweep) refused or failed: message is its one line, status its exit status,
    stderr all it wrote there."""

    def __init__(self, message, status, stderr=""):
        super().__init__(f"{message} (exit status {status})")
        self.message, self.status, self.stderr = message, status, stderr


def find_binary(binary=None):
    """The soilweb to run: the one given, else the first found of binary.candidates()."""
    if binary:
        if os.path.isfile(binary) and os.access(binary, os.X_OK):
            return os.path.normpath(os.path.abspath(binary))
        raise SoilwebError(f"no soilweb binary at {binary}", 1)
    path = found()
    if path is None:
        raise SoilwebError(f"no soilweb binary: {HOW_TO_GET}, or give binary=", 1)
    return path


def _configuration_of(config):
    """(a configuration dict, or None) and (a path, or None) of what run() was given: a dict, a path, or a
    loaded run or its record to repeat."""
    if isinstance(config, Run):
        config = config.record
    if isinstance(config, dict) and "configuration" in config and "simulation" not in config:
        return config["configuration"], None  # a record: its configuration holds the seed it ran with
    if isinstance(config, dict):
        return config, None
    if isinstance(config, (str, os.PathLike)):
        return None, os.fspath(config)
    raise TypeError("config must be a dict, a path, or a loaded run (or its record) to repeat")


def _option_arguments(options):
    """Keyword options as soilweb's: overwrite=True -> --overwrite, checkpoint_every=5 -> --checkpoint-every 5."""
    arguments = []
    for name, value in options.items():
        flag = "--" + name.replace("_", "-")
        if value is True:
            arguments.append(flag)
        elif value not in (None, False):
            arguments += [flag, str(value)]
    return arguments


def _settings(settings):
    arguments = []
    for key, value in (settings or {}).items():
        arguments += ["--set", f"{key}={value if isinstance(value, str) else json.dumps(value)}"]
    return arguments


def _message_of(stderr):
    """soilweb's one line about what went wrong: the first line that is neither a warning nor a note."""
    lines = [line.rsplit("\r", 1)[-1] for line in stderr.splitlines()]
    lines = [line for line in lines if line.strip()]
    for line in lines:
        if ": warning: " not in line and ": note: " not in line:
            return line
    return lines[-1] if lines else "soilweb ended without a word"


class _PlainProgress:
    """soilweb's standard error for a reader that is not a terminal (a notebook, a log file): every message
    line as it is, and of the progress line, which a terminal rewrites in place, one plain line at each tenth
    of the days and at the last."""
    REWRITE = "\r\x1b[K"

    def __init__(self):
        self.pending, self.shown = "", None
        self.decoder = codecs.getincrementaldecoder("utf-8")(errors="replace")

    def feed(self, chunk, final=False):
        self.pending += self.decoder.decode(chunk, final)
        out = []
        while self.REWRITE in self.pending:
            head, self.pending = self.pending.split(self.REWRITE, 1)
            out.append(self._segment(head))
        if final:
            out.append(self._segment(self.pending))
            self.pending = ""
        elif "\n" in self.pending:  # whole message lines pass at once
            done, self.pending = self.pending.rsplit("\n", 1)
            out.append(done + "\n")
        return "".join(out)

    def _segment(self, text):
        lines, _, last = text.rpartition("\n")
        shown = lines + "\n" if lines else ""
        day = re.match(r"soilweb: day (\d+) of (\d+)", last)
        if day:
            today, final = int(day.group(1)), int(day.group(2))
            tenth = today * 10 // max(final, 1)
            if tenth != self.shown or today == final:
                self.shown = tenth
                shown += last + "\n"
        elif last and not last.startswith("soilweb: writing "):
            shown += last
        return shown


def _run_streaming(command, progress, env=None, cwd=None):
    """Runs command; standard error is passed on as it comes when progress (plainly, when it is not a
    terminal), and kept. Returns (status, stdout, stderr)."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=cwd)
    out = []
    reader = threading.Thread(target=lambda: out.append(process.stdout.read()))
    reader.start()
    err = bytearray()
    plain = None if sys.stderr.isatty() else _PlainProgress()
    try:
        while True:
            chunk = os.read(process.stderr.fileno(), 4096)
            if plain is not None and progress:
                sys.stderr.write(plain.feed(chunk, final=not chunk))
                sys.stderr.flush()
            if not chunk:
                break
            err += chunk
            if progress and plain is None:
                sys.stderr.write(chunk.decode(errors="replace"))
                sys.stderr.flush()
        status = process.wait()
    except KeyboardInterrupt:  # the run stops after its day, with a checkpoint
        process.terminate()
        process.wait()
        raise
    finally:
        reader.join()
        process.stderr.close()
        process.stdout.close()
    return status, out[0].decode(errors="replace") if out else "", err.decode(errors="replace")


def _results_folder(record_path_file):
    """The run's folder, from the path of its record that soilweb wrote (--record-path): never from
    what it printed, which a run's name could forge."""
    try:
        with open(record_path_file, "rb") as f:
            record = os.fsdecode(f.read())
    except OSError:
        return None
    return os.path.dirname(os.path.dirname(record)) if record else None


def _run_package_command(command, progress):
    """Runs one of the package's commands (python -m soilweb.X) on this very package, whatever the PYTHONPATH."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [os.path.dirname(PACKAGE),
                                                                     os.environ.get("PYTHONPATH")])))
    return _run_streaming(command, progress, env)


def run(config, *, seed=None, set=None, folder=None, progress=True, binary=None, **options):
    """Runs soilweb on config (a dict, a path to a run_params, or a loaded run or its record, which repeats
    that run) and returns the loaded run (soilweb.Run).

    seed: overrides simulation.seed; set: {dotted key: value}, as --set; folder: where the run's folder goes
    (--output-dir; default the working directory); progress: pass soilweb's progress line and messages on to
    standard error as they come; binary: the soilweb to run (see find_binary). Other keywords are soilweb's
    options: overwrite=True, strict=True, checkpoint_every=10, resume="FOLDER", ...
    Raises SoilwebError (message, status) when soilweb refuses the configuration or the run fails."""
    configuration, path = _configuration_of(config)
    command = [find_binary(binary)]
    written = None
    told = tempfile.mkdtemp(prefix="soilweb-record-")
    record_path_file = os.path.join(told, "record-path")
    if configuration is not None:  # as run_params, so that soilweb's messages name it so
        written = tempfile.mkdtemp(prefix="soilweb-run-")
        path = os.path.join(written, "run_params")
        with open(path, "w") as f:
            json.dump(configuration, f, indent=2)
    try:
        # A written configuration is run in its own folder as ./run_params, so that soilweb's
        # messages name it so; the run's folder still goes where it would.
        command.append("run_params" if written else path)
        if seed is not None:
            command += ["--seed", str(seed)]
        command += _settings(set)
        if folder is not None:
            os.makedirs(folder, exist_ok=True)
        if options.get("resume"):  # a stopped run's folder: its run goes on where it is
            options["resume"] = os.path.abspath(os.fspath(options["resume"]))
        elif folder is not None or written:
            command += ["--output-dir", os.path.abspath(os.fspath(folder if folder is not None else "."))]
        command += _option_arguments(options)
        command += ["--record-path", record_path_file]
        command.append("--progress" if progress else "--no-progress")
        status, _, stderr = _run_streaming(command, progress, cwd=written)
        results = _results_folder(record_path_file)
    finally:
        if written:
            shutil.rmtree(written)
        shutil.rmtree(told)
    if status != 0:
        raise SoilwebError(_message_of(stderr), status, stderr)
    if results is None:
        raise SoilwebError("soilweb ended without saying where its results are", status, stderr)
    return read_run(results)


def sweep(base, grid, *, out=None, design="grid", replicates=1, jobs=None, seed=None, samples=None, levels=None,
          lenient=False, progress=True, binary=None):
    """Runs a sweep as soilweb-sweep run does and returns the loaded sweep (soilweb.Sweep).

    base: the base configuration (a dict, a path, or a loaded run or its record); grid: {dotted key: list of values} (or {key: {"min": a,
    "max": b}} with design "lhs", "sobol", "morris" or "saltelli"), a dict or a path; out: the sweep's folder
    (default: sweep-DATE-TIME in the working directory; an earlier sweep's folder resumes it); replicates,
    jobs, seed (the master seed), samples, levels and lenient as soilweb-sweep's options.
    Raises SoilwebError when the sweep is refused or any of its runs failed (its .sweep is then the loaded
    sweep, as far as it got)."""
    out = os.fspath(out) if out is not None else time.strftime("sweep-%Y%m%d-%H%M%S")
    written = []

    def as_file(value, name):
        if isinstance(value, (str, os.PathLike)):
            return os.fspath(value)
        if name == "base":
            value, _ = _configuration_of(value)  # a loaded run, or its record, as the base too
        handle, path = tempfile.mkstemp(prefix=f"soilweb-{name}-", suffix=".json")
        with os.fdopen(handle, "w") as f:
            json.dump(value, f, indent=2)
        written.append(path)
        return path

    try:
        command = [sys.executable, "-m", "soilweb.sweep", "run", as_file(base, "base"), as_file(grid, "grid"), out,
                   "--binary", find_binary(binary), "--replicates", str(replicates), "--design", design]
        for flag, value in (("--jobs", jobs), ("--seed", seed), ("--samples", samples), ("--levels", levels)):
            if value is not None:
                command += [flag, str(value)]
        if lenient:
            command.append("--lenient")
        status, _, stderr = _run_package_command(command, progress)
    finally:
        for path in written:
            os.remove(path)
    if status != 0:
        error = SoilwebError(_message_of(stderr), status, stderr)
        error.sweep = read_sweep(out) if os.path.exists(os.path.join(out, "sweep.json")) else None
        raise error
    return read_sweep(out)


def calibrate(base, priors, observed, *, population=200, generations=None, tolerance=None, replicates=1, jobs=None,
              seed=None, out=None, targets=None, scale=None, weight=None, transform=None, truth=None, progress=True,
              binary=None, **options):
    """Calibrates base's keys named in priors to the observed table as soilweb-calibrate run does, and returns the
    loaded calibration (soilweb.Calibration: .posterior, .generations, .particles, .predict(n)).

    base: a configuration (a dict, a path, or a loaded run); priors: {key: {"min", "max"[, "scale": "log"]} or
    {"mean", "sd"}}, a dict or a path; observed: a path or a DataFrame with a day column; generations, tolerance
    (the least tolerance), replicates, jobs, seed (the master seed): the stopping rules and settings; out: the
    calibration's folder (default calibration-DATE-TIME; an earlier one is carried on); targets, scale, weight,
    transform, truth: {name: value}. Other keywords are the command's options: alpha=0.3, max_runs=3000,
    min_acceptance=0.01, max_wall=900, keep_runs=True, hosts="FILE", lenient=True.
    Raises SoilwebError when the calibration is refused or stopped."""
    from .calibration import read_calibration
    out = os.fspath(out) if out is not None else time.strftime("calibration-%Y%m%d-%H%M%S")
    written = []

    def as_file(value, name, suffix=".json"):
        if isinstance(value, (str, os.PathLike)):
            return os.fspath(value)
        handle, path = tempfile.mkstemp(prefix=f"soilweb-{name}-", suffix=suffix)
        with os.fdopen(handle, "w") as f:
            if name == "observed":
                value.to_csv(f, sep="\t", index=False, na_rep="NA")
            else:
                json.dump(_configuration_of(value)[0] if name == "base" else value, f, indent=2)
        written.append(path)
        return path

    try:
        command = [sys.executable, "-m", "soilweb.calibrate", "run", as_file(base, "base"), as_file(priors, "priors"),
                   as_file(observed, "observed", ".tsv"), out, "--binary", find_binary(binary),
                   "--population", str(population), "--replicates", str(replicates)]
        for flag, value in (("--generations", generations), ("--min-tolerance", tolerance), ("--jobs", jobs),
                            ("--seed", seed)):
            if value is not None:
                command += [flag, str(value)]
        for flag, given in (("--target", targets), ("--scale", scale), ("--weight", weight),
                            ("--transform", transform), ("--truth", truth)):
            for name, value in (given or {}).items():
                command += [flag, f"{name}={value}"]
        command += _option_arguments(options)
        status, _, stderr = _run_package_command(command, progress)
    finally:
        for path in written:
            os.remove(path)
    if status != 0:
        raise SoilwebError(_message_of(stderr), status, stderr)
    return read_calibration(out)
