"""The records a reader trusts before it reads a run or a sweep: a run's run_info.json and a sweep's
sweep.json, each refused (Unreadable) when it is not one soilweb wrote; and what readers take from
them."""
import json
import re

from .safe import Unreadable


# The fields of a run's record that readers use, with the kinds of JSON value each may hold.
RECORD_FIELDS = {"status": (str,), "seed": (int,), "last_day": (int, type(None)), "days_run": (int,),
                 "last_day_configured": (int,), "died_out": (str, type(None)), "died_out_days": (dict,),
                 "configuration": (dict,), "warnings": (list,), "soilweb_version": (str,), "error": (str,)}


def check_record(record, path):
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
    # The parts of its configuration that readers walk into: objects, and the species a list of objects.
    for section in ("simulation", "simulation.outputs", "world", "world.life"):
        node = record.get("configuration", {})
        for key in section.split("."):
            node = node.get(key, {})
            if not isinstance(node, dict):
                raise Unreadable(f"{path} is not a run's record: its configuration's {section} is not an object")
    animals = record.get("configuration", {}).get("world", {}).get("life", {}).get("animals", [])
    if not isinstance(animals, list) or not all(isinstance(animal, dict) for animal in animals):
        raise Unreadable(f"{path} is not a run's record: its configuration's species are not a list of objects")


def damage_of(error):
    """A read error of a damaged table, in a few words."""
    text = str(error).splitlines()[0] if str(error) else ""
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


def check_sweep_record(sweep, path):
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
