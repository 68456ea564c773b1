"""What every figure shares: saving, colours, count axes, labels, how a run ended, and the
pooled trait means of the trait statistics."""
import io
import math
import os
import sys
import textwrap

import matplotlib.pyplot as plt
import pandas as pd
from matplotlib.colors import to_rgb
from matplotlib.ticker import FixedLocator, FuncFormatter, MaxNLocator, NullLocator

from ..command import fail
from ..schema import TRAIT_LABELS, loader_name

# One colour per species, the same in every figure: the founding species first.
SPECIES_COLOURS = ["#1b9e77", "#d95f02", "#7570b3", "#e7298a", "#66a61e"]




def note(message):
    print(f"soilweb-plot: note: {message}", file=sys.stderr)


class Figures:
    """Saves each figure as FORMAT in the output folder, and keeps it as SVG for the report."""

    def __init__(self, out, form, dpi, report):
        self.out, self.form, self.dpi = out, form, dpi
        self.kept = [] if report else None  # (title, caption, svg text)

    def save(self, fig, name, caption):
        fig.savefig(os.path.join(self.out, f"{name}.{self.form}"), dpi=self.dpi)
        if self.kept is not None:
            text = io.StringIO()
            fig.savefig(text, format="svg")
            svg = text.getvalue()
            self.kept.append((name, caption, svg[svg.index("<svg"):]))
        plt.close(fig)


def species_colour(names, name):
    return SPECIES_COLOURS[names.index(name) % len(SPECIES_COLOURS)] if name in names else "#444444"


def shade(colour, amount):
    """colour mixed with white: 0 keeps it, 1 is white."""
    return tuple(c + (1 - c) * amount for c in to_rgb(colour))


def nice_ticks(top):
    """0, 5, 10, 20, 50, 100, 200, ... up to the first at or above top."""
    ticks, step = [0, 5, 10], 10
    while ticks[-1] < top:
        for m in (2, 5, 10):
            if ticks[-1] < top:
                ticks.append(m * step)
        step *= 10
    return ticks


def count_axis(ax, top):
    """Whole numbers on a count axis; from 30 up, linear to 10 and logarithmic above, ticked 1-2-5 (the axis
    label then says so: call after setting it)."""
    if top >= 30:
        ax.set_ylabel(ax.get_ylabel() + "\n(log scale above 10)")
        ticks = nice_ticks(top)
        ax.set_yscale("symlog", linthresh=10, linscale=1)
        ax.yaxis.set_major_locator(FixedLocator(ticks))
        ax.yaxis.set_minor_locator(NullLocator())
        ax.yaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:,.0f}"))
        ax.set_ylim(0, ticks[-1])
    else:
        ax.yaxis.set_major_locator(MaxNLocator(integer=True))
        ax.set_ylim(0, max(1, top) * 1.05)


def words(key):
    """'initialPopulation' -> 'initial population'."""
    out = ""
    for i, c in enumerate(key):
        out += (" " + c.lower()) if c.isupper() and i > 0 and not key[i - 1].isupper() else c.lower() if i == 0 else c
    return out.replace("_", " ")


def wrapped(title, width=90):
    return "\n".join(textwrap.wrap(title, width))


def species_of(record):
    animals = record.get("configuration", {}).get("world", {}).get("life", {}).get("animals", [])
    return [str(a.get("name", "")).strip() for a in animals] or ["prey", "predator"]


def ending_of(info):
    """How the run ended before its last day, in words, with the last day run and the last configured;
    None when it ran to its end (or the record does not say)."""
    status, last, configured = info.get("status"), info.get("last_day"), info.get("last_day_configured")
    if last is None or configured is None or status == "completed":
        return None
    if status == "extinct":
        gone = info.get("died_out", "the animals")
        text = f"{gone} {'ran out' if 'resource' in gone else 'died out'} after day {last}"
    elif status == "stopped":
        text = f"stopped by {info.get('signal', 'a signal')} after day {last}"
    elif status == "failed":
        text = f"failed after day {last}"
    else:
        text = f"{status} after day {last}"
    return last, configured, f"{text} of {configured}"


def mark_ending(axes, ending):
    """The days never run are greyed, and the end is labelled on the first panel."""
    if ending is None:
        return
    last, configured, text = ending
    for ax in axes:
        ax.axvspan(last + 0.5, configured + 0.5, color="0.9", zorder=0)
        ax.axvline(last + 0.5, color="black", linestyle=":", linewidth=1)
        ax.set_xlim(right=configured + 0.5)
    axes[0].annotate(text, xy=(last + 0.5, 1), xycoords=("data", "axes fraction"), xytext=(4, -4),
                     textcoords="offset points", va="top", fontsize="small", fontweight="bold")


def pooled(rows, trait):
    """Count, mean and standard deviation of a trait over the rows of one day and species (stages pooled)."""
    n = rows["count"].astype(float)
    means, sds = rows[f"{trait}_mean"].astype(float), rows[f"{trait}_sd"].astype(float).fillna(0)
    keep = (n > 0) & means.apply(math.isfinite)
    n, means, sds = n[keep], means[keep], sds[keep]
    total = n.sum()
    if total == 0:
        return 0, float("nan"), float("nan")
    mean = (n * means).sum() / total
    spread = ((n - 1) * sds ** 2 + n * (means - mean) ** 2).sum()
    return total, mean, math.sqrt(spread / (total - 1)) if total > 1 else float("nan")


def hatched_means(traits, trait, stages=("juvenile", "adult")):
    """Per species and day: the pooled mean, sd, lowest and highest of trait among juveniles and adults
    (or the stages given). Breeders are left out: their search is the day's mate search, not their trait."""
    hatched = traits[traits.stage.isin(list(stages))]
    rows = []
    for (species, day), group in hatched.groupby(["species", "day"], sort=True):
        total, mean, sd = pooled(group, trait)
        rows.append({"species": species, "day": day, "count": total, "mean": mean, "sd": sd,
                     "low": group[f"{trait}_min"].astype(float).min(), "high": group[f"{trait}_max"].astype(float).max()})
    return pd.DataFrame(rows, columns=["species", "day", "count", "mean", "sd", "low", "high"])


# What a genetic value is, where it differs from the expressed trait's label.
GENETIC_LABELS = dict(TRAIT_LABELS, energy_tank="reserve at birth (share of body mass)",
                      pheno="development time (days)", body_size="body mass at birth", voracity="voracity exponent",
                      speed="speed exponent", search_area="search exponent",
                      neutral="neutral value (read by nothing: drift alone)")
# The neutral markers' value: a genetic value of the figures of genetic values only.
NEUTRAL = "neutral"


def expressed(traits):
    """The chosen traits that animals express (the neutral value is only inherited)."""
    return [t for t in traits if t != NEUTRAL]

# Genetic values are the same at every stage: the statistics of every living animal.
LIVING_STAGES = ("egg", "juvenile", "adult", "reproducing")


def genetic_means(genetics, trait):
    """hatched_means of the genetic statistics, over every living animal."""
    return hatched_means(genetics, trait, LIVING_STAGES)


def selection_response(genetics, trait):
    """Per species and day: the change of the mean genetic value from the first day, in units of the
    first day's standard deviation (NaN where that is 0)."""
    means = genetic_means(genetics, trait)
    means = means[means["count"] > 0]
    out = []
    for species, rows in means.groupby("species", sort=False):
        first = rows.sort_values("day").iloc[0]
        scale = first["sd"] if first["sd"] and math.isfinite(first["sd"]) else float("nan")
        out.append(rows.assign(response=(rows["mean"] - first["mean"]) / scale))
    return pd.concat(out) if out else means.assign(response=[])


def chosen_traits(text):
    """The traits named in a comma-separated list, by the configuration's names (the files' column names,
    "body", "vor", ..., are taken too), and "neutral" for the neutral markers; refused when one is not a trait."""
    traits = [loader_name(t) for t in text.split(",")]
    unknown = [t for t in traits if t not in TRAIT_LABELS and t != NEUTRAL]
    if unknown:
        fail(f"unknown trait column(s): {', '.join(unknown)}; choose from {', '.join(TRAIT_LABELS)} or {NEUTRAL}")
    return traits

