"""The command soilweb-calibrate (also python3 -m soilweb.calibrate). The modules that do the work are
imported once the command line is read, so that --help needs neither pandas nor numpy."""
import argparse
import os
import sys

from ..command import run_command
from ..sweep.cli import binary_beside, chosen_binary

DESCRIPTION = """Fits soilweb's parameters to observed data by approximate Bayesian computation (ABC-SMC with an
adaptive tolerance). Generation 0 draws its particles from the priors; each next one moves the
previous population's particles and keeps those whose runs come within a tolerance of the
observations, the tolerance shrinking each generation. See docs/calibration.md."""

RUN = """Calibrates BASE_RUN_PARAMS's keys named in PRIORS_JSON to the OBSERVED table in the folder OUT.
Writes OUT/calibration.json (inputs, their checksums, settings, master seed), OUT/tables/particles.tsv
(every generation's particles), generations.tsv and posterior.tsv (the last population). Running the
same command on OUT again carries a stopped calibration on, with the same results.

PRIORS_JSON maps key paths to {"min": a, "max": b} (uniform; add "scale": "log" for log-uniform) or
{"mean": m, "sd": s} (normal, truncated to the key's range). OBSERVED is a tab- or comma-separated
table with a day column, summary columns (PREY_ACTIVE or prey_active, ...) and optionally a series
column for several observed replicates; missing values are empty or NA."""


def add_run_options(p, default_binary):
    p.add_argument("base", metavar="BASE_RUN_PARAMS", help="the base run_params")
    p.add_argument("priors", metavar="PRIORS_JSON", help="the priors of the keys to fit")
    p.add_argument("observed", metavar="OBSERVED", help="the observed table (tsv or csv)")
    p.add_argument("out", metavar="OUT", help="the calibration's folder: a new one, or one to carry on")
    p.add_argument("--population", type=int, default=200, metavar="N", help="particles per generation (default 200)")
    p.add_argument("--replicates", type=int, default=1, metavar="R",
                   help="runs per particle, their mean compared with the observations (default 1)")
    p.add_argument("--alpha", type=float, default=0.5, metavar="Q",
                   help="each tolerance is this quantile of the previous generation's distances (default 0.5)")
    p.add_argument("--generations", type=int, metavar="G", help="stop after G generations")
    p.add_argument("--min-tolerance", type=float, metavar="E", help="stop once a generation's tolerance is at most E")
    p.add_argument("--min-acceptance", type=float, default=0.02, metavar="A",
                   help="stop once a generation accepts fewer than this share of its proposals (default 0.02)")
    p.add_argument("--max-runs", type=int, metavar="B", help="stop once the generations have used B runs")
    p.add_argument("--max-wall", type=float, metavar="SECONDS", help="stop after a batch that ends past this time")
    p.add_argument("--seed", type=int, metavar="MASTER", help="master seed (default: drawn and recorded)")
    p.add_argument("--target", action="append", default=[], metavar="OUTCOME=VALUE",
                   help="a scalar target (repeatable), as soilweb-sweep analyse names outcomes: "
                        "predators:died_out=120, PREY_ACTIVE:mean:50-100=180, genetic:body_size:prey=0.21")
    p.add_argument("--scale", action="append", default=[], metavar="COLUMN=K",
                   help="model value times K is the observed unit (repeatable), e.g. PREY_ACTIVE=0.04 for "
                        "densities per area when a run's ring is 25 area units")
    p.add_argument("--weight", action="append", default=[], metavar="COLUMN=W",
                   help="weight of a column or target in the distance (repeatable; default 1)")
    p.add_argument("--transform", action="append", default=[], metavar="COLUMN=HOW",
                   help="log1p or none (repeatable; default log1p for counts, none for the rest)")
    p.add_argument("--truth", action="append", default=[], metavar="KEY=VALUE",
                   help="a key's true value, when known (pseudo-observed data): drawn in the figures")
    p.add_argument("--jobs", type=int, default=os.cpu_count() or 1, metavar="N",
                   help="runs at a time (default: the number of processors); on each host with --hosts")
    p.add_argument("--hosts", metavar="FILE", help="spread the runs over these machines, as soilweb-sweep does")
    p.add_argument("--binary", default=default_binary, metavar="PATH", help="the soilweb binary")
    p.add_argument("--lenient", action="store_true", help="run configurations soilweb warns about")
    p.add_argument("--keep-runs", action="store_true", help="keep each run's folder (removed once reduced)")
    p.add_argument("--srun", action="store_true", help=argparse.SUPPRESS)  # inside a Slurm allocation


def main():
    parser = argparse.ArgumentParser(prog="soilweb-calibrate", description=DESCRIPTION,
                                     epilog="Each command has its own --help, e.g. soilweb-calibrate run --help.")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    default_binary = binary_beside()
    p = sub.add_parser("run", help="calibrate, or carry a stopped calibration on", description=RUN,
                       formatter_class=argparse.RawDescriptionHelpFormatter)
    add_run_options(p, default_binary)
    p = sub.add_parser("plot", help="the calibration's figures and its posterior predictive check",
                       description="Draws OUT/figures: the posterior marginals over the priors' ranges, pairs of "
                                   "up to 5 keys, the tolerance and acceptance by generation, and the posterior "
                                   "predictive check: PREDICT runs at posterior draws, their median and 50 and 90 "
                                   "% bands of each observed column against the observed points (its runs' "
                                   "summaries in OUT/tables/predictive.tsv).")
    p.add_argument("out", metavar="OUT", help="the calibration's folder")
    p.add_argument("--predict", type=int, default=40, metavar="M",
                   help="runs of the posterior predictive check (default 40; 0: none)")
    p.add_argument("--truth", action="append", default=[], metavar="KEY=VALUE",
                   help="a key's true value, drawn on its marginal (default: the values the run recorded)")
    p.add_argument("--jobs", type=int, default=os.cpu_count() or 1, metavar="N", help="runs at a time")
    p.add_argument("--binary", default=default_binary, metavar="PATH", help="the soilweb binary")
    p = sub.add_parser("slurm", help="print (or submit) the Slurm job that runs the calibration in one allocation",
                       description="Prints the sbatch command of a job running this calibration in one allocation "
                                   "of TASKS tasks: the driver runs on the first node and starts each run with srun "
                                   "on the allocation's cores. With --submit, submits it. Carry a stopped one on "
                                   "by submitting it again.")
    add_run_options(p, default_binary)
    p.add_argument("--tasks", type=int, default=16, metavar="N", help="tasks (cores) of the allocation (default 16)")
    p.add_argument("--sbatch", action="append", default=[], metavar="OPTION",
                   help="an option added to the sbatch line (repeatable), e.g. --sbatch=--time=12:00:00")
    p.add_argument("--submit", action="store_true", help="submit the job instead of printing it")
    args = parser.parse_args()
    if hasattr(args, "binary"):
        args.binary = chosen_binary(args.binary)
    if args.command == "plot":
        from .plot import plot
        plot(args.out, args.predict, args.truth, args.jobs, os.path.abspath(args.binary))
        return
    if args.command == "slurm":
        from .slurm import slurm
        slurm(args)
        return
    from .driver import CalibrationRun
    if CalibrationRun(args).run() != 0:
        sys.exit(1)


def run():
    run_command("soilweb-calibrate", main)
