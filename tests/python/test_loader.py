"""The Python and R loaders give the same tables of every layout (soilweb.loader, the R package)."""
import gzip
import os
import tempfile
import unittest
import zlib

from support import ROOT, run, tiny_config, run_config

import pandas as pd
import soilweb
from soilweb import derived, schema


R_TABLES = """
library(soilweb)
show <- function(tables) for (name in SOILWEB_TABLES) {
  t <- tables[[name]]
  numeric <- if (is.null(t)) 0 else sum(sapply(t, function(c) if (is.numeric(c)) sum(c, na.rm = TRUE) else 0))
  cat(paste(name, if (is.null(t)) -1 else nrow(t), sprintf("%.6g", numeric), paste(names(t), collapse = ",")),
      "\\n", sep = "")
}
args <- commandArgs(trailingOnly = TRUE)
show(if (args[1] == "run") read_run(args[2]) else read_sweep(args[2]))
"""


R_DEAD = """
library(soilweb)
default <- read_run("%s"); once <- read_run("%s", dead = "every day")
same <- function(t) { x <- default[[t]]; y <- once[[t]]; rownames(x) <- NULL; rownames(y) <- NULL; identical(x, y) }
cat(same("animals_start"), same("animals_end"), "\\n")
"""


def python_view(tables):
    """What R_TABLES prints of the same tables."""
    lines = []
    for name in soilweb.TABLES:
        t = tables[name]
        numeric = 0 if t is None else sum(t[c].sum() for c in t.columns if pd.api.types.is_numeric_dtype(t[c]))
        lines.append(f"{name} {-1 if t is None else len(t)} {numeric:.6g} {'' if t is None else ','.join(t.columns)}")
    return lines


class LoaderTest(unittest.TestCase):
    def runs(self, here, **variants):
        """A run of the tiny configuration per variant (its outputs settings), each in its own folder."""
        for name, outputs in variants.items():
            config = tiny_config(days=8)
            config["simulation"]["outputs"].update(outputs)
            done = run_config(os.path.join(here, name), config)
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
            # One vocabulary: the day and the configuration's trait names, whatever the files say.
            self.assertEqual(daily["summary"].columns[0], "day")
            for frame in (daily["animals_end"], tables["animals_end"], tables["pedigree"]):
                self.assertTrue({"body_size", "voracity", "actE_met"} <= set(frame.columns))
                self.assertFalse({"body", "vor", "e_met", "DAY"} & set(frame.columns))
            self.assertIn("body_size_het", tables["genetics"].columns)
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
            # Without their files, the genetic tables come from the snapshots for the traits
            # animals keep from birth, with a warning naming the others.
            with self.assertWarnsRegex(UserWarning, "without the genetic values of energy_tank, body_size"):
                genetics = daily["genetics"]
            written = tables["genetics"][tables["genetics"].day.isin([0, 3, 6, 8])].reset_index(drop=True)
            kept = [f"{t}_{s}" for t in ("growth", "met_rate", "actE_met") for s in ("mean", "min", "max")]
            pd.testing.assert_frame_equal(genetics[kept], written[kept], check_exact=False, rtol=1e-4, atol=1e-5)
            self.assertTrue(genetics["body_size_mean"].isna().all())
            with self.assertWarns(UserWarning):
                pedigree = daily["pedigree"]
            both = tables["pedigree"][tables["pedigree"].id.isin(pedigree.id)].reset_index(drop=True)
            pd.testing.assert_frame_equal(pedigree[["id", "birth_day", "ID_prt1", "ID_prt2", "growth", "pheno"]],
                                          both[["id", "birth_day", "ID_prt1", "ID_prt2", "growth", "pheno"]],
                                          check_exact=False, rtol=1e-4)
            # The founders (ids 0-34) have no parents: NA, never 0, which is an animal's id too; the
            # file leaves them empty.
            for frame in (pedigree, tables["pedigree"]):
                founders = frame[frame.id < 35]
                self.assertTrue(founders[["ID_prt1", "ID_prt2", "g_numb_prt1", "g_numb_prt2"]].isna().all().all())
                self.assertFalse(frame[frame.id >= 35].ID_prt1.isna().any())
            with gzip.open(os.path.join(tables.folder, "outputs", "example_pedigree.tsv.gz"), "rt") as f:
                self.assertEqual(f.read().splitlines()[1].split("\t")[:7], ["0", "prey", "0", "", "", "", ""])
            dead = tables["deaths"][tables["deaths"].death_day <= 8].reset_index(drop=True)
            pd.testing.assert_frame_equal(daily["deaths"], dead, check_dtype=False)
            # R reads the same.
            for name, folder in (("daily", daily.folder), ("tables", tables.folder)):
                shown = run("Rscript", "-e", R_TABLES, "run", folder, cwd=here, env=dict(os.environ, ROOT=ROOT))
                self.assertEqual(shown.returncode, 0, shown.stderr)
                self.assertEqual(shown.stdout.splitlines(), python_view(got[name]), name)

    def test_a_table_cut_at_a_gzip_member_is_warned_about(self):
        with tempfile.TemporaryDirectory() as here:
            run = self.runs(here, cut=dict(layout="tables", compression="gzip"))["cut"]
            path = os.path.join(run.folder, "outputs", "example_animals_end.tsv.gz")
            with open(path, "rb") as f:
                data = f.read()
            ends, at = [], 0
            while at < len(data):  # where each gzip member ends
                member = zlib.decompressobj(31)
                member.decompress(data[at:])
                at = len(data) - len(member.unused_data)
                ends.append(at)
            self.assertGreater(len(ends), 2)
            with open(path, "wb") as f:
                f.write(data[:ends[len(ends) // 2]])
            with self.assertWarnsRegex(UserWarning, "the animals_end table ends at day [0-7], short of the record's "
                                                    "last day 8: the file was cut short or damaged"):
                soilweb.read_run(run.folder)["animals_end"]

    def test_a_table_the_run_was_not_asked_for_reads_as_missing_and_says_why(self):
        with tempfile.TemporaryDirectory() as here:
            got = self.runs(here, lean=dict(layout="tables", files=["summary", "genetics"]),
                            noweb=dict(foodWeb="none"))
            lean, noweb = got["lean"], got["noweb"]
            self.assertEqual(len(lean["summary"]), 9)
            self.assertEqual(len(lean["genetics"]), 9 * 2 * len(schema.STAGES))
            for table, kind in (("traits", "traits"), ("animals_end", "animals_end"), ("deaths", "pedigree"),
                                ("foodweb_edges", "foodweb")):
                with self.assertWarnsRegex(UserWarning, f"example: no {table} table: the run was not asked to write "
                                                        rf"it \(simulation.outputs.files leaves out {kind}\)"):
                    self.assertIsNone(lean[table])
            with self.assertWarnsRegex(UserWarning, 'simulation.outputs.foodWeb is "none"'):
                self.assertIsNone(noweb["foodweb_nodes"])
            self.assertIsNotNone(noweb["animals_end"])
            said = run("Rscript", "-e", f'library(soilweb); '
                       f'r <- read_run("{lean.folder}"); stopifnot(is.null(r$traits), nrow(r$genetics) == 72)',
                       cwd=here)
            self.assertEqual(said.returncode, 0, said.stderr)
            self.assertIn("soilweb: example: no traits table: the run was not asked to write it "
                          "(simulation.outputs.files leaves out traits)", said.stderr)

    def test_dead_animals_written_once_read_as_every_day(self):
        # A dead animal's row only on the first snapshot that shows it dead, at the start and at
        # the end of the day, thinned or not; read back as the default run reads, in Python and R.
        with tempfile.TemporaryDirectory() as here:
            for every in (1, 3):
                both = dict(layout="tables", compression="gzip", snapshotEvery=every)
                got = self.runs(os.path.join(here, str(every)), default=both, once=dict(both, deadAnimals="once"))
                default, once = got["default"], got["once"]
                expanded = soilweb.read_run(once.folder, dead="every day")
                for name in ("animals_start", "animals_end"):
                    written = once[name]
                    dead = written[written.state.isin(derived.FINAL_STATES)]
                    self.assertGreater(len(dead), 0, name)
                    self.assertFalse(dead.id.duplicated().any(), name)
                    self.assertLess(len(written), len(default[name]), name)
                    pd.testing.assert_frame_equal(default[name], expanded[name], obj=f"{name}, every {every}")
                    pd.testing.assert_frame_equal(default[name], soilweb.read_run(default.folder, dead="every day")[name])
                pd.testing.assert_frame_equal(default["deaths"], once["deaths"])
                script = R_DEAD % (default.folder, once.folder)
                shown = run("Rscript", "-e", script, cwd=here, env=dict(os.environ, ROOT=ROOT))
                self.assertEqual(shown.stdout.strip(), "TRUE TRUE", shown.stderr)
            self.assertRaises(ValueError, soilweb.read_run, once.folder, dead="every other day")


class RecordTest(unittest.TestCase):
    def test_a_record_readers_would_walk_into_wrongly_is_refused_in_one_line(self):
        from soilweb.records import check_record
        from soilweb.safe import Unreadable
        cases = (({"seed": "7"}, "its seed is \"7\""),
                 ({"died_out_days": {"prey": "day 3"}}, "its died_out_days are not days"),
                 ({"configuration": {"world": "big"}}, "its configuration's world is not an object"),
                 ({"configuration": {"simulation": {"outputs": []}}}, "its configuration's simulation.outputs is not an object"),
                 ({"configuration": {"world": {"life": {"animals": ["prey"]}}}},
                  "its configuration's species are not a list of objects"))
        for record, said in cases:
            with self.assertRaises(Unreadable) as refused:
                check_record(record, "r.json")
            self.assertEqual(str(refused.exception), f"r.json is not a run's record: {said}")
        check_record({"seed": 7, "configuration": {"world": {"life": {"animals": [{"name": "prey"}]}}}}, "r.json")


if __name__ == "__main__":
    unittest.main()
