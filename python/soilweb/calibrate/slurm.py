"""soilweb-calibrate slurm: the sbatch command of a calibration run as one job. The driver runs in the
allocation's first task and starts each run with srun, one core each, on the allocation's nodes; the folder must
be on a file system every node sees. Submitted again, the job carries a stopped calibration on."""
import os
import shlex
import shutil
import subprocess
import sys

from ..command import fail, usage

HERE = os.path.dirname(os.path.abspath(__file__))


def driver_command(args):
    """The command the job runs: this calibration, its paths absolute, --jobs the allocation's tasks."""
    script = os.path.abspath(sys.argv[0])
    command = [sys.executable, script] if os.path.basename(script) == "soilweb-calibrate" else \
        [sys.executable, "-m", "soilweb.calibrate"]
    command += ["run"] + [os.path.abspath(getattr(args, name)) for name in ("base", "priors", "observed", "out")]
    command += ["--population", str(args.population), "--replicates", str(args.replicates), "--alpha", str(args.alpha),
                "--min-acceptance", str(args.min_acceptance), "--binary", os.path.abspath(args.binary),
                "--jobs", str(args.tasks), "--srun"]
    for flag, value in (("--generations", args.generations), ("--min-tolerance", args.min_tolerance),
                        ("--max-runs", args.max_runs), ("--max-wall", args.max_wall), ("--seed", args.seed)):
        if value is not None:
            command += [flag, str(value)]
    for flag in ("target", "scale", "weight", "transform", "truth"):
        for item in getattr(args, flag):
            command += [f"--{flag}", item]
    command += [flag for flag, on in (("--lenient", args.lenient), ("--keep-runs", args.keep_runs)) if on]
    return command


def slurm(args):
    if args.tasks < 1:
        usage(f"--tasks must be at least 1, got {args.tasks}")
    out = os.path.abspath(args.out)
    logs = os.path.join(out, "logs")
    python = os.path.dirname(os.path.dirname(HERE))
    sbatch = ["sbatch", "--parsable", "--job-name=soilweb-calibrate", f"--ntasks={args.tasks}", "--cpus-per-task=1",
              f"--output={logs}/calibrate-%j.out", f"--export=ALL,PYTHONPATH={python}", *args.sbatch,
              "--wrap", shlex.join(driver_command(args))]
    os.makedirs(logs, exist_ok=True)
    if not args.submit:
        print(f"# the calibration in {out} as one job of {args.tasks} tasks; its log in {logs}")
        print(shlex.join(sbatch))
        return
    if shutil.which("sbatch") is None:
        fail("sbatch is not on the PATH: submit from a Slurm login node, or drop --submit and copy the command")
    done = subprocess.run(sbatch, capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"sbatch refused the job: {done.stderr.strip() or done.returncode}")
    print(f"submitted job {done.stdout.strip().split(';')[0]}: the calibration in {out}; its log in {logs}")
