"""Tidy tables of a soilweb run or sweep, whatever the layout they were written in.

A run's tables, each a DataFrame (None when the run did not write what it needs):
  summary         the daily summary: day, BIOMASS, counts by kind and state
  animals_start   every animal at the start of each day written: day, then the animal file's columns
  animals_end     every animal at the end of each day written
  cells           each cell at the end of each day written: day, id, fungi, active_prey, active_predators
  traits          per day, species and stage: count and mean, sd, min, max of each trait (from the
                  trait statistics file, or computed from animals_end when the run did not write it)
  genetics        as traits, over the genetic values (what the animals inherited), with each trait's
                  heterozygosity (from the genetic statistics file, or from animals_end for the traits
                  a snapshot keeps unchanged from birth; the others are NA, with a warning)
  pedigree        a row per animal made: id, species, birth_day, parents, generations, genetic values
                  (from the pedigree file, or from the snapshots as genetics is)
  deaths          death_day, id, species, fate (from the file, or from the snapshots' dead)
  foodweb_nodes   id, species, category, birth_day, death_day, fate
  foodweb_edges   hunter, victim, encounters, predations (from the matrices: founders only, and
                  1 for any number of encounters)
and "record", the run's run_info.json as a dict.
Tables are read when first asked for, and kept.
"""
import glob
import gzip
import io
import json
import os
import re
import warnings
import zlib
from collections.abc import Mapping

import numpy as np
import pandas as pd

from . import schema
from .safe import RECORD_MOST_READ, Unreadable, check_file, check_folder, read_json
from .schema import FATES, STAGES, TABLES, TRAIT_COLUMNS

OUTPUTS = schema.folder_of("summary")


def _existing(path):
    """path, or path + ".gz", whichever exists; None when neither does. A link or a FIFO there is refused."""
    for candidate in (path, path + ".gz"):
        if check_file(candidate):
            return candidate
    return None


def _open_text(path):
    return gzip.open(path, "rt", newline="") if path.endswith(".gz") else open(path, newline="")


def _read_tsv(path, **options):
    """A file's table, its columns in the loaders' names. index_col=False: the daily animal files end every
    line with a tab."""
    return schema.in_loader_names(pd.read_csv(path, sep="\t", index_col=False, **options))


def _day_of(path):
    return int(re.search(r"_day_(\d+)\.txt(\.gz)?$", path).group(1))


FINAL_STATES = tuple(state["code"] for state in schema.SCHEMA["states"] if state["final"])


def _every_day(frame, predator_species):
    """A snapshot table written with each dead animal once, as it would read with the dead
    repeated on every later day: a cell's dead animals never move or change, and each of its
    final states lists prey before predators, those that died earlier first."""
    days = []
    carried = frame.iloc[0:0]
    for day, rows in frame.groupby("day", sort=False):
        if len(carried):
            carried = carried.assign(day=day)
        merged = pd.concat([carried, rows])
        order = pd.DataFrame({
            "position": merged["position"].to_numpy(),
            "state": merged["state"].to_numpy(),
            "predator": merged["species"].isin(predator_species).to_numpy(),
            "new": np.r_[np.zeros(len(carried), bool), np.ones(len(rows), bool)],
        })
        merged = merged.iloc[order.sort_values(["position", "state", "predator", "new"], kind="stable").index]
        days.append(merged)
        carried = merged[merged["state"].isin(FINAL_STATES)]
    return pd.concat(days, ignore_index=True) if days else frame


class Run(Mapping):
    """The tables of one run's folder (the folder named after simulationName). dead="every day"
    gives the animal snapshots of a run written with deadAnimals "once" as a run written with the
    default reads (each dead animal on every day after its death); None leaves them as written."""

    def __init__(self, folder, dead=None):
        if dead not in (None, "every day"):
            raise ValueError(f'dead must be None or "every day", got {dead!r}')
        self.dead = dead
        self.folder = os.path.normpath(folder)
        self.name = os.path.basename(self.folder)
        if not check_folder(os.path.join(self.folder, OUTPUTS)):
            raise FileNotFoundError(f"{folder} is not a soilweb run's folder (it has no {OUTPUTS}/)")
        self._tables = {}
        self._reading = 0
        record = os.path.join(self.folder, OUTPUTS, f"{self.name}_{schema.file_name('record')}")
        self.record = read_json(record, "run's record", RECORD_MOST_READ) if check_file(record) else {}
        _check_record(self.record, record)

    def __getitem__(self, table):
        if table == "record":
            return self.record
        if table not in TABLES:
            raise KeyError(table)
        if table not in self._tables:
            self._reading += 1  # a table made from another says why it is missing, not the other
            try:
                self._tables[table] = getattr(self, "_read_" + table)()
            finally:
                self._reading -= 1
            self._warn_if_short(table, self._tables[table])
        if self._tables[table] is None and not self._reading and self.unasked(table):
            warnings.warn(f"{self.name}: no {table} table: the run was not asked to write it "
                          f"({self.unasked(table)})", stacklevel=2)
        return self._tables[table]

    def unasked(self, table):
        """Why the run's configuration left a table out (simulation.outputs.files or foodWeb "none"); None
        when it did not."""
        files, kind = self._configured("files"), schema.kind_of(table)
        if kind == "foodweb" and self._configured("foodWeb") == "none":
            return 'simulation.outputs.foodWeb is "none"'
        snapshot = kind in schema.KINDS["snapshots"] and "snapshots" in (files or [])
        if isinstance(files, list) and kind not in files and not snapshot:
            return f"simulation.outputs.files leaves out {kind}"
        return None

    # Tables with a row (or rows) for every day of the run, up to its last day, when written.
    DAILY = ("summary", "animals_start", "animals_end", "cells", "traits", "genetics")

    def _warn_if_short(self, table, frame):
        """Warns when a table the run wrote ends before the record's last day: a file cut short (at a gzip
        member's end, say) would otherwise load as a shorter run without a word."""
        last = self.record.get("last_day")
        if table not in self.DAILY or frame is None or frame.empty or "day" not in frame or \
                not isinstance(last, int) or not (table == "summary" or self.wrote(table)):
            return
        ends = int(frame["day"].max())
        if ends < last:
            warnings.warn(f"{self.name}: the {table} table ends at day {ends}, short of the record's last day "
                          f"{last}: the file was cut short or damaged", stacklevel=3)

    def __iter__(self):
        return iter(TABLES + ("record",))

    def __len__(self):
        return len(TABLES) + 1

    # ---- where the files are --------------------------------------------------------------

    def wrote(self, table):
        """Whether the run wrote the table's own file (the loader may make some tables otherwise)."""
        return self._output(schema.file_name(table)) is not None

    def _output(self, file):
        return _existing(os.path.join(self.folder, OUTPUTS, f"{self.name}_{file}"))

    def _configured(self, key, default=None):
        outputs = self.record.get("configuration", {}).get("simulation", {}).get("outputs", {})
        return outputs.get(key, default)

    # ---- the tables -------------------------------------------------------------------------

    def _read_summary(self):
        name = self._configured("summaryFilename")
        path = self._output(name) if name else None
        start = "\t".join(schema.file_columns("summary")[:2]) + "\t"
        for candidate in [] if path else sorted(glob.glob(os.path.join(self.folder, OUTPUTS, "*"))):
            with _open_text(candidate) as f:
                if f.readline().startswith(start):
                    path = candidate
                    break
        return schema.in_loader_names(_read_tsv(path), "summary") if path else None

    def _daily_files(self, kind):
        folder = os.path.join(self.folder, schema.folder_of(kind))
        found = glob.glob(os.path.join(folder, "*_day_*.txt")) + glob.glob(os.path.join(folder, "*_day_*.txt.gz"))
        return sorted(found, key=_day_of)

    def _snapshots(self, kind):
        table = self._output(schema.file_name(kind))
        if table:
            return _read_tsv(table)
        files = self._daily_files(kind)
        if not files:
            return None
        # The day files' lines joined and read at once, as the table of the tables layout is.
        header, bodies, days, counts = None, [], [], []
        for path in files:
            with _open_text(path) as f:
                text = f.read()
            if kind == "cells":
                body = "".join(line + "\n" for line in text.splitlines() if line[:1].isdigit())  # totals aside
            else:
                header, _, body = text.partition("\n")
            bodies.append(body)
            counts.append(body.count("\n"))
            days.append(_day_of(path))
        text = "".join(bodies)
        if kind == "cells":
            frame = pd.read_csv(io.StringIO(text), sep="\t", header=None, names=schema.columns("cells"))
        else:
            frame = _read_tsv(io.StringIO(header + "\n" + text))
        frame.insert(0, "day", np.repeat(days, counts))
        return frame

    def _read_animals_start(self):
        return self._with_dead(self._snapshots("animals_start"))

    def _read_animals_end(self):
        return self._with_dead(self._snapshots("animals_end"))

    def _with_dead(self, frame):
        written_once = self._configured("deadAnimals") == "once"
        purged = self.record.get("configuration", {}).get("simulation", {}).get("purgeDeadAnimals", 0) != 0
        if frame is None or self.dead != "every day" or not written_once or purged:
            return frame
        animals = self.record.get("configuration", {}).get("world", {}).get("life", {}).get("animals", [])
        predators = [a.get("name") for a in animals if a.get("huntingMode") != "does_not_hunt"]
        return _every_day(frame, predators)

    def _read_cells(self):
        return self._snapshots("cells")

    def _read_traits(self):
        path = self._output(schema.file_name("traits"))
        if path:
            return _read_tsv(path)
        animals = self["animals_end"]
        return None if animals is None else traits_of(animals, self._species())

    def _read_genetics(self):
        path = self._output(schema.file_name("genetics"))
        if path:
            return _read_tsv(path)
        animals = self._with_genetic_values("genetics")
        if animals is None:
            return None
        table = traits_of(animals, self._species())
        for trait in TRAIT_COLUMNS:
            table.insert(table.columns.get_loc(f"{trait}_max") + 1, f"{trait}_het", np.nan)
        return table

    def _read_pedigree(self):
        path = self._output(schema.file_name("pedigree"))
        if path:
            return self._founders_without_parents(_read_tsv(path))
        animals = self._with_genetic_values("pedigree")
        if animals is None:
            return None
        first = animals.sort_values("day").drop_duplicates("id").sort_values("id")
        first = first.rename(columns={"date_egg": "birth_day"})
        return self._founders_without_parents(first[schema.columns("pedigree")].reset_index(drop=True))

    def _founders(self):
        """How many founders the run had: the first animals made (ids 0 ... N-1)."""
        animals = self.record.get("configuration", {}).get("world", {}).get("life", {}).get("animals", [])
        try:
            return sum(int(float(a.get("initialPopulation", 0))) for a in animals[:2])
        except (TypeError, ValueError, AttributeError):
            return None

    def _founders_without_parents(self, table):
        """Parents and generations as whole numbers, missing (NA) for the founders: the pedigree file
        leaves them empty, and a snapshot writes 0, which is also an animal's id."""
        lineage = ["ID_prt1", "ID_prt2", "g_numb_prt1", "g_numb_prt2"]
        table = table.astype({column: "Int64" for column in lineage})
        founders = self._founders()
        if founders is not None:
            table.loc[table["id"] < founders, lineage] = pd.NA
        return table

    def _read_deaths(self):
        path = self._output(schema.file_name("deaths"))
        if path:
            return _read_tsv(path)
        animals = self["animals_end"]
        if animals is None:
            return None
        dead = animals[~animals.state.isin(schema.LIVING_STATES)].drop_duplicates("id").sort_values("id")
        table = pd.DataFrame({"death_day": dead.date_death, "id": dead.id, "species": dead.species,
                              "fate": dead.state.map(FATES)})
        return table.sort_values(["death_day", "id"]).reset_index(drop=True)

    def _with_genetic_values(self, table):
        """animals_end with its traits replaced by the genetic values a snapshot still shows: those
        that never change after birth and the raw development time; the others NA, as a warning says."""
        animals = self["animals_end"]
        if animals is None:
            return None
        animals = animals.copy()
        kept = [t for t in schema.UNCHANGED_TRAITS]
        animals["pheno"] = animals["pheno_ini"]
        missing = [t for t in TRAIT_COLUMNS if t not in kept + ["pheno"]]
        for trait in missing:
            animals[trait] = np.nan
        warnings.warn(f"{self.name}: no {schema.file_name(table)}; {table} computed from the snapshots, without the "
                      f"genetic values of {', '.join(missing)} (a snapshot shows them only as expressed)",
                      stacklevel=3)
        return animals

    def _species(self):
        animals = self.record.get("configuration", {}).get("world", {}).get("life", {}).get("animals", [])
        return [str(a.get("name", "")).strip() for a in animals] if isinstance(animals, list) else []

    def _read_foodweb_nodes(self):
        path = self._output(schema.file_name("foodweb_nodes"))
        if path:
            return _read_tsv(path)
        listed = self._matrix("nodesMatrixFilename")
        if listed is None:
            return None
        nodes = pd.DataFrame({"id": listed["node"].str[1:].astype(int), "category": listed["category"]})
        # What the node list leaves out comes from each animal's last end-of-day row (the last
        # snapshot holds every animal, unless the dead were written once).
        animals = self["animals_end"]
        if animals is None:
            return nodes[["id", "category"]]
        last = animals.drop_duplicates("id", keep="last").set_index("id")
        nodes = nodes.join(last[["species", "date_egg", "date_death", "state"]], on="id")
        dead = nodes.state.isin(list(FATES))
        return pd.DataFrame({"id": nodes.id, "species": nodes.species, "category": nodes.category,
                             "birth_day": nodes.date_egg, "death_day": nodes.date_death.where(dead),
                             "fate": nodes.state.map(FATES).fillna("alive")})

    def _read_foodweb_edges(self):
        path = self._output(schema.file_name("foodweb_edges"))
        if path:
            return _read_tsv(path)
        met, eaten = self._matrix("encountersMatrixFilename"), self._matrix("predationsMatrixFilename")
        if met is None or eaten is None:
            return None
        pairs = []
        for matrix, column in ((met, "encounters"), (eaten, "predations")):
            ones = matrix.set_index(matrix.columns[0]).stack()
            ones = ones[ones > 0].reset_index()
            ones.columns = ["victim", "hunter", column]
            ones["hunter"] = ones["hunter"].astype(int)
            pairs.append(ones.set_index(["victim", "hunter"]))
        edges = pairs[0].join(pairs[1], how="outer").fillna(0).astype(int).reset_index()
        return edges[["hunter", "victim", "encounters", "predations"]].sort_values(["victim", "hunter"],
                                                                                    ignore_index=True)

    def _matrix(self, key):
        name = self._configured(key)
        path = self._output(name) if name else None
        return _read_tsv(path) if path else None


def traits_of(animals, species_order=()):
    """The trait statistics of an end-of-day animal table, as the trait statistics file holds them."""
    living = animals[animals.state.isin(schema.LIVING_STATES)].copy()
    living["stage"] = schema.stages_of(living.state, living.instar)
    grouped = living.groupby(["day", "species", "stage"])
    statistics = grouped[TRAIT_COLUMNS].agg(["mean", "std", "min", "max"])
    statistics.columns = [f"{trait}_{'sd' if s == 'std' else s}" for trait, s in statistics.columns]
    table = grouped.size().rename("count").to_frame().join(statistics)
    names = list(species_order) or sorted(animals.species.unique())
    full = pd.MultiIndex.from_product([sorted(animals.day.unique()), names, STAGES], names=["day", "species", "stage"])
    table = table.reindex(full).reset_index()
    table["count"] = table["count"].fillna(0).astype(int)
    return table


class Sweep(Mapping):
    """The tables of every run of a sweep, stacked, with run, replicate and the swept parameters first."""

    def __init__(self, folder):
        self.folder = os.path.normpath(folder)
        path = os.path.join(self.folder, "sweep.json")
        if not check_file(path):
            raise FileNotFoundError(f"{folder} is not a sweep's folder (it has no sweep.json)")
        self.sweep = read_json(path, "sweep record")
        _check_sweep_record(self.sweep, path)
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
        frames = []
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
                frame = tables[table]
            except (OSError, EOFError, ValueError, zlib.error, pd.errors.ParserError) as e:
                # A damaged table leaves its run out, said once, never the whole sweep unread.
                self.damaged.setdefault(run["run"], damage_of(e))
                warnings.warn(f"{run['run']}: its {table} table cannot be read ({damage_of(e)}); left out")
                continue
            if frame is None or frame.empty:  # an empty table would make every column text
                continue
            frame = frame.copy()
            for position, (key, value) in enumerate(self._columns(run).items()):
                frame.insert(position, key, value)
            frames.append(frame)
        return pd.concat(frames, ignore_index=True) if frames else None

    def __iter__(self):
        return iter(TABLES + ("record",))

    def __len__(self):
        return len(TABLES) + 1


# The fields of a run's record that readers use, with the kinds of JSON value each may hold.
RECORD_FIELDS = {"status": (str,), "seed": (int,), "last_day": (int, type(None)), "days_run": (int,),
                 "last_day_configured": (int,), "died_out": (str, type(None)), "died_out_days": (dict,),
                 "configuration": (dict,), "warnings": (list,), "soilweb_version": (str,), "error": (str,)}


def _check_record(record, path):
    """Refuses a record that is not one soilweb wrote: a field readers use holding another kind of value."""
    if not isinstance(record, dict):
        raise Unreadable(f"{path} is not a run's record (not a JSON object)")
    for field, kinds in RECORD_FIELDS.items():
        value = record.get(field)
        if field in record and (not isinstance(value, kinds) or isinstance(value, bool)):
            raise Unreadable(f"{path} is not a run's record: its {field} is {json.dumps(value)[:40]}")
    days = record.get("died_out_days", {})
    if any(not isinstance(days.get(what), (int, type(None))) or isinstance(days.get(what), bool)
           for what in ("resource", "prey", "predators")):
        raise Unreadable(f"{path} is not a run's record: its died_out_days are not days")
    if not all(isinstance(warning, str) for warning in record.get("warnings", [])):
        raise Unreadable(f"{path} is not a run's record: its warnings are not texts")


def damage_of(error):
    """A read error of a damaged table, in a few words."""
    text = str(error).splitlines()[0] if str(error) else ""
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


def _check_sweep_record(sweep, path):
    """Refuses a sweep.json that is not one soilweb-sweep wrote: its grid, its runs (each with a run name of
    its own, a seed and a value of every swept key)."""
    def wrong(why):
        raise Unreadable(f"{path} is not a sweep's record: {why}")
    if not isinstance(sweep, dict):
        wrong("not a JSON object")
    grid, runs = sweep.get("grid"), sweep.get("runs")
    if not isinstance(grid, dict) or not grid:
        wrong("it has no grid of swept keys")
    if not isinstance(runs, list):
        wrong("it has no list of runs")
    names = set()
    for run in runs:
        if not isinstance(run, dict) or not isinstance(run.get("run"), str) or "seed" not in run or \
                not isinstance(run.get("parameters"), dict):
            wrong("a run without its name, seed or parameters")
        name = run["run"]
        if not re.fullmatch(r"[A-Za-z0-9][A-Za-z0-9._-]*", name):
            wrong(f"the run name {name!r} is not a folder name soilweb-sweep makes")
        if name in names:
            wrong(f"{name} is listed twice")
        names.add(name)
        missing = [key for key in grid if key not in run["parameters"]]
        if missing:
            wrong(f"{name} has no value of {missing[0]}")


def died_out_days(record):
    """The day after which the resource, the prey and the predators were first found gone (None: never)."""
    days = record.get("died_out_days") or {}
    return {what: days.get(what) for what in ("resource", "prey", "predators")}


def read_run(folder, dead=None):
    """The tables of a run's folder: a mapping of table name to DataFrame, and "record" to a dict.
    dead="every day": a run written with deadAnimals "once" reads as one written with the default."""
    return Run(folder, dead)


def read_sweep(folder):
    """The tables of every finished run of a sweep, stacked: a mapping of table name to DataFrame;
    "record" is one row per run (run, replicate, parameters, seed, status, last day, ...)."""
    return Sweep(folder)
