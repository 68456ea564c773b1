"""A sweep's runs as its figures group and label them: each run with how it ended, the groups of runs
that share the swept values, and the words for parameters and summary columns."""
import json

import matplotlib.pyplot as plt
import numpy as np

from .. import records
from .common import words

SUMMARY_LABELS = {"BIOMASS": "total fungal biomass"}


PARAMETER_UNITS = {"simulation.temperature": "°C", "simulation.minTemperature": "°C", "simulation.maxTemperature": "°C"}


def parameter_label(key, names):
    """'world.life.animals.1.initialPopulation' -> 'predator initial population';
    'simulation.temperatureSeries.2.1' -> 'temperature series[2][1]' (a list element by its indices)."""
    parts = key.split(".")
    indices = ""
    while len(parts) > 1 and parts[-1].isdigit():
        indices = f"[{parts.pop()}]" + indices
    if indices:
        return parameter_label(".".join(parts), names) + indices
    if len(parts) >= 5 and parts[:3] == ["world", "life", "animals"] and parts[3].isdigit():
        index = int(parts[3])
        species = names[index] if index < len(names) else f"species {index}"
        return f"{species} {words(parts[-1])}"
    return words(parts[-1]) + (f" ({PARAMETER_UNITS[key]})" if key in PARAMETER_UNITS else "")


def label_of(parameters, names, between=", "):
    """'temperature 15 °C, predator initial population 20'."""
    shown = []
    for key, value in parameters.items():
        unit = PARAMETER_UNITS.get(key)
        name = parameter_label(key, names).replace(f" ({unit})", "") if unit else parameter_label(key, names)
        shown.append(f"{name} {value}" + (f" {unit}" if unit else ""))
    return between.join(shown)


def sweep_runs(sweep):
    """Each run with its parameters, how it ended and its summary (None unless it finished)."""
    runs = []
    for run in sweep.runs:
        tables = sweep.run(run["run"])
        info = tables.record if tables is not None else {}
        end = info.get("status", "not run")
        summary = tables["summary"] if tables is not None and end in ("completed", "extinct") else None
        runs.append({"run": run["run"], "parameters": run["parameters"], "end": end, "summary": summary,
                     "last_day": info.get("last_day"), "gone": records.died_out_days(info),
                     "recorded": "died_out_days" in info, "fate": fate_of(end, info.get("died_out", ""))})
    return runs


# How a run ended, by what ended it: its marker and colour in the figures.
FATES = {"completed": ("ran to the last day", "o", "#1b9e77"),
         "prey": ("the prey died out", "v", "#7570b3"),
         "predators": ("the predators died out", "^", "#d95f02"),
         "resource": ("the resource ran out", "s", "#a6761d"),
         "world": ("every animal died out", "X", "#e7298a"),
         "stopped": ("stopped", "P", "#666666"),
         "failed": ("failed", "D", "#8c8c8c"),
         "not run": ("not run", ".", "#cccccc")}


def fate_of(end, died_out):
    """completed, prey, predators, resource, world, stopped, failed or not run."""
    if end != "extinct":
        return end if end in FATES else "failed"
    if "resource" in died_out:
        return "resource"
    prey, predators = "prey" in died_out, "predator" in died_out
    return "world" if prey == predators else "prey" if prey else "predators"


def varying(runs):
    """Each run's parameters less those every run shares (a key swept over one value names no group)."""
    keys = [k for k in (runs[0]["parameters"] if runs else {})
            if len({json.dumps(r["parameters"][k]) for r in runs}) > 1]
    return lambda run: {k: run["parameters"][k] for k in keys} if keys else run["parameters"]


def groups_of(runs, names):
    shown = varying(runs)
    groups = {}
    for run in runs:
        groups.setdefault(label_of(shown(run), names), []).append(run)
    return sorted(groups.items())


def group_colours(count):
    """A sequential map, cut where neighbours stay apart: dark blue through magenta and orange to yellow."""
    return plt.cm.plasma([0.88 * k / max(1, count - 1) for k in range(count)])


# Means of fewer replicates than this jump as replicates end: drawn dotted, and named so.
FEW = 3


def mean_interval(by_day):
    """Per day, the 95 % t-interval of the mean of the replicates' values (a groupby of them): mean ± t(0.975,
    n - 1) sd / sqrt(n); NaN where there is a single value."""
    from scipy.stats import t
    n, sd = by_day.count(), by_day.std()
    half = t.ppf(0.975, (n - 1).clip(lower=1)) * sd / np.sqrt(n)
    half = half.where(n > 1)
    mean = by_day.mean()
    return mean - half, mean + half


def wilson_interval(successes, trials, z=1.959964):
    """The 95 % Wilson score interval of a share successes / trials (arrays; NaN where trials is 0)."""
    n = np.asarray(trials, dtype=float)
    safe = np.maximum(n, 1)
    p = np.asarray(successes, dtype=float) / safe
    centre = (p + z * z / (2 * safe)) / (1 + z * z / safe)
    half = z * np.sqrt(p * (1 - p) / safe + z * z / (4 * safe * safe)) / (1 + z * z / safe)
    return np.where(n > 0, centre - half, np.nan), np.where(n > 0, centre + half, np.nan)


def offset_markers(ax, days, values, k, groups, colour, marker="o", **style):
    """Markers on a line at every few days, each group's started k days apart, so that groups whose lines
    coincide stay told apart without moving any value."""
    days, values = np.asarray(days), np.asarray(values, dtype=float)
    every = max(1, len(days) // 8)
    start = (k * max(1, every // max(1, groups))) % every
    ax.plot(days[start::every], values[start::every], marker=marker, linestyle="none", color=colour,
            markersize=4, **style)


def summary_label(column, names):
    if column in SUMMARY_LABELS:
        return SUMMARY_LABELS[column]
    kind, _, state = column.partition("_")
    who = names[0] if kind == "PREY" else names[1] if len(names) > 1 else "predator"
    return f"{who}: {words(state.lower())} (animals)"
