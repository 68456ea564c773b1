"""The distance between a proposal's runs and the observations, and what a run is reduced to for it.

A run is reduced to its summaries: the value of each observed column on each observed day, then each scalar
target (an outcome such as predators:died_out). With R replicates a proposal's summaries are their mean. For an
observed value y of column c on day t (of any series) and the simulated mean x:

    d = sqrt( sum over c, t, series of  w_c * ((T_c(k_c x) - T_c(y)) / s_c)^2 )

T_c is the column's transform (log1p by default for counts, none for the biomass, temperature and targets),
k_c its scale (model unit to observed unit, 1 by default), w_c its weight (1 by default), and s_c its spread
among the previous generation's simulations: the median over its days of the median absolute deviation of
T_c(k_c x) across the generation's proposals (times 1.4826, the sd of a normal); its sd where that is 0, else 1.
A proposal with a summary missing where one is observed (a run that ended first) is infinitely far."""
import math

import numpy as np

from .. import schema
from ..command import fail

TRANSFORMS = {"log1p": np.log1p, "none": lambda x: x}
MAD_TO_SD = 1.4826


def default_transform(column):
    """log1p for the counts of animals, none for quantities (the biomass, the temperature)."""
    kinds = {c["name"]: c["type"] for c in schema.FILES["summary"]["columns"]}
    return "log1p" if kinds.get(column) == "integer" else "none"


class Target:
    """A scalar target: an outcome of the run (the day the predators died out, a mean over days, a genetic mean)
    and its observed value."""

    def __init__(self, name, value, measure):
        self.name, self.value, self.measure = name, value, measure


class Distance:
    def __init__(self, observed, targets, scales=None, weights=None, transforms=None):
        scales, weights, transforms = scales or {}, weights or {}, transforms or {}
        names = observed.columns + [t.name for t in targets]
        for option, given in (("--scale", scales), ("--weight", weights), ("--transform", transforms)):
            for name in given:
                if name not in names:
                    fail(f"{option} {name}: not an observed column or target (they are: {', '.join(names)})")
        for name, value in weights.items():
            if value < 0:
                fail(f"--weight {name}={value:g}: a weight cannot be negative")
        for name, value in scales.items():
            if value <= 0:
                fail(f"--scale {name}={value:g}: a scale must be above 0")
        for name, how in transforms.items():
            if how not in TRANSFORMS:
                fail(f"--transform {name}={how}: choose log1p or none")
        self.groups = names
        self.needs = sorted({(c, day) for c, day, _, _ in observed.entries})  # (column, day) the runs give
        self.targets = targets
        self.factor = np.array([scales.get(c, 1.0) for c, _ in self.needs] + [1.0] * len(targets))
        self.transform = [transforms.get(c, default_transform(c)) for c, _ in self.needs] + \
                         [transforms.get(t.name, "none") for t in targets]
        self.group_of = np.array([names.index(c) for c, _ in self.needs] +
                                 [names.index(t.name) for t in targets])
        position = {need: k for k, need in enumerate(self.needs)}
        entries = [(position[(c, day)], y) for c, day, _, y in observed.entries] + \
                  [(len(self.needs) + k, t.value) for k, t in enumerate(targets)]
        self.index = np.array([k for k, _ in entries])
        self.weight = np.array([weights.get(names[self.group_of[k]], 1.0) for k, _ in entries])
        self.observed = np.array([self._transformed_one(k, y) for k, y in entries])
        self.transform_of = {name: transforms.get(name, default_transform(name) if k < len(observed.columns) else
                                                  "none") for k, name in enumerate(names)}

    def _transformed_one(self, k, y):
        how = self.transform[k]
        if how == "log1p" and y <= -1:
            name = self.groups[self.group_of[k]]
            fail(f"observed {name} holds {y:g}: log1p needs values above -1 (give --transform {name}=none)")
        return float(TRANSFORMS[how](np.float64(y)))

    def transformed(self, summaries):
        """T(k x) of summaries (a vector, or a matrix of one row a proposal)."""
        x = np.asarray(summaries, dtype=float) * self.factor
        out = np.empty_like(x)
        for how, function in TRANSFORMS.items():
            chosen = np.array([t == how for t in self.transform])
            out[..., chosen] = function(x[..., chosen])
        return out

    def scales(self, simulated):
        """Each column's (and target's) spread among a generation's simulations (one row a proposal)."""
        t = self.transformed(simulated)
        usable = ~np.all(np.isnan(t), axis=1)
        t = t[usable]
        spreads = []
        for g in range(len(self.groups)):
            values = t[:, self.group_of == g]
            mads, sds = [], []
            for column in values.T:
                column = column[~np.isnan(column)]
                if len(column):
                    mads.append(MAD_TO_SD * float(np.median(np.abs(column - np.median(column)))))
                    sds.append(float(np.std(column)))
            spread = float(np.median(mads)) if mads else 0.0
            if spread <= 0:
                spread = float(np.median(sds)) if sds else 0.0
            spreads.append(spread if spread > 0 else 1.0)
        return np.array(spreads)

    def __call__(self, summaries, scales):
        t = self.transformed(summaries)[self.index]
        if np.any(np.isnan(t)):
            return math.inf
        terms = self.weight * ((t - self.observed) / scales[self.group_of[self.index]]) ** 2
        return float(math.sqrt(float(np.sum(terms))))

    def reduce(self, summary, record, run_tables):
        """A run's summaries: its value of each observed column on each observed day (NaN when the run has no such
        day), then each target's outcome. summary: {column: {day: value}}; run_tables: the loaded run, asked for
        only by targets that need more than the summary."""
        values = [summary.get(c, {}).get(day, math.nan) for c, day in self.needs]
        view = None
        for target in self.targets:
            if view is None:
                view = outcome_view(summary, record, run_tables)
            values.append(target.measure(view))
        return values


def outcome_view(summary, record, run_tables):
    """What an outcome reads of a run, as the sweep's analysis hands it over."""
    import pandas as pd
    days = sorted(next(iter(summary.values()), {}))
    frame = pd.DataFrame({"day": days, **{schema.loader_name(c, "summary"): [summary[c].get(d) for d in days]
                                          for c in summary}})
    tables = genetics = None
    if run_tables is not None:
        tables = run_tables()
        genetics = tables["genetics"] if tables.wrote("genetics") else None
    return {"record": record, "summary": frame, "genetics": genetics, "tables": tables}


def targets_of(items):
    """--target OUTCOME=VALUE options as Targets, each measured as soilweb-sweep analyse measures it."""
    from ..sweep.analyse import parse_outcome
    columns = [schema.loader_name(c, "summary") for c in schema.file_columns("summary", optional=True)]
    found = []
    for item in items or []:
        name, sep, value = item.rpartition("=")
        if not sep or not name:
            fail(f"--target '{item}' is not OUTCOME=VALUE (e.g. predators:died_out=120)")
        try:
            number = float(value)
        except ValueError:
            fail(f"--target '{item}': '{value}' is not a number")
        found.append(Target(name, number, parse_outcome(name, columns)))
    return found


def needs_genetics(targets):
    return any(t.name.startswith("genetic:") for t in targets)
