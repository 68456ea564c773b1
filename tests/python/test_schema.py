"""The schema: the packages' copies and the data dictionary are the binary's, and every file a run
writes has the schema's columns, header and rows alike."""
import glob
import gzip
import os
import subprocess
import tempfile
import unittest

from support import BINARY, ROOT, run_config, tiny_config

from soilweb import dictionary, schema


class SchemaTest(unittest.TestCase):
    def test_the_packages_and_the_documentation_hold_the_binarys_schema(self):
        printed = subprocess.run([BINARY, "--schema"], capture_output=True, text=True, check=True).stdout
        for copy in (("python", "soilweb", "schema.json"), ("R", "soilweb", "inst", "schema.json")):
            with open(os.path.join(ROOT, *copy)) as f:
                self.assertEqual(f.read(), printed, f"{'/'.join(copy)} is not the binary's: "
                                                    "cmake --build build --target update-schema")
        with open(os.path.join(ROOT, "docs", "outputs.md")) as f:
            page = f.read()
        self.assertEqual(dictionary.with_dictionary(page), page, "the data dictionary in docs/outputs.md is not "
                                                                  "current: cmake --build build --target update-schema")

    def test_every_file_written_has_the_schemas_columns(self):
        """Header and first row of each tab-separated file of a run, in both layouts, against the schema."""
        layouts = {"daily": {"traitStatistics": True, "geneticStatistics": True, "pedigree": True},
                   "tables": {"layout": "tables", "foodWeb": "edges", "compression": "gzip"}}
        seen = set()
        with tempfile.TemporaryDirectory() as here:
            for layout, outputs in layouts.items():
                folder = os.path.join(here, layout)
                config = tiny_config(days=4)
                config["simulation"]["outputs"].update(outputs)
                if layout == "daily":  # the optional columns: the summary's, and the neutral markers'
                    config["simulation"]["temperatureSeries"] = [[0, 20], [3, 22]]
                    for species in config["world"]["life"]["animals"]:
                        species["genetics"]["neutralLoci"] = 4
                done = run_config(folder, config)
                self.assertEqual(done.returncode, 0, done.stderr)
                names = config["simulation"]["outputs"]
                for entry in schema.SCHEMA["files"]:
                    if not entry["columns"]:
                        continue
                    pattern = entry[layout].replace("NAME", "example").replace("_D.", "_1.")
                    for key, value in names.items():
                        pattern = pattern.replace(f"<{key}>", str(value))
                    found = glob.glob(os.path.join(folder, pattern)) + glob.glob(os.path.join(folder, pattern + ".gz"))
                    if not found:
                        continue
                    seen.add(entry["id"])
                    opener = gzip.open if found[0].endswith(".gz") else open
                    with opener(found[0], "rt") as f:
                        lines = f.read().split("\n")
                    wanted = (["day"] if layout == "tables" and entry["day_first_in_tables"] else []) + \
                        schema.file_columns(entry["id"], optional=layout == "daily")
                    # A daily animal file ends every field with a tab; the cell files have no header.
                    rows = lines[1:] if entry["header"] or layout == "tables" else lines
                    if entry["header"] or layout == "tables":
                        self.assertEqual(lines[0].split("\t"), wanted, found[0])
                    fields = rows[0].split("\t")
                    fields = fields[:-1] if fields[-1] == "" else fields
                    self.assertEqual(len(fields), len(wanted), f"{found[0]}: a row of {len(fields)} fields")
        self.assertEqual(seen, {e["id"] for e in schema.SCHEMA["files"] if e["columns"] and e["id"] not in
                                ("encounters", "predations")}, "every described file was looked at")


if __name__ == "__main__":
    unittest.main()
