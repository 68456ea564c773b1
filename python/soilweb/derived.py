"""Tables a run's loader makes from others when the run did not write them as such: the dead repeated
on every day, the trait statistics of an animal table, the food-web edges of the matrices."""
import numpy as np
import pandas as pd

from . import schema
from .schema import STAGES, TRAIT_COLUMNS

FINAL_STATES = tuple(state["code"] for state in schema.SCHEMA["states"] if state["final"])


def every_day(frame, predator_species):
    """A snapshot table written with each dead animal once, as it would read with the dead
    repeated on every later day: a cell's dead animals never move or change, and each of its
    final states lists prey before predators, those that died earlier first."""
    days = []
    carried = frame.iloc[0:0]
    for day, rows in frame.groupby("day", sort=False):
        if len(carried):
            carried = carried.assign(day=day)
        merged = pd.concat([carried, rows])
        order = pd.DataFrame({
            "position": merged["position"].to_numpy(),
            "state": merged["state"].to_numpy(),
            "predator": merged["species"].isin(predator_species).to_numpy(),
            "new": np.r_[np.zeros(len(carried), bool), np.ones(len(rows), bool)],
        })
        merged = merged.iloc[order.sort_values(["position", "state", "predator", "new"], kind="stable").index]
        days.append(merged)
        carried = merged[merged["state"].isin(FINAL_STATES)]
    return pd.concat(days, ignore_index=True) if days else frame


def traits_of(animals, species_order=()):
    """The trait statistics of an end-of-day animal table, as the trait statistics file holds them."""
    living = animals[animals.state.isin(schema.LIVING_STATES)].copy()
    living["stage"] = schema.stages_of(living.state, living.instar)
    grouped = living.groupby(["day", "species", "stage"])
    statistics = grouped[TRAIT_COLUMNS].agg(["mean", "std", "min", "max"])
    statistics.columns = [f"{trait}_{'sd' if s == 'std' else s}" for trait, s in statistics.columns]
    table = grouped.size().rename("count").to_frame().join(statistics)
    names = list(species_order) or sorted(animals.species.unique())
    full = pd.MultiIndex.from_product([sorted(animals.day.unique()), names, STAGES], names=["day", "species", "stage"])
    table = table.reindex(full).reset_index()
    table["count"] = table["count"].fillna(0).astype(int)
    return table


def matrix_edges(met, eaten):
    """The edge table of the encounter and predation matrices (founders only, and 1 for any number of
    encounters)."""
    pairs = []
    for matrix, column in ((met, "encounters"), (eaten, "predations")):
        ones = matrix.set_index(matrix.columns[0]).stack()
        ones = ones[ones > 0].reset_index()
        ones.columns = ["victim", "hunter", column]
        ones["hunter"] = ones["hunter"].astype(int)
        pairs.append(ones.set_index(["victim", "hunter"]))
    edges = pairs[0].join(pairs[1], how="outer").fillna(0).astype(int).reset_index()
    return edges[["hunter", "victim", "encounters", "predations"]].sort_values(["victim", "hunter"],
                                                                                ignore_index=True)
