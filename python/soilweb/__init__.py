"""Run soilweb and load its runs and sweeps as pandas DataFrames.

    import soilweb
    run = soilweb.run("run_params", seed=7)  # runs the binary, returns the loaded run
    sweep = soilweb.sweep("run_params", {"simulation.temperature": [15, 25]}, replicates=3)
    run = soilweb.read_run("example")        # a run's folder, named after simulationName
    run["summary"], run["animals_end"], run["traits"], run["record"]
    sweep = soilweb.read_sweep("my-sweep")   # a folder made by soilweb-sweep
    sweep["summary"]                         # every run's summary, stacked
    cal = soilweb.calibrate("run_params", "priors.json", "observed.tsv", population=100, generations=4)
    cal.posterior, cal.summary(), cal.predict(40)
    soilweb.selection(run, window=20)        # selection differentials, gradients, response (from the pedigree)
    soilweb.lineages(run)                    # founder lines alive each day

Both layouts (daily files or tables), plain or gzip-compressed, thinned or not,
and both food-web formats give the same tables; see docs/outputs.md.
"""
import importlib

# Imported when first used, so that the commands' --help and their choice of a Python that has
# pandas work on any Python. soilweb.sweep and soilweb.calibrate are each both the subpackage of a
# command and, called, the function that runs a sweep or a calibration (the package makes itself callable).
_FROM = {"TABLES": "loader", "Run": "loader", "Sweep": "stacked", "read_run": "loader", "read_sweep": "stacked",
         "SoilwebError": "api", "run": "api", "Calibration": "calibration", "read_calibration": "calibration",
         "selection": "evolution", "lineages": "evolution", "reproductive_success": "evolution",
         "quasi_extinct_day": "evolution", "effective_size": "evolution"}

__all__ = ["TABLES", "Run", "Sweep", "Calibration", "SoilwebError", "read_run", "read_sweep", "read_calibration", "run",
           "sweep", "calibrate", "selection", "lineages", "reproductive_success", "quasi_extinct_day", "effective_size"]


def __getattr__(name):
    if name in ("sweep", "calibrate"):
        return importlib.import_module(f".{name}", __name__)
    if name not in _FROM:
        raise AttributeError(f"module 'soilweb' has no attribute '{name}'")
    value = getattr(importlib.import_module(f".{_FROM[name]}", __name__), name)
    globals()[name] = value
    return value


def __dir__():
    return sorted(set(globals()) | set(__all__))
