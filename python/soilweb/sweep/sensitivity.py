"""Measures of which parameters matter, from a design's inputs and one outcome per point, with
numpy and scipy only: partial rank correlation coefficients (any sample), Morris' elementary
effects (morris trajectories) and first- and total-order Sobol indices (Saltelli's matrices).
Every function returns rows (parameter index, measure, value, low, high); low and high are a
bootstrap interval (95 %), NaN where none is drawn."""
import numpy as np
from scipy import stats

LEVEL = 0.95


def _interval(draws):
    draws = np.asarray(draws, dtype=float)
    draws = draws[np.isfinite(draws)]
    if len(draws) == 0:
        return np.nan, np.nan
    return tuple(np.quantile(draws, [(1 - LEVEL) / 2, (1 + LEVEL) / 2]))


def _prcc(x, y):
    """The partial rank correlation of y with each column of x, the others held out."""
    ranks = np.column_stack([stats.rankdata(c) for c in x.T])
    ry = stats.rankdata(y)
    n, k = ranks.shape
    out = np.empty(k)
    for j in range(k):
        others = np.column_stack([np.ones(n), np.delete(ranks, j, axis=1)])
        residual = lambda v: v - others @ np.linalg.lstsq(others, v, rcond=None)[0]
        a, b = residual(ranks[:, j]), residual(ry)
        scale = np.sqrt((a @ a) * (b @ b))
        out[j] = (a @ b) / scale if scale > 0 else np.nan
    return out


def prcc(x, y, boot=1000, seed=0):
    """Partial rank correlation of the outcome with each parameter, over every run (x: runs x k)."""
    x, y = np.asarray(x, dtype=float), np.asarray(y, dtype=float)
    value = _prcc(x, y)
    rng = np.random.default_rng(seed)
    draws = []
    for _ in range(boot):
        pick = rng.integers(0, len(y), len(y))
        with np.errstate(invalid="ignore", divide="ignore"):
            draws.append(_prcc(x[pick], y[pick]))
    draws = np.array(draws)
    return [(j, "prcc", value[j]) + _interval(draws[:, j]) for j in range(x.shape[1])]


def elementary_effects(unit, y, k):
    """Per trajectory of k + 1 points (rows of unit, in order), the elementary effect of each
    factor: the change of the outcome over the change of the one factor that moved (unit scale)."""
    unit, y = np.asarray(unit, dtype=float), np.asarray(y, dtype=float)
    trajectories = len(y) // (k + 1)
    effects = np.full((trajectories, k), np.nan)
    for t in range(trajectories):
        rows = slice(t * (k + 1), (t + 1) * (k + 1))
        u, v = unit[rows], y[rows]
        for step in range(k):
            moved = np.flatnonzero(np.abs(u[step + 1] - u[step]) > 1e-12)
            if len(moved) == 1:
                i = moved[0]
                effects[t, i] = (v[step + 1] - v[step]) / (u[step + 1, i] - u[step, i])
    return effects


def morris(unit, y, k, boot=1000, seed=0):
    """Morris' mu* (mean absolute elementary effect, with a bootstrap interval over trajectories),
    mu (mean) and sigma (standard deviation) of each factor."""
    effects = elementary_effects(unit, y, k)
    rng = np.random.default_rng(seed)
    rows = []
    for i in range(k):
        e = effects[:, i][np.isfinite(effects[:, i])]
        if len(e) == 0:
            rows += [(i, m, np.nan, np.nan, np.nan) for m in ("mu_star", "mu", "sigma")]
            continue
        draws = [np.mean(np.abs(rng.choice(e, len(e)))) for _ in range(boot)]
        rows.append((i, "mu_star", float(np.mean(np.abs(e)))) + _interval(draws))
        rows.append((i, "mu", float(np.mean(e)), np.nan, np.nan))
        rows.append((i, "sigma", float(np.std(e, ddof=1)) if len(e) > 1 else np.nan, np.nan, np.nan))
    return rows


def _sobol(fa, fb, fab):
    variance = np.var(np.concatenate([fa, fb]), ddof=1)
    first = np.mean(fb[:, None] * (fab - fa[:, None]), axis=0) / variance  # Saltelli (2010)
    total = 0.5 * np.mean((fa[:, None] - fab) ** 2, axis=0) / variance  # Jansen
    return first, total


def sobol(y, k, boot=1000, seed=0):
    """First-order (Saltelli's estimator) and total-order (Jansen's) Sobol indices from outcomes
    in Saltelli's order: A (n), B (n), then A with column i from B for each factor (n each)."""
    y = np.asarray(y, dtype=float)
    n = len(y) // (k + 2)
    fa, fb = y[:n], y[n:2 * n]
    fab = np.column_stack([y[(2 + i) * n:(3 + i) * n] for i in range(k)])
    first, total = _sobol(fa, fb, fab)
    rng = np.random.default_rng(seed)
    draws = []
    for _ in range(boot):
        pick = rng.integers(0, n, n)
        with np.errstate(invalid="ignore", divide="ignore"):
            draws.append(np.concatenate(_sobol(fa[pick], fb[pick], fab[pick])))
    draws = np.array(draws)
    rows = [(i, "S1", first[i]) + _interval(draws[:, i]) for i in range(k)]
    return rows + [(i, "ST", total[i]) + _interval(draws[:, k + i]) for i in range(k)]
