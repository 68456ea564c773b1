"""Which parameters matter: the estimators against functions whose indices are known, and a small
Morris sweep of real runs analysed end to end (soilweb.sweep.sensitivity, design, analyse)."""
import json
import math
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import BINARY, PLOT, ROOT, SWEEP, png_size, run, tiny_config  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "python"))
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
import soilweb  # noqa: E402
from soilweb.sweep import design, sensitivity  # noqa: E402


def ishigami(x):
    x = -math.pi + 2 * math.pi * np.asarray(x)
    return np.sin(x[:, 0]) + 7 * np.sin(x[:, 1]) ** 2 + 0.1 * x[:, 2] ** 4 * np.sin(x[:, 0])


def by_measure(rows):
    return {(i, m): (v, lo, hi) for i, m, v, lo, hi in rows}


class EstimatorTest(unittest.TestCase):
    def test_sobol_indices_of_the_ishigami_function(self):
        # Analytic first- and total-order indices of sin x1 + 7 sin^2 x2 + 0.1 x3^4 sin x1 on [-pi, pi]^3.
        first, total = (0.3139, 0.4424, 0.0), (0.5576, 0.4424, 0.2437)
        unit = design.saltelli_unit(3, 4096, seed=3)
        self.assertEqual(unit.shape, (4096 * 5, 3))
        found = by_measure(sensitivity.sobol(ishigami(unit), 3, boot=200))
        for i in range(3):
            self.assertAlmostEqual(found[(i, "S1")][0], first[i], delta=0.04)
            self.assertAlmostEqual(found[(i, "ST")][0], total[i], delta=0.04)
            low, high = found[(i, "ST")][1:]
            self.assertLess(low, found[(i, "ST")][0])
            self.assertGreater(high, found[(i, "ST")][0])

    def test_morris_effects_and_rank_correlations_of_a_linear_function(self):
        # y = x1 + 2 x2 on the unit cube: every elementary effect is the slope, x3 does nothing.
        unit = design.morris_unit(3, 12, levels=4, seed=5)
        self.assertEqual(unit.shape, (12 * 4, 3))
        steps = np.abs(np.diff(unit.reshape(12, 4, 3), axis=1))
        self.assertTrue(np.allclose(np.sort(steps, axis=2)[:, :, -1], design.morris_step(4)))  # one factor a step
        self.assertTrue(np.allclose(np.sort(steps, axis=2)[:, :, :-1], 0))
        y = unit[:, 0] + 2 * unit[:, 1]
        found = by_measure(sensitivity.morris(unit, y, 3, boot=100))
        for i, slope in enumerate((1, 2, 0)):
            self.assertAlmostEqual(found[(i, "mu_star")][0], slope)
            self.assertAlmostEqual(found[(i, "mu")][0], slope)
            self.assertAlmostEqual(found[(i, "sigma")][0], 0)
        rng = np.random.default_rng(1)
        x = rng.random((300, 3))
        found = by_measure(sensitivity.prcc(x, x[:, 0] + 2 * x[:, 1] + 0.05 * rng.standard_normal(300), boot=200))
        self.assertGreater(found[(0, "prcc")][0], 0.9)
        self.assertGreater(found[(1, "prcc")][0], found[(0, "prcc")][0])
        self.assertLess(abs(found[(2, "prcc")][0]), 0.2)
        self.assertLess(found[(2, "prcc")][1], 0)  # its interval holds 0
        self.assertGreater(found[(2, "prcc")][2], 0)


class SensitivitySweepTest(unittest.TestCase):
    def test_a_morris_sweep_of_real_runs_is_analysed(self):
        with tempfile.TemporaryDirectory() as here:
            base = tiny_config(days=6)
            base["simulation"]["outputs"]["layout"] = "tables"
            grid = {"simulation.temperature": {"min": 15, "max": 25},
                    "world.soil.maxCarryingCapacity": {"min": 10, "max": 30},
                    "world.life.animals.1.initialPopulation": {"min": 2, "max": 8}}
            for name, content in (("base.json", base), ("grid.json", grid)):
                with open(os.path.join(here, name), "w") as f:
                    json.dump(content, f)
            done = run(SWEEP, "run", "base.json", "grid.json", "out", "--design", "morris", "--samples", "2",
                       "--levels", "4", "--seed", "9", "--binary", BINARY, cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(os.path.join(here, "out", "sweep.json")) as f:
                record = json.load(f)
            self.assertEqual((record["design"], record["levels"], len(record["points"]), len(record["runs"])),
                             ("morris", 4, 8, 8))
            self.assertEqual([r["point"] for r in record["runs"]], list(range(8)))
            populations = {r["parameters"]["world.life.animals.1.initialPopulation"] for r in record["runs"]}
            self.assertTrue(all(isinstance(p, int) for p in populations))
            runs = pd.read_csv(os.path.join(here, "out", "tables", "runs.tsv"), sep="\t")
            self.assertIn("predators_died_out_day", runs.columns)
            self.assertEqual(list(runs.columns[-2:]), ["prey_quasi_extinct_day", "predators_quasi_extinct_day"])

            done = run(SWEEP, "analyse", "out", "--outcome", "PREY_ACTIVE:mean:0-6", "--outcome",
                       "predators:died_out", "--boot", "50", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            # The predators never died out in 6 days: an outcome the same in every run gets no index.
            self.assertEqual(done.stderr, "soilweb-sweep: outcome 'predators:died_out' is the same in every run (6); "
                                          "no index is computed for it\n")
            table = pd.read_csv(os.path.join(here, "out", "tables", "sensitivity.tsv"), sep="\t")
            self.assertEqual(list(table.columns), ["outcome", "parameter", "measure", "value", "low", "high"])
            self.assertEqual(len(table), 1 * 3 * 3)
            self.assertEqual(set(table.measure), {"mu_star", "mu", "sigma"})
            # What the analysis refuses, in one line each, never a traceback.
            for args, said in ((["--outcome", "PREY_ACTIVE:mean:0-6", "--boot", "0"], "--boot must be at least 1, got 0"),
                               (["--outcome", "PREY_ACTIVE:mean:0-6", "--boot", "-5"], "--boot must be at least 1"),
                               (["--outcome", "PREY_ACTIVE:mean:4-0"], "the window 4-0 ends before it starts"),
                               (["--outcome", "predators:quasi_extinct:0"], "K must be a whole number of adults >= 1"),
                               (["--outcome", "predators:died_out"], "every outcome is the same in every run")):
                done = run(SWEEP, "analyse", "out", *args, cwd=here)
                self.assertEqual(done.returncode, 1, args)
                self.assertIn(said, done.stderr)
                self.assertNotIn("Traceback", done.stderr)
            sweep_file = os.path.join(here, "out", "sweep.json")
            with open(sweep_file) as f:
                text = f.read()
            for damaged, said in ((text[:len(text) // 2], "cannot read the sweep record"), ("", "cannot read"),
                                  ("{}", "is not a sweep's record: it has no grid")):
                with open(sweep_file, "w") as f:
                    f.write(damaged)
                done = run(SWEEP, "analyse", "out", "--outcome", "PREY_ACTIVE:mean:0-6", cwd=here)
                self.assertEqual((done.returncode, done.stderr.count("\n")), (1, 1), done.stderr)
                self.assertIn(said, done.stderr)
            with open(sweep_file, "w") as f:
                f.write(text)
            # A loaded sweep is a mapping again: keys() are its tables, its swept keys are parameters.
            sweep = soilweb.read_sweep(os.path.join(here, "out"))
            self.assertIn("summary", sweep.keys())
            self.assertEqual(sweep.parameters, list(grid))
            self.assertEqual(set(dict(sweep)) >= {"summary", "record"}, True)
            self.assertTrue(table[table.measure == "mu_star"].value.notna().all())
            self.assertGreater(png_size(os.path.join(here, "out", "figures", "sensitivity.png"))[0], 0)
            # The report of the sweep has the section and the figure.
            done = run(PLOT, "out", "--out", "plots", "--report", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(os.path.join(here, "plots", "report.html")) as f:
                page = f.read()
            self.assertIn("Which parameters matter", page)
            self.assertIn("mu_star", page)
            self.assertTrue(os.path.exists(os.path.join(here, "plots", "sensitivity.png")))

            done = run(SWEEP, "analyse", "out", "--outcome", "PREY_ACTIVE:median", cwd=here)
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stderr, "soilweb-sweep: unknown outcome 'PREY_ACTIVE:median': give prey:died_out, "
                                          "predators:persisted, predators:quasi_extinct[:K], COLUMN:mean:FROM-TO or "
                                          "genetic:TRAIT:SPECIES\n")


if __name__ == "__main__":
    unittest.main()
