"""Tests of the plotting and sweep scripts on tiny finished runs."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BINARY = os.environ.get("SOILWEB_BINARY", os.path.join(ROOT, "build", "soilweb"))


def tiny_config(days=3):
    with open(os.path.join(ROOT, "examples", "run_params")) as f:
        config = json.load(f)
    config["simulation"].update(days=days, worldLength=6)
    config["world"]["life"]["animals"][0]["initialPopulation"] = 30
    config["world"]["life"]["animals"][1]["initialPopulation"] = 5
    return config


def run(*command, cwd):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True)


class PlotTest(unittest.TestCase):
    def test_writes_three_png_figures(self):
        with tempfile.TemporaryDirectory() as here:
            with open(os.path.join(here, "run_params"), "w") as f:
                json.dump(tiny_config(days=6), f)
            self.assertEqual(run(BINARY, cwd=here).returncode, 0)
            done = run(os.path.join(ROOT, "scripts", "soilweb-plot"), "example", "--traits", "body,speed", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            for name in ("dynamics.png", "cells_biomass.png", "traits_day_6.png"):
                with open(os.path.join(here, "example", "plots", name), "rb") as f:
                    data = f.read()
                self.assertGreater(len(data), 1000, name)
                self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n", name)
            wrong = run(os.path.join(ROOT, "scripts", "soilweb-plot"), "example", "--traits", "wings", cwd=here)
            self.assertEqual(wrong.returncode, 1)
            self.assertIn("unknown trait column(s): wings", wrong.stderr)


class SweepTest(unittest.TestCase):
    def sweep(self, here, out, grid, replicates):
        for name, content in (("base.json", tiny_config()), ("grid.json", grid)):
            with open(os.path.join(here, name), "w") as f:
                json.dump(content, f)
        done = run(os.path.join(ROOT, "scripts", "soilweb-sweep"), "run", "base.json", "grid.json", out,
                   "--replicates", str(replicates), "--seed", "5", "--jobs", "2", "--binary", BINARY, cwd=here)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(here, out, "summary.tsv")) as f:
            table = f.read()
        with open(os.path.join(here, out, "failed.tsv")) as f:
            failed = f.read().splitlines()[1:]
        return table, failed

    def test_collects_one_block_per_run_and_repeats_exactly(self):
        with tempfile.TemporaryDirectory() as here:
            table, failed = self.sweep(here, "first", {"simulation.temperature": [15, 25]}, 2)
            self.assertEqual(failed, [])
            lines = [line.split("\t") for line in table.splitlines()]
            self.assertEqual(lines[0][:4], ["run", "seed", "simulation.temperature", "DAY"])
            runs = {}
            for fields in lines[1:]:
                runs.setdefault(fields[0], []).append(fields)
            self.assertEqual(sorted(runs), ["run-0001", "run-0002", "run-0003", "run-0004"])
            for name, block in runs.items():
                self.assertEqual([f[3] for f in block], ["0", "1", "2", "3"], name)
            self.assertEqual([runs[n][0][2] for n in sorted(runs)], ["15", "15", "25", "25"])
            seeds = {runs[n][0][1] for n in runs}
            self.assertEqual(len(seeds), 4)
            again, _ = self.sweep(here, "second", {"simulation.temperature": [15, 25]}, 2)
            self.assertEqual(again, table)

    def test_a_failed_run_is_logged_and_the_others_go_on(self):
        with tempfile.TemporaryDirectory() as here:
            table, failed = self.sweep(here, "out", {"simulation.worldLength": [4, 3]}, 1)
            self.assertEqual(len(failed), 1)
            self.assertTrue(failed[0].startswith("run-0002\t"))
            self.assertIn("must be 1 or an even number of at least 4", failed[0])
            self.assertTrue(all(line.startswith("run-0001\t") for line in table.splitlines()[1:]))


if __name__ == "__main__":
    unittest.main()
