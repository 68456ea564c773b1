"""Runs and sweeps from Python and R hand back the loaded results, and soilweb's refusals arrive as
an exception carrying its message and exit status (soilweb.api, soilweb_run in the R package)."""
import json
import os
import sys
import tempfile
import unittest

from support import BINARY, ROOT, run, tiny_config

import pandas as pd
import soilweb

R_API = """
library(soilweb)
config <- jsonlite::fromJSON(Sys.getenv("CONFIG"), simplifyVector = FALSE)
first <- soilweb_run(config, folder = "r", progress = FALSE)
again <- soilweb_run(first, folder = "again", progress = FALSE)
cat("rows", nrow(first$summary), identical(first$summary, again$summary), first$record$status, "\\n")
refused <- tryCatch(soilweb_run(config, set = list("simulation.dasy" = 4), progress = FALSE),
                    soilweb_error = function(e) e)
cat("refused", refused$status, refused$soilweb_message, "\\n")
sweep <- soilweb_sweep(config, list("simulation.temperature" = 15), out = "rsweep", replicates = 2, seed = 3,
                       jobs = 2, progress = FALSE)
cat("sweep", nrow(sweep$record), paste(sweep$record$status, collapse = ","), nrow(sweep$summary), "\\n")
"""


class ApiTest(unittest.TestCase):
    def test_a_run_and_a_sweep_from_python(self):
        with tempfile.TemporaryDirectory() as here:
            config = tiny_config(days=4)
            first = soilweb.run(config, seed=11, folder=os.path.join(here, "a"), progress=False)
            self.assertEqual(first.record["seed"], 11)
            self.assertEqual(list(first["summary"].day), [0, 1, 2, 3, 4])
            # A loaded run repeats itself, byte for byte.
            again = soilweb.run(first, folder=os.path.join(here, "b"), progress=False)
            pd.testing.assert_frame_equal(first["animals_end"], again["animals_end"])
            with self.assertRaises(soilweb.SoilwebError) as refused:
                soilweb.run(config, set={"simulation.dasy": 4}, progress=False)
            self.assertEqual(refused.exception.status, 2)
            self.assertEqual(refused.exception.message, "soilweb: --set simulation.dasy: no such key in the "
                                                        "configuration; did you mean 'simulation.days'?")
            del config["simulation"]["days"]
            with self.assertRaises(soilweb.SoilwebError) as missing:
                soilweb.run(config, progress=False)
            self.assertEqual((missing.exception.status, missing.exception.message),
                             (1, "soilweb: run_params: missing key 'simulation.days'"))

            sweep = soilweb.sweep(tiny_config(days=2), {"simulation.temperature": [15, 25]}, replicates=2, seed=4,
                                  jobs=2, out=os.path.join(here, "sweep"), progress=False)
            self.assertEqual(list(sweep["record"].status), ["completed"] * 4)
            self.assertEqual(sorted(set(sweep["summary"]["simulation.temperature"])), [15, 25])
            with self.assertRaises(soilweb.SoilwebError) as bad_grid:
                soilweb.sweep(tiny_config(), {"simulation.temprature": [15]}, out=os.path.join(here, "bad"),
                              progress=False)
            self.assertIn("did you mean 'simulation.temperature'?", bad_grid.exception.message)
            # soilweb.sweep is also the package of the sweep command.
            from soilweb.sweep import cli
            self.assertTrue(callable(soilweb.sweep) and callable(cli.main))

    def test_a_run_and_a_sweep_from_r(self):
        with tempfile.TemporaryDirectory() as here:
            config = os.path.join(here, "config.json")
            with open(config, "w") as f:
                json.dump(tiny_config(days=3), f)
            shown = run("Rscript", "-e", R_API, cwd=here,
                        env=dict(os.environ, ROOT=ROOT, CONFIG=config, SOILWEB_BINARY=BINARY))
            self.assertEqual(shown.returncode, 0, shown.stderr)
            self.assertEqual(shown.stdout.splitlines(), [
                "rows 4 TRUE completed ",
                "refused 2 soilweb: --set simulation.dasy: no such key in the configuration; did you mean "
                "'simulation.days'? ",
                "sweep 2 completed,completed 8 "])

    def test_a_run_is_found_by_its_record_not_by_what_its_name_says(self):
        """A name that reads like soilweb's closing line, and a folder holding a newline, load their own run."""
        forged = "mine; results in victim"
        with tempfile.TemporaryDirectory() as here:
            config = tiny_config(days=2)
            config["simulation"]["outputs"]["simulationName"] = "victim"
            soilweb.run(config, folder=here, progress=False)
            config["simulation"]["days"] = 4
            config["simulation"]["outputs"]["simulationName"] = forged
            mine = soilweb.run(config, folder=here, progress=False)
            self.assertEqual((mine.record["configuration"]["simulation"]["outputs"]["simulationName"],
                              len(mine["summary"])), (forged, 5))
            lined = soilweb.run(tiny_config(days=1), folder=os.path.join(here, "a\nb"), progress=False)
            self.assertEqual(len(lined["summary"]), 2)
            with open(os.path.join(here, "config.json"), "w") as f:
                json.dump(config, f)
            shown = run("Rscript", "-e", R_FORGED, cwd=here,
                        env=dict(os.environ, ROOT=ROOT, CONFIG=os.path.join(here, "config.json"),
                                 SOILWEB_BINARY=BINARY))
            self.assertEqual(shown.returncode, 0, shown.stderr)
            self.assertEqual(shown.stdout, "rows 5 mine; results in victim \n")

    def test_progress_into_a_file_is_plain_lines(self):
        """soilweb.run's progress, when standard error is not a terminal, has no terminal escapes."""
        with tempfile.TemporaryDirectory() as here:
            with open(os.path.join(here, "config.json"), "w") as f:
                json.dump(tiny_config(days=20), f)
            script = ("import sys, soilweb; sys.path.insert(0, sys.argv[1]); "
                      "soilweb.run(sys.argv[2], folder=sys.argv[3], binary=sys.argv[4])")
            shown = run(sys.executable, "-c", script, os.path.join(ROOT, "python"), "config.json", "out", BINARY,
                        cwd=here, env=dict(os.environ, PYTHONPATH=os.path.join(ROOT, "python")))
            self.assertEqual(shown.returncode, 0, shown.stderr)
            self.assertNotIn("\x1b", shown.stderr)
            self.assertNotIn("\r", shown.stderr)
            self.assertIn("soilweb: day 20 of 20; ", shown.stderr)
            self.assertTrue(shown.stderr.splitlines()[-1].startswith("soilweb: completed: day 20 of 20 reached"))


R_FORGED = """
library(soilweb)
config <- jsonlite::fromJSON(Sys.getenv("CONFIG"), simplifyVector = FALSE)
mine <- soilweb_run(config, folder = "r", overwrite = TRUE, progress = FALSE)
victim <- config
victim$simulation$outputs$simulationName <- "victim"
victim$simulation$days <- 1
invisible(soilweb_run(victim, folder = "r", progress = FALSE))
mine <- soilweb_run(config, folder = "r", overwrite = TRUE, progress = FALSE)
cat("rows", nrow(mine$summary), mine$record$configuration$simulation$outputs$simulationName, "\n")
"""


if __name__ == "__main__":
    unittest.main()
