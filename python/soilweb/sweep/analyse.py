"""soilweb-sweep analyse: which parameters matter (what it measures: ANALYSE in cli.py, its help)."""
import os
import re
import sys

import numpy as np
import pandas as pd

from .. import evolution, records, stacked
from ..command import fail
from ..schema import TRAIT_COLUMNS, loader_name
from . import sensitivity
from .collect import write_table
from .parts import DIED_OUT


def parse_outcome(name, summary_columns):
    """What an outcome names, as a function of a run's tables; refused with a line when unknown."""
    parts = name.split(":")
    if len(parts) == 2 and parts[0] in DIED_OUT and parts[1] in ("died_out", "persisted"):
        what, how = parts

        def gone(run):
            day = records.died_out_days(run["record"])[what]
            if how == "persisted":
                return float(day is None)
            return float(run["record"].get("last_day") if day is None else day)
        return gone
    if parts[0] in ("prey", "predators") and len(parts) in (2, 3) and parts[1] == "quasi_extinct":
        if len(parts) == 3 and not re.fullmatch(r"[1-9]\d*", parts[2]):
            fail(f"outcome '{name}': K must be a whole number of adults >= 1, got '{parts[2]}'")
        role, k = parts[0], int(parts[2]) if len(parts) == 3 else None

        def quasi(run):
            if run.get("tables") is None:
                return np.nan
            day = evolution.quasi_extinct_day(run["tables"], role, k)
            return float(run["record"].get("last_day") if day is None else day)
        return quasi
    if len(parts) == 3 and parts[1] == "mean" and re.fullmatch(r"\d+-\d+", parts[2]):
        column, (first, last) = parts[0], map(int, parts[2].split("-"))
        if first > last:
            fail(f"outcome '{name}': the window {first}-{last} ends before it starts; give FROM-TO with FROM <= TO")
        if column not in summary_columns:
            fail(f"outcome '{name}': no summary column {column}; choose from {', '.join(summary_columns)}")

        def mean(run):
            summary = run["summary"]
            days = summary[(summary.day >= first) & (summary.day <= last)]
            return float(days[column].mean()) if len(days) else np.nan
        return mean
    if len(parts) == 3 and parts[0] == "genetic":
        trait, species = loader_name(parts[1]), parts[2]  # "body" as "body_size", as the loaders name it
        if trait not in TRAIT_COLUMNS:
            fail(f"outcome '{name}': no trait {trait}; choose from {', '.join(TRAIT_COLUMNS)}")

        def genetic(run):
            table = run["genetics"]
            if table is None:
                return np.nan
            living = table[(table.species == species) & (table["count"] > 0)]
            if living.empty:
                return np.nan
            last = living[living.day == living.day.max()]
            return float(np.average(last[f"{trait}_mean"], weights=last["count"]))
        return genetic
    fail(f"unknown outcome '{name}': give prey:died_out, predators:persisted, predators:quasi_extinct[:K], "
         "COLUMN:mean:FROM-TO or genetic:TRAIT:SPECIES")


def outcomes_of(sweep, names):
    """One row per finished run: run, point, the unit coordinates or values of the parameters, each outcome."""
    rows, columns = [], None
    for run in sweep.runs:
        tables = sweep.run(run["run"])
        if tables is None or tables.record.get("status") not in ("completed", "extinct"):
            continue
        if columns is None:
            columns = list(tables["summary"].columns)
            measures = {name: parse_outcome(name, columns) for name in names}
        if any(name.startswith("genetic:") for name in names) and not tables.wrote("genetics"):
            why = tables.unasked("genetics") or "its configuration did not ask for the genetic statistics"
            fail(f"the genetic outcomes need each run's genetic statistics, and {run['run']} did not write them "
                 f"({why}); run the sweep with \"genetics\" in simulation.outputs.files, or with "
                 f"simulation.outputs.geneticStatistics \"true\"")
        view = {"record": tables.record, "summary": tables["summary"], "tables": tables,
                "genetics": tables["genetics"] if tables.wrote("genetics") else None}
        row = {"run": run["run"], "point": run.get("point")}
        row.update(run["parameters"])
        row.update((name, measure(view)) for name, measure in measures.items())
        rows.append(row)
    if not rows:
        fail("no run of the sweep has finished")
    return pd.DataFrame(rows)


def analyse(out, names, boot=1000):
    if boot < 1:
        fail(f"--boot must be at least 1, got {boot}")
    sweep = stacked.read_sweep(out)
    record = sweep.sweep
    design, keys = record.get("design", "grid"), sweep.parameters
    table = outcomes_of(sweep, names)
    if design in ("morris", "saltelli") and not isinstance(record.get("points"), list):
        fail(f"{out}/sweep.json has no design points: it is not the record of a {design} sweep")
    rows, constant = [], []
    for name in names:
        values = table[name].dropna()
        if values.nunique() <= 1:
            # An outcome that never changes has no sensitivity to measure: no index, said once.
            constant.append(name)
            print(f"soilweb-sweep: outcome '{name}' is the same in every run"
                  + (f" ({values.iloc[0]:g})" if len(values) else "") + "; no index is computed for it",
                  file=sys.stderr)
            continue
        if design in ("morris", "saltelli"):
            points = record["points"]
            per_point = table.groupby("point")[name].mean().reindex(range(len(points)))
            if per_point.isna().any():
                missing = int(per_point.isna().sum())
                fail(f"outcome '{name}': {missing} point{'s' if missing != 1 else ''} of the {design} design "
                     f"{'have' if missing != 1 else 'has'} no finished run or no value (a window of days after a "
                     "run ended, a species with no animal left); finish the sweep (soilweb-sweep run) or choose "
                     "another outcome")
            y = per_point.to_numpy()
            found = sensitivity.morris(points, y, len(keys), boot) if design == "morris" else \
                sensitivity.sobol(y, len(keys), boot)
        else:
            usable = table.dropna(subset=[name])
            x = usable[keys].apply(pd.to_numeric, errors="coerce")
            if x.isna().any().any():
                fail("partial rank correlations need numeric parameters")
            found = sensitivity.prcc(x.to_numpy(), usable[name].to_numpy(), boot)
        rows += [(name, keys[i], measure, value, low, high) for i, measure, value, low, high in found]
    if len(constant) == len(names):
        fail("every outcome is the same in every run: there is nothing to analyse")
    result = pd.DataFrame(rows, columns=["outcome", "parameter", "measure", "value", "low", "high"])
    tables = os.path.join(out, "tables")
    os.makedirs(tables, exist_ok=True)
    write_table(result, os.path.join(tables, "sensitivity.tsv"))
    from ..figures.common import Figures, species_of
    from ..figures.sensitivity import plot_sensitivity
    folder = os.path.join(out, "figures")
    os.makedirs(folder, exist_ok=True)
    plot_sensitivity(result, design, os.path.basename(os.path.normpath(out)), Figures(folder, "png", 100, False),
                     species_of({"configuration": record.get("base", {})}))
    analysed = len(names) - len(constant)
    print(f"{analysed} outcome{'s' if analysed != 1 else ''} of {len(table)} runs analysed "
          f"({MEASURES[design]}) into {tables}/sensitivity.tsv and {folder}/sensitivity.png")
    return result


MEASURES = {"grid": "partial rank correlations", "lhs": "partial rank correlations",
            "sobol": "partial rank correlations", "morris": "Morris elementary effects",
            "saltelli": "Sobol indices"}
