"""Load soilweb runs and sweeps as pandas DataFrames.

    import soilweb
    run = soilweb.read_run("example")        # the run's folder, named after simulationName
    run["summary"], run["animals_end"], run["traits"], run["record"]
    sweep = soilweb.read_sweep("my-sweep")   # a folder made by soilweb-sweep
    sweep["summary"]                         # every run's summary, stacked

Both layouts (daily files or tables), plain or gzip-compressed, thinned or not,
and both food-web formats give the same tables; see docs/outputs.md.
"""
from .loader import TABLES, Run, Sweep, read_run, read_sweep

__all__ = ["TABLES", "Run", "Sweep", "read_run", "read_sweep"]
