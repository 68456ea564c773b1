"""soilweb-sweep slurm: the sbatch commands of a prepared sweep, an array job over its runs (K runs per
task, each task making its runs' shares of the sweep's tables as they end) and a job that collects the sweep
once the array has ended (joining those shares), printed or submitted."""
import math
import os
import shlex
import shutil
import subprocess
import sys

from .config import fail, runs_text

HERE = os.path.dirname(os.path.abspath(__file__))


def array_script():
    """The array job's script, beside this module."""
    return os.path.join(HERE, "soilweb-array.sbatch")


def sweep_command():
    """How the collecting job runs soilweb-sweep: this Python and the command's own script."""
    script = os.path.abspath(sys.argv[0])
    if os.path.basename(script) == "soilweb-sweep":
        return [sys.executable, script]
    return [sys.executable, "-m", "soilweb.sweep"]


def commands(out, binary, runs_per_task, sbatch_options=()):
    """The two sbatch command lines: the array (its job id read by the second) and the collecting job."""
    out = os.path.abspath(out)
    try:
        with open(os.path.join(out, "jobs.txt")) as f:
            runs = sum(1 for line in f if line.strip())
    except FileNotFoundError:
        fail(f"{out} has no jobs.txt: run soilweb-sweep prepare first")
    if runs == 0:
        fail(f"every run of {out} is finished: nothing to submit (soilweb-sweep collect {out})")
    logs = os.path.join(out, "logs")
    tasks = math.ceil(runs / runs_per_task)
    python = os.path.dirname(os.path.dirname(HERE))
    # Each task makes its runs' shares of the sweep's tables with this Python and package.
    exports = (f"ALL,SWEEP={out},SOILWEB={binary},RUNS_PER_TASK={runs_per_task},SOILWEB_PYTHON={sys.executable},"
               f"PYTHONPATH={python}")
    array = ["sbatch", "--parsable", f"--array=1-{tasks}", f"--cpus-per-task={runs_per_task}",
             f"--output={logs}/slurm-%A_%a.out", f"--export={exports}", *sbatch_options, array_script()]
    collect = ["sbatch", "--parsable", "--job-name=soilweb-collect", "--dependency=afterany:JOBID",
               f"--output={logs}/collect-%j.out", f"--export=ALL,PYTHONPATH={python}",
               "--wrap", shlex.join(sweep_command() + ["collect", out])]
    return logs, runs, tasks, array, collect


def slurm(out, binary, runs_per_task, submit, sbatch_options=()):
    if runs_per_task < 1:
        fail("--runs-per-task must be at least 1")
    logs, runs, tasks, array, collect = commands(out, binary, runs_per_task, sbatch_options)
    os.makedirs(logs, exist_ok=True)
    said = f"# {runs_text(runs)} in {tasks} array task{'s' if tasks > 1 else ''} of {runs_per_task}; logs in {logs}"
    if not submit:
        print(said)
        print("jobid=$(" + shlex.join(array) + ")")
        print(shlex.join(collect).replace("afterany:JOBID", "afterany:$jobid"))
        return
    if shutil.which("sbatch") is None:
        fail("sbatch is not on the PATH: submit from a Slurm login node, or drop --submit and copy the commands")
    job = submitted(array)
    collector = submitted([word.replace("afterany:JOBID", f"afterany:{job}") for word in collect])
    print(f"{said}; submitted array job {job} and collecting job {collector}")


def submitted(command):
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"sbatch refused the job: {done.stderr.strip() or done.returncode}")
    return done.stdout.strip().split(";")[0]
