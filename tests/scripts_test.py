"""Tests of the plotting and sweep scripts on tiny finished runs."""
import json
import re
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BINARY = os.environ.get("SOILWEB_BINARY", os.path.join(ROOT, "build", "soilweb"))
SWEEP = os.path.join(ROOT, "scripts", "soilweb-sweep")
PLOT = os.path.join(ROOT, "scripts", "soilweb-plot")
# The scripts run with `env python3`: the Python running these tests, which has their modules.
os.environ["PATH"] = os.path.dirname(sys.executable) + os.pathsep + os.environ.get("PATH", "")


def tiny_config(days=3):
    with open(os.path.join(ROOT, "examples", "run_params")) as f:
        config = json.load(f)
    config["simulation"].update(days=days, worldLength=6)
    config["world"]["life"]["animals"][0]["initialPopulation"] = 30
    config["world"]["life"]["animals"][1]["initialPopulation"] = 5
    return config


def wait_for_lines(path, lines):
    """Waits until a file that grows line by line holds at least lines lines."""
    for _ in range(20000):
        if os.path.exists(path):
            with open(path) as f:
                if f.read().count("\n") >= lines:
                    return
        time.sleep(0.001)


def run(*command, cwd, env=None):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, env=env)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


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
            wrong = run(PLOT, "example", "--traits", "wings", cwd=here)
            self.assertEqual(wrong.returncode, 1)
            self.assertIn("unknown trait column(s): wings", wrong.stderr)

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


class ScriptsTest(unittest.TestCase):
    def test_a_python_without_the_modules_is_named_in_one_line(self):
        with tempfile.TemporaryDirectory() as here:
            bare = os.path.join(here, "python3")  # a Python without its site packages
            with open(bare, "w") as f:
                f.write(f"#!/bin/sh\nexec {sys.executable} -S \"$@\"\n")
            os.chmod(bare, 0o755)
            environment = dict(os.environ, PATH=here + os.pathsep + os.environ["PATH"])
            for script, module in ((PLOT, "matplotlib"), (SWEEP, "pandas")):
                done = run(script, "anything", cwd=here, env=environment)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertIn(f"has no module '{module}'", done.stderr)

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

class SweepTest(unittest.TestCase):
    def sweep(self, here, out, grid, replicates, status=0, env=None):
        for name, content in (("base.json", tiny_config()), ("grid.json", grid)):
            with open(os.path.join(here, name), "w") as f:
                json.dump(content, f)
        done = run(SWEEP, "run", "base.json", "grid.json", out,
                   "--replicates", str(replicates), "--seed", "5", "--jobs", "2", "--binary", BINARY, cwd=here, env=env)
        self.assertEqual(done.returncode, status, done.stderr)
        with open(os.path.join(here, out, "summary.tsv")) as f:
            table = f.read()
        with open(os.path.join(here, out, "failed.tsv")) as f:
            failed = f.read().splitlines()[1:]
        return table, failed

    def test_the_readme_sweep_files_make_a_valid_sweep(self):
        with tempfile.TemporaryDirectory() as here:
            sweep = os.path.join(ROOT, "examples", "sweep")
            done = run(SWEEP, "prepare", os.path.join(sweep, "base.json"), os.path.join(sweep, "grid.json"), "out",
                       "--replicates", "1", "--binary", BINARY, cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(len(os.listdir(os.path.join(here, "out", "runs"))), 6)

    @staticmethod
    def blocks(table):
        runs = {}
        for fields in [line.split("\t") for line in table.splitlines()[1:]]:
            runs.setdefault(fields[0], []).append(fields)
        return runs

    def test_collects_one_block_per_run_and_repeats_exactly(self):
        with tempfile.TemporaryDirectory() as here:
            table, failed = self.sweep(here, "first", {"simulation.temperature": [15, 25]}, 2)
            self.assertEqual(failed, [])
            header = table.splitlines()[0].split("\t")
            self.assertEqual(header[:7], ["run", "seed", "simulation.temperature", "end", "last_day", "soilweb_version", "DAY"])
            runs = self.blocks(table)
            self.assertEqual(sorted(runs), ["run-0001", "run-0002", "run-0003", "run-0004"])
            for name, block in runs.items():
                self.assertEqual([f[6] for f in block], ["0", "1", "2", "3"], name)
                self.assertEqual(block[0][3:5], ["completed", "3"], name)
            self.assertEqual([runs[n][0][2] for n in sorted(runs)], ["15", "15", "25", "25"])
            seeds = {runs[n][0][1] for n in runs}
            self.assertEqual(len(seeds), 4)
            again, _ = self.sweep(here, "second", {"simulation.temperature": [15, 25]}, 2)
            self.assertEqual(again, table)

    def test_a_failed_run_is_logged_with_its_status_and_the_others_go_on(self):
        with tempfile.TemporaryDirectory() as here:
            # Runs that reach day 2 run out of memory there (the run's test hook).
            failing = dict(os.environ, SOILWEB_TEST_AT="day@2:oom")
            table, failed = self.sweep(here, "out", {"simulation.days": [1, 3]}, 1, status=1, env=failing)
            self.assertEqual(len(failed), 1)
            self.assertTrue(failed[0].startswith("run-0002\t"))
            self.assertIn("\t1\tfailed\tsoilweb: out of memory on day 2", failed[0])
            self.assertTrue(all(line.startswith("run-0001\t") for line in table.splitlines()[1:]))
            with open(os.path.join(here, "out", "joblog.tsv")) as f:
                log = [line.split("\t") for line in f.read().splitlines()]
            exits = {row[-1].split()[-1]: row[log[0].index("Exitval")] for row in log[1:]}
            self.assertEqual(exits, {os.path.join(here, "out", "runs", "run-0001"): "0",
                                     os.path.join(here, "out", "runs", "run-0002"): "1"})
            # A Slurm array task exits with its run's status too.
            task = subprocess.run(["bash", os.path.join(ROOT, "scripts", "slurm", "soilweb-array.sbatch")],
                                  env=dict(failing, SLURM_ARRAY_TASK_ID="2", SWEEP=os.path.join(here, "out"),
                                           SOILWEB=BINARY), capture_output=True, text=True)
            self.assertEqual(task.returncode, 1)

    def test_collects_compressed_runs(self):
        with tempfile.TemporaryDirectory() as here:
            plain, _ = self.sweep(here, "plain", {"simulation.outputs.compression": ["none"]}, 1)
            packed, failed = self.sweep(here, "packed", {"simulation.outputs.compression": ["gzip"]}, 1)
            self.assertEqual(failed, [])
            strip = lambda table: [line.split("\t")[3:] for line in table.splitlines()[1:]]  # noqa: E731
            self.assertEqual(strip(packed), strip(plain))

    def test_sweep_figures(self):
        with tempfile.TemporaryDirectory() as here:
            self.sweep(here, "out", {"simulation.temperature": [15, 25]}, 2)
            done = run(PLOT, "out", "--columns", "PREY_ACTIVE,BIOMASS", "--report", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(os.path.join(here, "out", "plots", "report.html")) as f:
                self.assertEqual(f.read().count("<figure><svg"), 4)
            for name in ("sweep_dynamics.png", "sweep_extinct.png", "sweep_scatter.png", "sweep_trait_evolution.png"):
                with open(os.path.join(here, "out", "plots", name), "rb") as f:
                    self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n", name)

    def test_a_latin_hypercube_is_repeatable_and_within_its_ranges(self):
        with tempfile.TemporaryDirectory() as here:
            with open(os.path.join(here, "base.json"), "w") as f:
                json.dump(tiny_config(), f)
            ranges = {"simulation.temperature": {"min": 10.5, "max": 30},
                      "world.life.animals.1.initialPopulation": {"min": 2, "max": 9}}
            with open(os.path.join(here, "ranges.json"), "w") as f:
                json.dump(ranges, f)
            points = []
            for out in ("first", "second"):
                done = run(SWEEP, "prepare", "base.json", "ranges.json", out, "--design", "lhs", "--samples", "8",
                           "--replicates", "2", "--seed", "11", cwd=here)
                self.assertEqual(done.returncode, 0, done.stderr)
                with open(os.path.join(here, out, "sweep.json")) as f:
                    points.append([(r["parameters"], r["seed"]) for r in json.load(f)["runs"]])
            self.assertEqual(points[0], points[1])
            self.assertEqual(len(points[0]), 16)
            temperatures = sorted({p["simulation.temperature"] for p, _ in points[0]})
            self.assertEqual(len(temperatures), 8)
            for parameters, _ in points[0]:
                self.assertTrue(10.5 <= parameters["simulation.temperature"] <= 30)
                population = parameters["world.life.animals.1.initialPopulation"]
                self.assertIsInstance(population, int)
                self.assertTrue(2 <= population <= 9)
            # One point in each eighth of the temperature range: a Latin hypercube.
            self.assertEqual(sorted(int((t - 10.5) / (19.5 / 8)) for t in temperatures), list(range(8)))

    def test_grid_keys_are_checked_before_anything_runs(self):
        with tempfile.TemporaryDirectory() as here:
            for grid, error in (({"simulation.temperatur": [1]}, "grid key 'simulation.temperatur' is not in the base"),
                                ({"world.life.animals.2.initialPopulation": [1]},
                                 "grid key 'world.life.animals.2.initialPopulation': 'world.life.animals' has 2 elements")):
                with open(os.path.join(here, "base.json"), "w") as f:
                    json.dump(tiny_config(), f)
                with open(os.path.join(here, "grid.json"), "w") as f:
                    json.dump(grid, f)
                done = run(SWEEP, "run", "base.json", "grid.json", "out", "--binary", BINARY, cwd=here)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertIn(error, done.stderr)
                self.assertFalse(os.path.exists(os.path.join(here, "out")))

    def test_a_sweep_resumes_keeping_finished_runs_and_adding_replicates(self):
        with tempfile.TemporaryDirectory() as here:
            grid = {"simulation.temperature": [15, 25]}
            table, _ = self.sweep(here, "out", grid, 1)
            runs = os.path.join(here, "out", "runs")
            kept = os.path.join(runs, "run-0001", "run-0001", "outputs", "run-0001_summary.txt")
            stamp = os.stat(kept).st_mtime_ns
            os.remove(os.path.join(runs, "run-0002", "exit_status"))  # as if killed
            again, failed = self.sweep(here, "out", grid, 2)
            self.assertEqual(failed, [])
            self.assertEqual(os.stat(kept).st_mtime_ns, stamp, "a finished run is not run again")
            blocks = self.blocks(again)
            self.assertEqual(sorted(blocks), ["run-0001", "run-0002", "run-0003", "run-0004"])
            self.assertEqual(blocks["run-0002"], self.blocks(table)["run-0002"], "the unfinished run ran again alike")
            self.assertEqual([blocks[n][0][2] for n in sorted(blocks)], ["15", "25", "15", "25"])
            self.assertEqual(len({blocks[n][0][1] for n in blocks}), 4)
            # The same sweep made at once has the same seeds.
            whole, _ = self.sweep(here, "whole", grid, 2)
            self.assertEqual(sorted(b[0][1] for b in self.blocks(whole).values()),
                             sorted(b[0][1] for b in blocks.values()))

    @staticmethod
    def long_sweep(here):
        """A one-run sweep whose run lasts long enough to be stopped; its folder and summary."""
        with open(os.path.join(ROOT, "tests", "soak", "soak.json")) as f:
            base = json.load(f)
        base["simulation"]["days"] = 400
        for name, content in (("base.json", base), ("grid.json", {"simulation.temperature": [20]})):
            with open(os.path.join(here, name), "w") as f:
                json.dump(content, f)
        done = run(SWEEP, "prepare", "base.json", "grid.json", "out", "--seed", "3", cwd=here)
        assert done.returncode == 0, done.stderr
        folder = os.path.join(here, "out", "runs", "run-0001")
        return folder, os.path.join(folder, "run-0001", "outputs", "run-0001_summary.txt")

    @staticmethod
    def stop_when_summary_has(process, summary, lines, sent=signal.SIGTERM):
        wait_for_lines(summary, lines)
        process.send_signal(sent)
        return process.wait()

    def assert_as_if_never_stopped(self, here, folder, summary):
        with open(summary) as f:
            resumed = f.read()
        whole = os.path.join(here, "whole")
        os.mkdir(whole)
        self.assertEqual(run(BINARY, os.path.join(folder, "run_params"), cwd=whole).returncode, 0)
        with open(os.path.join(whole, "run-0001", "outputs", "run-0001_summary.txt")) as f:
            self.assertEqual(resumed, f.read())
        self.assertFalse(os.path.exists(os.path.join(folder, "run-0001", "checkpoint")), "a finished run keeps none")

    def test_a_stopped_run_carries_on_from_its_checkpoint(self):
        with tempfile.TemporaryDirectory() as here:
            folder, summary = self.long_sweep(here)
            started = subprocess.Popen([BINARY, "run_params"], cwd=folder, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            self.assertEqual(self.stop_when_summary_has(started, summary, 20), 143)
            with open(os.path.join(folder, "exit_status"), "w") as f:
                f.write("143\n")
            done = run(SWEEP, "run", "base.json", "grid.json", "out", "--binary", BINARY, cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(os.path.join(folder, "console.txt")) as f:
                self.assertIn("Resuming from the checkpoint of day", f.read())
            self.assert_as_if_never_stopped(here, folder, summary)

    def test_a_sweep_over_runs_still_under_way_refuses_and_touches_nothing(self):
        with tempfile.TemporaryDirectory() as here:
            folder, summary = self.long_sweep(here)
            for name in ("console.txt", "errors.txt"):
                with open(os.path.join(folder, name), "w") as f:
                    f.write("the orphan's own\n")
            # An orphan of a sweep killed outright, held still at day 3 (its wrapper wrote its pid).
            orphan = subprocess.Popen([BINARY, "run_params"], cwd=folder, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL, env=dict(os.environ, SOILWEB_TEST_AT="day@3:STOP"))
            try:
                os.waitpid(orphan.pid, os.WUNTRACED)
                with open(os.path.join(folder, "soilweb.pid"), "w") as f:
                    f.write(f"{orphan.pid}\n")
                again = run(SWEEP, "run", "base.json", "grid.json", "out", "--binary", BINARY, cwd=here)
                self.assertEqual(again.returncode, 1)
                self.assertEqual(again.stderr, f"soilweb-sweep: 1 run of an earlier sweep in out is still under way: "
                                               f"run-0001 (pid {orphan.pid}); wait for them, or stop them with kill PID "
                                               "(each stops with a checkpoint), then run the same command again\n")
                for name in ("console.txt", "errors.txt"):
                    with open(os.path.join(folder, name)) as f:
                        self.assertEqual(f.read(), "the orphan's own\n", name)
                collected = run(SWEEP, "collect", "out", cwd=here)
                self.assertEqual(collected.returncode, 1)
                self.assertEqual(collected.stderr, "soilweb-sweep: cannot collect: run-0001 is still being written by "
                                                   "a soilweb process; wait for it to end\n")
            finally:
                orphan.send_signal(signal.SIGTERM)
                orphan.send_signal(signal.SIGCONT)
            self.assertEqual(orphan.wait(), 143)
            done = run(SWEEP, "run", "base.json", "grid.json", "out", "--binary", BINARY, cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assert_as_if_never_stopped(here, folder, summary)

    def test_a_slurm_task_warned_before_its_time_limit_checkpoints_and_carries_on(self):
        with tempfile.TemporaryDirectory() as here:
            folder, summary = self.long_sweep(here)
            task = ["bash", os.path.join(ROOT, "scripts", "slurm", "soilweb-array.sbatch")]
            env = dict(os.environ, SLURM_ARRAY_TASK_ID="1", SWEEP=os.path.join(here, "out"), SOILWEB=BINARY)
            # Slurm's warning goes to the batch script only, which hands it on.
            self.assertEqual(self.stop_when_summary_has(subprocess.Popen(task, env=env), summary, 20), 143)
            self.assertTrue(os.path.exists(os.path.join(folder, "run-0001", "checkpoint", "run-0001_checkpoint.bin")))
            self.assertEqual(subprocess.run(task, env=env).returncode, 0)
            with open(os.path.join(folder, "exit_status")) as f:
                self.assertEqual(f.read(), "0\n")
            self.assert_as_if_never_stopped(here, folder, summary)


class TruthfulSweepTest(unittest.TestCase):
    def write_inputs(self, here, grid, base=None):
        for name, content in (("base.json", base or tiny_config()), ("grid.json", grid)):
            with open(os.path.join(here, name), "w") as f:
                json.dump(content, f)

    def test_configurations_are_checked_before_anything_is_written(self):
        with tempfile.TemporaryDirectory() as here:
            cases = (({"simulation.temperature": ["warm", 20]}, [],
                      ["soilweb-sweep: run-0001: 'simulation.temperature' is \"warm\"; read as 0",
                       "soilweb-sweep: the sweep was not started: 1 run's configuration has warnings (pass --lenient "
                       "to run them anyway)"]),
                     ({"simulation.worldLength": [4, 3]}, ["--lenient"],
                      ["soilweb-sweep: run-0002: 'simulation.worldLength' must be 1 or an even number of at least 4, "
                       "got 3",
                       "soilweb-sweep: the sweep was not started: 1 run's configuration holds errors"]),
                     ({"simulation.seed": [1, 2]}, [],
                      ["soilweb-sweep: grid key 'simulation.seed' is set by the sweep itself (each run's seed is drawn "
                       "from the master seed, its name is its folder's); leave it out of the grid"]))
            for grid, extra, lines in cases:
                self.write_inputs(here, grid)
                for command in ("run", "prepare"):
                    done = run(SWEEP, command, "base.json", "grid.json", "out", "--binary", BINARY, *extra, cwd=here)
                    self.assertEqual(done.returncode, 1, done.stderr)
                    self.assertEqual(done.stderr.splitlines(), lines)
                    self.assertFalse(os.path.exists(os.path.join(here, "out")))
            self.write_inputs(here, {"simulation.temperature": ["warm", 20]})
            done = run(SWEEP, "run", "base.json", "grid.json", "out", "--binary", BINARY, "--lenient", cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertNotIn("failed", done.stdout)

    def test_an_interrupted_prepare_is_completed_and_a_damaged_checkpoint_starts_afresh(self):
        with tempfile.TemporaryDirectory() as here:
            base = tiny_config(days=30)
            base["simulation"]["checkpointEvery"] = 5
            self.write_inputs(here, {"simulation.temperature": [15, 25]}, base)
            self.assertEqual(run(SWEEP, "prepare", "base.json", "grid.json", "out", "--seed", "2", "--binary", BINARY,
                                 cwd=here).returncode, 0)
            runs = os.path.join(here, "out", "runs")
            shutil.rmtree(os.path.join(runs, "run-0002"))  # as if prepare had stopped half-way
            os.makedirs(os.path.join(runs, ".run-0002.partial"))
            done = run(SWEEP, "prepare", "base.json", "grid.json", "out", "--binary", BINARY, cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(sorted(os.listdir(runs)), ["run-0001", "run-0002"])
            # Killed after the checkpoint of day 9, whose file is then damaged.
            folder = os.path.join(runs, "run-0001")
            run(BINARY, "run_params", cwd=folder, env=dict(os.environ, SOILWEB_TEST_AT="day@11:KILL"))
            checkpoint = os.path.join(folder, "run-0001", "checkpoint", "run-0001_checkpoint.bin")
            with open(checkpoint, "r+b") as f:
                f.seek(100)
                f.write(b"damage")
            done = run(SWEEP, "run", "base.json", "grid.json", "out", "--binary", BINARY, cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("soilweb-sweep: run-0001: checkpoint 'run-0001/checkpoint/run-0001_checkpoint.bin' is "
                          "damaged: its checksum does not match its contents; the run starts afresh\n", done.stderr)
            self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
            whole = os.path.join(here, "whole")
            os.mkdir(whole)
            self.assertEqual(run(BINARY, os.path.join(folder, "run_params"), cwd=whole).returncode, 0)
            for name in ("run-0001_summary.txt", "run-0001_nodes.txt"):
                with open(os.path.join(folder, "run-0001", "outputs", name)) as a, \
                        open(os.path.join(whole, "run-0001", "outputs", name)) as b:
                    self.assertEqual(a.read(), b.read(), name)

    def test_stopping_the_sweep_stops_its_runs_and_running_it_again_carries_them_on(self):
        with tempfile.TemporaryDirectory() as here:
            with open(os.path.join(ROOT, "tests", "soak", "soak.json")) as f:
                base = json.load(f)
            base["simulation"]["days"] = 300
            self.write_inputs(here, {"simulation.temperature": [19, 21]}, base)
            # The runs are found by their pids, not by the binary's name.
            other = os.path.join(here, "other-name")
            shutil.copy(BINARY, other)
            command = [SWEEP, "run", "base.json", "grid.json", "out", "--seed", "4", "--jobs", "2", "--binary", other]
            sweep = subprocess.Popen(command, cwd=here, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            summaries = [os.path.join(here, "out", "runs", n, n, "outputs", n + "_summary.txt")
                         for n in ("run-0001", "run-0002")]
            for summary in summaries:
                wait_for_lines(summary, 10)
            sweep.send_signal(signal.SIGTERM)
            _, err = sweep.communicate()
            self.assertEqual(sweep.returncode, 143, err)
            self.assertIn("soilweb-sweep: stopped by SIGTERM; 2 runs under way stopped with a checkpoint", err)
            for name in ("run-0001", "run-0002"):
                with open(os.path.join(here, "out", "runs", name, "exit_status")) as f:
                    self.assertEqual(f.read(), "143\n", name)
            again = run(*command, cwd=here)
            self.assertEqual(again.returncode, 0, again.stderr)
            for name, summary in zip(("run-0001", "run-0002"), summaries):
                whole = os.path.join(here, "whole-" + name)
                os.mkdir(whole)
                self.assertEqual(run(BINARY, os.path.join(here, "out", "runs", name, "run_params"), cwd=whole).returncode, 0)
                with open(summary) as a, open(os.path.join(whole, name, "outputs", name + "_summary.txt")) as b:
                    self.assertEqual(a.read(), b.read(), name)


sys.path.insert(0, os.path.join(ROOT, "python"))
import pandas as pd  # noqa: E402
import soilweb  # noqa: E402

R_TABLES = """
source(file.path(Sys.getenv("ROOT"), "R", "soilweb.R"))
show <- function(tables) for (name in SOILWEB_TABLES) {
  t <- tables[[name]]
  numeric <- if (is.null(t)) 0 else sum(sapply(t, function(c) if (is.numeric(c)) sum(c, na.rm = TRUE) else 0))
  cat(paste(name, if (is.null(t)) -1 else nrow(t), sprintf("%.6g", numeric)), "\\n", sep = "")
}
args <- commandArgs(trailingOnly = TRUE)
show(if (args[1] == "run") read_run(args[2]) else read_sweep(args[2]))
"""


def python_view(tables):
    """What R_TABLES prints of the same tables."""
    lines = []
    for name in soilweb.TABLES:
        t = tables[name]
        numeric = 0 if t is None else sum(t[c].sum() for c in t.columns if pd.api.types.is_numeric_dtype(t[c]))
        lines.append(f"{name} {-1 if t is None else len(t)} {numeric:.6g}")
    return lines


class LoaderTest(unittest.TestCase):
    def runs(self, here, **variants):
        """A run of the tiny configuration per variant (its outputs settings), each in its own folder."""
        for name, outputs in variants.items():
            folder = os.path.join(here, name)
            os.makedirs(folder)
            config = tiny_config(days=8)
            config["simulation"]["outputs"].update(outputs)
            with open(os.path.join(folder, "run_params"), "w") as f:
                json.dump(config, f)
            done = run(BINARY, cwd=folder)
            self.assertEqual(done.returncode, 0, done.stderr)
        return {name: soilweb.read_run(os.path.join(here, name, "example")) for name in variants}

    def test_every_layout_gives_the_same_tables(self):
        with tempfile.TemporaryDirectory() as here:
            thinned = {"snapshotEvery": 3}
            got = self.runs(here, daily=thinned, tables=dict(thinned, layout="tables", compression="gzip",
                                                             foodWeb="edges", threads=2))
            daily, tables = got["daily"], got["tables"]
            for name in ("summary", "animals_start", "animals_end", "cells"):
                pd.testing.assert_frame_equal(daily[name], tables[name], obj=name)
            self.assertEqual(sorted(set(daily["animals_end"].day)), [0, 3, 6, 8])
            self.assertEqual(list(daily["animals_end"].columns[:3]), ["day", "id", "species"])
            # The daily run wrote no trait statistics: they come from its end-of-day snapshots.
            self.assertEqual(sorted(set(tables["traits"].day)), list(range(9)))
            written = tables["traits"][tables["traits"].day.isin([0, 3, 6, 8])].reset_index(drop=True)
            pd.testing.assert_frame_equal(daily["traits"], written, check_exact=False, rtol=1e-4, atol=1e-5)
            # The matrices give the founders' part of the food web, and whether each pair met.
            founders = tables["foodweb_edges"][(tables["foodweb_edges"].victim < 35) & (tables["foodweb_edges"].hunter < 35)]
            presence = founders.assign(encounters=(founders.encounters > 0).astype(int)).reset_index(drop=True)
            pd.testing.assert_frame_equal(daily["foodweb_edges"], presence)
            nodes = tables["foodweb_nodes"][tables["foodweb_nodes"].id < 35].reset_index(drop=True)
            pd.testing.assert_frame_equal(daily["foodweb_nodes"], nodes, check_dtype=False)
            self.assertEqual(daily["record"]["status"], "completed")
            # R reads the same.
            for name, folder in (("daily", daily.folder), ("tables", tables.folder)):
                shown = run("Rscript", "-e", R_TABLES, "run", folder, cwd=here, env=dict(os.environ, ROOT=ROOT))
                self.assertEqual(shown.returncode, 0, shown.stderr)
                self.assertEqual(shown.stdout.splitlines(), python_view(got[name]), name)

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
            summary = sweep["summary"]
            self.assertEqual(list(summary.columns[:4]), ["run", "replicate", "simulation.temperature", "DAY"])
            self.assertEqual(sorted(set(zip(summary.run, summary.replicate, summary["simulation.temperature"]))),
                             [("run-0001", 1, 15), ("run-0002", 2, 15), ("run-0003", 1, 25), ("run-0004", 2, 25)])
            self.assertEqual(len(summary), 4 * 4)
            self.assertEqual(list(sweep["record"].status), ["completed"] * 4)
            collected = pd.read_csv(os.path.join(here, "out", "tables", "traits.tsv.gz"), sep="\t")
            pd.testing.assert_frame_equal(collected, sweep["traits"], check_exact=False, rtol=1e-5)
            shown = run("Rscript", "-e", R_TABLES, "sweep", "out", cwd=here, env=dict(os.environ, ROOT=ROOT))
            self.assertEqual(shown.returncode, 0, shown.stderr)
            python = python_view(sweep)
            # R reads the parameter and replicate columns as numbers too, so the sums agree.
            self.assertEqual(shown.stdout.splitlines(), python)


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
