"""Evolution measured: neutral markers that move no byte of a run, selection from the pedigree,
lineages and quasi-extinction (soilweb.evolution, the markers' columns of the binary)."""
import copy
import os
import tempfile
import unittest

from support import run_config, tiny_config

import soilweb

MARKER_COLUMNS = ("neutral", "neutral_het", "neutral_mean", "neutral_sd", "neutral_min", "neutral_max",
                  "neutral_he")


def files_of(folder):
    """Every file under folder, by its path relative to it, with its bytes."""
    found = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(parent, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = f.read()
    return found


def without_marker_columns(data):
    """A table's text with the neutral markers' columns taken out."""
    lines = data.decode().split("\n")
    header = lines[0].split("\t")
    keep = [k for k, name in enumerate(header) if name not in MARKER_COLUMNS]
    return "\n".join("\t".join(line.split("\t")[k] for k in keep) if line else line for line in lines)


def with_markers(config, prey=12, predators=5):
    marked = copy.deepcopy(config)
    for entry, loci in zip(marked["world"]["life"]["animals"], (prey, predators)):
        entry["genetics"]["neutralLoci"] = loci
    return marked


class NeutralMarkersTest(unittest.TestCase):
    def test_markers_move_no_byte_of_any_output(self):
        """Every file of a run with markers is that of the run without them, but for the markers' columns
        (and the record, which holds the configuration); in both layouts, snapshots and matrices included."""
        for outputs in ({"pedigree": "true", "geneticStatistics": "true", "snapshotEvery": 4},
                        {"layout": "tables", "foodWeb": "edges"}):
            with self.subTest(outputs=outputs), tempfile.TemporaryDirectory() as here:
                config = tiny_config(days=40)
                config["simulation"]["seed"] = 11
                config["simulation"]["outputs"].update(outputs)
                for name, variant in (("plain", config), ("marked", with_markers(config))):
                    done = run_config(os.path.join(here, name), variant)
                    self.assertEqual(done.returncode, 0, done.stderr)
                plain = files_of(os.path.join(here, "plain", "example"))
                marked = files_of(os.path.join(here, "marked", "example"))
                self.assertEqual(sorted(plain), sorted(marked))
                changed = []
                for path, data in plain.items():
                    if path.endswith(("run_info.json", "lock")):
                        continue
                    if path.endswith(("_pedigree.tsv", "_genetics.tsv")):
                        self.assertIn(b"\tneutral", marked[path].split(b"\n")[0], path)
                        self.assertEqual(without_marker_columns(marked[path]), data.decode(), path)
                        changed.append(path)
                    else:
                        self.assertEqual(marked[path], data, path)
                self.assertEqual(len(changed), 2)

    def test_markers_are_inherited_and_drift(self):
        """Founders carry values in [0, 1]; in a run long enough to breed, every offspring has a value and
        a heterozygosity, and the expected heterozygosity of the eggs falls below the founders'."""
        with tempfile.TemporaryDirectory() as here:
            config = with_markers(tiny_config(days=120), prey=20, predators=0)
            config["simulation"]["seed"] = 3
            config["simulation"]["outputs"].update(pedigree="true", geneticStatistics="true")
            done = run_config(os.path.join(here, "run"), config)
            self.assertEqual(done.returncode, 0, done.stderr)
            run = soilweb.read_run(os.path.join(here, "run", "example"))
            pedigree = run["pedigree"]
            prey, predators = pedigree[pedigree.species == "prey"], pedigree[pedigree.species == "predator"]
            self.assertTrue(prey.neutral.between(0, 1).all() and prey.neutral_het.between(0, 1).all())
            self.assertTrue(predators.neutral.isna().all(), "a species without markers has NA")
            self.assertGreater((prey.birth_day > 0).sum(), 50)
            genetics = run["genetics"]
            eggs = genetics[(genetics.species == "prey") & (genetics.stage == "egg") & (genetics["count"] > 0)]
            self.assertLess(eggs.neutral_he.iloc[-1], eggs.neutral_he.iloc[0])


if __name__ == "__main__":
    unittest.main()
