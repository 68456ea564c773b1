"""Evolution measured from a run's tables: selection and its response from the pedigree, founder
lineages, quasi-extinction, and the effective size that neutral markers' heterozygosity gives.

    sel = soilweb.selection(run, window=20)   # per species, birth cohort and trait
    lin = soilweb.lineages(run)               # per day, species and founder line: animals alive, share
    soilweb.quasi_extinct_day(run, "predators", k=3)
    soilweb.effective_size(run, "prey", generation_days=30)

run is a loaded run (soilweb.read_run) or its folder. The formulas are in docs/outputs.md, "Evolution
measured".
"""
import numpy as np
import pandas as pd

from .schema import TRAIT_COLUMNS

# Cohorts of birth days this long by default: about a prey's generation in the bundled example.
DEFAULT_WINDOW = 20
ROLES = ("prey", "predators")


def _as_run(run):
    if isinstance(run, (str, bytes)) or hasattr(run, "__fspath__"):
        from .loader import read_run
        return read_run(run)
    return run


def _pedigree(run):
    pedigree = run["pedigree"]
    if pedigree is None:
        raise ValueError(f"{run.name}: no pedigree: run it with simulation.outputs.pedigree \"true\" (or \"pedigree\" "
                         "in simulation.outputs.files)")
    return pedigree


def _traits_of(pedigree):
    """The genetic values a pedigree holds: the thirteen traits, and the neutral value when it has markers."""
    traits = [t for t in TRAIT_COLUMNS if t in pedigree]
    if "neutral" in pedigree and pedigree["neutral"].notna().any():
        traits.append("neutral")
    return traits


def reproductive_success(run):
    """The pedigree with each animal's lifetime reproductive success (lrs: offspring it was a parent of) and
    whether it still lived at the run's end (alive)."""
    run = _as_run(run)
    pedigree = _pedigree(run).copy()
    parents = pd.concat([pedigree["ID_prt1"], pedigree["ID_prt2"]]).dropna().astype("int64")
    pedigree["lrs"] = pedigree["id"].map(parents.value_counts()).fillna(0).astype("int64")
    deaths = run["deaths"]
    dead = set() if deaths is None else set(deaths["id"])
    pedigree["alive"] = ~pedigree["id"].isin(dead)
    return pedigree


def _ols(y, x):
    """Least squares of y on a constant and the columns of x: the slopes and their standard errors (NaN
    where the design cannot separate them, or has no degree of freedom left)."""
    n, p = x.shape
    design = np.column_stack([np.ones(n), x])
    if n <= p + 1 or np.linalg.matrix_rank(design) < p + 1:
        return np.full(p, np.nan), np.full(p, np.nan)
    inverse = np.linalg.inv(design.T @ design)
    coefficients = inverse @ design.T @ y
    residuals = y - design @ coefficients
    variance = residuals @ residuals / (n - p - 1)
    return coefficients[1:], np.sqrt(np.maximum(np.diag(inverse)[1:] * variance, 0))


def _cohort_rows(species, start, window, members, offspring_of, traits):
    """The rows of one cohort: its fitness, and for every trait the differential, gradient and response."""
    n = len(members)
    lrs = members["lrs"].to_numpy(float)
    head = {"species": species, "cohort": start, "cohort_end": start + window - 1, "n": n,
            "alive_at_end": int(members["alive"].sum()), "mean_lrs": lrs.mean() if n else np.nan}
    w = lrs / lrs.mean() if n and lrs.mean() > 0 else np.full(n, np.nan)
    head["opportunity"] = w.var(ddof=1) if n > 1 else np.nan  # the variance of relative fitness
    values = members[traits].to_numpy(float)
    mean, sd = values.mean(axis=0), values.std(axis=0, ddof=1) if n > 1 else np.full(len(traits), np.nan)
    varies = np.isfinite(sd) & (sd > 0) & np.isfinite(w).all()
    z = (values[:, varies] - mean[varies]) / sd[varies] if varies.any() else np.empty((n, 0))
    gradient, gradient_se = np.full(len(traits), np.nan), np.full(len(traits), np.nan)
    gradient[varies], gradient_se[varies] = _ols(w, z) if varies.any() else ([], [])
    children = offspring_of(members["id"])
    rows = []
    for k, trait in enumerate(traits):
        row = dict(head, trait=trait, mean=mean[k] if n else np.nan, sd=sd[k])
        differential = differential_se = response = np.nan
        if varies[k]:
            (differential,), (differential_se,) = _ols(w, z[:, [list(np.flatnonzero(varies)).index(k)]])
            if len(children):
                response = (children[trait].mean() - mean[k]) / sd[k]
        row.update(differential=differential, differential_se=differential_se, gradient=gradient[k],
                   gradient_se=gradient_se[k], response=response,
                   heritability=response / differential if differential else np.nan)
        rows.append(row)
    return rows


def selection(run, window=DEFAULT_WINDOW, species=None):
    """Selection on every genetic value, per species and birth cohort (windows of `window` birth days).

    Per cohort: n, how many still lived at the end (their success is not complete), the mean lifetime
    reproductive success and the opportunity for selection (variance of relative fitness w = LRS / mean
    LRS). Per trait, on values standardised within the cohort: the selection differential (the regression
    of w on the trait alone, i.e. its covariance with w) and the Lande-Arnold gradient (the multiple
    regression of w on all the traits together), each with its standard error; the response (the mean of
    the cohort's offspring, each counted once per parent in the cohort, minus the cohort's mean, in the
    cohort's sd) and the realised heritability, response / differential. The neutral value, when the run
    has markers, is one of the traits: a control whose gradient should be 0."""
    if window < 1:
        raise ValueError(f"window must be at least 1 day, got {window}")
    table = reproductive_success(_as_run(run))
    traits = _traits_of(table)
    by_parent = pd.concat([table.assign(parent=table["ID_prt1"]), table.assign(parent=table["ID_prt2"])])
    by_parent = by_parent.dropna(subset=["parent"])

    def offspring_of(ids):
        return by_parent[by_parent["parent"].isin(set(ids))]

    rows = []
    for name in ([species] if species else list(dict.fromkeys(table["species"]))):
        own = table[table["species"] == name]
        cohorts = (own["birth_day"] // window) * window
        for start, members in own.groupby(cohorts, sort=True):
            rows += _cohort_rows(name, int(start), window, members, offspring_of, traits)
    columns = ["species", "cohort", "cohort_end", "n", "alive_at_end", "mean_lrs", "opportunity", "trait", "mean",
               "sd", "differential", "differential_se", "gradient", "gradient_se", "response", "heritability"]
    return pd.DataFrame(rows, columns=columns)


def lineages(run, days=None):
    """Founder lines: every animal belongs to the line of the founder its first parent's line goes back to
    (as a marker passed on by one parent only would trace it), so the lines share out the living.
    Per day, species and founder with a living descendant (eggs included): alive, and share of the
    species' living. days: the days to keep (default every day of the run)."""
    run = _as_run(run)
    pedigree = _pedigree(run).sort_values("id")
    founder = {}
    for animal, parent in zip(pedigree["id"].to_numpy(), pedigree["ID_prt1"].to_numpy(dtype=object)):
        founder[animal] = animal if parent is pd.NA or parent is None else founder.get(int(parent), int(parent))
    deaths = run["deaths"]
    last = int(run.record.get("last_day", pedigree["birth_day"].max()))
    died = {} if deaths is None else dict(zip(deaths["id"], deaths["death_day"]))
    frame = pd.DataFrame({"species": pedigree["species"].to_numpy(), "founder": pedigree["id"].map(founder),
                          "born": pedigree["birth_day"].to_numpy(),
                          "gone": pedigree["id"].map(died).fillna(last + 1).astype("int64").to_numpy()})
    span = np.arange(last + 1)
    rows = []
    for (species, line), animals in frame.groupby(["species", "founder"], sort=True):
        change = np.zeros(last + 2, dtype=np.int64)
        np.add.at(change, np.minimum(animals["born"].to_numpy(), last + 1), 1)
        np.add.at(change, np.minimum(animals["gone"].to_numpy(), last + 1), -1)
        alive = np.cumsum(change)[:last + 1]
        living = alive > 0
        rows.append(pd.DataFrame({"day": span[living], "species": species, "founder": line, "alive": alive[living]}))
    table = pd.concat(rows, ignore_index=True) if rows else pd.DataFrame(columns=["day", "species", "founder",
                                                                                  "alive"])
    table["share"] = table["alive"] / table.groupby(["day", "species"])["alive"].transform("sum")
    if days is not None:
        table = table[table["day"].isin(list(days))]
    return table.sort_values(["species", "day", "founder"]).reset_index(drop=True)


def _species_name(run, role):
    animals = run.record.get("configuration", {}).get("world", {}).get("life", {}).get("animals", [])
    return animals[ROLES.index(role)].get("name", role) if len(animals) > ROLES.index(role) else role


def living_counts(run, role):
    """Per day, a species' living animals and adults: from the stage counts of its trait (or genetic)
    statistics when the run wrote them, else from the summary, whose ACTIVE count holds the juveniles too
    (an adult count that is too high, never too low). Returns (days, living, adults)."""
    run = _as_run(run)
    summary = run["summary"]
    prefix = "PREY" if role == "prey" else "PREDATOR"
    days = summary["day"].to_numpy()
    living = sum(summary[f"{prefix}_{state}"].to_numpy() for state in ("UNBORN", "ACTIVE", "REPRODUCING"))
    for table in ("traits", "genetics"):
        if run.wrote(table):
            stages = run[table]
            own = stages[stages["species"] == _species_name(run, role)]
            adults = own[own["stage"].isin(["adult", "reproducing"])].groupby("day")["count"].sum()
            return days, living, adults.reindex(days, fill_value=0).to_numpy()
    return days, living, (summary[f"{prefix}_ACTIVE"] + summary[f"{prefix}_REPRODUCING"]).to_numpy()


def quasi_extinct_day(run, role, k=None):
    """The first day a species is quasi-extinct: fewer than k living adults once it has had k (the founders
    start as eggs; a species that never had k is quasi-extinct from its first day), or, with k None, no
    breeding pair possible any more (fewer than two living animals, eggs included); None when it never was."""
    days, living, adults = living_counts(run, role)
    if k is None:
        below = living < 2
    else:
        reached = adults >= k
        below = (adults < k) & (np.cumsum(reached) > 0) if reached.any() else np.ones(len(days), bool)
    return int(days[np.argmax(below)]) if below.any() else None


def effective_size(run, species, generation_days, first=None, last=None):
    """The effective population size from the decay of the neutral markers' expected heterozygosity among
    a species' living: H_t = H_0 (1 - 1/(2 Ne))^t over t = (last - first) / generation_days generations,
    so Ne = 1 / (2 (1 - (H_t / H_0)^(1/t))). H is the count-weighted mean of neutral_he over the stages on
    each day (first: the first day, last: the run's last). NaN when H did not fall."""
    run = _as_run(run)
    genetics = run["genetics"]
    if genetics is None or "neutral_he" not in genetics:
        raise ValueError(f"{run.name}: no neutral markers' statistics: give the species genetics.neutralLoci "
                         "and write the genetic statistics")
    own = genetics[(genetics["species"] == species) & (genetics["count"] > 0)]
    h = (own["neutral_he"] * own["count"]).groupby(own["day"]).sum() / own.groupby("day")["count"].sum()
    first = h.index.min() if first is None else first
    last = h.index.max() if last is None else last
    ratio, t = h.loc[last] / h.loc[first], (last - first) / generation_days
    if not (0 < ratio < 1) or t <= 0:
        return np.nan
    return 1 / (2 * (1 - ratio ** (1 / t)))
