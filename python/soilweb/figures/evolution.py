"""The figures of evolution measured from a run's pedigree: selection gradients by birth cohort with
their intervals (the neutral value beside the traits as the control), and the founder lines that
persist. soilweb-plot writes the tables they draw beside them (NAME_selection.tsv, NAME_lineages.tsv)."""
import os

import matplotlib.pyplot as plt

from .. import evolution
from ..sweep.collect import write_table
from .common import GENETIC_LABELS, note, species_colour, wrapped

# The founder lines drawn one by one; the others are pooled.
SHOWN_LINES = 8
LINE_COLOURS = plt.get_cmap("tab10").colors


def plot_evolution(run, traits, names, title, figures, out):
    """Writes the selection and lineage tables of a run with a pedigree into out, and draws them."""
    # A pedigree made from snapshots misses the animals no snapshot saw: no ground for fitness.
    if not run.wrote("pedigree"):
        return note("no pedigree file (simulation.outputs.pedigree): selection and lineages left out")
    table = evolution.selection(run)
    write_table(table, os.path.join(out, f"{run.name}_selection.tsv"))
    plot_gradients(table, traits, names, title, figures)
    lines = evolution.lineages(run)
    write_table(lines, os.path.join(out, f"{run.name}_lineages.tsv"))
    plot_lineages(lines, names, title, figures)


def plot_gradients(table, traits, names, title, figures):
    shown = [t for t in traits if t in set(table.trait)] + (["neutral"] if "neutral" in set(table.trait) else [])
    species = [n for n in names if n in set(table.species)]
    fig, axes = plt.subplots(len(shown), len(species), figsize=(5 * len(species) + 2, 2.3 * len(shown) + 1.2),
                             sharex=True, squeeze=False)
    for i, trait in enumerate(shown):
        for j, kind in enumerate(species):
            ax = axes[i][j]
            rows = table[(table.species == kind) & (table.trait == trait)]
            for offset, (measure, marker) in enumerate((("differential", "o"), ("gradient", "s"))):
                known = rows.dropna(subset=[measure, f"{measure}_se"])
                if known.empty:  # matplotlib draws no error bar of NaN alone
                    continue
                x = known.cohort + known.cohort_end.sub(known.cohort).add(1) * (0.35 + 0.3 * offset)
                ax.errorbar(x, known[measure], yerr=1.96 * known[f"{measure}_se"], fmt=marker, markersize=4,
                            capsize=2, color=species_colour(names, kind), alpha=1 if offset else 0.55,
                            label=f"{measure} ± 1.96 se")
            ax.axhline(0, color="#999999", linewidth=0.8)
            label = "neutral value (control)" if trait == "neutral" else GENETIC_LABELS.get(trait, trait)
            axes[i][0].set_ylabel(wrapped(label, 22), fontsize="small")
        axes[0][-1].legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.02, 1))
    for j, kind in enumerate(species):
        axes[0][j].set_title(kind, color=species_colour(names, kind))
        axes[-1][j].set_xlabel("birth cohort (first day)")
    fig.suptitle(f"{title}\nselection on the genetic values, per birth cohort (relative fitness: lifetime offspring)")
    fig.tight_layout()
    figures.save(fig, "selection", "Per species and birth cohort, the standardised selection differential (pale) and "
                                   "the Lande-Arnold gradient (dark) of each chosen trait's genetic value, with 95 % "
                                   "intervals (± 1.96 standard errors); the neutral value, read by nothing in the "
                                   "model, is the control whose gradient should be 0. A cohort whose animals still "
                                   "live at the end has not finished breeding.")


def plot_lineages(lines, names, title, figures):
    species = [n for n in names if n in set(lines.species)]
    fig, axes = plt.subplots(len(species), 1, figsize=(10, 3.2 * len(species) + 1), sharex=True, squeeze=False)
    for ax, kind in zip(axes[:, 0], species):
        own = lines[lines.species == kind]
        shares = own.pivot_table(index="day", columns="founder", values="share", fill_value=0)
        last = shares.iloc[-1].sort_values(ascending=False)
        kept = list(last[last > 0].index[:SHOWN_LINES])
        stacks = [shares[f].to_numpy() for f in kept] + [shares.drop(columns=kept).sum(axis=1).to_numpy()]
        labels = [f"founder {f}" for f in kept] + [f"the other {shares.shape[1] - len(kept)} lines"]
        colours = [LINE_COLOURS[k % len(LINE_COLOURS)] for k in range(len(kept))] + ["#dddddd"]
        ax.stackplot(shares.index, *stacks, labels=labels, colors=colours, linewidth=0)
        alive = own.groupby("day").founder.nunique()
        ax.set_title(f"{kind}: founder lines living ({alive.iloc[0]} on day {alive.index[0]}, "
                     f"{alive.iloc[-1]} on day {alive.index[-1]})", fontsize="small")
        ax.set_ylabel("share of the living")
        ax.set_ylim(0, 1)
        ax.legend(fontsize="x-small", loc="upper left", bbox_to_anchor=(1.01, 1))
    axes[-1, 0].set_xlabel("day")
    fig.suptitle(f"{title}\nfounder lines (each animal follows its first parent's line)")
    fig.tight_layout()
    figures.save(fig, "lineages", "Per species, the share of the living (eggs included) that descends, along first "
                                  "parents, from each founder: the lines still living at the end drawn one by one "
                                  f"(at most {SHOWN_LINES}), the others pooled in grey.")

