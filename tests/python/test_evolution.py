"""Evolution measured: neutral markers that move no byte of a run, selection from the pedigree,
lineages and quasi-extinction (soilweb.evolution, the markers' columns of the binary)."""
import copy
import io
import os
import tempfile
import unittest

from support import run, run_config, tiny_config

import numpy as np
import pandas as pd
import soilweb
from soilweb import evolution, schema

MARKER_COLUMNS = ("neutral", "neutral_het", "neutral_mean", "neutral_sd", "neutral_min", "neutral_max",
                  "neutral_he")


def files_of(folder):
    """Every file under folder, by its path relative to it, with its bytes."""
    found = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(parent, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = f.read()
    return found


def without_marker_columns(data):
    """A table's text with the neutral markers' columns taken out."""
    lines = data.decode().split("\n")
    header = lines[0].split("\t")
    keep = [k for k, name in enumerate(header) if name not in MARKER_COLUMNS]
    return "\n".join("\t".join(line.split("\t")[k] for k in keep) if line else line for line in lines)


def with_markers(config, prey=12, predators=5):
    marked = copy.deepcopy(config)
    for entry, loci in zip(marked["world"]["life"]["animals"], (prey, predators)):
        entry["genetics"]["neutralLoci"] = loci
    return marked


class NeutralMarkersTest(unittest.TestCase):
    def test_markers_move_no_byte_of_any_output(self):
        """Every file of a run with markers is that of the run without them, but for the markers' columns
        (and the record, which holds the configuration); in both layouts, snapshots and matrices included."""
        for outputs in ({"pedigree": "true", "geneticStatistics": "true", "snapshotEvery": 4},
                        {"layout": "tables", "foodWeb": "edges"}):
            with self.subTest(outputs=outputs), tempfile.TemporaryDirectory() as here:
                config = tiny_config(days=40)
                config["simulation"]["seed"] = 11
                config["simulation"]["outputs"].update(outputs)
                for name, variant in (("plain", config), ("marked", with_markers(config))):
                    done = run_config(os.path.join(here, name), variant)
                    self.assertEqual(done.returncode, 0, done.stderr)
                plain = files_of(os.path.join(here, "plain", "example"))
                marked = files_of(os.path.join(here, "marked", "example"))
                self.assertEqual(sorted(plain), sorted(marked))
                changed = []
                for path, data in plain.items():
                    if path.endswith(("run_info.json", "lock")):
                        continue
                    if path.endswith(("_pedigree.tsv", "_genetics.tsv")):
                        self.assertIn(b"\tneutral", marked[path].split(b"\n")[0], path)
                        self.assertEqual(without_marker_columns(marked[path]), data.decode(), path)
                        changed.append(path)
                    else:
                        self.assertEqual(marked[path], data, path)
                self.assertEqual(len(changed), 2)

    def test_markers_are_inherited_and_drift(self):
        """Founders carry values in [0, 1]; in a run long enough to breed, every offspring has a value and
        a heterozygosity, and the expected heterozygosity of the eggs falls below the founders'."""
        with tempfile.TemporaryDirectory() as here:
            config = with_markers(tiny_config(days=120), prey=20, predators=0)
            config["simulation"]["seed"] = 3
            config["simulation"]["outputs"].update(pedigree="true", geneticStatistics="true")
            done = run_config(os.path.join(here, "run"), config)
            self.assertEqual(done.returncode, 0, done.stderr)
            run = soilweb.read_run(os.path.join(here, "run", "example"))
            pedigree = run["pedigree"]
            prey, predators = pedigree[pedigree.species == "prey"], pedigree[pedigree.species == "predator"]
            self.assertTrue(prey.neutral.between(0, 1).all() and prey.neutral_het.between(0, 1).all())
            self.assertTrue(predators.neutral.isna().all(), "a species without markers has NA")
            self.assertGreater((prey.birth_day > 0).sum(), 50)
            genetics = run["genetics"]
            eggs = genetics[(genetics.species == "prey") & (genetics.stage == "egg") & (genetics["count"] > 0)]
            self.assertLess(eggs.neutral_he.iloc[-1], eggs.neutral_he.iloc[0])


class Tables(dict):
    """A run as the measures read it, made of tables in hand."""
    name = "made"

    def __init__(self, record=None, wrote=(), **tables):
        super().__init__(tables)
        self.record = record or {}
        self.written = set(wrote)

    def wrote(self, table):
        return table in self.written


def synthetic_pedigree(n=4000, seed=1):
    """Founders (born day 0, all dead on day 25) with two genetic values correlated 0.5 and a neutral one;
    each has Poisson(2 (1 + 0.3 z1)) offspring (the selection gradient on z1 is 0.3, on z2 0) with a partner
    drawn among the founders, and each offspring inherits its parents' mean (heritability 1)."""
    rng = np.random.default_rng(seed)
    z1 = rng.standard_normal(n)
    z2 = 0.5 * z1 + np.sqrt(0.75) * rng.standard_normal(n)
    neutral = rng.uniform(0, 1, n)
    founders = pd.DataFrame({"id": np.arange(n), "species": "prey", "birth_day": 0, "ID_prt1": pd.NA,
                             "ID_prt2": pd.NA, "body_size": 1 + 0.1 * z1, "voracity": 2 + 0.2 * z2, "neutral": neutral})
    children = rng.poisson(2 * np.clip(1 + 0.3 * z1, 0, None))
    first = np.repeat(np.arange(n), children)
    # A partner's offspring are not its own: parent 2 is drawn at random, so only parent 1 carries the selection.
    second = rng.integers(0, n, len(first))
    offspring = pd.DataFrame({"id": n + np.arange(len(first)), "species": "prey", "birth_day": 30,
                              "ID_prt1": first, "ID_prt2": second})
    for trait in ("body_size", "voracity", "neutral"):
        offspring[trait] = (founders[trait].to_numpy()[first] + founders[trait].to_numpy()[second]) / 2
    pedigree = pd.concat([founders, offspring], ignore_index=True).astype({"ID_prt1": "Int64", "ID_prt2": "Int64"})
    deaths = pd.DataFrame({"death_day": 25, "id": np.arange(n), "species": "prey", "fate": "senesced"})
    return Tables(record={"last_day": 40}, pedigree=pedigree, deaths=deaths)


class SelectionTest(unittest.TestCase):
    def test_known_gradients_differentials_and_response_are_found(self):
        run = synthetic_pedigree()
        table = soilweb.selection(run, window=20)
        founders = table[table.cohort == 0].set_index("trait")
        self.assertEqual(list(founders.index), ["body_size", "voracity", "neutral"])
        self.assertEqual(founders.loc["body_size", "n"], 4000)
        self.assertEqual(founders.loc["body_size", "alive_at_end"], 0)
        row = founders.loc["body_size"]
        # Parent 2 is drawn uniformly: relative fitness is (LRS1 + LRS2) / mean, LRS2 independent of the traits,
        # so the expected gradient is half of parent 1's: 0.15 on z1, 0 on z2; differentials S = P beta.
        for trait, gradient, differential in (("body_size", 0.15, 0.15), ("voracity", 0.0, 0.075)):
            row = founders.loc[trait]
            self.assertLess(abs(row.gradient - gradient), 3 * row.gradient_se + 0.01, trait)
            self.assertLess(abs(row.differential - differential), 3 * row.differential_se + 0.01, trait)
        neutral = founders.loc["neutral"]
        self.assertLess(abs(neutral.gradient), 1.96 * neutral.gradient_se)
        # The offspring inherit the mean of their parents: the response is the differential, scaled (n - 1) / n
        # (a sample covariance against a weighted mean).
        self.assertAlmostEqual(founders.loc["body_size", "heritability"], 1, delta=0.01)
        self.assertAlmostEqual(founders.loc["body_size", "mean_lrs"],
                               2 * len(run["pedigree"].query("birth_day > 0")) / 4000)
        # The offspring's own cohort has no offspring: no fitness, no gradient.
        later = table[table.cohort == 20]
        self.assertTrue((later.mean_lrs == 0).all() and later.gradient.isna().all())
        # The tables are those the schema (and so the data dictionary) describes.
        described = {t["id"]: [c["name"] for c in t["columns"]] for t in schema.SCHEMA["analysis_tables"]}
        self.assertEqual(list(table.columns), described["selection"])
        with self.assertRaisesRegex(ValueError, "window must be at least 1 day"):
            soilweb.selection(run, window=0)
        with self.assertRaisesRegex(ValueError, "no pedigree: run it with simulation.outputs.pedigree"):
            soilweb.selection(Tables(pedigree=None))

    def test_a_whole_run_selects_body_size_and_leaves_the_neutral_value_alone(self):
        """The example's prey and predators over 60 days: the founders' small bodies leave more offspring,
        while the neutral value's gradient stays within its interval of 0."""
        with tempfile.TemporaryDirectory() as here:
            config = with_markers(tiny_config(days=60), prey=10, predators=6)
            config["simulation"].update(seed=5, worldLength=100)
            config["world"]["life"]["animals"][0]["initialPopulation"] = 400
            config["world"]["life"]["animals"][1]["initialPopulation"] = 40
            config["simulation"]["outputs"]["pedigree"] = "true"
            done = run_config(os.path.join(here, "run"), config)
            self.assertEqual(done.returncode, 0, done.stderr)
            folder = os.path.join(here, "run", "example")
            table = soilweb.selection(folder, window=20)
            # R's soilweb_selection (lm) gives the same table.
            script = (f'library(soilweb); '
                      f'write.table(soilweb_selection("{folder}"), sep = "\\t", quote = FALSE, row.names = FALSE)')
            said = run("Rscript", "-e", script, cwd=here)
            self.assertEqual(said.returncode, 0, said.stderr)
        from_r = pd.read_csv(io.StringIO(said.stdout), sep="\t")
        self.assertEqual(list(from_r.columns), list(table.columns))
        numbers = table.select_dtypes("number").columns
        self.assertTrue(np.allclose(from_r[numbers].to_numpy(float), table[numbers].to_numpy(float), equal_nan=True,
                                    rtol=1e-6, atol=1e-9))
        founders = table[(table.species == "prey") & (table.cohort == 0)].set_index("trait")
        self.assertLess(founders.loc["body_size", "differential"], -2 * founders.loc["body_size", "differential_se"])
        neutral = founders.loc["neutral"]
        self.assertLess(abs(neutral.gradient), 1.96 * neutral.gradient_se)


class LineagesAndQuasiExtinctionTest(unittest.TestCase):
    def test_founder_lines_share_out_the_living(self):
        # Founders 0, 1, 2; 3 is 0's (first parent) and 1's; 4 is 3's and 2's; 5 is 2's and 0's.
        pedigree = pd.DataFrame({"id": range(6), "species": "prey", "birth_day": [0, 0, 0, 2, 4, 4],
                                 "ID_prt1": [pd.NA, pd.NA, pd.NA, 0, 3, 2], "ID_prt2": [pd.NA, pd.NA, pd.NA, 1, 2, 0]})
        pedigree = pedigree.astype({"ID_prt1": "Int64", "ID_prt2": "Int64"})
        deaths = pd.DataFrame({"death_day": [3, 3, 5], "id": [0, 1, 2], "species": "prey", "fate": "senesced"})
        table = soilweb.lineages(Tables(record={"last_day": 6}, pedigree=pedigree, deaths=deaths))
        alive = {(d, f): a for d, f, a in zip(table.day, table.founder, table.alive)}
        self.assertEqual(alive[(0, 0)], 1)
        self.assertEqual(alive[(2, 0)], 2)   # 0 and its child 3
        self.assertEqual(alive[(4, 0)], 2)   # 3 and its child 4 (0 died on day 3)
        self.assertEqual(alive[(4, 2)], 2)   # 2 and 5
        self.assertEqual(alive[(6, 2)], 1)   # 5 (2 died on day 5)
        self.assertNotIn((4, 1), alive, "1's line ended with it: 3 follows its first parent, 0")
        self.assertTrue(np.allclose(table.groupby("day").share.sum(), 1))
        self.assertEqual(list(table.columns), [c["name"] for c in schema.SCHEMA["analysis_tables"][1]["columns"]])
        self.assertEqual(list(soilweb.lineages(Tables(record={"last_day": 6}, pedigree=pedigree, deaths=deaths),
                                               days=[6]).founder), [0, 2])

    def test_quasi_extinction_is_the_first_day_below_the_threshold(self):
        summary = pd.DataFrame({"day": range(6), "PREDATOR_UNBORN": [5, 2, 0, 0, 0, 0],
                                "PREDATOR_ACTIVE": [0, 3, 4, 2, 1, 1], "PREDATOR_REPRODUCING": [0, 0, 1, 0, 1, 0]})
        run = Tables(record={"last_day": 5}, summary=summary)
        self.assertEqual(evolution.quasi_extinct_day(run, "predators"), 5)  # one living animal
        self.assertEqual(evolution.quasi_extinct_day(run, "predators", k=3), 3)  # after it had 3 (day 1)
        self.assertEqual(evolution.quasi_extinct_day(run, "predators", k=9), 0)  # never had 9
        # With stage counts the adults are the adult and reproducing stages, juveniles left out.
        stages = pd.DataFrame({"day": [1, 1, 2, 2, 3, 3], "species": "predator",
                               "stage": ["juvenile", "adult"] * 3, "count": [3, 0, 1, 4, 2, 0]})
        record = {"last_day": 5, "configuration": {"world": {"life": {"animals": [{"name": "prey"},
                                                                                  {"name": "predator"}]}}}}
        run = Tables(record=record, wrote=["traits"], summary=summary, traits=stages)
        self.assertEqual(evolution.quasi_extinct_day(run, "predators", k=3), 3)
        self.assertEqual(evolution.quasi_extinct_day(run, "predators", k=1), 3)


if __name__ == "__main__":
    unittest.main()
