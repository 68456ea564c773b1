"""A sweep's runs: checked before anything is written, prepared whole, stopped and carried on."""
import gzip
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from support import BINARY, ROOT, SWEEP, run, tiny_config, wait_for_lines


class TruthfulSweepTest(unittest.TestCase):
    def write_inputs(self, here, grid, base=None):
        for name, content in (("base.json", base or tiny_config()), ("grid.json", grid)):
            with open(os.path.join(here, name), "w") as f:
                json.dump(content, f)

    def test_configurations_are_checked_before_anything_is_written(self):
        with tempfile.TemporaryDirectory() as here:
            cases = (({"simulation.temperature": ["20 degrees", 20]}, [],
                      ["soilweb-sweep: run-0001: 'simulation.temperature' is \"20 degrees\"; read as 20",
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
            # Replicates differ only in seed and name: each configuration is checked once, and what is said
            # of it is said of every replicate, by its own name.
            counted = os.path.join(here, "soilweb-counted")
            with open(counted, "w") as f:
                f.write(f'#!/bin/sh\n[ "$1" = --check ] && echo check >> "{here}/checks.txt"\nexec "{BINARY}" "$@"\n')
            os.chmod(counted, 0o755)
            self.write_inputs(here, {"simulation.worldLength": [4, 3]})
            done = run(SWEEP, "prepare", "base.json", "grid.json", "out2", "--replicates", "3", "--binary", counted,
                       cwd=here)
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stderr.splitlines()[:3], [
                f"soilweb-sweep: run-000{k}: 'simulation.worldLength' must be 1 or an even number of at least 4, got 3"
                for k in (4, 5, 6)])
            with open(os.path.join(here, "checks.txt")) as f:
                self.assertEqual(len(f.readlines()), 2)

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

    def test_a_sweep_killed_outright_and_run_again_collects_each_run_once(self):
        """SIGKILL of the sweep and of GNU parallel while a run is under way: run again, the sweep collects
        every run once, its tables the same as those of a sweep never stopped and as the loader's own, and a
        collect of the unchanged sweep rewrites nothing."""
        with tempfile.TemporaryDirectory() as here:
            self.write_inputs(here, {"simulation.temperature": [15, 20.5]})
            # The third run waits at its start until let go, so the kill finds it under way.
            hold = os.path.join(here, "hold")
            binary = os.path.join(here, "soilweb")
            with open(binary, "w") as f:
                f.write(f'#!/bin/sh\ncase "$PWD" in */run-0003) if [ "$1" = --overwrite ]; then touch "{hold}.reached"; '
                        f'while [ ! -e "{hold}.go" ]; do sleep 0.05; done; fi;; esac\nexec "{BINARY}" "$@"\n')
            os.chmod(binary, 0o755)
            args = ["base.json", "grid.json", "--replicates", "2", "--seed", "6", "--jobs", "1", "--binary", binary]
            sweep = subprocess.Popen([SWEEP, "run", *args[:2], "out", *args[2:]], cwd=here,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            runs = os.path.join(here, "out", "runs")
            until(lambda: os.path.exists(hold + ".reached") and
                  os.path.exists(os.path.join(runs, "run-0002", "sweep.part")) and sweep.poll() is None)
            # The sweep frozen, so that it cannot stop the run when GNU parallel dies; then parallel killed, so
            # that it cannot stop its jobs when the sweep dies; then the sweep.
            children = [int(pid) for pid in subprocess.run(["pgrep", "-P", str(sweep.pid)], capture_output=True,
                                                           text=True).stdout.split()]
            os.kill(sweep.pid, signal.SIGSTOP)
            until(lambda: state(sweep.pid) == "T")
            for pid in children:
                os.kill(pid, signal.SIGKILL)
            until(lambda: all(state(pid) in ("Z", None) for pid in children))
            sweep.kill()
            sweep.wait()
            # The run under way ends on its own, seen by no sweep.
            open(hold + ".go", "w").close()
            until(lambda: os.path.exists(os.path.join(runs, "run-0003", "exit_status")) and
                  not working_in(os.path.join(runs, "run-0003")))
            made = {name: os.stat(os.path.join(runs, name, "sweep.part")).st_mtime_ns
                    for name in ("run-0001", "run-0002")}
            self.assertFalse(os.path.exists(os.path.join(runs, "run-0003", "sweep.part")))
            again = run(SWEEP, "run", *args[:2], "out", *args[2:], cwd=here)
            self.assertEqual(again.returncode, 0, again.stderr)
            self.assertIn("1 run to do", again.stdout)
            self.assertIn("4 runs collected", again.stdout)
            self.assertEqual({name: os.stat(os.path.join(runs, name, "sweep.part")).st_mtime_ns for name in made}, made)
            whole = run(SWEEP, "run", *args[:2], "whole", *args[2:], cwd=here)
            self.assertEqual(whole.returncode, 0, whole.stderr)
            out, other = os.path.join(here, "out"), os.path.join(here, "whole")
            names = ["summary.tsv", "failed.tsv", "tables/runs.tsv", "tables/summary.tsv.gz", "tables/traits.tsv.gz"]
            for name in names:
                self.assertEqual(contents(os.path.join(out, name)), contents(os.path.join(other, name)), name)
            # Each stacked table as the loader reads the runs and writes it with pandas.
            from soilweb import read_sweep
            from soilweb.sweep.collect import write_table
            stacked = read_sweep(out)
            for table in ("summary", "traits"):
                write_table(stacked[table], os.path.join(here, table + ".tsv"), table)
                self.assertEqual(contents(os.path.join(out, "tables", table + ".tsv.gz")),
                                 contents(os.path.join(here, table + ".tsv")), table)
            # Nothing changed: a collect rewrites nothing; a run redone replaces its part, read once more.
            stamps = {name: os.stat(os.path.join(out, name)).st_mtime_ns for name in names}
            self.assertEqual(run(SWEEP, "collect", out, cwd=here).stdout, again.stdout.splitlines()[-1] + "\n")
            self.assertEqual({name: os.stat(os.path.join(out, name)).st_mtime_ns for name in names}, stamps)
            os.remove(os.path.join(runs, "run-0004", "exit_status"))
            self.assertEqual(run(SWEEP, "run", *args[:2], "out", *args[2:], cwd=here).returncode, 0)
            self.assertEqual(contents(os.path.join(out, "summary.tsv")), contents(os.path.join(other, "summary.tsv")))
            self.assertEqual({name: os.stat(os.path.join(runs, name, "sweep.part")).st_mtime_ns for name in made}, made)
            # A part damaged on disk is made again, never joined.
            part = os.path.join(runs, "run-0001", "sweep.part")
            with open(part, "r+b") as f:
                f.seek(-10, os.SEEK_END)
                byte = f.read(1)
                f.seek(-10, os.SEEK_END)
                f.write(bytes([byte[0] ^ 1]))
            self.assertEqual(run(SWEEP, "collect", out, cwd=here).returncode, 0)
            self.assertNotEqual(os.stat(part).st_mtime_ns, made["run-0001"])
            for name in names:
                self.assertEqual(contents(os.path.join(out, name)), contents(os.path.join(other, name)), name)


def until(condition, seconds=120):
    """Waits until condition() holds; fails the test after seconds (it never holds on time alone)."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"still waiting after {seconds} s")
        time.sleep(0.01)


def state(pid):
    """A process's state letter (R, S, T stopped, Z ended but not reaped, ...); None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0]
    except FileNotFoundError:
        return None


def working_in(folder):
    """Whether any process has its working folder in folder."""
    folder = os.path.realpath(folder)
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/cwd").startswith(folder):
                return True
        except OSError:
            continue
    return False


def contents(path):
    """A file's text, decompressed when it is gzip-compressed."""
    with (gzip.open if path.endswith(".gz") else open)(path, "rt") as f:
        return f.read()


if __name__ == "__main__":
    unittest.main()
