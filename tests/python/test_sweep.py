"""Sweeps: designs, collecting, figures, resuming and the cluster task (soilweb.sweep)."""
import json
import os
import signal
import subprocess
import sys
import tempfile
import unittest

from support import BINARY, PLOT, ROOT, SWEEP, run, tiny_config, wait_for_lines


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
            task = subprocess.run(["bash", os.path.join(ROOT, "python", "soilweb", "sweep", "soilweb-array.sbatch")],
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
                self.assertEqual(f.read().count("<figure><svg"), 5)
            for name in ("sweep_dynamics.png", "sweep_extinct.png", "sweep_persistence.png", "sweep_scatter.png",
                         "sweep_trait_evolution.png"):
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
            task = ["bash", os.path.join(ROOT, "python", "soilweb", "sweep", "soilweb-array.sbatch")]
            env = dict(os.environ, SLURM_ARRAY_TASK_ID="1", SWEEP=os.path.join(here, "out"), SOILWEB=BINARY)
            # Slurm's warning goes to the batch script only, which hands it on.
            self.assertEqual(self.stop_when_summary_has(subprocess.Popen(task, env=env), summary, 20), 143)
            self.assertTrue(os.path.exists(os.path.join(folder, "run-0001", "checkpoint", "run-0001_checkpoint.bin")))
            self.assertEqual(subprocess.run(task, env=env).returncode, 0)
            with open(os.path.join(folder, "exit_status")) as f:
                self.assertEqual(f.read(), "0\n")
            self.assert_as_if_never_stopped(here, folder, summary)


class ClusterTest(unittest.TestCase):
    """Array tasks that pack runs, the sbatch lines of a sweep, and runs spread over hosts."""

    def prepare(self, here, replicates):
        for name, content in (("base.json", tiny_config(days=2)), ("grid.json", {"simulation.temperature": [15]})):
            with open(os.path.join(here, name), "w") as f:
                json.dump(content, f)
        done = run(SWEEP, "prepare", "base.json", "grid.json", "out", "--replicates", str(replicates), "--seed", "2",
                   "--binary", BINARY, cwd=here)
        self.assertEqual(done.returncode, 0, done.stderr)
        return os.path.join(here, "out")

    def test_ten_runs_packed_four_per_task_then_collected(self):
        with tempfile.TemporaryDirectory() as here:
            out = self.prepare(here, 10)
            printed = run(SWEEP, "slurm", out, "--runs-per-task", "4", "--binary", BINARY, "--sbatch=--time=1:00:00",
                          cwd=here)
            self.assertEqual(printed.returncode, 0, printed.stderr)
            script = os.path.join(ROOT, "python", "soilweb", "sweep", "soilweb-array.sbatch")
            self.assertEqual(printed.stdout.splitlines(), [
                f"# 10 runs in 3 array tasks of 4; logs in {out}/logs",
                f"jobid=$(sbatch --parsable --array=1-3 --cpus-per-task=4 --output={out}/logs/slurm-%A_%a.out "
                f"--export=ALL,SWEEP={out},SOILWEB={BINARY},RUNS_PER_TASK=4,SOILWEB_PYTHON={sys.executable},"
                f"PYTHONPATH={os.path.join(ROOT, 'python')} --time=1:00:00 {script})",
                f"sbatch --parsable --job-name=soilweb-collect --dependency=afterany:$jobid "
                f"--output={out}/logs/collect-%j.out --export=ALL,PYTHONPATH={os.path.join(ROOT, 'python')} "
                f"--wrap '{sys.executable} {SWEEP} collect {out}'"])
            for task in ("1", "2", "3"):
                done = subprocess.run(["bash", script], env=dict(os.environ, SLURM_ARRAY_TASK_ID=task, SWEEP=out,
                                                                 SOILWEB=BINARY, RUNS_PER_TASK="4",
                                                                 SLURM_CPUS_PER_TASK="2", SOILWEB_PYTHON=sys.executable,
                                                                 PYTHONPATH=os.path.join(ROOT, "python")),
                                      capture_output=True, text=True)
                self.assertEqual(done.returncode, 0, done.stderr)
            # Each task made its runs' shares of the sweep's tables: the collecting job only joins them.
            parts = [os.path.join(out, "runs", f"run-{k:04d}", "sweep.part") for k in range(1, 11)]
            made = [os.stat(part).st_mtime_ns for part in parts]
            self.assertEqual(run(SWEEP, "collect", out, cwd=here).returncode, 0)
            self.assertEqual([os.stat(part).st_mtime_ns for part in parts], made)
            with open(os.path.join(out, "tables", "runs.tsv")) as f:
                rows = [line.split("\t") for line in f.read().splitlines()]
            status = rows[0].index("status")
            self.assertEqual([row[status] for row in rows[1:]], ["completed"] * 10)
            # A fourth task has no runs: it says so and fails.
            done = subprocess.run(["bash", script], env=dict(os.environ, SLURM_ARRAY_TASK_ID="4", SWEEP=out,
                                                             SOILWEB=BINARY, RUNS_PER_TASK="4"),
                                  capture_output=True, text=True)
            self.assertEqual((done.returncode, done.stderr), (1, "no run folder for task 4\n"))

    def test_submit_hands_the_array_id_to_the_collecting_job(self):
        with tempfile.TemporaryDirectory() as here:
            out = self.prepare(here, 3)
            fake = os.path.join(here, "bin")
            os.makedirs(fake)
            with open(os.path.join(fake, "sbatch"), "w") as f:  # records its arguments, answers with a job id
                f.write('#!/bin/sh\necho "$@" >> "$SBATCH_LOG"\necho 4242\n')
            os.chmod(os.path.join(fake, "sbatch"), 0o755)
            log = os.path.join(here, "sbatch.log")
            done = run(SWEEP, "slurm", out, "--runs-per-task", "2", "--binary", BINARY, "--submit", cwd=here,
                       env=dict(os.environ, PATH=fake + os.pathsep + os.environ["PATH"], SBATCH_LOG=log))
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertTrue(done.stdout.endswith("submitted array job 4242 and collecting job 4242\n"), done.stdout)
            with open(log) as f:
                lines = f.read().splitlines()
            self.assertIn("--array=1-2", lines[0])
            self.assertIn("--dependency=afterany:4242", lines[1])
            self.assertTrue(os.path.isdir(os.path.join(out, "logs")))

    def test_a_sweep_spread_over_hosts(self):
        with tempfile.TemporaryDirectory() as here:
            self.prepare(here, 2)
            with open(os.path.join(here, "hosts"), "w") as f:
                f.write(":\n")  # this machine, as GNU parallel reads it
            done = run(SWEEP, "run", "base.json", "grid.json", "out", "--replicates", "2", "--seed", "2",
                       "--hosts", "hosts", "--binary", BINARY, cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(os.path.join(here, "out", "failed.tsv")) as f:
                self.assertEqual(f.read().count("\n"), 1)  # the header only
            # The runs' shares were made as they ended, as on this machine alone.
            for name in ("run-0001", "run-0002"):
                self.assertTrue(os.path.isfile(os.path.join(here, "out", "runs", name, "sweep.part")), name)


class SweepFolderTest(unittest.TestCase):
    """A sweep owns its folder: links, FIFOs and edited records are refused or reported, never followed,
    waited on or believed; a damaged run is redone or reported, and the others still collected."""

    def prepare(self, here, grid=None, replicates=1, out="out"):
        for name, content in (("base.json", tiny_config(days=2)),
                              ("grid.json", grid or {"simulation.temperature": [15, 25]})):
            with open(os.path.join(here, name), "w") as f:
                json.dump(content, f)
        return run(SWEEP, "prepare", "base.json", "grid.json", out, "--replicates", str(replicates), "--seed", "3",
                   "--binary", BINARY, cwd=here)

    def sweep_run(self, here, *extra, out="out"):
        return run(SWEEP, "run", "base.json", "grid.json", out, "--seed", "3", "--jobs", "2", "--binary", BINARY,
                   *extra, cwd=here)

    def test_links_and_fifos_in_a_sweep_are_refused_naming_them(self):
        with tempfile.TemporaryDirectory() as here:
            self.assertEqual(self.prepare(here).returncode, 0)
            out = os.path.join(here, "out")
            elsewhere = os.path.join(here, "elsewhere")
            os.mkdir(elsewhere)
            os.rename(os.path.join(out, "runs", "run-0002"), os.path.join(elsewhere, "run-0002"))
            os.symlink(os.path.join(elsewhere, "run-0002"), os.path.join(out, "runs", "run-0002"))
            done = self.sweep_run(here)
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stderr, "soilweb-sweep: out/runs/run-0002 is a link, not a folder soilweb made; "
                                          "move it away\n")
            self.assertEqual(os.listdir(os.path.join(elsewhere, "run-0002")), ["run_params"])
            os.remove(os.path.join(out, "runs", "run-0002"))
            os.rename(os.path.join(elsewhere, "run-0002"), os.path.join(out, "runs", "run-0002"))
            self.assertEqual(self.sweep_run(here).returncode, 0)
            # FIFOs where a record, an exit status or sweep.json belong: one line each, no wait.
            for place in ("runs/run-0001/exit_status", "runs/run-0001/run-0001/outputs/run-0001_run_info.json",
                          "sweep.json"):
                path = os.path.join(out, place)
                os.rename(path, path + ".kept")
                os.mkfifo(path)
                commands = [["collect", out]] + ([] if place.endswith("exit_status") else
                                                 [["analyse", out, "--outcome", "PREY_ACTIVE:mean:0-2"]])
                for command in commands:
                    done = subprocess.run([SWEEP] + command, capture_output=True, text=True, timeout=60)
                    self.assertEqual(done.returncode, 1, place)
                    self.assertEqual(done.stderr, f"soilweb-sweep: {path} is a FIFO, not a file soilweb wrote; "
                                                  "move it away\n")
                if place.endswith("_run_info.json"):  # R's loader refuses it too, without waiting on it
                    done = subprocess.run(["Rscript", "-e", 'library(soilweb); '
                                           f'read_run("{out}/runs/run-0001/run-0001")'],
                                          capture_output=True, text=True, timeout=60)
                    self.assertIn(f"{path} is a fifo, not a file soilweb wrote", done.stderr)
                os.remove(path)
                os.rename(path + ".kept", path)
            # A hosts file that is missing or names no host is refused before anything is prepared.
            with open(os.path.join(here, "hosts"), "w") as f:
                f.write("# none\n\n")
            for hosts, said in (("missing", "--hosts: there is no file missing"),
                                ("hosts", "--hosts: hosts names no host")):
                done = self.sweep_run(here, "--hosts", hosts, out="new")
                self.assertEqual(done.returncode, 1)
                self.assertIn(said, done.stderr)
                self.assertFalse(os.path.exists(os.path.join(here, "new")))

    def test_collect_believes_each_run_only_as_its_own_record_says(self):
        with tempfile.TemporaryDirectory() as here:
            self.assertEqual(self.prepare(here).returncode, 0)
            self.assertEqual(self.sweep_run(here).returncode, 0)
            out = os.path.join(here, "out")
            # run-0001 redone by hand at 40 degrees with another seed: reported, never collected as 15.
            folder = os.path.join(out, "runs", "run-0001")
            done = run(BINARY, "run_params", "--overwrite", "--seed", "99", "--set", "simulation.temperature=40",
                       cwd=folder)
            self.assertEqual(done.returncode, 0, done.stderr)
            done = run(SWEEP, "collect", out, cwd=here)
            self.assertEqual(done.returncode, 1)
            self.assertIn("soilweb-sweep: run-0001: its record has seed 99, sweep.json ", done.stderr)
            self.assertIn("1 run collected", done.stdout)
            with open(os.path.join(out, "summary.tsv")) as f:
                self.assertNotIn("run-0001", f.read())
            # run-0002's summary cut short by a line: counted as failed, not collected as a shorter run.
            summary = os.path.join(out, "runs", "run-0002", "run-0002", "outputs", "run-0002_summary.txt")
            with open(summary) as f:
                lines = f.readlines()
            with open(summary, "w") as f:
                f.writelines(lines[:-1])
            done = run(SWEEP, "collect", out, cwd=here)
            self.assertEqual(done.returncode, 1)
            self.assertIn("soilweb-sweep: run-0002: its summary ends at day 1, short of the record's last day 2 "
                          "(cut short or damaged); counted as failed", done.stderr)
            self.assertIn("0 runs collected", done.stdout)
            # A run listed twice is refused, naming it.
            with open(os.path.join(out, "sweep.json")) as f:
                record = json.load(f)
            record["runs"].append(record["runs"][1])
            with open(os.path.join(out, "sweep.json"), "w") as f:
                json.dump(record, f)
            done = run(SWEEP, "collect", out, cwd=here)
            self.assertEqual((done.returncode, done.stderr),
                             (1, f"soilweb-sweep: {out}/sweep.json is not a sweep's record: run-0002 is listed twice\n"))
            # Comment keys and keys soilweb does not read are not swept.
            for grid, said in (({"simulation.//days": [1, 2]}, "grid key 'simulation.//days' is a comment"),):
                base = tiny_config(days=2)
                base["simulation"]["//days"] = "a comment"
                with open(os.path.join(here, "base.json"), "w") as f:
                    json.dump(base, f)
                with open(os.path.join(here, "grid.json"), "w") as f:
                    json.dump(grid, f)
                done = run(SWEEP, "prepare", "base.json", "grid.json", "other", "--binary", BINARY, cwd=here)
                self.assertEqual(done.returncode, 1)
                self.assertIn(said, done.stderr)

    def test_damaged_runs_start_afresh_or_are_reported_and_the_others_collected(self):
        with tempfile.TemporaryDirectory() as here:
            for name, content in (("base.json", tiny_config(days=20)), ("grid.json", {"simulation.temperature": [15]})):
                with open(os.path.join(here, name), "w") as f:
                    json.dump(content, f)
            base = tiny_config(days=20)
            base["simulation"]["outputs"].update(layout="tables", compression="gzip")
            with open(os.path.join(here, "base.json"), "w") as f:
                json.dump(base, f)
            args = ["base.json", "grid.json", "out", "--seed", "3", "--replicates", "2", "--binary", BINARY]
            self.assertEqual(run(SWEEP, "prepare", *args, cwd=here).returncode, 0)
            out = os.path.join(here, "out")
            folder = os.path.join(out, "runs", "run-0001")
            # run-0001 stopped with a checkpoint, then a kept table damaged: the sweep starts it afresh.
            stopped = run(BINARY, "run_params", "--checkpoint-every", "5", cwd=folder,
                          env=dict(os.environ, SOILWEB_TEST_AT="day@9:TERM"))
            self.assertEqual(stopped.returncode, 143, stopped.stderr)
            table = os.path.join(folder, "run-0001", "outputs", "run-0001_cells.tsv.gz")
            with open(table, "r+b") as f:
                f.seek(40)
                byte = f.read(1)
                f.seek(40)
                f.write(bytes([byte[0] ^ 1]))
            done = run(SWEEP, "run", *args, cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("soilweb-sweep: run-0001: 'run-0001/outputs/run-0001_cells.tsv.gz' has changed since the "
                          "checkpoint", done.stderr)
            self.assertIn("; the run starts afresh", done.stderr)
            # A table damaged after the run ended: reported as failed, the other run collected.
            summary = os.path.join(out, "runs", "run-0002", "run-0002", "outputs", "run-0002_traits.tsv.gz")
            with open(summary, "r+b") as f:
                f.truncate(os.path.getsize(summary) // 2)
            done = run(SWEEP, "collect", out, cwd=here)
            self.assertEqual(done.returncode, 1)
            self.assertIn("soilweb-sweep: run-0002: its tables cannot be read (", done.stderr)
            self.assertNotIn("Traceback", done.stderr)
            self.assertIn("1 run collected", done.stdout)
            with open(os.path.join(out, "failed.tsv")) as f:
                self.assertIn("run-0002\t", f.read())

    def test_a_slurm_task_over_a_path_with_a_space(self):
        with tempfile.TemporaryDirectory() as here:
            self.assertEqual(self.prepare(here, replicates=2, out="my sweep").returncode, 0)
            out = os.path.join(here, "my sweep")
            with open(os.path.join(here, "my"), "w") as f:  # where the path cut at its space would point
                f.write("keep")
            for per in ("1", "2"):
                done = subprocess.run(["bash", os.path.join(ROOT, "python", "soilweb", "sweep", "soilweb-array.sbatch")],
                                      env=dict(os.environ, SLURM_ARRAY_TASK_ID="1", SWEEP=out, SOILWEB=BINARY,
                                               RUNS_PER_TASK=per, SLURM_CPUS_PER_TASK="2"),
                                      capture_output=True, text=True, cwd=here)
                self.assertEqual(done.returncode, 0, done.stderr)
            for name in ("run-0001", "run-0002"):
                with open(os.path.join(out, "runs", name, "exit_status")) as f:
                    self.assertEqual(f.read(), "0\n")
            with open(os.path.join(here, "my")) as f:
                self.assertEqual(f.read(), "keep")


class SweepPartsTest(unittest.TestCase):
    """A run's share of the sweep's tables is written without pandas: each value as pandas writes it, and
    runs whose columns differ joined into one table of every column."""

    def test_values_are_written_as_pandas_writes_them(self):
        import pandas as pd
        from soilweb.sweep.parts import cell
        reals = ["1e-05", "123456789", "0.30000000000000004", "inf", "-inf", "NA", "", "nan", "2.5e+300", "-0", "7"]
        counts = ["0", "12", "NA", "1234567"]
        texts = ["prey", 'a "b"', "a\tb", "NA", "x y"]
        for kind, values in (("real", reals), ("integer", counts), ("text", texts)):
            frame = pd.DataFrame({"v": values}).replace({"NA": None, "": None, "nan": None})
            if kind != "text":
                frame["v"] = pd.to_numeric(frame["v"]).astype("Int64" if kind == "integer" else "float64")
            expected = frame.to_csv(sep="\t", index=False, float_format="%.6g", na_rep="NA",
                                    lineterminator="\n").splitlines()[1:]
            self.assertEqual([cell(v, kind) for v in values], expected, kind)
        self.assertEqual(cell(3.0, "integer"), "3")
        self.assertEqual(cell(float("nan"), "real"), "NA")
        # A run's lines are kept as soilweb wrote them, unless a value needs another form.
        from soilweb.sweep.parts import rows_of
        text = ("day\tspecies\tstage\tcount\tenergy_mean\n0\tprey\tegg\t3\t0.5\n1\tprey\tegg\t0\tnan\n"
                "2\tNone\tadult\t1\t-nan\n3\tprey\tadult\t\t1e+06\n")
        self.assertEqual(rows_of(text, "traits")[1], ["0\tprey\tegg\t3\t0.5", "1\tprey\tegg\t0\tNA",
                                                      "2\tNA\tadult\t1\tNA", "3\tprey\tadult\tNA\t1e+06"])
        with self.assertRaisesRegex(ValueError, "a line of 4 fields under a header of 5"):
            rows_of("day\tspecies\tstage\tcount\tenergy_mean\n0\tprey\tegg\t3\n", "traits")

    def test_runs_whose_columns_differ_are_joined_with_every_column(self):
        import gzip
        from soilweb.sweep.collect import united
        blocks = [("run\tDAY\tBIOMASS\n", gzip.compress(b"r1\t0\t1.5\n")),
                  ("run\tDAY\tTEMPERATURE\tBIOMASS\n", gzip.compress(b"r3\t0\t15\t2\nr3\t1\t16.5\t\"a\tb\"\n"))]
        self.assertEqual(gzip.decompress(united(blocks, True)).decode(),
                         'run\tDAY\tBIOMASS\tTEMPERATURE\nr1\t0\t1.5\tNA\nr3\t0\t2\t15\nr3\t1\t"a\tb"\t16.5\n')


class SweepProgressTest(unittest.TestCase):
    def test_the_sweeps_line_on_a_terminal_counts_runs_failures_and_time_left(self):
        import pty
        from soilweb.sweep.runner import EndedLog, SweepProgress
        with tempfile.TemporaryDirectory() as here:
            with open(os.path.join(here, "jobs.txt"), "w") as f:
                f.write("".join(f"runs/run-{k:04d}\n" for k in range(1, 5)))

            class Terminal:
                text = ""

                def isatty(self):
                    return True

                def write(self, text):
                    self.text += text

                def flush(self):
                    pass

            terminal = Terminal()
            progress, log = SweepProgress(here, terminal), EndedLog(os.path.join(here, "ended.tsv"))
            with open(os.path.join(here, "ended.tsv"), "w") as f:
                f.write("0\t/sweep/runs/run-0001\n1\t/sweep/runs/run-0002\n14")  # a line still being written
            progress.count(log.ended())
            progress.update()
            self.assertRegex(terminal.text, r"^\r\x1b\[Ksoilweb-sweep: 2 of 4 runs done, 1 failed; \d+:\d\d elapsed, "
                                            r"about \d+:\d\d left$")
            with open(os.path.join(here, "ended.tsv"), "a") as f:
                f.write("3\t/sweep/runs/run-0003\n0\t/my sweep/runs/run-0004/\n")
            ended = log.ended()
            self.assertEqual(ended, [("run-0003", True), ("run-0004", False)])
            progress.count(ended)
            progress.finish()
            self.assertRegex(terminal.text, r"\r\x1b\[Ksoilweb-sweep: 4 of 4 runs done, 2 failed, in \d+:\d\d\n$")

            # A whole sweep on a terminal ends with that line; on a pipe it says nothing (other tests).
            config = tiny_config()
            for name, content in (("base.json", config), ("grid.json", {"simulation.temperature": [15, 25]})):
                with open(os.path.join(here, name), "w") as f:
                    json.dump(content, f)
            main, other = pty.openpty()
            done = subprocess.run([SWEEP, "run", "base.json", "grid.json", "out", "--seed", "3", "--jobs", "2",
                                   "--binary", BINARY], cwd=here, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=other, timeout=300)
            os.close(other)
            shown = b""
            while True:
                try:
                    chunk = os.read(main, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                shown += chunk
            os.close(main)
            self.assertEqual(done.returncode, 0)
            self.assertRegex(shown.decode(), r"soilweb-sweep: 2 of 2 runs done, 0 failed, in \d+:\d\d\r?\n$")


if __name__ == "__main__":
    unittest.main()
