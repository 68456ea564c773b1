"""The command soilweb-sweep (also python3 -m soilweb.sweep)."""
import argparse
import json
import os
import sys

from ..binary import HOW_TO_GET, found
from ..command import fail, run_command

# The help of analyse. The modules that do the work are imported once the command line is read,
# so that --help needs neither pandas nor numpy.
ANALYSE = """soilweb-sweep analyse: which parameters matter. Each outcome is one number per run, computed
from the run's tables; the sweep's design chooses the measure: partial rank correlations (grid,
lhs, sobol), Morris' elementary effects (morris) or Sobol indices (saltelli). Writes
SWEEP/tables/sensitivity.tsv (outcome, parameter, measure, value, low, high) and the figure
SWEEP/figures/sensitivity.png.

Outcomes:
  prey:died_out, predators:died_out, resource:died_out
        the day after which it was first found gone (the run's last day when it lasted)
  prey:persisted, ...     1 when it lasted to the run's end, else 0
  prey:quasi_extinct:K, predators:quasi_extinct:K
        the first day with fewer than K living adults once it had K (the run's last day when
        never); without :K, the first day no breeding pair is possible (fewer than two living)
  COLUMN:mean:FROM-TO     the mean of a summary column over the days FROM to TO
  genetic:TRAIT:SPECIES   the mean genetic value of a trait among the species' living on the
                          last day of the genetic statistics"""


# The result kinds a run may be asked to write (soilweb --schema's "kinds"), read without pandas.
with open(os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "schema.json")) as _schema:
    KINDS = [kind["name"] for kind in json.load(_schema)["kinds"]]


def result_kinds(text):
    """--files summary,genetics as the list simulation.outputs.files takes."""
    kinds = [kind.strip() for kind in text.split(",") if kind.strip()]
    unknown = [kind for kind in kinds if kind not in KINDS]
    if unknown:
        raise argparse.ArgumentTypeError(f"unknown result kind '{unknown[0]}'; choose from {', '.join(KINDS)}")
    if "summary" not in kinds:
        raise argparse.ArgumentTypeError("must list summary: every run writes its daily summary")
    return kinds


def binary_beside():
    """The soilweb that checks and runs the sweep by default: $SOILWEB_BINARY, else one beside the command
    (an installation's bin, the source tree's scripts/ next to build/), else as the package finds one;
    None when there is none."""
    here = os.path.dirname(os.path.abspath(sys.argv[0]))
    return found((os.path.join(here, "soilweb"), os.path.join(here, "..", "build", "soilweb")))


def chosen_binary(given):
    """--binary's path, made absolute; the command ends in one line when there is none."""
    if given is None:
        fail(f"no soilweb binary: {HOW_TO_GET}, or give --binary")
    binary = os.path.abspath(given)
    if not (os.path.isfile(binary) and os.access(binary, os.X_OK)):
        fail(f"no soilweb binary at {binary} (build it, or give --binary)")
    return binary


def main():
    parser = argparse.ArgumentParser(description="Replicates and parameter sweeps of soilweb.",
                                     epilog="Each command has its own --help, e.g. soilweb-sweep run --help.")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    said = {"run": ("prepare the sweep, run its runs in parallel and collect them",
                    "Prepares the sweep in OUT (one folder per parameter combination and replicate, each checked with "
                    "soilweb --check), runs them JOBS at a time with GNU parallel, then collects their results. Run "
                    "it again on the same OUT to resume a stopped or partly failed sweep."),
            "prepare": ("only prepare the sweep's folders and OUT/jobs.txt (for a cluster's job array)",
                        "Writes OUT/sweep.json, one folder per parameter combination and replicate under OUT/runs, "
                        "each checked with soilweb --check, and lists the runs still to do in OUT/jobs.txt."),
            "collect": ("gather the finished runs' results into OUT/summary.tsv and OUT/tables",
                        "Gathers every finished run's daily summary into OUT/summary.tsv and the sweep's tidy tables "
                        "into OUT/tables (runs.tsv, summary.tsv.gz, traits.tsv.gz); lists runs that failed or did "
                        "not finish in OUT/failed.tsv. Exit status 1 when any did. Each run is read once, as it "
                        "ends or at the first collect after; a collect of an unchanged sweep rewrites nothing.")}
    default_binary = binary_beside()
    for name in ("run", "prepare"):
        p = sub.add_parser(name, help=said[name][0], description=said[name][1])
        p.add_argument("base", metavar="BASE_RUN_PARAMS", help="the base run_params")
        p.add_argument("grid", metavar="GRID_JSON", help="JSON object: key path -> list of values (or -> range {\"min\": a, \"max\": b}, with "
                            "--design lhs, sobol, morris or saltelli)")
        p.add_argument("out", metavar="OUT", help="the sweep's folder: a new one, or an earlier sweep to resume")
        p.add_argument("--replicates", type=int, default=1, metavar="R",
                       help="runs per parameter combination, each with its own seed (default 1)")
        p.add_argument("--seed", type=int, metavar="MASTER", help="master seed (default: drawn and recorded)")
        p.add_argument("--design", choices=["grid", "lhs", "sobol", "morris", "saltelli"], default="grid",
                       help="every combination of the grid's lists; a Latin hypercube or scrambled Sobol sample "
                            "of its ranges; or a sensitivity design over them: Morris trajectories of elementary "
                            "effects, or Saltelli's matrices for first- and total-order Sobol indices")
        p.add_argument("--samples", type=int, metavar="N",
                       help="points of an lhs or sobol design; trajectories of a morris design (N (k + 1) runs); "
                            "base points of a saltelli design (N (k + 2) runs), for k keys")
        p.add_argument("--levels", type=int, default=4, metavar="P",
                       help="levels of the grid of a morris design, even (default 4)")
        p.add_argument("--binary", default=default_binary, metavar="PATH",
                       help="the soilweb binary that checks and runs the configurations (default: the soilweb "
                            "installed beside this script, else build/soilweb of the source tree)")
        p.add_argument("--lenient", action="store_true",
                       help="run configurations that soilweb warns about (they are refused otherwise)")
        p.add_argument("--files", type=result_kinds, metavar="KINDS",
                       help="the result kinds every run writes, comma-separated, e.g. summary,genetics: sets "
                            "simulation.outputs.files in each run (default: what the base configuration says); "
                            "kinds: " + ", ".join(KINDS))
        if name == "run":
            p.add_argument("--jobs", type=int, default=os.cpu_count() or 1, metavar="N",
                           help="runs at a time (default: the number of processors); on each host with --hosts")
            p.add_argument("--hosts", metavar="FILE",
                           help="spread the runs over the machines listed in FILE, one per line as GNU parallel's "
                                "--sshloginfile reads them (':' is this machine); each needs the sweep's folder "
                                "and the binary at the same paths, and ssh without a password (docs/sweeps.md)")
    p = sub.add_parser("collect", help=said["collect"][0], description=said["collect"][1])
    p.add_argument("out", metavar="OUT", help="the sweep's folder")
    p.add_argument("--jobs", type=int, default=os.cpu_count() or 1, metavar="N",
                   help="processes reading the runs not read yet (default: the number of processors)")
    # What a launcher calls as runs end (a Slurm array task): each run's share of the sweep's tables.
    p = sub.add_parser("parts")
    p.add_argument("out", metavar="OUT")
    p.add_argument("runs", nargs="*", metavar="RUN_FOLDER")
    p = sub.add_parser("slurm", help="print (or submit) the Slurm array of a prepared sweep and its collecting job",
                       description="Prints the sbatch commands of a sweep prepared with soilweb-sweep prepare: an "
                                   "array job running K runs per task (GNU parallel over the task's cores) with its "
                                   "logs in OUT/logs, and a job that collects the sweep once the array has ended "
                                   "(--dependency=afterany). With --submit, submits both.")
    p.add_argument("out", metavar="OUT", help="the sweep's folder, prepared")
    p.add_argument("--runs-per-task", type=int, default=1, metavar="K", help="runs per array task (default 1)")
    p.add_argument("--submit", action="store_true", help="submit the two jobs instead of printing them")
    p.add_argument("--binary", default=default_binary, metavar="PATH", help="the soilweb binary the runs use")
    p.add_argument("--sbatch", action="append", default=[], metavar="OPTION",
                   help="an option added to the array's sbatch line (repeatable), e.g. --sbatch=--time=12:00:00")
    p = sub.add_parser("analyse", help="measure which parameters matter to chosen outcomes",
                       description=ANALYSE, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("out", metavar="SWEEP", help="the sweep's folder, its runs finished")
    p.add_argument("--outcome", action="append", required=True, metavar="NAME",
                   help="an outcome (repeatable), e.g. predators:persisted, PREY_ACTIVE:mean:100-200, "
                        "genetic:body:prey")
    p.add_argument("--boot", type=int, default=1000, metavar="B", help="bootstrap draws of each interval (default 1000)")
    args = parser.parse_args()
    if args.command == "parts":
        from .parts import make_parts
        make_parts(args.out, args.runs)
        return
    from .collect import collect
    from .folder import prepare
    from .runner import check_hosts, run_all
    if args.command == "analyse":
        from .analyse import analyse
        analyse(args.out, args.outcome, args.boot)
        return
    if args.command == "slurm":
        from .slurm import slurm
        slurm(args.out, chosen_binary(args.binary), args.runs_per_task, args.submit, args.sbatch)
        return
    lock = None  # the sweep's folder, held while this command prepares, runs and collects it
    if args.command in ("run", "prepare"):
        binary = chosen_binary(args.binary)
        if args.replicates < 1:
            fail("--replicates must be at least 1")
        if args.command == "run" and args.hosts is not None:
            check_hosts(args.hosts)
        lock = prepare(args.base, args.grid, args.out, args.replicates, args.seed, args.design, args.samples,
                       binary, args.lenient, args.levels, args.files)
        if args.command == "run":
            run_all(args.out, binary, args.jobs, args.hosts)
    failed = args.command in ("run", "collect") and collect(args.out, max(1, args.jobs)) > 0
    if lock:
        lock.close()
    if failed:
        sys.exit(1)


def run():
    run_command("soilweb-sweep", main)
