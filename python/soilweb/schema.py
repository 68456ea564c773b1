"""What a soilweb run writes: every result file and column with its type, unit and meaning, the
life-state, stage and fate codes, read from schema.json (which `soilweb --schema` prints; the
build writes it beside this module). Every name the loaders and figures use comes from here."""
import json
import os

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "schema.json")) as _f:
    SCHEMA = json.load(_f)

FILES = {f["id"]: f for f in SCHEMA["files"]}
TRAITS = SCHEMA["traits"]

# The loaders' vocabulary: files keep their column names byte for byte (stored files and scripts
# rely on them); a loaded table calls each trait, and its statistics, as the configuration does
# ("body" is "body_size", "body_mean" "body_size_mean"), and the summary's DAY is "day" as in the
# other tables.
_NAMES = SCHEMA["loader_names"]
_SUFFIXES = _NAMES["statistic_suffixes"]


def _names(table, inverse=False):
    names = dict(_NAMES["every_table"], **_NAMES["by_table"].get(table, {}))
    return {new: old for old, new in names.items()} if inverse else names


def _renamed(column, names):
    if column in names:
        return names[column]
    stem, _, suffix = column.rpartition("_")
    return f"{names[stem]}_{suffix}" if suffix in _SUFFIXES and stem in names else column


def loader_name(column, table=None):
    """A file's column as the loaders name it (itself when the names agree)."""
    return _renamed(column, _names(table))


def in_loader_names(frame, table=None):
    names = _names(table)
    return frame.rename(columns=lambda column: _renamed(column, names))


def in_file_names(frame, table=None):
    """A loaded table with its columns as table's file names them."""
    names = _names(table, inverse=True)
    return frame.rename(columns=lambda column: _renamed(column, names))


# The traits by the loaders' names, in the animals' order.
TRAIT_COLUMNS = [t["name"] for t in TRAITS]
# The traits an animal keeps as it inherited them all its life: a snapshot shows their genetic values.
UNCHANGED_TRAITS = [t["name"] for t in TRAITS if t["after_birth"] == "inherited"]
TRAIT_LABELS = {t["name"]: t["label"] for t in TRAITS}
STATES = {s["name"]: s["code"] for s in SCHEMA["states"]}
LIVING_STATES = [s["code"] for s in SCHEMA["states"] if not s["final"]]
FATES = {s["code"]: s["fate"] for s in SCHEMA["states"] if s["final"]}
STAGES = [s["name"] for s in SCHEMA["stages"]]
FIRST_ADULT_INSTAR = SCHEMA["first_adult_instar"]
# The loaders' tables, in the order they are listed.
TABLES = ("summary", "animals_start", "animals_end", "cells", "traits", "genetics", "pedigree", "deaths",
          "foodweb_nodes", "foodweb_edges")


# The result kinds simulation.outputs.files may list, each with the tables it writes.
KINDS = {k["name"]: k["files"] for k in SCHEMA["kinds"]}


def kind_of(table):
    """The result kind that writes a table (e.g. "pedigree" for deaths)."""
    return next(kind for kind, files in KINDS.items() if table in files and kind != "snapshots")


def folder_of(table):
    """The folder under a run's folder that holds a table's daily files (e.g. animals_each_day_end)."""
    return FILES[table]["daily"].split("/")[1]


def file_name(table, layout="tables"):
    """A file's name after "NAME_" (e.g. "traits.tsv", "animals_day_D.txt")."""
    return FILES[table][layout].rsplit("/", 1)[1][len("NAME_"):]


def file_columns(table, optional=False):
    """The column names of a table's file; with optional, also those only some keys add (e.g. the summary's
    TEMPERATURE)."""
    return [c["name"] for c in FILES[table]["columns"] if optional or not c.get("when")]


def columns(table, optional=False):
    """The column names of a loaded table (the loaders' names)."""
    return [loader_name(c, table) for c in file_columns(table, optional)]


def stages_of(states, instars):
    """The stage in the trait statistics of each animal (pandas Series of states and instars); None for the dead."""
    stages = states.astype(object).where(states != states)  # all None, on the same index
    for stage in SCHEMA["stages"]:
        holds = (states == stage["state"]) & (instars >= stage["from_instar"])
        if stage["below_instar"]:
            holds &= instars < stage["below_instar"]
        stages[holds & stages.isna()] = stage["name"]
    return stages
