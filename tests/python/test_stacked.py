"""A sweep's runs read as stacked tables, alike in Python and R (soilweb.stacked, the R package)."""
import json
import os
import tempfile
import unittest

from support import BINARY, PLOT, ROOT, SWEEP, run, tiny_config
from test_loader import R_TABLES, python_view

import pandas as pd
import soilweb
from soilweb import loader, records, schema


class StackedTest(unittest.TestCase):
    def test_a_sweep_is_read_as_stacked_tables(self):
        with tempfile.TemporaryDirectory() as here:
            base = tiny_config()
            base["simulation"]["outputs"]["layout"] = "tables"
            for name, content in (("base.json", base), ("grid.json", {"simulation.temperature": [15, 25]})):
                with open(os.path.join(here, name), "w") as f:
                    json.dump(content, f)
            done = run(SWEEP, "run", "base.json", "grid.json", "out", "--replicates", "2", "--seed", "5",
                       "--binary", BINARY, cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            sweep = soilweb.read_sweep(os.path.join(here, "out"))
            # Scripts that read sweeps through soilweb.loader, as before its parts had modules, still run.
            self.assertIs(loader.read_sweep, soilweb.read_sweep)
            self.assertEqual(loader.died_out_days(sweep.run("run-0001").record), records.died_out_days(
                sweep.run("run-0001").record))
            summary = sweep["summary"]
            self.assertEqual(list(summary.columns[:4]), ["run", "replicate", "simulation.temperature", "day"])
            self.assertEqual(sorted(set(zip(summary.run, summary.replicate, summary["simulation.temperature"]))),
                             [("run-0001", 1, 15), ("run-0002", 2, 15), ("run-0003", 1, 25), ("run-0004", 2, 25)])
            self.assertEqual(len(summary), 4 * 4)
            self.assertEqual(list(sweep["record"].status), ["completed"] * 4)
            collected = pd.read_csv(os.path.join(here, "out", "tables", "traits.tsv.gz"), sep="\t")
            # The collected table keeps the file's names (body_mean, ...); loaded, it speaks the loaders'.
            self.assertIn("body_mean", collected.columns)
            pd.testing.assert_frame_equal(schema.in_loader_names(collected), sweep["traits"], check_exact=False,
                                          rtol=1e-5)
            shown = run("Rscript", "-e", R_TABLES, "sweep", "out", cwd=here, env=dict(os.environ, ROOT=ROOT))
            self.assertEqual(shown.returncode, 0, shown.stderr)
            python = python_view(sweep)
            # R reads the parameter and replicate columns as numbers too, so the sums agree.
            self.assertEqual(shown.stdout.splitlines(), python)

    def test_a_sweep_of_lean_runs_says_once_what_its_runs_did_not_write(self):
        with tempfile.TemporaryDirectory() as here:
            base = tiny_config()
            base["simulation"]["outputs"].update(layout="tables")
            for name, content in (("base.json", base), ("grid.json", {"simulation.temperature": [15, 25]})):
                with open(os.path.join(here, name), "w") as f:
                    json.dump(content, f)
            refused = run(SWEEP, "run", "base.json", "grid.json", "out", "--files", "summary,trait", cwd=here)
            self.assertEqual(refused.returncode, 2)
            self.assertIn("argument --files: unknown result kind 'trait'; choose from summary, traits,", refused.stderr)
            done = run(SWEEP, "run", "base.json", "grid.json", "out", "--seed", "5", "--files", "summary",
                       "--binary", BINARY, cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stderr, "")
            self.assertEqual(sorted(os.listdir(os.path.join(here, "out", "runs", "run-0002", "run-0002", "outputs"))),
                             ["run-0002_run_info.json", "run-0002_summary.txt"])
            sweep = soilweb.read_sweep(os.path.join(here, "out"))
            self.assertEqual(len(sweep["summary"]), 2 * 4)
            with self.assertWarnsRegex(UserWarning, r"^2 of 2 runs have no genetics table: they were not asked to "
                                                    r"write it \(simulation.outputs.files leaves out genetics\)$"):
                self.assertIsNone(sweep["genetics"])
            refused = run(SWEEP, "analyse", "out", "--outcome", "genetic:body:prey", cwd=here)
            self.assertEqual(refused.returncode, 1)
            self.assertEqual(refused.stderr, "soilweb-sweep: the genetic outcomes need each run's genetic statistics, "
                             "and run-0001 did not write them (simulation.outputs.files leaves out genetics); run the "
                             "sweep with \"genetics\" in simulation.outputs.files, or with "
                             "simulation.outputs.geneticStatistics \"true\"\n")
            # The figures leave out the one whose table the runs did not write, saying which and why.
            done = run(PLOT, "out", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stderr, "soilweb-plot: note: sweep_trait_evolution needs the runs' trait statistics, "
                                          "and 2 of 2 runs have no traits table: they were not asked to write it "
                                          "(simulation.outputs.files leaves out traits): left out\n")


if __name__ == "__main__":
    unittest.main()
