"""The figures of one run: dynamics, the cells' biomass, the traits of a day, their change over
the days, and the food web."""
import math
import os
import sys

import pandas as pd
import matplotlib.pyplot as plt
from matplotlib.colors import SymLogNorm
from matplotlib.ticker import FuncFormatter, MaxNLocator

from .. import loader
from ..schema import FIRST_ADULT_INSTAR, LIVING_STATES as LIVING, STATES, TRAIT_LABELS
from ..command import fail
from .evolution import plot_evolution
from .grouping import FEW
from .common import (GENETIC_LABELS, expressed, count_axis, ending_of, genetic_means, hatched_means, mark_ending, note, selection_response,
                     shade, species_colour, species_of, wrapped, chosen_traits)

LIVING_STATES = [("UNBORN", "eggs"), ("ACTIVE", "active"), ("REPRODUCING", "reproducing")]


DEATHS = [("STARVED", "starved"), ("PREDATED", "eaten"), ("BACKGROUND", "background mortality"),
          ("SENESCED", "old age")]  # BACKGROUND: predators only


# One colour per state, the same in every panel.
STATE_COLOURS = {"UNBORN": "#8c8c8c", "ACTIVE": "#1b9e77", "REPRODUCING": "#7570b3", "STARVED": "#d95f02",
                 "PREDATED": "#e7298a", "BACKGROUND": "#66a61e", "SENESCED": "#a6761d"}


STAGES = [("egg", "eggs"), ("juvenile", "juveniles"), ("adult", "adults")]


MATE_SEARCH = 100.0  # the search value of an animal looking for a mate


MEAN_DAYS = 7  # deaths per day of a purged run are drawn as a mean over so many days


def title_of(folder, info):
    parts = [os.path.basename(os.path.normpath(folder))]
    if "seed" in info:
        parts.append(f"seed {info['seed']}")
    if "soilweb_version" in info:
        parts.append(f"soilweb {info['soilweb_version']}")
    if non_finite_warning(info):
        parts.append("NON-FINITE VALUES")
    return " · ".join(parts)


NON_FINITE = "numbers that are not finite"


def non_finite_warning(info):
    """The record's warning that the run wrote nan or inf, or None."""
    return next((w for w in info.get("warnings") or [] if isinstance(w, str) and w.startswith(NON_FINITE)), None)


def moving_mean(values, days):
    """Each day's mean over the days up to it (at most days of them)."""
    out = []
    for k in range(len(values)):
        window = values[max(0, k - days + 1):k + 1]
        out.append(sum(window) / len(window))
    return out


def plot_dynamics(summary, info, title, figures):
    days = list(summary.day)
    purged = str(info.get("configuration", {}).get("simulation", {}).get("purgeDeadAnimals", "")) == "1"
    fig, axes = plt.subplots(5, 1, figsize=(10, 12), sharex=True)
    axes[0].plot(days, summary.BIOMASS, color="saddlebrown")
    axes[0].set_ylabel("total fungal\nbiomass")
    axes[0].set_ylim(bottom=0)
    if "TEMPERATURE" in summary:  # a temperature series: the day's temperature beside the biomass
        warmth = axes[0].twinx()
        warmth.plot(days, summary.TEMPERATURE, color="firebrick", linestyle="--", label="temperature")
        warmth.set_ylabel("temperature (°C)", color="firebrick")
        warmth.tick_params(axis="y", colors="firebrick")
    for ax, kind, name in ((axes[1], "PREY", "prey"), (axes[2], "PREDATOR", "predators")):
        top = 0
        for state, label in LIVING_STATES:
            values = summary[f"{kind}_{state}"]
            ax.plot(days, values, color=STATE_COLOURS[state], label=label)
            top = max(top, values.max())
        ax.set_ylabel(f"living {name}")
        count_axis(ax, top)
        ax.legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.01, 1))
    for ax, kind, name in ((axes[3], "PREY", "prey"), (axes[4], "PREDATOR", "predator")):
        top = 0
        for state, label in DEATHS:
            column = f"{kind}_{state}"
            if column not in summary:
                continue
            values = list(summary[column])
            if purged:
                values = moving_mean(values, MEAN_DAYS)
            ax.plot(days, values, color=STATE_COLOURS[state], label=label)
            top = max(top, max(values))
        if purged:  # means of counts: not whole numbers
            ax.set_ylim(0, max(1, top) * 1.05)
            ax.set_ylabel(f"{name} deaths\nper day ({MEAN_DAYS}-day mean)")
        else:
            ax.set_ylabel(f"{name} deaths\nso far")
            count_axis(ax, top)
        ax.legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.01, 1))
    axes[-1].set_xlabel("day")
    axes[-1].xaxis.set_major_locator(MaxNLocator(integer=True))
    mark_ending(axes, ending_of(info))
    fig.suptitle(title)
    fig.tight_layout()
    figures.save(fig, "dynamics", "The soil's biomass, the living animals of each life state, and their deaths "
                                  "of each kind over the days.")


def plot_cells(run, info, title, figures):
    cells = run["cells"]
    if cells is None:
        return note(f"no cell files under {run.folder}: the cell figure left out")
    days = sorted(cells.day.unique())
    grid = [list(cells[cells.day == day].sort_values("id").fungi) for day in days]
    columns = list(map(list, zip(*grid)))  # cell x day
    # Each day's column reaches halfway to its neighbours, so thinned runs show as they are.
    edges = [days[0] - 0.5] + [(a + b) / 2 for a, b in zip(days, days[1:])] + [days[-1] + 0.5]
    fig, ax = plt.subplots(figsize=(10, 5))
    image = ax.pcolormesh(edges, [c - 0.5 for c in range(len(columns) + 1)], columns, cmap="YlGn")
    fig.colorbar(image, ax=ax, label="fungal biomass")
    ax.set_xlabel("day")
    ax.set_ylabel("cell (ring position)")
    ax.yaxis.set_major_locator(MaxNLocator(integer=True))
    mark_ending([ax], ending_of(info))
    ax.set_title(title)
    fig.tight_layout()
    figures.save(fig, "cells_biomass", "The fungal biomass of each cell of the ring over the days.")


def stage_of(animals):
    """Each animal's life stage: egg (not hatched), juvenile (below instar 4) or adult."""
    stage = pd.Series("adult", index=animals.index)
    stage[animals.instar.astype(float) < FIRST_ADULT_INSTAR] = "juvenile"
    stage[animals.state == STATES["UNBORN"]] = "egg"
    return stage


def plot_traits(run, day, traits, names, title, figures):
    animals = run["animals_end"]
    if animals is None:
        return note("no end-of-day animal files: the trait figure left out")
    if day not in set(animals.day):
        fail(f"no end-of-day animal file for day {day}; days written: {', '.join(map(str, sorted(set(animals.day))))}")
    living = animals[(animals.day == day) & animals.state.isin(LIVING)]
    species = [n for n in names if n in set(living.species)] + sorted(set(living.species) - set(names))
    if not species:
        return note(f"no living animal at the end of day {day}: the trait figure left out")
    stages = stage_of(living)
    fig, axes = plt.subplots(len(species), len(traits), figsize=(3.3 * len(traits) + 1.5, 3.1 * len(species)),
                             squeeze=False)
    for i, name in enumerate(species):
        colour = species_colour(names, name)
        mine = living.species == name
        counts = ", ".join(f"{(stages[mine] == s).sum()} {label}" for s, label in STAGES)
        for ax, trait in zip(axes[i], traits):
            groups = [living[mine & (stages == s)][trait].astype(float) for s, _ in STAGES]
            heading = f"{name}: {counts}"
            if trait == "search_area":  # 100 is the day's mate search of a breeder, not a trait value
                searching = sum(int((g == MATE_SEARCH).sum()) for g in groups)
                groups = [g[g != MATE_SEARCH] for g in groups]
                if searching:
                    heading = f"{name}: {searching} searching for a mate left out"
            finite = [g[g.apply(math.isfinite)] for g in groups]
            if sum(len(g) for g in finite):
                ax.hist([list(g) for g in finite], bins=25, stacked=True,
                        color=[shade(colour, 0.7), shade(colour, 0.35), colour],
                        label=[label for _, label in STAGES])
            ax.set_xlabel(TRAIT_LABELS.get(trait, trait), fontsize="small")
            ax.set_title(heading, fontsize="small", color=colour)
            ax.yaxis.set_major_locator(MaxNLocator(integer=True))
        axes[i][0].set_ylabel("animals")
        axes[i][-1].legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.02, 1))
    fig.suptitle(f"{title}\nliving animals at the end of day {day}")
    fig.tight_layout()
    figures.save(fig, f"traits_day_{day}", f"How the chosen traits are spread among the living animals at the end "
                                           f"of day {day}, eggs, juveniles and adults stacked.")


def plot_trait_evolution(run, traits, names, info, title, figures):
    """The genetic values over the days when the run wrote them, and the expressed traits: the
    two differ by growth and the day's tuning, which are not evolution."""
    shown = run["traits"]
    genetic = run["genetics"] if run.wrote("genetics") else None
    if genetic is None or "neutral_mean" not in genetic:
        traits = expressed(traits)
    if genetic is not None and not genetic.empty:
        draw_trait_means(genetic, genetic_means, GENETIC_LABELS, traits, names, info, figures, "trait_evolution",
                         f"{title}\nhow the genetic values of the living change over the days (what they inherit)",
                         "The mean genetic value of each chosen trait among the living over the days, per "
                         "species, with one standard deviation either side: what the animals inherit, before "
                         f"growth and the day's tuning. Dotted, with ticks along the bottom: days with fewer than "
                         f"{FEW} such animals.")
        plot_selection_response(genetic, traits, names, info, title, figures)
        name = "trait_expression"
    else:
        name = "trait_evolution"
        note("no genetic statistics (simulation.outputs.geneticStatistics): trait_evolution shows expressed "
             "values, which mix growth and the day's tuning with inheritance")
    if shown is None or shown.empty:
        return note("no trait statistics and no end-of-day animal files: the "
                    f"{name.replace('_', '-')} figure left out")
    draw_trait_means(shown, hatched_means, TRAIT_LABELS, expressed(traits), names, info, figures, name,
                     f"{title}\nhow the expressed traits of juveniles and adults change over the days "
                     "(growth and tuning included)",
                     "The mean expressed value of each chosen trait among juveniles and adults over the days, "
                     "per species, with one standard deviation either side (within the lowest and highest "
                     "value): body mass grows with every moult and voracity, speed and search follow the day's "
                     "tuning. A mate search counts as a search of 100 moves in the day's statistics.")


def draw_marking_few(ax, days, values, counts, colour, label):
    """A line of means, dotted and thin on the days it stands on fewer than FEW animals, each such day marked
    by a tick along the bottom: a mean of one or two animals is no population's."""
    few = (counts < FEW).to_numpy()
    ax.plot(days, values.where(~few), color=colour, label=label)
    ax.plot(days, values.where(few), color=colour, linestyle=":", linewidth=1)
    if few.any():
        ax.plot(days[few], [0.02] * int(few.sum()), marker="|", linestyle="none", color=colour, markersize=6,
                transform=ax.get_xaxis_transform())


def draw_trait_means(table, means_of, labels, traits, names, info, figures, name, heading, caption):
    fig, axes = plt.subplots(len(traits), 1, figsize=(10, 2.6 * len(traits) + 1), sharex=True, squeeze=False)
    for ax, trait in zip(axes[:, 0], traits):
        means = means_of(table, trait)
        for species in [n for n in names if n in set(means.species)]:
            line = means[(means.species == species) & (means["count"] > 0)]
            colour = species_colour(names, species)
            draw_marking_few(ax, line.day, line["mean"], line["count"], colour, species)
            spread = line.sd.fillna(0)  # one sd either side, within the values there are
            ax.fill_between(line.day, (line["mean"] - spread).clip(lower=line.low),
                            (line["mean"] + spread).clip(upper=line.high), color=colour, alpha=0.2, linewidth=0)
        ax.set_ylabel(wrapped(labels.get(trait, trait), 22), fontsize="small")
    axes[0, 0].legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.01, 1),
                      title="mean ± 1 sd", title_fontsize="small")
    axes[-1, 0].set_xlabel("day")
    mark_ending(list(axes[:, 0]), ending_of(info))
    fig.suptitle(heading)
    fig.tight_layout()
    figures.save(fig, name, caption)


def plot_selection_response(genetic, traits, names, info, title, figures):
    fig, axes = plt.subplots(len(traits), 1, figsize=(10, 2.3 * len(traits) + 1), sharex=True, squeeze=False)
    for ax, trait in zip(axes[:, 0], traits):
        response = selection_response(genetic, trait)
        for species in [n for n in names if n in set(response.species)]:
            line = response[response.species == species]
            draw_marking_few(ax, line.day, line.response, line["count"], species_colour(names, species), species)
        ax.axhline(0, color="#999999", linewidth=0.8)
        ax.set_ylabel(wrapped(f"{GENETIC_LABELS.get(trait, trait)} (sd of day 0)", 24), fontsize="small")
    axes[0, 0].legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.01, 1))
    axes[-1, 0].set_xlabel("day")
    mark_ending(list(axes[:, 0]), ending_of(info))
    fig.suptitle(f"{title}\nresponse to selection: the mean genetic value's change from day 0")
    fig.tight_layout()
    figures.save(fig, "selection_response", "The change of the mean genetic value of each chosen trait among the "
                                            "living since the first day, in units of that day's standard "
                                            f"deviation, per species; dotted, with ticks along the bottom, on days "
                                            f"with fewer than {FEW} living animals.")


def food_web_groups(nodes):
    """Each animal's group: its species, founders and offspring apart (founders when the birth day is unknown)."""
    born = nodes.birth_day.astype(float) > 0 if "birth_day" in nodes else pd.Series(False, index=nodes.index)
    return nodes.species.astype(str) + pd.Series(["\noffspring" if b else "\nfounders" for b in born],
                                                 index=nodes.index)


def plot_food_web(run, names, title, figures):
    nodes, edges = run["foodweb_nodes"], run["foodweb_edges"]
    if nodes is None or edges is None:
        return note("no food-web files (a run that removes its dead writes none): the food-web figure left out")
    if edges.empty:
        return note("no animal met another: the food-web figure left out")
    if "species" not in nodes:
        return note("no end-of-day animal files to tell the matrices' animals apart: the food-web figure left out")
    group = dict(zip(nodes.id, food_web_groups(nodes)))
    order = [f"{n}\n{kind}" for n in names for kind in ("founders", "offspring")]
    met = pd.DataFrame({"hunter": edges.hunter.map(group), "victim": edges.victim.map(group),
                        "encounters": edges.encounters, "predations": edges.predations}).dropna()
    hunters = [g for g in order if g in set(met.hunter)]
    victims = [g for g in order if g in set(met.victim)]
    fig, axes = plt.subplots(1, 2, figsize=(4.2 + 2.6 * len(victims), 1.6 + 1.3 * len(hunters)), squeeze=False)
    for ax, column, what in ((axes[0, 0], "encounters", "encounters"), (axes[0, 1], "predations", "animals eaten")):
        table = met.groupby(["hunter", "victim"])[column].sum()
        grid = [[int(table.get((h, v), 0)) for v in victims] for h in hunters]
        top = max(max(row) for row in grid) or 1
        shown = ax.imshow(grid, cmap="Reds", norm=SymLogNorm(linthresh=1, vmin=0, vmax=top * 1.5), aspect="auto")
        bar = fig.colorbar(shown, ax=ax, fraction=0.08, pad=0.03)
        bar.set_label(f"{what} (log colour scale)", fontsize="small")
        bar.ax.yaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:,.0f}"))
        for i, row in enumerate(grid):
            for j, value in enumerate(row):
                ax.text(j, i, f"{value:,}", ha="center", va="center", fontsize="medium",
                        color="white" if value > top ** 0.75 else "black")
        ax.set_xticks(range(len(victims)), [f"{v}" for v in victims], fontsize="small")
        ax.set_yticks(range(len(hunters)), hunters, fontsize="small")
        ax.set_xlabel("victim")
        ax.set_ylabel("hunter")
        ax.set_title(what)
    fig.suptitle(f"{title}\nwho met and who ate whom ({len(met):,} pairs of animals)")
    fig.text(0.5, 0.01, "Each cell counts, over the whole run, the encounters (left) and the animals eaten (right) "
                        "of hunters in its row's group with victims in its column's group.", ha="center",
             fontsize="small", wrap=True)
    fig.tight_layout(rect=(0, 0.06, 1, 1))
    figures.save(fig, "food_web", "Encounters and predations between the species' founders and offspring: each "
                                  "cell counts what hunters of its row did to victims of its column.")


def plot_run(args, figures):
    try:
        run = loader.read_run(args.folder)
    except FileNotFoundError:
        fail(f"no summary file under {args.folder}/outputs")
    summary = run["summary"]
    if summary is None:
        fail(f"no summary file under {args.folder}/outputs")
    if summary.empty:
        fail("the summary holds no day")
    info = run.record
    names = species_of(info)
    title = title_of(args.folder, info)
    if non_finite_warning(info):
        print(f"soilweb-plot: warning: {args.folder}: {non_finite_warning(info)}; its figures are marked",
              file=sys.stderr)
    traits = chosen_traits(args.traits)
    animals = run["animals_end"]
    day = args.day if args.day is not None else (int(animals.day.max()) if animals is not None else 0)
    plot_dynamics(summary, info, title, figures)
    plot_cells(run, info, title, figures)
    plot_traits(run, day, expressed(traits), names, title, figures)
    plot_trait_evolution(run, traits, names, info, title, figures)
    plot_evolution(run, traits, names, title, figures, args.out)
    plot_food_web(run, names, title, figures)
    return info, title
