"""The entry points: a Python without the modules, an installation's commands, and the package installed
with pip into virtual environments."""
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
            environment = dict(os.environ, PATH=os.path.join(prefix, "bin") + os.pathsep + os.environ["PATH"],
                               R_LIBS=os.path.join(here, "R"))
            for variable in ("SOILWEB_BINARY", "SOILWEB_SWEEP", "SOILWEB_CALIBRATE"):
                environment.pop(variable)
            os.makedirs(os.path.join(here, "R"))
            shutil.copy(os.path.join(prefix, "share", "soilweb", "examples", "run_params"), here)
            with open(os.path.join(here, "grid.json"), "w") as f:
                json.dump({"simulation.days": [2, 3]}, f)
            with open(os.path.join(here, "base.json"), "w") as f:
                json.dump(tiny_config(days=2), f)
            for command in (["soilweb", "--set", "simulation.days=3"], ["soilweb-plot", "example"],
                            ["soilweb-sweep", "run", "base.json", "grid.json", "sweep", "--jobs", "1"],
                            ["soilweb-plot", "sweep"],
                            ["R", "CMD", "INSTALL", "-l", "R", os.path.join(prefix, "share", "soilweb", "R", "soilweb")],
                            ["Rscript", "-e", "library(soilweb); cat(nrow(read_run('example')$summary))"]):
                done = run(*command, cwd=here, env=environment)
                self.assertEqual(done.returncode, 0, f"{command}: {done.stderr}")
            self.assertEqual(done.stdout, "4")
            with open(os.path.join(here, "sweep", "runs", "run-0001", "run-0001", "outputs",
                                   "run-0001_run_info.json")) as f:
                self.assertEqual(json.load(f)["command_line"][0], os.path.join(prefix, "bin", "soilweb"))


def checkout(here, name, marker):
    """A copy of the package's source (as a second clone would hold it), marked so that an import shows
    which copy it came from."""
    source = os.path.join(here, name)
    shutil.copytree(os.path.join(ROOT, "python"), source, ignore=shutil.ignore_patterns("__pycache__", "build",
                                                                                          "*.egg-info"))
    with open(os.path.join(source, "soilweb", "__init__.py"), "a") as f:
        f.write(f"\nCHECKOUT = {marker!r}\n")
    return source


def venv_with(here, name, source):
    """A virtual environment seeing the system's packages, with the package pip-installed from source."""
    venv = os.path.join(here, name)
    made = run(sys.executable, "-m", "venv", "--system-site-packages", venv, cwd=here)
    assert made.returncode == 0, made.stderr
    done = run(os.path.join(venv, "bin", "python"), "-m", "pip", "install", "--quiet", "--no-deps",
               "--no-build-isolation", "--no-index", source, cwd=here)
    assert done.returncode == 0, done.stderr
    return venv


class InstalledPackageTest(unittest.TestCase):
    def test_two_checkouts_in_two_venvs_each_run_their_own(self):
        with tempfile.TemporaryDirectory() as here:
            first = venv_with(here, "venv-one", checkout(here, "clone-one", "one"))
            second = venv_with(here, "venv-two", checkout(here, "clone-two", "two"))
            shutil.copy(BINARY, os.path.join(first, "bin", "soilweb"))  # as scripts/setup.sh puts it there
            # Nothing of the source tree or the system's installation on the paths: only the venvs.
            clean = {k: v for k, v in os.environ.items() if not k.startswith(("SOILWEB_", "PYTHON", "R_LIBS"))}
            env = {venv: dict(clean, PATH=os.path.join(venv, "bin") + os.pathsep + "/usr/bin:/bin", HOME=here)
                   for venv in (first, second)}
            for venv, marker in ((first, "one"), (second, "two")):
                shown = run(os.path.join(venv, "bin", "python"), "-c", "import soilweb, sys; sys.stdout.write("
                            "soilweb.CHECKOUT + ' ' + soilweb.__file__)", cwd=here, env=env[venv])
                self.assertEqual(shown.returncode, 0, shown.stderr)
                got, path = shown.stdout.split(" ")
                self.assertEqual(got, marker)
                self.assertTrue(path.startswith(venv + os.sep), path)
            # The installed commands and the package run the binary beside them, and the schema came along.
            with open(os.path.join(here, "base.json"), "w") as f:
                json.dump(tiny_config(days=2), f)
            with open(os.path.join(here, "grid.json"), "w") as f:
                json.dump({"simulation.temperature": [15, 25]}, f)
            for command in (["soilweb-sweep", "run", "base.json", "grid.json", "sweep", "--jobs", "1", "--seed", "2"],
                            ["python", "-c", "import soilweb; r = soilweb.run('base.json', folder='api', progress=False);"
                                             " print(len(r['summary']), r['record']['command_line'][0])"],
                            ["soilweb-plot", os.path.join("api", "example")], ["soilweb-calibrate", "--help"]):
                done = run(*command, cwd=here, env=env[first])
                self.assertEqual(done.returncode, 0, f"{command}: {done.stderr}")
            self.assertEqual(done.stdout.count("usage: soilweb-calibrate"), 1)
            with open(os.path.join(here, "sweep", "runs", "run-0001", "run-0001", "outputs",
                                   "run-0001_run_info.json")) as f:
                self.assertEqual(json.load(f)["command_line"][0], os.path.join(first, "bin", "soilweb"))
            # Where there is no binary, the package and the commands say how to get one, in one line.
            how = "no soilweb binary: build it from soilweb's source tree with scripts/setup.sh"
            done = run("soilweb-sweep", "run", "base.json", "grid.json", "again", cwd=here, env=env[second])
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
            self.assertIn(how, done.stderr)
            done = run("python", "-c", "import soilweb; soilweb.run('base.json')", cwd=here, env=env[second])
            self.assertIn(how, done.stderr.splitlines()[-1])


if __name__ == "__main__":
    unittest.main()
