"""The figures and the report page of a run (soilweb-plot, soilweb.figures, soilweb.report)."""
import json
import os
import re
import shutil
import sys
import tempfile
import unittest

from support import BINARY, PLOT, ROOT, png_size, run, tiny_config


class PlotTest(unittest.TestCase):
    def test_writes_every_run_figure_in_each_format(self):
        with tempfile.TemporaryDirectory() as here:
            with open(os.path.join(here, "run_params"), "w") as f:
                json.dump(tiny_config(days=40), f)
            self.assertEqual(run(BINARY, cwd=here).returncode, 0)
            done = run(PLOT, "example", "--traits", "body,speed", "--dpi", "50", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            names = ("dynamics", "cells_biomass", "traits_day_40", "trait_evolution", "food_web")
            sizes = [png_size(os.path.join(here, "example", "plots", f"{name}.png")) for name in names]
            done = run(PLOT, "example", "--traits", "body,speed", "--dpi", "100", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            for name, (width, height) in zip(names, sizes):  # twice the dots per inch, twice the pixels
                self.assertEqual(png_size(os.path.join(here, "example", "plots", f"{name}.png")),
                                 (2 * width, 2 * height), name)
            for form, magic in (("svg", b"<?xml"), ("pdf", b"%PDF")):
                done = run(PLOT, "example", "--format", form, "--out", form, cwd=here)
                self.assertEqual(done.returncode, 0, done.stderr)
                for name in names:
                    with open(os.path.join(here, form, f"{name}.{form}"), "rb") as f:
                        self.assertEqual(f.read(len(magic)), magic, name)
            # With genetic statistics, trait_evolution shows what the animals inherit, beside the
            # expressed values and the response to selection; a temperature series is drawn.
            config = tiny_config(days=40)
            config["simulation"]["outputs"]["geneticStatistics"] = True
            config["simulation"]["temperatureSeries"] = [[0, 15], [40, 25]]
            inherited = os.path.join(here, "inherited")
            os.mkdir(inherited)
            with open(os.path.join(inherited, "run_params"), "w") as f:
                json.dump(config, f)
            self.assertEqual(run(BINARY, cwd=inherited).returncode, 0)
            done = run(PLOT, os.path.join(inherited, "example"), "--traits", "body,speed", "--out", "genetic",
                       "--report", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            for name in ("trait_evolution", "trait_expression", "selection_response"):
                self.assertTrue(os.path.exists(os.path.join(here, "genetic", f"{name}.png")), name)
            with open(os.path.join(here, "genetic", "report.html")) as f:
                page = f.read()
            self.assertIn("what the animals inherit", page)
            self.assertIn("temperature (°C)", page)
            wrong = run(PLOT, "example", "--traits", "wings", cwd=here)
            self.assertEqual(wrong.returncode, 1)
            self.assertIn("unknown trait column(s): wings", wrong.stderr)

    def test_a_run_with_non_finite_values_is_marked(self):
        with tempfile.TemporaryDirectory() as here:
            config = tiny_config(days=3)
            config["world"]["soil"]["rateForMaxFungiBiomass"] = 1e308
            with open(os.path.join(here, "run_params"), "w") as f:
                json.dump(config, f)
            self.assertEqual(run(BINARY, cwd=here).returncode, 0)
            done = run(PLOT, "example", "--dpi", "30", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("soilweb-plot: warning: example: numbers that are not finite (nan or inf) in the results, "
                          "first on day 0, column BIOMASS", done.stderr)

    def test_list_elements_are_labelled_by_their_indices_and_folders_counted_whole(self):
        sys.path.insert(0, os.path.join(ROOT, "python"))
        from soilweb.figures.grouping import parameter_label
        from soilweb.report import files_rows
        self.assertEqual(parameter_label("simulation.temperatureSeries.2.1", ["prey", "predator"]),
                         "temperature series[2][1]")
        with tempfile.TemporaryDirectory() as here:
            for name in ("run-0001", "run-0002"):
                os.makedirs(os.path.join(here, "runs", name, name, "outputs"))
                with open(os.path.join(here, "runs", name, name, "outputs", "summary.txt"), "w") as f:
                    f.write("x" * 1000)
            self.assertEqual(files_rows(here, {}), [("runs/ (2 files)", 2000, "")])

    def report_of(self, here, config):
        """Runs config in here and draws its report; the report page's path."""
        with open(os.path.join(here, "run_params"), "w") as f:
            json.dump(config, f)
        self.assertEqual(run(BINARY, cwd=here).returncode, 0)
        done = run(PLOT, "example", "--report", cwd=here)
        self.assertEqual(done.returncode, 0, done.stderr)
        return os.path.join(here, "example", "plots", "report.html")

    def test_the_report_is_one_page_that_renders_without_the_network(self):
        chromium = shutil.which("chromium")
        if chromium is None and os.environ.get("CI") != "true":
            self.skipTest("no chromium here (scripts/setup.sh installs it)")
        with tempfile.TemporaryDirectory() as here:
            with open(os.path.join(ROOT, "examples", "run_params")) as f:
                config = json.load(f)
            config["simulation"]["days"] = 300
            config["world"]["life"]["animals"][1]["initialPopulation"] = 1  # the predator dies out early
            page_path = self.report_of(here, config)
            with open(page_path) as f:
                page = f.read()
            self.assertIsNotNone(re.search(r"the predators died out after day \d+ of 300", page))
            self.assertEqual(page.count("<figure><svg"), 5)  # dynamics, cells, traits, evolution, food web
            # Nothing to fetch: the figures' references are all within the page.
            self.assertEqual(re.findall(r"(?:src|href)\s*=\s*\"(?!#|data:)|url\((?!#)|@import", page), [])
            shot = os.path.join(here, "shot.png")
            shown = run(chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                        "--window-size=1200,1600", f"--screenshot={shot}", "--enable-logging=stderr",
                        "file://" + page_path, cwd=here)
            self.assertEqual(shown.returncode, 0, shown.stderr)
            self.assertEqual(png_size(shot), (1200, 1600))
            self.assertNotRegex(shown.stderr, r"Failed to load resource|net::ERR_")


    def test_hostile_species_names_show_as_text_in_the_report(self):
        chromium = shutil.which("chromium")
        if chromium is None and os.environ.get("CI") != "true":
            self.skipTest("no chromium here (scripts/setup.sh installs it)")
        with tempfile.TemporaryDirectory() as here:
            config = tiny_config(days=3)
            config["world"]["life"]["animals"][0]["name"] = "<script>alert(1)</script>"
            config["world"]["life"]["animals"][1]["name"] = "a&b"
            page_path = self.report_of(here, config)
            shown = run(chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                        "--dump-dom", "file://" + page_path, cwd=here)
            self.assertEqual(shown.returncode, 0, shown.stderr)
            dom = shown.stdout
            # The page as the browser built it holds no script element and no event handler...
            self.assertNotRegex(dom, r"(?i)<script|\son[a-z]+\s*=")
            # ...and the names as text, written as they are.
            self.assertIn("&lt;script&gt;alert(1)&lt;/script&gt;, a&amp;b", dom)

    def test_reads_compressed_and_thinned_runs(self):
        with tempfile.TemporaryDirectory() as here:
            config = tiny_config(days=7)
            config["simulation"]["outputs"].update(compression="gzip", snapshotEvery=3, snapshots=["cells"])
            with open(os.path.join(here, "run_params"), "w") as f:
                json.dump(config, f)
            self.assertEqual(run(BINARY, cwd=here).returncode, 0)
            done = run(PLOT, "example", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("no end-of-day animal files: the trait figure left out", done.stderr)
            self.assertIn("no trait statistics and no end-of-day animal files: the trait-evolution figure left out",
                          done.stderr)
            self.assertEqual(sorted(os.listdir(os.path.join(here, "example", "plots")))[:2],
                             ["cells_biomass.png", "dynamics.png"])



class SweepFigureTest(unittest.TestCase):
    """What the sweep figures count: a run that ended early tells only what it saw."""

    def test_persistence_counts_only_the_runs_that_tell(self):
        from soilweb.figures.grouping import fate_of
        from soilweb.figures.sweep import persistence
        # Three replicates: one ran to day 10, one lost its predators after day 4 (and so ended),
        # one lost its prey after day 6 and went on (stopWhen never).
        members = [{"gone": {"prey": None, "predators": None}, "last_day": 10},
                   {"gone": {"prey": None, "predators": 4}, "last_day": 4},
                   {"gone": {"prey": 6, "predators": None}, "last_day": 10}]
        days = list(range(11))
        share, told = persistence(members, "prey", days)
        self.assertEqual(list(told), [3] * 5 + [2] * 6)  # the run that ended tells nothing of its prey later
        self.assertEqual(list(share[:7]), [1.0] * 7)
        self.assertEqual(list(share[7:]), [0.5] * 4)
        share, told = persistence(members, "predators", days)
        self.assertEqual(list(told), [3] * 11)  # predators gone are gone for good
        self.assertAlmostEqual(share[5], 2 / 3)
        self.assertEqual([fate_of("extinct", "the predators"), fate_of("extinct", "the prey"),
                          fate_of("extinct", "the soil resource"), fate_of("completed", ""),
                          fate_of("extinct", "the prey and the predators")],
                         ["predators", "prey", "resource", "completed", "world"])


if __name__ == "__main__":
    unittest.main()
