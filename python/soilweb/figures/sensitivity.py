"""The figure of a sensitivity analysis: per outcome, the parameters ranked by their measure."""
import numpy as np
import matplotlib.pyplot as plt

from .common import wrapped
from .grouping import parameter_label


# The measure each design ranks the parameters by, and what it says.
RANKED_BY = {"morris": ("mu_star", "Morris μ* (mean |elementary effect|, unit range)"),
             "saltelli": ("ST", "Sobol indices: total order (bar), first order (dot)")}


def plot_sensitivity(table, design, title, figures, names=()):
    """Per outcome, the parameters ranked by their measure, with its 95 % bootstrap interval."""
    measure, axis = RANKED_BY.get(design, ("prcc", "partial rank correlation coefficient"))
    outcomes = list(dict.fromkeys(table.outcome))
    fig, axes = plt.subplots(1, len(outcomes), figsize=(4.8 * len(outcomes) + 1, 0.5 * table.parameter.nunique() + 2),
                             squeeze=False)
    for ax, outcome in zip(axes[0], outcomes):
        mine = table[(table.outcome == outcome) & (table.measure == measure)].copy()
        mine = mine.reindex(mine.value.abs().sort_values().index)
        y = np.arange(len(mine))
        error = np.array([mine.value - mine.low, mine.high - mine.value])
        ax.barh(y, mine.value, color="#7570b3", alpha=0.75,
                xerr=np.where(np.isfinite(error), error, 0), error_kw={"ecolor": "#333333", "capsize": 3})
        if design == "saltelli":
            first = table[(table.outcome == outcome) & (table.measure == "S1")].set_index("parameter")
            ax.plot(first.loc[mine.parameter, "value"], y, "o", color="#d95f02", label="first order")
        ax.set_yticks(y, [wrapped(parameter_label(p, list(names)), 24) for p in mine.parameter], fontsize="small")
        ax.axvline(0, color="#999999", linewidth=0.8)
        ax.set_xlabel(wrapped(axis, 40), fontsize="small")
        ax.set_title(wrapped(outcome, 40), fontsize="small")
    fig.suptitle(wrapped(f"{title} · which parameters matter"), fontsize="medium")
    fig.tight_layout()
    figures.save(fig, "sensitivity", f"For each outcome, the parameters ranked by {axis}, with 95 % bootstrap "
                                     "intervals.")
