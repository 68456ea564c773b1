"""Figures of a finished soilweb run, or of a sweep, and a report page to share.

usage: soilweb-plot RUN_FOLDER [--out DIR] [--day D] [--traits NAME,...] [--format png|pdf|svg] [--dpi N] [--report]
       soilweb-plot SWEEP_FOLDER [--out DIR] [--columns NAME,...] [--outcome NAME] [--traits NAME,...] [...]

RUN_FOLDER is the folder a run wrote (named after simulation.outputs.simulationName).
Writes into DIR (default RUN_FOLDER/plots), each as FORMAT (default png):
  dynamics            biomass; living prey and predators per life state; deaths of each kind (so far, or
                      per day as a 7-day mean when the run removes its dead); an early end is marked
  cells_biomass       biomass of each cell over the days (ring position x day)
  traits_day_D        distributions of chosen traits at the end of day D (default: the last day), per
                      species, split into eggs, juveniles and adults
  trait_evolution     mean and spread (one standard deviation) of the chosen traits' genetic values
                      (what the animals inherit) among the living over the days, per species, when the
                      run wrote its genetic statistics; otherwise the expressed traits, as below
  trait_expression    the same of the expressed traits among juveniles and adults (growth and the
                      day's tuning included), beside trait_evolution when that shows genetic values
  selection_response  the change of each mean genetic value since day 0, in sd of day 0
  food_web            who met and who ate whom among the species (founders and offspring apart)
Both layouts (daily files or tables), compressed runs (.gz files) and thinned runs (snapshotEvery,
snapshots) are read as they are, through the loader (soilweb.loader); a figure whose files the
run did not write is left out with a note.

SWEEP_FOLDER is a folder made by soilweb-sweep (it holds sweep.json). Writes into DIR (default
SWEEP_FOLDER/plots):
  sweep_dynamics      for each chosen summary column, the mean over replicates (n in the legend,
                      dotted where fewer than 3 still run) and their range (min to max) over the
                      days, one colour per parameter value; the day each replicate died out is
                      marked; the replicates still running
  sweep_extinct       how the replicates of each parameter value ended: at the last day, or by
                      which species died out
  sweep_persistence   per parameter value, the share of replicates in which prey and predators still
                      live, day by day
  sweep_scatter       --outcome on one day (--day, default the last day every finished run
                      reached) against each numeric parameter, one point per run, marked by how
                      the run ended
  sweep_trait_evolution  the chosen traits' mean genetic value among the living (expressed value
                      among juveniles and adults when the runs wrote no genetic statistics) over the
                      days, per species and parameter value (mean of the replicates, and their range)
  sweep_selection_response  the response to selection per species and parameter value
  sensitivity         after soilweb-sweep analyse: the parameters ranked for each outcome

--report writes DIR/report.html besides: one self-contained page (no network needed) with the run's
or the sweep's record, every figure inline and the files and what they hold.
"""
import argparse
import os

from .command import fail, run_command

FORMATS = ("png", "pdf", "svg")


def main():
    parser = argparse.ArgumentParser(description="Figures of a finished soilweb run, or of a sweep made by "
                                                 "soilweb-sweep, and a report page to share.",
                                     epilog="See docs/outputs.md for what each figure shows.")
    parser.add_argument("folder", metavar="FOLDER", help="the run's folder (named after simulationName), or a sweep's")
    parser.add_argument("--out", metavar="DIR", help="where to write the figures (default FOLDER/plots)")
    parser.add_argument("--format", choices=FORMATS, default="png", help="file format of the figures (default png)")
    parser.add_argument("--dpi", type=int, default=150, metavar="N",
                        help="resolution of PNG figures in dots per inch (default 150)")
    parser.add_argument("--report", action="store_true",
                        help="also write DIR/report.html: the record, every figure and the files, in one page")
    parser.add_argument("--day", type=int, metavar="D",
                        help="run: day of the trait figure (default: the last day); sweep: day of the scatter "
                             "figure (default: the last day every finished run reached)")
    parser.add_argument("--traits", default="body_size,voracity,speed,search_area", metavar="NAME,...",
                        help="traits of the trait figures, as the configuration names them (default "
                             "body_size,voracity,speed,search_area; the files' column names, body, vor, ..., "
                             "are taken too)")
    parser.add_argument("--columns", default="PREY_ACTIVE,PREDATOR_ACTIVE,BIOMASS", metavar="NAME,...",
                        help="sweep: summary columns over the days (default PREY_ACTIVE,PREDATOR_ACTIVE,BIOMASS)")
    parser.add_argument("--outcome", default="PREY_ACTIVE", metavar="NAME",
                        help="sweep: the summary column of the scatter figure (default PREY_ACTIVE)")
    args = parser.parse_args()
    # Read once the command line is: --help needs neither matplotlib nor pandas.
    from .figures.common import Figures
    from .figures.run import plot_run
    from .figures.sweep import plot_sweep
    from .report import run_report, sweep_report, write_report
    if not os.path.isdir(args.folder):
        fail(f"{args.folder} is not a folder")
    if args.dpi < 10:
        fail("--dpi must be at least 10")
    args.out = args.out or os.path.join(args.folder, "plots")
    os.makedirs(args.out, exist_ok=True)
    figures = Figures(args.out, args.format, args.dpi, args.report)
    if os.path.exists(os.path.join(args.folder, "sweep.json")):
        drawn = plot_sweep(args, figures)
        parts = sweep_report(args.folder, *drawn) if args.report else None
    else:
        info, title = plot_run(args, figures)
        parts = run_report(args.folder, info, title) if args.report else None
    if parts:
        write_report(args.out, parts, figures)
    print(f"figures written to {args.out}" + (f"; the report is {os.path.join(args.out, 'report.html')}"
                                                if args.report else ""))


def run():
    run_command("soilweb-plot", main)


if __name__ == "__main__":
    run()
