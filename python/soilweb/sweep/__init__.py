"""Replicates and parameter sweeps of soilweb.

usage:
  soilweb-sweep run BASE_RUN_PARAMS GRID_JSON OUT [--replicates R] [--seed MASTER] [--design grid|lhs|sobol]
                    [--samples N] [--jobs N] [--binary PATH] [--lenient]
  soilweb-sweep prepare BASE_RUN_PARAMS GRID_JSON OUT [--replicates R] [--seed MASTER] [--design ...] [--samples N]
                        [--binary PATH] [--lenient]
  soilweb-sweep collect OUT [--jobs N]

GRID_JSON maps dotted key paths of run_params to lists of values, e.g.
  {"simulation.temperature": [15, 20], "world.life.animals.1.initialPopulation": [20, 40]}
(a number in a path indexes the species list), or, with --design lhs|sobol --samples N, to
ranges, e.g. {"simulation.temperature": {"min": 10, "max": 30}}: N points are drawn over them
(a Latin hypercube or a scrambled Sobol sample, seeded from the master seed; keys that soilweb
reads as whole numbers, such as initialPopulation, get whole numbers), each run --replicates times.
The sweep sets simulation.seed and simulation.outputs.simulationName itself: a grid may not.
Before anything is written, every run's configuration is checked with `soilweb --check`; the
sweep is refused on any error, and on any warning unless --lenient. "prepare" writes one folder per combination
and replicate under OUT/runs, each with its own run_params (its own seed and simulation
name) and lists the runs to do in OUT/jobs.txt; "run" prepares, runs those folders in parallel
with GNU parallel and collects; "collect" gathers every finished run's daily summary into
OUT/summary.tsv (run, seed, each swept parameter, end, last_day, soilweb_version, then the
summary columns), lists runs that failed or did not finish in OUT/failed.tsv, and writes the
sweep's tidy tables in OUT/tables: runs.tsv (run, replicate, each swept parameter, seed, how it
ended, last day, the day after which the resource, the prey and the predators died out), summary.tsv.gz,
traits.tsv.gz and genetics.tsv.gz (run, replicate and each swept parameter,
then the run's table), read with the Python or the R package. The
replicates' seeds are drawn without repetition from one master seed, given or drawn and
recorded in OUT/sweep.json, so a sweep can be repeated exactly.

"run" and "prepare" on a folder that holds a sweep resume it: finished runs are kept, runs
stopped with a checkpoint carry on from it, failed and unfinished ones run again, and a larger
--replicates adds replicates with new seeds from the same master seed; a run whose checkpoint is
damaged starts afresh. Stopping "run" (Ctrl-C, SIGTERM, SIGHUP) stops its runs, each with a
checkpoint; running it again carries them on. "run" and "collect" exit with status 1 when any run
failed.
"""
import sys as _sys
import types as _types


class _CallablePackage(_types.ModuleType):
    """This package, callable: soilweb.sweep(base, grid, ...) runs a sweep (soilweb.api.sweep)."""

    def __call__(self, *args, **kwargs):
        from ..api import sweep
        return sweep(*args, **kwargs)


_sys.modules[__name__].__class__ = _CallablePackage
