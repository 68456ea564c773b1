"""The tables of every run of a sweep, stacked: a run's rows with its run name, replicate and swept
parameters first."""
import json
import os
import warnings
import zlib
from collections.abc import Mapping

import pandas as pd

from .loader import OUTPUTS, Run
from .records import check_sweep_record, damage_of, died_out_days
from .safe import check_file, check_folder, read_json
from .schema import TABLES


class Sweep(Mapping):
    """The tables of every run of a sweep, stacked, with run, replicate and the swept parameters first."""

    def __init__(self, folder):
        self.folder = os.path.normpath(folder)
        path = os.path.join(self.folder, "sweep.json")
        if not check_file(path):
            raise FileNotFoundError(f"{folder} is not a sweep's folder (it has no sweep.json)")
        self.sweep = read_json(path, "sweep record")
        check_sweep_record(self.sweep, path)
        # The swept keys, in the grid's order (keys() is the mapping's: the table names).
        self.parameters = list(self.sweep["grid"])
        self.runs = []
        seen = {}
        for run in self.sweep["runs"]:
            point = json.dumps(run["parameters"], sort_keys=True)
            seen[point] = seen.get(point, 0) + 1
            self.runs.append({"run": run["run"], "replicate": seen[point], "seed": run["seed"],
                              "parameters": run["parameters"], "point": run.get("point")})
        self._tables = {}
        self.excluded = set()  # runs left out of the stacked tables (collect found them damaged)
        self.damaged = {}  # run -> why one of its tables could not be read while stacking

    def exclude(self, name):
        """Leaves a run out of the stacked tables (and its record row as it is)."""
        self.excluded.add(name)
        self._tables.clear()

    def run(self, name):
        """One run's tables; None when it has no folder yet. A link or anything but a folder where the run's
        folders go is refused (Unreadable)."""
        folder = os.path.join(self.folder, "runs", name, name)
        if not check_folder(os.path.dirname(folder)) or not check_folder(folder):
            return None
        return Run(folder) if check_folder(os.path.join(folder, OUTPUTS)) else None

    def _columns(self, run):
        columns = {"run": run["run"], "replicate": run["replicate"]}
        for key in self.parameters:
            value = run["parameters"][key]
            columns[key] = value if isinstance(value, (int, float, str)) else json.dumps(value)
        return columns

    def __getitem__(self, table):
        if table not in TABLES and table != "record":
            raise KeyError(table)
        if table not in self._tables:
            self._tables[table] = self._stack(table)
        return self._tables[table]

    def _stack(self, table):
        frames, unasked = [], {}
        for run in self.runs:
            if run["run"] in self.excluded and table != "record":
                continue
            tables = self.run(run["run"])
            if table == "record":
                record = tables.record if tables else {}
                row = dict(self._columns(run), seed=run["seed"], status=record.get("status", "not run"))
                for field in ("last_day", "days_run", "died_out", "soilweb_version"):
                    row[field] = record.get(field)
                for what, day in died_out_days(record).items():
                    row[f"{what}_died_out_day"] = day
                frames.append(pd.DataFrame([row]))
                continue
            if tables is None or tables.record.get("status") not in ("completed", "extinct") or \
                    run["run"] in self.excluded:
                continue
            try:
                with warnings.catch_warnings():  # a table not asked for is said once for the sweep, below
                    warnings.filterwarnings("ignore", message=".*the run was not asked to write it")
                    frame = tables[table]
            except (OSError, EOFError, ValueError, zlib.error, pd.errors.ParserError) as e:
                # A damaged table leaves its run out, said once, never the whole sweep unread.
                self.damaged.setdefault(run["run"], damage_of(e))
                warnings.warn(f"{run['run']}: its {table} table cannot be read ({damage_of(e)}); left out")
                continue
            if frame is None and tables.unasked(table):
                unasked.setdefault(tables.unasked(table), []).append(run["run"])
            if frame is None or frame.empty:  # an empty table would make every column text
                continue
            frame = frame.copy()
            for position, (key, value) in enumerate(self._columns(run).items()):
                frame.insert(position, key, value)
            frames.append(frame)
        for why, runs in unasked.items():
            warnings.warn(f"{len(runs)} of {len(self.runs)} runs have no {table} table: they were not asked to write "
                          f"it ({why})", stacklevel=3)
        return pd.concat(frames, ignore_index=True) if frames else None

    def __iter__(self):
        return iter(TABLES + ("record",))

    def __len__(self):
        return len(TABLES) + 1


def read_sweep(folder):
    """The tables of every finished run of a sweep, stacked: a mapping of table name to DataFrame;
    "record" is one row per run (run, replicate, parameters, seed, status, last day, ...)."""
    return Sweep(folder)
