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
import importlib
import os
import warnings
from collections.abc import Mapping

import numpy as np
import pandas as pd

from . import schema
from .derived import every_day, matrix_edges, traits_of
from .files import existing, joined_day_files, open_text, read_tsv
from .records import check_record
from .safe import RECORD_MOST_READ, check_file, check_folder, read_json
from .schema import FATES, TABLES, TRAIT_COLUMNS

OUTPUTS = schema.folder_of("summary")


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
        check_record(self.record, record)

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
        return existing(os.path.join(self.folder, OUTPUTS, f"{self.name}_{file}"))

    def _configured(self, key, default=None):
        outputs = self.record.get("configuration", {}).get("simulation", {}).get("outputs", {})
        return outputs.get(key, default)

    # ---- the tables -------------------------------------------------------------------------

    def _read_summary(self):
        name = self._configured("summaryFilename")
        path = self._output(name) if name else None
        start = "\t".join(schema.file_columns("summary")[:2]) + "\t"
        for candidate in [] if path else sorted(glob.glob(os.path.join(self.folder, OUTPUTS, "*"))):
            with open_text(candidate) as f:
                if f.readline().startswith(start):
                    path = candidate
                    break
        return schema.in_loader_names(read_tsv(path), "summary") if path else None

    def _snapshots(self, kind):
        table = self._output(schema.file_name(kind))
        return read_tsv(table) if table else joined_day_files(self.folder, kind)

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
        return every_day(frame, predators)

    def _read_cells(self):
        return self._snapshots("cells")

    def _read_traits(self):
        path = self._output(schema.file_name("traits"))
        if path:
            return read_tsv(path)
        animals = self["animals_end"]
        return None if animals is None else traits_of(animals, self._species())

    def _read_genetics(self):
        path = self._output(schema.file_name("genetics"))
        if path:
            return read_tsv(path)
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
            return self._founders_without_parents(read_tsv(path))
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
            return read_tsv(path)
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
        kept = list(schema.UNCHANGED_TRAITS)
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
            return read_tsv(path)
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
            return read_tsv(path)
        met, eaten = self._matrix("encountersMatrixFilename"), self._matrix("predationsMatrixFilename")
        if met is None or eaten is None:
            return None
        return matrix_edges(met, eaten)

    def _matrix(self, key):
        name = self._configured(key)
        path = self._output(name) if name else None
        return read_tsv(path) if path else None


def read_run(folder, dead=None):
    """The tables of a run's folder: a mapping of table name to DataFrame, and "record" to a dict.
    dead="every day": a run written with deadAnimals "once" reads as one written with the default."""
    return Run(folder, dead)


# Names scripts have imported from this module before its sweep and record parts had modules of
# their own (soilweb.stacked, soilweb.records), kept so that those scripts still run.
_MOVED = {"Sweep": "stacked", "read_sweep": "stacked", "died_out_days": "records", "damage_of": "records"}


def __getattr__(name):
    if name not in _MOVED:
        raise AttributeError(f"module 'soilweb.loader' has no attribute '{name}'")
    return getattr(importlib.import_module(f".{_MOVED[name]}", __package__), name)
