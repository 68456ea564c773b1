"""The figures of a sweep: the summary over the days per parameter value, how the replicates
ended, an outcome against each numeric parameter, and the traits over the days."""
import os
import warnings

import numpy as np
import pandas as pd
import matplotlib.pyplot as plt
from matplotlib.ticker import MaxNLocator

from .. import stacked
from ..schema import TRAIT_LABELS
from ..command import fail
from .. import evolution
from .grouping import (FATES, FEW, group_colours, groups_of, label_of, mean_interval, offset_markers,
                       parameter_label, summary_label, sweep_runs, varying, wilson_interval)
from .sensitivity import plot_sensitivity
from .common import (GENETIC_LABELS, chosen_traits, expressed, genetic_means, hatched_means, note, selection_response,
                     species_colour, species_of, wrapped)


def plot_sweep_dynamics(runs, columns, names, title, figures):
    groups = groups_of(runs, names)
    shrinking = any(r["end"] == "extinct" for r in runs)
    rows = len(columns) + 1
    fig, axes = plt.subplots(rows, 1, figsize=(10, 2.9 * rows + 1.2), sharex=True, squeeze=False)
    axes = list(axes[:, 0])
    for k, (colour, (label, members)) in enumerate(zip(group_colours(len(groups)), groups)):
        finished = [m["summary"] for m in members if m["summary"] is not None]
        if not finished:
            continue
        stacked = pd.concat(finished)
        count = stacked.groupby("day").size()
        for ax, column in zip(axes, columns):
            by_day = stacked.groupby("day")[column]
            mean = by_day.mean()
            ax.plot(mean.index, mean.where(count >= FEW), color=colour, linewidth=1.8,
                    label=f"{label} (n = {len(finished)})")
            ax.plot(mean.index, mean.where(count < FEW), color=colour, linewidth=1, linestyle=":")
            low, high = mean_interval(by_day)
            ax.fill_between(low.index, low.clip(lower=0), high, color=colour, alpha=0.18, linewidth=0)
            for edge in (by_day.min(), by_day.max()):
                ax.plot(edge.index, edge, color=colour, linewidth=0.5, alpha=0.6)
            for m in members:  # where each replicate that died out ended
                if m["end"] == "extinct" and m["summary"] is not None:
                    last = m["summary"].iloc[-1]
                    ax.plot([last.day], [last[column]], marker="x", color=colour, markersize=7, linestyle="none")
        axes[-1].step(count.index, count, where="post", color=colour, linewidth=1.6)
        offset_markers(axes[-1], count.index, count, k, len(groups), colour)  # lines that coincide told apart
    for ax, column in zip(axes, columns):
        ax.set_ylabel(wrapped(summary_label(column, names), 24), fontsize="small")
        ax.set_ylim(bottom=0)
    axes[-1].set_ylabel("replicates\nstill running (n)", fontsize="small")
    axes[-1].yaxis.set_major_locator(MaxNLocator(integer=True))
    axes[-1].set_ylim(bottom=0)
    axes[0].legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.01, 1),
                   title=f"mean of the replicates still running\n(dotted: fewer than {FEW}), its 95 % interval\n"
                         "(shaded), their range (thin); x: one died out", title_fontsize="small")
    axes[-1].set_xlabel("day")
    fig.suptitle(wrapped(title), fontsize="medium")
    fig.tight_layout()
    figures.save(fig, "sweep_dynamics", "For each parameter value (n: its replicates that finished), the mean of the "
                                        "replicates still running over the days, dotted where fewer than "
                                        f"{FEW} are, with the 95 % interval of that mean (shaded; t-based: mean ± "
                                        "t(0.975, n - 1) sd / sqrt(n)) and the replicates' range (thin lines, lowest "
                                        "to highest); a cross marks the last day of a replicate that died out" +
                 ("; the bottom panel counts the replicates still running (markers set apart, values never "
                  "moved)." if shrinking else "."))


def plot_sweep_extinct(runs, names, title, figures):
    """How the replicates of each parameter value ended: to the last day, or by which species died out."""
    groups = groups_of(runs, names)
    shown = varying(runs)
    labels = ["\n".join(wrapped(part, 18) for part in label_of(shown(members[0]), names, "|").split("|"))
              for _, members in groups]
    fig, ax = plt.subplots(figsize=(max(7, 1.5 * len(groups) + 3), 5.5))
    bottom = [0] * len(groups)
    for fate, (said, _, colour) in FATES.items():
        heights = [sum(1 for m in members if m["fate"] == fate) for _, members in groups]
        if any(heights):
            said = said.replace("the prey", names[0] if names else "the prey").replace(
                "the predators", names[1] if len(names) > 1 else "the predators")
            ax.bar(labels, heights, bottom=bottom, color=colour, label=said)
            bottom = [b + h for b, h in zip(bottom, heights)]
    ax.set_ylabel("replicates")
    ax.yaxis.set_major_locator(MaxNLocator(integer=True))
    ax.set_ylim(0, max(bottom) * 1.05)
    ax.set_title(wrapped(f"{title} · how the replicates ended", 70), fontsize="medium")
    ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1))
    plt.setp(ax.get_xticklabels(), fontsize="small")
    fig.tight_layout()
    figures.save(fig, "sweep_extinct", "How the replicates of each parameter value ended: at the last day, or when "
                                       "a species died out (or the resource ran out), by which one.")


def persistence(members, kind, days):
    """Per day, the share of the runs in which kind still lives among those that tell, and how many tell: a
    run tells of a day it reached, and of any day after kind was found gone in it."""
    gone = np.array([[m["gone"][kind] is not None and m["gone"][kind] < day for day in days] for m in members])
    alive = np.array([[(m["gone"][kind] is None or m["gone"][kind] >= day) and int(m["last_day"]) >= day
                       for day in days] for m in members])
    told = (gone | alive).sum(axis=0)
    return np.where(told > 0, alive.sum(axis=0) / np.maximum(told, 1), np.nan), told


def quasi_members(members, kind):
    """The runs as persistence reads them, gone on the first day no breeding pair of kind was possible."""
    quasi = []
    for m in members:
        day = evolution.quasi_extinct_day(QuasiView(m["summary"]), kind)
        # As the records give extinctions: the last day it was not yet so.
        quasi.append(dict(m, gone=dict(m["gone"], **{kind: None if day is None else day - 1})))
    return quasi


class QuasiView(dict):
    """A run's summary as the quasi-extinction measure reads a run."""

    def __init__(self, summary):
        super().__init__(summary=summary)
        self.record = {}

    def wrote(self, table):
        return False


def plot_sweep_persistence(runs, names, title, figures):
    """For each parameter value, the share of its replicates in which the prey and the predators still
    live, day by day, among the replicates that tell: a run that ended before the day tells only of a
    species already gone then (from the day each was first found gone, in the runs' records)."""
    finished = [r for r in runs if r["summary"] is not None and r["recorded"]]
    if not finished:
        return note("no run records the days its species died out: sweep_persistence left out")
    groups = groups_of(finished, names)
    last = max(int(r["last_day"]) for r in finished)
    days = np.arange(0, last + 1)
    fig, axes = plt.subplots(1, 2, figsize=(12, 4.5), sharey=True)
    for k, (colour, (label, members)) in enumerate(zip(group_colours(len(groups)), groups)):
        for ax, kind in zip(axes, ("prey", "predators")):
            share, told = persistence(members, kind, days)
            ax.step(days, np.where(told >= FEW, share, np.nan), where="post", color=colour,
                    label=f"{label} (n = {len(members)})")
            ax.step(days, np.where(told < FEW, share, np.nan), where="post", color=colour, linestyle=":")
            low, high = wilson_interval(np.round(share * told), told)
            ax.fill_between(days, low, high, step="post", color=colour, alpha=0.12, linewidth=0)
            offset_markers(ax, days, share, k, len(groups), colour)
            quasi, _ = persistence(quasi_members(members, kind), kind, days)
            ax.step(days, quasi, where="post", color=colour, linestyle="--", linewidth=1, alpha=0.8)
    for ax, kind in zip(axes, ("prey", "predators")):
        who = names[0] if kind == "prey" and names else names[1] if kind == "predators" and len(names) > 1 else kind
        ax.set_title(f"{who}: share of replicates where they still live", fontsize="small")
        ax.set_xlabel("day")
        ax.set_ylim(-0.1, 1.03)
    axes[0].set_ylabel("share of replicates")
    axes[1].legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.02, 1),
                   title=f"solid: still living (shaded: 95 % Wilson\ninterval; dotted: fewer than {FEW} "
                         "replicates tell);\ndashed: a breeding pair still possible", title_fontsize="small")
    fig.suptitle(wrapped(f"{title} · persistence"), fontsize="medium")
    fig.tight_layout()
    figures.save(fig, "sweep_persistence", "For each parameter value, the share of its replicates in which the prey "
                                           "and the predators are still alive on each day, among the replicates that "
                                           "tell (a run that ended earlier tells only of a species already gone), "
                                           "with its 95 % Wilson score interval; dotted where fewer than "
                                           f"{FEW} tell. Dashed: the share in which a breeding pair is still "
                                           "possible (at least two living animals, eggs included: not yet "
                                           "quasi-extinct). Lines that coincide keep their values; their "
                                           "markers are set apart.")


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def plot_sweep_scatter(runs, outcome, names, title, figures, day=None):
    """outcome on one day common to the runs (day, or the last day every finished run reached) against each
    numeric parameter, each run marked by how it ended."""
    finished = [r for r in runs if r["summary"] is not None]
    keys = [k for k in finished[0]["parameters"] if all(is_number(r["parameters"][k]) for r in finished)]
    if not keys:
        return note("no numeric parameter: sweep_scatter left out")
    common = min(int(r["summary"]["day"].max()) for r in finished)
    day = common if day is None else day
    reached = [r for r in finished if int(r["summary"]["day"].max()) >= day]
    if not reached:
        return note(f"no run reached day {day}: sweep_scatter left out")
    fig, axes = plt.subplots(1, len(keys), figsize=(4.2 * len(keys) + 2.6, 4.4), squeeze=False)
    for ax, key in zip(axes[0], keys):
        for fate, (said, marker, colour) in FATES.items():
            points = [r for r in reached if r["fate"] == fate]
            if points:
                values = [float(r["summary"].set_index("day").loc[day, outcome]) for r in points]
                ax.scatter([float(r["parameters"][key]) for r in points], values, color=colour, marker=marker, s=26,
                           label=f"{said} (later)" if fate != "completed" else said)
        ax.set_xlabel(parameter_label(key, names))
        ax.set_ylabel(wrapped(f"{summary_label(outcome, names)} on day {day}", 40), fontsize="small")
    axes[0][-1].legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.02, 1), title="how the run ended",
                       title_fontsize="small")
    left_out = len(finished) - len(reached)
    fig.suptitle(wrapped(f"{title} · day {day}" + (f" ({left_out} runs ended before it, not shown)" if left_out
                                                    else "")), fontsize="medium")
    fig.tight_layout()
    chosen = "chosen" if day != common else "the last day every finished run reached"
    figures.save(fig, "sweep_scatter", f"The {summary_label(outcome, names)} of each run on day {day} ({chosen}) "
                                       "against each numeric parameter, marked by how the run ended.")


FEW_WORDS = (f" (mean ± t(0.975, n - 1) sd / sqrt(n) over the n replicates), dotted on days when fewer than {FEW} "
             f"replicates have {FEW} or more living animals of the species.")


def plot_sweep_traits(sweep, runs, traits, names, title, figures):
    """The genetic values over the days per parameter value when the runs wrote them, with the response
    to selection; otherwise the expressed traits, titled as such."""
    wrote = any(t is not None and t.wrote("genetics") for t in (sweep.run(r["run"]) for r in runs))
    if wrote and "neutral_mean" not in sweep["genetics"]:
        traits = expressed(traits)
    if wrote:
        draw_sweep_traits(sweep["genetics"], genetic_means, "mean", GENETIC_LABELS, runs, traits, names, figures,
                          "sweep_trait_evolution", f"{title} · genetic values of the living (what they inherit)",
                          "The mean genetic value of each chosen trait among the living over the days, per species "
                          "and parameter value: the mean of the replicates and its 95 % t-interval" + FEW_WORDS)
        draw_sweep_traits(sweep["genetics"], selection_response, "response", GENETIC_LABELS, runs, traits, names,
                          figures, "sweep_selection_response",
                          f"{title} · response to selection (change from day 0 in sd of day 0)",
                          "The change of the mean genetic value of each chosen trait since the first day, in units "
                          "of that day's standard deviation, per species and parameter value: the mean of the "
                          "replicates and its 95 % t-interval" + FEW_WORDS)
        return
    with warnings.catch_warnings(record=True) as said:  # why the runs have none, said in the note
        warnings.simplefilter("always")
        table = sweep["traits"]
    if table is None or table.empty:
        why = next((str(w.message) for w in said if "not asked to write it" in str(w.message)), None)
        return note("sweep_trait_evolution needs the runs' trait statistics" +
                    (f", and {why}" if why else ", and the sweep's runs have none") + ": left out")
    for warning in said:
        warnings.warn(warning.message, stacklevel=2)
    draw_sweep_traits(table, hatched_means, "mean", TRAIT_LABELS, runs, expressed(traits), names, figures,
                      "sweep_trait_evolution", f"{title} · expressed traits of juveniles and adults",
                      "The mean expressed value of each chosen trait among juveniles and adults over the days "
                      "(growth and the day's tuning included, not only inheritance), per species and parameter "
                      "value: the mean of the replicates and its 95 % t-interval" + FEW_WORDS)


def draw_sweep_traits(table, means_of, value, labels, runs, traits, names, figures, name, heading, caption):
    groups = groups_of(runs, names)
    species = [n for n in names if n in set(table.species)]
    fig, axes = plt.subplots(len(traits), len(species), figsize=(5 * len(species) + 2.5, 2.6 * len(traits) + 1.2),
                             sharex=True, squeeze=False)
    for colour, (label, members) in zip(group_colours(len(groups)), groups):
        chosen = table[table.run.isin([m["run"] for m in members])]
        for i, trait in enumerate(traits):
            per_run = []
            for run_name, rows in chosen.groupby("run"):
                means = means_of(rows, trait)
                means["run"] = run_name
                per_run.append(means[means["count"] > 0])
            if not per_run:
                continue
            stacked = pd.concat(per_run)
            for j, kind in enumerate(species):
                own = stacked[stacked.species == kind]
                mine = own.groupby("day")[value]
                mean = mine.mean()
                # Replicates that stand on at least FEW animals that day: fewer, and the mean is drawn dotted.
                count = (own["count"] >= FEW).groupby(own["day"]).sum()
                ax = axes[i][j]
                ax.plot(mean.index, mean.where(count >= FEW), color=colour, label=f"{label} (n = {len(members)})")
                ax.plot(mean.index, mean.where(count < FEW), color=colour, linestyle=":", linewidth=1)
                low, high = mean_interval(mine)
                ax.fill_between(low.index, low, high, color=colour, alpha=0.15, linewidth=0)
    for i, trait in enumerate(traits):
        axes[i][0].set_ylabel(wrapped(labels.get(trait, trait), 22), fontsize="small")
    for j, kind in enumerate(species):
        axes[0][j].set_title(kind, color=species_colour(names, kind))
        axes[-1][j].set_xlabel("day")
    axes[0][-1].legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.02, 1),
                       title=f"mean of the replicates and its 95 %\ninterval (dotted: fewer than {FEW} replicates\n"
                             f"with {FEW} or more living animals)",
                       title_fontsize="small")
    fig.suptitle(wrapped(heading), fontsize="medium")
    fig.tight_layout()
    figures.save(fig, name, caption)


def plot_sweep(args, figures):
    sweep = stacked.read_sweep(args.folder)
    names = species_of({"configuration": sweep.sweep.get("base", {})})
    runs = sweep_runs(sweep)
    finished = [r for r in runs if r["summary"] is not None]
    if not finished:
        fail("no run of the sweep has finished")
    columns = args.columns.split(",")
    known = list(finished[0]["summary"].columns)
    unknown = [c for c in columns + [args.outcome] if c not in known]
    if unknown:
        fail(f"unknown summary column(s): {', '.join(unknown)}; choose from {', '.join(known)}")
    traits = chosen_traits(args.traits)
    design = sweep.sweep.get("design", "grid")
    described = {"grid": "full grid", "lhs": "Latin hypercube", "sobol": "scrambled Sobol sample",
                 "morris": "Morris trajectories", "saltelli": "Saltelli matrices"}
    title = f"{os.path.basename(os.path.normpath(args.folder))} · {described.get(design, design)} · " \
            f"{len(runs)} run{'s' if len(runs) != 1 else ''} ({sweep.sweep['replicates']} per point) · " \
            f"master seed {sweep.sweep['master_seed']}"
    if design == "grid":
        plot_sweep_dynamics(runs, columns, names, title, figures)
        plot_sweep_extinct(runs, names, title, figures)
        plot_sweep_persistence(runs, names, title, figures)
        plot_sweep_traits(sweep, runs, traits, names, title, figures)
    plot_sweep_scatter(runs, args.outcome, names, title, figures, args.day)
    analysed = os.path.join(args.folder, "tables", "sensitivity.tsv")
    if os.path.exists(analysed):  # written by soilweb-sweep analyse
        plot_sensitivity(pd.read_csv(analysed, sep="\t"), design, title, figures, names)
    return sweep, runs, names, title
