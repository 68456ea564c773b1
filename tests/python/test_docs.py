"""What the documentation shows runs as written, and names every key soilweb reads."""
import json
import os
import re
import shutil
import tempfile
import unittest

from support import BINARY, ROOT, run, tiny_config


class ReadmeTest(unittest.TestCase):
    def test_the_analysis_examples_run_as_written(self):
        with open(os.path.join(ROOT, "README.md")) as f:
            section = f.read().split("## Analysing results", 1)[1].split("\n## ", 1)[0]
        blocks = re.findall(r"```(python|r)\n(.*?)```", section, re.S)
        self.assertEqual([language for language, _ in blocks], ["python", "r"])
        with tempfile.TemporaryDirectory() as here:
            with open(os.path.join(here, "run_params"), "w") as f:
                json.dump(tiny_config(days=12), f)
            self.assertEqual(run(BINARY, cwd=here).returncode, 0)
            environment = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "python"))
            for language, code in blocks:
                command = ["/usr/bin/python3", "-c", code] if language == "python" else \
                    ["Rscript", "-e", code.replace("path/to/soilweb", ROOT)]
                shown = run(*command, cwd=here, env=environment)
                self.assertEqual(shown.returncode, 0, shown.stderr)
                self.assertIn("12", shown.stdout, language)  # the last day's row is shown


    def test_the_quick_start_runs_as_written(self):
        with open(os.path.join(ROOT, "README.md")) as f:
            section = f.read().split("## Quick start from Python or R", 1)[1].split("\n## ", 1)[0]
        blocks = re.findall(r"```(python|r)\n(.*?)```", section, re.S)
        self.assertEqual([(language, code.count("\n")) for language, code in blocks], [("python", 5), ("r", 5)])
        environment = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "python"), SOILWEB_BINARY=BINARY)
        with tempfile.TemporaryDirectory() as here:  # one after the other in one folder, as a user would
            for language, code in blocks:
                code = code.replace("path/to/soilweb", ROOT)
                command = ["/usr/bin/python3", "-c", code] if language == "python" else ["Rscript", "-e", code]
                shown = run(*command, cwd=here, env=environment)
                self.assertEqual(shown.returncode, 0, shown.stderr)
                self.assertIn("30", shown.stdout, language)  # the last day's row
                self.assertEqual(shown.stdout.count("completed"), 4, language)  # the sweep's runs


class NotebooksTest(unittest.TestCase):
    """The notebooks of docs/notebooks run from start to end, small, on this tree's binary and packages; they
    are stored without outputs."""

    def execute(self, name, command):
        with tempfile.TemporaryDirectory() as here:
            shutil.copy(os.path.join(ROOT, "docs", "notebooks", name), here)
            environment = dict(os.environ, SOILWEB_NOTEBOOK_SMALL="1", PYTHONPATH=os.path.join(ROOT, "python"),
                               SOILWEB_EXAMPLE=os.path.join(ROOT, "examples", "run_params"),
                               PATH=os.path.join(ROOT, "scripts") + os.pathsep + os.environ["PATH"])
            done = run(*command, cwd=here, env=environment)
            self.assertEqual(done.returncode, 0, done.stderr[-3000:])
            with open(os.path.join(here, "notebook-runs", "calibration", "tables", "posterior.tsv")) as f:
                self.assertEqual(len(f.readlines()), 17)  # the last generation's 16 particles, and the header

    def test_the_python_notebook_runs_and_is_stored_without_outputs(self):
        with open(os.path.join(ROOT, "docs", "notebooks", "soilweb.ipynb")) as f:
            cells = json.load(f)["cells"]
        self.assertTrue(all(not cell.get("outputs") and cell.get("execution_count") is None for cell in cells))
        self.execute("soilweb.ipynb", ["jupyter", "nbconvert", "--to", "notebook", "--execute", "--output",
                                       "executed.ipynb", "soilweb.ipynb"])

    def test_the_r_markdown_knits(self):
        self.execute("soilweb.Rmd", ["Rscript", "-e", "rmarkdown::render('soilweb.Rmd', quiet = TRUE)"])


class KeysTest(unittest.TestCase):
    def test_the_documentation_names_every_key_soilweb_reads(self):
        keys = json.loads(run(BINARY, "--list-keys", cwd=ROOT).stdout)
        self.assertGreater(len(keys), 100)
        with open(os.path.join(ROOT, "docs", "configuration.md")) as f:
            docs = f.read()
        species = "world.life.animals[]."
        for key in keys:
            path = key["path"]
            named = [path]
            if path.startswith(species):
                parts = path[len(species):].split(".")
                named = [parts[0], parts[1]] if parts[0].endswith(("Ranges", "Limits")) else [".".join(parts)]
            for name in named:
                self.assertIn(f"`{name}`", docs, f"{path} is not in docs/configuration.md")
            self.assertTrue(key["meaning"] and key["type"], path)


if __name__ == "__main__":
    unittest.main()
