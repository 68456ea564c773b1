"""soilweb-calibrate on tiny runs of the binary: the posterior narrows around the value that made the
observations, the tables are the same whatever the workers and after a stop, and every input error is one
line."""
import csv
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

from support import BINARY, ROOT, run, tiny_config, wait_for_lines

CALIBRATE = os.path.join(ROOT, "scripts", "soilweb-calibrate")
TRUTH = 24.0
OPTIONS = ["--population", "30", "--generations", "3", "--seed", "3", "--binary", BINARY]


def make_inputs(here):
    """A base, the prior of its temperature and what a run at TRUTH degrees observed every third day."""
    config = tiny_config(30)
    config["simulation"].update(temperature=TRUTH, purgeDeadAnimals=1)
    config["simulation"]["outputs"]["simulationName"] = "truth"
    with open(os.path.join(here, "base.json"), "w") as f:
        json.dump(config, f)
    subprocess.run([BINARY, "base.json"], cwd=here, capture_output=True, check=True)
    with open(os.path.join(here, "priors.json"), "w") as f:
        json.dump({"simulation.temperature": {"min": 12, "max": 28}}, f)
    with open(os.path.join(here, "truth", "outputs", "truth_summary.txt")) as f:
        rows = list(csv.reader(f, delimiter="\t"))
    header = rows[0]
    with open(os.path.join(here, "observed.tsv"), "w") as f:
        f.write("day\tprey_active\tBIOMASS\n")
        for row in rows[1:]:
            if int(row[0]) % 3 == 0:
                f.write(f"{row[0]}\t{row[header.index('PREY_ACTIVE')]}\t{row[header.index('BIOMASS')]}\n")


def calibrate(here, out, *extra):
    return run(sys.executable, CALIBRATE, "run", "base.json", "priors.json", "observed.tsv", out, *OPTIONS, *extra,
               cwd=here)


def read(path):
    with open(path) as f:
        return f.read()


class CalibrationRunTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.here = tempfile.mkdtemp(prefix="soilweb-calibrate-")
        make_inputs(cls.here)
        cls.done = calibrate(cls.here, "two", "--jobs", "2")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.here)

    def table(self, out, name):
        with open(os.path.join(self.here, out, "tables", name)) as f:
            return list(csv.DictReader(f, delimiter="\t"))

    def test_the_posterior_narrows_around_the_truth_whatever_the_workers(self):
        self.assertEqual(self.done.returncode, 0, self.done.stderr)
        self.assertIn("calibration stopped: 3 generations done", self.done.stdout)
        posterior = self.table("two", "posterior.tsv")
        self.assertEqual(len(posterior), 30)
        values = sorted(float(row["simulation.temperature"]) for row in posterior)
        weights = [float(row["weight"]) for row in posterior]
        self.assertAlmostEqual(sum(weights), 1.0, places=9)
        self.assertLess(values[1], TRUTH)
        self.assertGreater(values[-2], TRUTH)
        self.assertLess(values[-2] - values[1], 0.6 * (28 - 12), "narrower than the prior")
        generations = self.table("two", "generations.tsv")
        self.assertEqual([row["generation"] for row in generations], ["0", "1", "2"])
        self.assertEqual(generations[0]["tolerance"], "Inf")
        self.assertGreater(float(generations[1]["tolerance"]), float(generations[2]["tolerance"]))
        record = json.loads(read(os.path.join(self.here, "two", "calibration.json")))
        self.assertEqual(record["master_seed"], 3)
        self.assertEqual(record["settings"]["files"], ["summary"], "runs write only what the distance reads")
        self.assertEqual(os.listdir(os.path.join(self.here, "two", "work", "runs")), [], "reduced runs are removed")
        one = calibrate(self.here, "one", "--jobs", "1")
        self.assertEqual(one.returncode, 0, one.stderr)
        for name in ("particles.tsv", "posterior.tsv"):
            self.assertEqual(read(os.path.join(self.here, "one", "tables", name)),
                             read(os.path.join(self.here, "two", "tables", name)), name)

    def test_r_and_python_read_the_same_calibration_and_r_runs_one(self):
        script = f"""
library(soilweb)
cal <- read_calibration("two")
cat("posterior", nrow(cal$posterior), format(cal$summary$median, digits = 10), "\\n")
small <- soilweb_calibrate("base.json", "priors.json", read.delim("observed.tsv"), out = "from-r", population = 6,
                           generations = 2, seed = 9, jobs = 2, progress = FALSE, binary = "{BINARY}")
cat("generations", nrow(small$generations), "\\n")
"""
        shown = run("Rscript", "-e", script, cwd=self.here)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        sys.path.insert(0, os.path.join(ROOT, "python"))
        from soilweb.calibration import read_calibration
        median = read_calibration(os.path.join(self.here, "two")).summary()["median"][0]
        self.assertIn(f"posterior 30 {median:.10g}", shown.stdout)
        self.assertIn("generations 2", shown.stdout)

    def test_python_calibrates_from_a_dict_and_a_data_frame_and_predicts(self):
        sys.path.insert(0, os.path.join(ROOT, "python"))
        import pandas as pd
        import soilweb
        observed = pd.read_csv(os.path.join(self.here, "observed.tsv"), sep="\t")
        cal = soilweb.calibrate(os.path.join(self.here, "base.json"), {"simulation.temperature": {"min": 12, "max": 28}},
                                observed, population=6, generations=2, seed=9, jobs=2, progress=False,
                                out=os.path.join(self.here, "from-python"), binary=BINARY)
        self.assertEqual(list(cal.generations.generation), [0, 1])
        self.assertEqual(list(cal.summary().key), ["simulation.temperature"])
        predicted = cal.predict(3, jobs=2, binary=BINARY)
        self.assertEqual(sorted(predicted.draw.unique()), [1, 2, 3])
        self.assertEqual(list(predicted.columns), ["draw", "particle", "seed", "day", "PREY_ACTIVE", "BIOMASS"])
        with self.assertRaises(soilweb.SoilwebError) as refused:
            soilweb.calibrate(os.path.join(self.here, "base.json"), {"simulation.temperature": {"min": 28, "max": 12}},
                              observed, population=6, progress=False, out=os.path.join(self.here, "no"), binary=BINARY)
        self.assertEqual(refused.exception.status, 1)
        self.assertIn("min 28 is not below max 12", refused.exception.message)

    def test_a_calibration_stopped_and_carried_on_gives_the_same_tables(self):
        here, out = self.here, "stopped"
        command = [sys.executable, CALIBRATE, "run", "base.json", "priors.json", "observed.tsv", out, *OPTIONS,
                   "--jobs", "2"]
        driver = subprocess.Popen(command, cwd=here, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        wait_for_lines(os.path.join(here, out, "simulated", "generation-1.jsonl"), 10)
        driver.send_signal(signal.SIGTERM)
        _, stderr = driver.communicate()
        self.assertEqual(driver.returncode, 128 + signal.SIGTERM, stderr)
        self.assertIn("soilweb-calibrate: stopped by SIGTERM", stderr)
        self.assertIn("run the same command again to carry the calibration on", stderr)
        self.assertNotIn("\n2\t", read(os.path.join(here, out, "tables", "generations.tsv")), "stopped in generation 1")
        again = subprocess.run(command, cwd=here, capture_output=True, text=True)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(read(os.path.join(here, out, "tables", "particles.tsv")),
                         read(os.path.join(here, "two", "tables", "particles.tsv")))

    def test_the_cluster_job_runs_the_calibration_with_srun_in_its_allocation(self):
        fake = os.path.join(self.here, "bin")
        os.makedirs(fake, exist_ok=True)
        log = os.path.join(self.here, "cluster.log")
        with open(os.path.join(fake, "sbatch"), "w") as f:  # runs the job here, at once, and answers its id
            f.write(f'#!/bin/sh\necho "sbatch $*" >> {log}\nfor a; do w="$a"; done\n'
                    'sh -c "$w" >> {log} 2>&1 || exit 1\necho 77\n')
        with open(os.path.join(fake, "srun"), "w") as f:  # one task: the options aside, the command as it is
            f.write(f'#!/bin/sh\necho srun >> {log}\nwhile [ "${{1#-}}" != "$1" ]; do shift; done\nexec "$@"\n')
        for name in ("sbatch", "srun"):
            os.chmod(os.path.join(fake, name), 0o755)
        env = dict(os.environ, PATH=fake + os.pathsep + os.environ["PATH"])
        done = subprocess.run([sys.executable, CALIBRATE, "slurm", "base.json", "priors.json", "observed.tsv",
                               "cluster", *OPTIONS, "--tasks", "2", "--submit", "--sbatch=--time=1:00:00"],
                              cwd=self.here, env=env, capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr + read(log))
        self.assertIn("submitted job 77", done.stdout)
        said = read(log)
        self.assertIn("--ntasks=2 --cpus-per-task=1", said)
        self.assertIn("--time=1:00:00", said)
        self.assertGreater(said.count("srun"), 60, "each run started with srun")
        self.assertEqual(read(os.path.join(self.here, "cluster", "tables", "particles.tsv")),
                         read(os.path.join(self.here, "two", "tables", "particles.tsv")))

    def test_every_input_error_is_one_line(self):
        here = self.here

        def write(name, text):
            with open(os.path.join(here, name), "w") as f:
                f.write(text if isinstance(text, str) else json.dumps(text))
            return name

        temperature = {"simulation.temperature": {"min": 12, "max": 28}}
        cases = [
            ({"observed": write("o1.tsv", "day\tPREY_ACTIV\n3\t18\n")}, 1,
             "observed column 'PREY_ACTIV' is not a summary column; did you mean 'PREY_ACTIVE'?"),
            ({"observed": write("o2.tsv", "day\tPREY_ACTIVE\n31\t18\n")}, 1,
             "observed.tsv: line 2: day 31 is beyond the run's last day 30 (simulation.days)"),
            ({"observed": write("o3.csv", "day,PREY_ACTIVE,BIOMASS\n3,18,NA\n6,20,\n")}, 1,
             "the observed column 'BIOMASS' of o3.csv has no value (every one is missing)"),
            ({"priors": write("p1.json", {"simulation.temperature": {"min": 28, "max": 12}})}, 1,
             "prior of 'simulation.temperature': min 28 is not below max 12"),
            ({"priors": write("p2.json", {"world.soil.rateForMinFungiBiomass": {"min": 0.5, "max": 1.5}})}, 1,
             "prior of 'world.soil.rateForMinFungiBiomass': [0.5, 1.5] goes outside the key's range (0 ... 1)"),
            ({"priors": write("p3.json", {"simulation.//temperature": {"min": 12, "max": 28}})}, 1,
             "prior key 'simulation.//temperature' is a comment"),
            ({"priors": write("p4.json", {"simulation.temprature": {"min": 12, "max": 28}})}, 1,
             "did you mean 'simulation.temperature'?"),
            ({"priors": write("p5.json", {"simulation.temperature": {"mean": 20, "sd": 0}})}, 1,
             "prior of 'simulation.temperature': sd must be above 0, not 0"),
            ({"extra": ["--population", "1"]}, 2, "--population must be at least 2, got 1"),
            ({"extra": ["--weight", "BIOMASS"]}, 2, "--weight 'BIOMASS' is not NAME=VALUE"),
            ({"extra": ["--weight", "PREDATOR_ACTIVE=2"]}, 1,
             "--weight PREDATOR_ACTIVE: not an observed column or target"),
            ({"extra": ["--target", "predators:vanished=3"]}, 1, "unknown outcome 'predators:vanished'"),
            ({"extra": ["--truth", "simulation.days=3"]}, 1, "--truth simulation.days: not a key of the priors"),
        ]
        write("priors.json", temperature)
        for given, status, message in cases:
            inputs = {"priors": "priors.json", "observed": "observed.tsv"}
            inputs.update((k, v) for k, v in given.items() if k != "extra")
            done = run(sys.executable, CALIBRATE, "run", "base.json", inputs["priors"], inputs["observed"], "refused",
                       *OPTIONS, *given.get("extra", []), cwd=here)
            lines = done.stderr.splitlines()
            self.assertEqual(done.returncode, status, (message, done.stderr))
            self.assertEqual(len(lines), 1, done.stderr)
            self.assertIn(message.replace("observed.tsv", inputs["observed"]), lines[0])
            self.assertTrue(lines[0].startswith("soilweb-calibrate: "), lines[0])
            self.assertFalse(os.path.exists(os.path.join(here, "refused", "calibration.json")), message)


if __name__ == "__main__":
    unittest.main()
