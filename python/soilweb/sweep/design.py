"""The parameter values of a sweep's runs: every combination of a grid, or a Latin hypercube or
scrambled Sobol sample of ranges."""
import itertools
import warnings

from .config import fail


def is_range(value):
    numbers = isinstance(value, dict) and set(value) == {"min", "max"} and all(
        isinstance(value[k], (int, float)) and not isinstance(value[k], bool) for k in ("min", "max"))
    return numbers and value["min"] < value["max"]


def design_points(grid, design, samples, master_seed, known):
    """The parameter values of each run: every combination of a grid's lists, or a Latin
    hypercube or scrambled Sobol sample of the ranges, drawn from the master seed."""
    keys = list(grid)
    if design == "grid":
        if not all(isinstance(v, list) and v for v in grid.values()):
            fail("a grid maps each key path to a non-empty list of values (ranges need --design lhs or sobol)")
        return list(itertools.product(*(grid[k] for k in keys)))
    bad = [k for k in keys if not is_range(grid[k])]
    if bad:
        fail(f"--design {design} takes ranges {{\"min\": a, \"max\": b}} with a < b; not so for {', '.join(bad)}")
    if samples is None or samples < 1:
        fail(f"--design {design} needs --samples N (at least 1)")
    from scipy.stats import qmc  # only designs need scipy
    sampler = qmc.LatinHypercube(d=len(keys), seed=master_seed) if design == "lhs" else \
        qmc.Sobol(d=len(keys), scramble=True, seed=master_seed)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # Sobol prefers powers of two; any N is a valid sample
        unit = sampler.random(n=samples)
    points = []
    for row in unit:
        point = []
        for key, u in zip(keys, row):
            low, high = grid[key]["min"], grid[key]["max"]
            if known.is_whole_number(key):  # whole numbers stay whole, each equally likely
                point.append(min(high, low + int(u * (high - low + 1))))
            else:
                point.append(low + float(u) * (high - low))
        points.append(tuple(point))
    return points
