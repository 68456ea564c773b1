"""The entry points: a Python without the modules, and an installation's commands."""
import json
import os
import shutil
import sys
import tempfile
import unittest

from support import BINARY, PLOT, ROOT, SWEEP, run, tiny_config


class ScriptsTest(unittest.TestCase):
    def test_a_python_without_the_modules_hands_the_commands_to_one_that_has_them(self):
        with tempfile.TemporaryDirectory() as here:
            bare = os.path.join(here, "python3")  # a Python without its site packages, first on the PATH
            with open(bare, "w") as f:
                f.write(f"#!/bin/sh\nexec {sys.executable} -S \"$@\"\n")
            os.chmod(bare, 0o755)
            environment = dict(os.environ, PATH=here + os.pathsep + os.environ["PATH"])
            with open(os.path.join(here, "grid.json"), "w") as f:
                json.dump({"simulation.temperature": {"min": 15, "max": 25}}, f)
            with open(os.path.join(here, "base.json"), "w") as f:
                json.dump(tiny_config(days=2), f)
            sweep = ["base.json", "grid.json", "sweep", "--design", "lhs", "--samples", "3", "--seed", "1"]
            for command in ([SWEEP, "--help"], [SWEEP, "prepare", *sweep, "--binary", BINARY],
                            [SWEEP, "run", *sweep, "--binary", BINARY, "--jobs", "2"], [SWEEP, "collect", "sweep"],
                            [SWEEP, "analyse", "sweep", "--outcome", "PREY_ACTIVE:mean:0-2", "--boot", "20"],
                            [PLOT, "--help"], [PLOT, "sweep"],
                            [PLOT, os.path.join("sweep", "runs", "run-0001", "run-0001")]):
                done = run(*command, cwd=here, env=environment)
                self.assertEqual(done.returncode, 0, f"{command}: {done.stderr}")
            # When no Python at hand has them, one line says what is missing; help still works.
            alone = dict(environment, SOILWEB_RERUN="1")
            calibrate = os.path.join(ROOT, "scripts", "soilweb-calibrate")
            for script, module in ((PLOT, "numpy"), (SWEEP, "numpy"), (calibrate, "numpy")):
                done = run(script, "anything", cwd=here, env=alone)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertIn(f"has no module '{module}'", done.stderr)
                self.assertEqual(run(script, "--help", cwd=here, env=alone).returncode, 0)

    def test_installed_scripts_work_from_the_prefix(self):
        build = os.path.dirname(BINARY)
        with tempfile.TemporaryDirectory() as here:
            prefix = os.path.join(here, "prefix")
            installed = run("cmake", "--install", build, "--prefix", prefix, cwd=here)
            self.assertEqual(installed.returncode, 0, installed.stderr)
            environment = dict(os.environ, PATH=os.path.join(prefix, "bin") + os.pathsep + os.environ["PATH"])
            shutil.copy(os.path.join(prefix, "share", "soilweb", "examples", "run_params"), here)
            with open(os.path.join(here, "grid.json"), "w") as f:
                json.dump({"simulation.days": [2, 3]}, f)
            with open(os.path.join(here, "base.json"), "w") as f:
                json.dump(tiny_config(days=2), f)
            for command in (["soilweb", "--set", "simulation.days=3"], ["soilweb-plot", "example"],
                            ["soilweb-sweep", "run", "base.json", "grid.json", "sweep", "--jobs", "1"],
                            ["soilweb-plot", "sweep"], ["Rscript", "-e", f"source('{prefix}/share/soilweb/R/soilweb.R'); "
                                                        "cat(nrow(read_run('example')$summary))"]):
                done = run(*command, cwd=here, env=environment)
                self.assertEqual(done.returncode, 0, f"{command}: {done.stderr}")
            self.assertEqual(done.stdout, "4")
            with open(os.path.join(here, "sweep", "runs", "run-0001", "run-0001", "outputs",
                                   "run-0001_run_info.json")) as f:
                self.assertEqual(json.load(f)["command_line"][0], os.path.join(prefix, "bin", "soilweb"))


if __name__ == "__main__":
    unittest.main()
