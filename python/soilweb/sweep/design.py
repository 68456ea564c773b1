"""The parameter values of a sweep's runs: every combination of a grid, a Latin hypercube or
scrambled Sobol sample of ranges, or a sensitivity design over ranges: Morris trajectories of
elementary effects, or Saltelli's A, B and A_B(i) matrices for Sobol indices."""
import itertools
import warnings

import numpy as np

from .config import fail


def is_range(value):
    numbers = isinstance(value, dict) and set(value) == {"min", "max"} and all(
        isinstance(value[k], (int, float)) and not isinstance(value[k], bool) for k in ("min", "max"))
    return numbers and value["min"] < value["max"]


# The designs whose points are read in an order the analysis relies on (the record keeps it).
SENSITIVITY = ("morris", "saltelli")


def design_points(grid, design, samples, master_seed, known, levels=4):
    """The parameter values of each run and, for a sample of ranges, its points in the unit cube
    (None for a grid): every combination of a grid's lists, or a sample of the ranges (lhs, sobol:
    N points; morris: N trajectories of k + 1 points on a grid of levels; saltelli: N (k + 2)
    points), drawn from the master seed."""
    keys = list(grid)
    if design == "grid":
        if not all(isinstance(v, list) and v for v in grid.values()):
            fail("a grid maps each key path to a non-empty list of values (ranges need --design lhs, sobol, "
                 "morris or saltelli)")
        return list(itertools.product(*(grid[k] for k in keys))), None
    bad = [k for k in keys if not is_range(grid[k])]
    if bad:
        fail(f"--design {design} takes ranges {{\"min\": a, \"max\": b}} with a < b; not so for {', '.join(bad)}")
    if samples is None or samples < 1:
        fail(f"--design {design} needs --samples N (at least 1)")
    if design == "morris":
        if levels < 2 or levels % 2:
            fail(f"--levels must be an even number of at least 2 (the step p / (2 (p - 1)) then joins two "
                 f"levels), got {levels}")
        unit = morris_unit(len(keys), samples, levels, master_seed)
    elif design == "saltelli":
        unit = saltelli_unit(len(keys), samples, master_seed)
    else:
        from scipy.stats import qmc  # only designs need scipy
        sampler = qmc.LatinHypercube(d=len(keys), seed=master_seed) if design == "lhs" else \
            qmc.Sobol(d=len(keys), scramble=True, seed=master_seed)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # Sobol prefers powers of two; any N is a valid sample
            unit = sampler.random(n=samples)
    values = [tuple(value_of(grid[key], float(u), known.is_whole_number(key), design)
                    for key, u in zip(keys, row)) for row in unit]
    return values, [[float(u) for u in row] for row in unit]


def value_of(span, u, whole, design):
    """The value at u in [0, 1] of a range; whole numbers stay whole."""
    low, high = span["min"], span["max"]
    if not whole:
        return low + u * (high - low)
    if design in SENSITIVITY:  # the levels themselves, rounded
        return int(round(low + u * (high - low)))
    return min(high, low + int(u * (high - low + 1)))  # each whole number equally likely


def morris_step(levels):
    """The step of an elementary effect on a grid of levels, in [0, 1]: p / (2 (p - 1))."""
    return levels / (2 * (levels - 1))


def morris_unit(k, trajectories, levels, seed):
    """r trajectories of k + 1 points each on the grid {0, 1/(p-1), ..., 1}: a random start, then one
    factor at a time, in a random order, moved by the step up (or down where up would leave [0, 1])."""
    rng = np.random.default_rng(seed)
    delta = morris_step(levels)
    grid = np.arange(levels) / (levels - 1)
    points = []
    for _ in range(trajectories):
        x = rng.choice(grid[grid <= 1 - delta + 1e-12], size=k)
        x = np.where(rng.random(k) < 0.5, x, x + delta)  # half start a step up, so some steps go down
        points.append(x.copy())
        for i in rng.permutation(k):
            x[i] = x[i] + delta if x[i] + delta <= 1 + 1e-12 else x[i] - delta
            points.append(x.copy())
    return np.clip(np.array(points), 0.0, 1.0)


def saltelli_unit(k, n, seed):
    """Saltelli's points for Sobol indices: A (n rows), B (n rows), then for each factor i the
    matrix A with column i taken from B, n rows each: n (k + 2) rows. A and B are the two halves of
    one scrambled Sobol sample of dimension 2k."""
    from scipy.stats import qmc
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        both = qmc.Sobol(d=2 * k, scramble=True, seed=seed).random(n=n)
    a, b = both[:, :k], both[:, k:]
    blocks = [a, b]
    for i in range(k):
        ab = a.copy()
        ab[:, i] = b[:, i]
        blocks.append(ab)
    return np.vstack(blocks)
