"""The figures of a calibration: each key's posterior (weighted) over its prior's range, pairs of up to five
keys, the tolerance and acceptance by generation, and the posterior predictive check against the observed
points."""
import matplotlib.pyplot as plt
import numpy as np

from ..calibrate.driver import weighted_quantiles

POSTERIOR, PRIOR, TRUTH = "#1b9e77", "#bbbbbb", "#d95f02"
MOST_PAIRED = 5


def prior_span(spec):
    """The range a prior is drawn over: min to max, or its mean +- 3 sd."""
    if "min" in spec:
        return float(spec["min"]), float(spec["max"])
    return float(spec["mean"]) - 3 * float(spec["sd"]), float(spec["mean"]) + 3 * float(spec["sd"])


def is_log(spec):
    return spec.get("scale") == "log"


def plot_marginals(particles, priors, truth, figures, title):
    keys = list(priors)
    last = particles[particles.generation == particles.generation.max()]
    first = particles[particles.generation == 0]
    fig, axes = plt.subplots(1, len(keys), figsize=(4.2 * len(keys), 3.4), squeeze=False)
    for ax, key in zip(axes[0], keys):
        low, high = prior_span(priors[key])
        bins = np.geomspace(low, high, 31) if is_log(priors[key]) else np.linspace(low, high, 31)
        ax.hist(first[key], bins=bins, weights=first.weight, color=PRIOR, label="generation 0 (the prior)",
                density=True)
        ax.hist(last[key], bins=bins, weights=last.weight, color=POSTERIOR, alpha=0.8, density=True,
                label=f"posterior (generation {int(last.generation.iloc[0])})")
        q05, q50, q95 = weighted_quantiles(last[key], last.weight, (0.05, 0.5, 0.95))
        ax.axvspan(q05, q95, color=POSTERIOR, alpha=0.12, label="90 % interval")
        ax.axvline(q50, color=POSTERIOR, linestyle="--", linewidth=1)
        if key in truth:
            ax.axvline(truth[key], color=TRUTH, linewidth=2, label="truth")
        if is_log(priors[key]):
            ax.set_xscale("log")
        ax.set_xlim(low, high)
        ax.set_xlabel(key, fontsize=8)
        ax.set_yticks([])
    axes[0][0].set_ylabel("density")
    axes[0][0].legend(fontsize=7, loc="upper left")
    fig.suptitle(f"{title}: each key's posterior over its prior's range")
    fig.tight_layout()
    figures.save(fig, "calibration_posterior", "Each key's posterior (weighted particles of the last generation) "
                 "over its prior's range, against generation 0, with the median, the 90 % interval and the truth "
                 "when known.")


def plot_pairs(particles, priors, truth, figures, title):
    keys = list(priors)[:MOST_PAIRED]
    if len(keys) < 2:
        return
    last = particles[particles.generation == particles.generation.max()]
    size = np.clip(last.weight.to_numpy() / last.weight.max() * 30, 2, 30)
    fig, axes = plt.subplots(len(keys), len(keys), figsize=(2.6 * len(keys), 2.6 * len(keys)), squeeze=False)
    for i, y in enumerate(keys):
        for j, x in enumerate(keys):
            ax = axes[i][j]
            if j > i:
                ax.axis("off")
                continue
            if i == j:
                low, high = prior_span(priors[x])
                bins = np.geomspace(low, high, 21) if is_log(priors[x]) else np.linspace(low, high, 21)
                ax.hist(last[x], bins=bins, weights=last.weight, color=POSTERIOR)
                ax.set_yticks([])
            else:
                ax.scatter(last[x], last[y], s=size, color=POSTERIOR, alpha=0.5, linewidths=0)
                if x in truth and y in truth:
                    ax.plot(truth[x], truth[y], marker="x", color=TRUTH, markersize=9, mew=2)
                if is_log(priors[y]):
                    ax.set_yscale("log")
                ax.set_ylim(*prior_span(priors[y]))
            if is_log(priors[x]):
                ax.set_xscale("log")
            ax.set_xlim(*prior_span(priors[x]))
            if i == len(keys) - 1:
                ax.set_xlabel(x, fontsize=7)
            if j == 0 and i > 0:
                ax.set_ylabel(y, fontsize=7)
            ax.tick_params(labelsize=7)
    fig.suptitle(f"{title}: the posterior's pairs (marker size: weight)")
    fig.tight_layout()
    figures.save(fig, "calibration_pairs", "Pairs of keys in the last population, each particle sized by its weight, "
                 "over the priors' ranges: a slanted cloud is a correlation (keys that can make up for each other); "
                 "the cross is the truth when known.")


def plot_generations(generations, figures, title):
    fig, (left, right) = plt.subplots(1, 2, figsize=(9, 3.4))
    later = generations[np.isfinite(generations.tolerance)]
    left.plot(later.generation, later.tolerance, marker="o", color=POSTERIOR)
    left.set_yscale("log")
    left.set_xlabel("generation")
    left.set_ylabel("tolerance (log scale)")
    right.plot(generations.generation, 100 * generations.acceptance_rate, marker="o", color=TRUTH)
    right.set_xlabel("generation")
    right.set_ylabel("proposals accepted (%)")
    right.set_ylim(0, 105)
    for ax in (left, right):
        ax.set_xticks(generations.generation)
    fig.suptitle(f"{title}: tolerance and acceptance by generation")
    fig.tight_layout()
    figures.save(fig, "calibration_generations", "The tolerance of each generation (generation 0 takes every run) "
                 "and the share of its proposals it accepted: a tolerance that stops falling while the acceptance "
                 "keeps falling says the model cannot come closer to the data.")


def plot_predictive(predictive, observed, figures, title):
    columns = [c for c in observed.columns if c not in ("day", "series")]
    fig, axes = plt.subplots(1, len(columns), figsize=(4.6 * len(columns), 3.6), squeeze=False)
    for ax, column in zip(axes[0], columns):
        by_day = predictive.groupby("day")[column]
        bands = by_day.quantile([0.05, 0.25, 0.5, 0.75, 0.95]).unstack()
        ax.fill_between(bands.index, bands[0.05], bands[0.95], color=POSTERIOR, alpha=0.18, label="90 %")
        ax.fill_between(bands.index, bands[0.25], bands[0.75], color=POSTERIOR, alpha=0.35, label="50 %")
        ax.plot(bands.index, bands[0.5], color=POSTERIOR, label="median")
        points = observed.dropna(subset=[column])
        ax.plot(points.day, points[column], "o", color=TRUTH, markersize=3.5, label="observed")
        ax.set_xlabel("day")
        ax.set_ylabel(column)
    axes[0][0].legend(fontsize=7)
    draws = predictive.draw.nunique()
    fig.suptitle(f"{title}: {draws} runs at posterior draws against the observations")
    fig.tight_layout()
    figures.save(fig, "calibration_predictive", f"The posterior predictive check: {draws} runs at particles drawn "
                 "from the posterior by weight, each with its own seed; their median and 50 and 90 % bands of each "
                 "observed column (in the observed unit) against the observed points.")

