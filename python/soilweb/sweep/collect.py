"""Gathering a sweep's finished runs: OUT/summary.tsv, OUT/failed.tsv and the tidy tables of
OUT/tables."""
import csv
import json
import os
import sys
import warnings
import zlib

import pandas as pd

from .. import records, schema
from ..stacked import read_sweep
from ..safe import NotOurs, Unreadable, check_file, read_text
from .folder import FINISHED, outcome
from .runner import refuse_locked_runs


# What a run may lose, each with a column in runs.tsv: the day after which it was first found gone.
DIED_OUT = ("resource", "prey", "predators")


def text_of(value):
    return value if isinstance(value, str) else json.dumps(value)


def write_table(frame, path, table=None):
    """A tidy table as soilweb writes its own: tab-separated, reals with six significant digits, the columns of
    a run's table by their names in its file (as these tables have always had them)."""
    schema.in_file_names(frame, table).to_csv(path, sep="\t", index=False, float_format="%.6g", na_rep="NA", lineterminator="\n")


def value_at(config, path):
    """The value at a dotted path of a configuration (list elements by index); KeyError when absent."""
    node = config
    for part in path.split("."):
        node = node[int(part)] if isinstance(node, list) and part.isdigit() else node[part]
    return node


def same_value(a, b):
    if a == b:
        return True
    try:
        return float(a) == float(b)
    except (TypeError, ValueError):
        return json.dumps(a, sort_keys=True) == json.dumps(b, sort_keys=True)


def record_mismatch(run, record, keys):
    """Why a run's own record does not belong to the run sweep.json lists (another seed, another swept value,
    a run redone by hand), or "" when it does."""
    if not record:
        return ""
    if not same_value(record.get("seed"), run["seed"]):
        return f"its record has seed {record.get('seed')}, sweep.json {run['seed']}"
    config = record.get("configuration")
    for key in keys:
        try:
            value = value_at(config, key)
        except (KeyError, IndexError, TypeError):
            return f"its record has no {key}"
        if not same_value(value, run["parameters"][key]):
            return f"its record has {key} {text_of(value)}, sweep.json {text_of(run['parameters'][key])}"
    return ""


def first_error(out, run):
    """The first line of a run's errors that is neither a warning nor a note."""
    errors = os.path.join(out, "runs", run["run"], "errors.txt")
    lines = [line.strip() for line in read_text(errors, 1 << 20).splitlines()] if check_file(errors) else []
    return next((line for line in lines if ": warning: " not in line and ": note: " not in line), "")


def write_stacked(sweep, names, folder):
    """The sweep's stacked tables, NAME.tsv.gz in folder; a run whose table turns out damaged is left out and
    noted in sweep.damaged (said by the caller, once)."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for name in names:
            stacked = sweep[name]
            if stacked is not None:
                write_table(stacked, os.path.join(folder, name + ".tsv.gz"), name)


def collect(out):
    """Gathers every finished run's tables; returns the number of runs that failed or did not finish. A run
    whose record does not match sweep.json, or whose tables cannot be read, is reported and counted as failed;
    the others are collected."""
    sweep = read_sweep(out)
    refuse_locked_runs(out, sweep.runs)
    keys = sweep.parameters
    summaries, failed, runs = [], [], []
    for run in sweep.runs:
        ended = outcome(out, run)
        try:
            tables = sweep.run(run["run"])
            record = tables.record if tables is not None else {}
            problem = record_mismatch(run, record, keys)
        except NotOurs:
            raise
        except Unreadable as e:  # a damaged record: the run failed, the others are collected
            tables, record, problem = None, {}, str(e)
        summary = None
        if not problem and tables is not None and ended["end"] in FINISHED:
            try:
                summary = tables["summary"]
            except (OSError, EOFError, ValueError, zlib.error, pd.errors.ParserError) as e:
                problem = f"its summary cannot be read ({records.damage_of(e)})"
        if problem:
            print(f"soilweb-sweep: {run['run']}: {problem}; counted as failed", file=sys.stderr)
            ended = dict(ended, end="failed")
        gone = records.died_out_days(record)
        runs.append([run["run"], run["replicate"]] + [text_of(run["parameters"][k]) for k in keys] +
                    [run["seed"], ended["end"], ended["last_day"]] + [gone[what] for what in DIED_OUT])
        if problem or ended["end"] not in FINISHED or summary is None:
            failed.append([run["run"], run["seed"], ended["status"], ended["end"], problem or first_error(out, run)])
            sweep.exclude(run["run"])
            continue
        block = summary.copy()
        front = {"run": run["run"], "seed": run["seed"]}
        front.update((k, text_of(run["parameters"][k])) for k in keys)
        front.update(end=ended["end"], last_day=ended["last_day"], soilweb_version=ended["version"])
        for position, (column, value) in enumerate(front.items()):
            block.insert(position, column, value)
        summaries.append(block)
    # The tidy tables of the whole sweep: run, replicate and the swept parameters first. A run whose
    # other tables turn out damaged here is left out of them and counted as failed too.
    tables = os.path.join(out, "tables")
    os.makedirs(tables, exist_ok=True)
    # The genetic statistics only as the runs wrote them, not as snapshots give a part of them.
    wrote_genetics = any(t is not None and t.wrote("genetics") for t in (sweep.run(r["run"]) for r in sweep.runs
                                                                             if r["run"] not in sweep.excluded))
    stacked = ("summary", "traits") + (("genetics",) if wrote_genetics else ())
    write_stacked(sweep, stacked, tables)
    for name, why in sweep.damaged.items():
        print(f"soilweb-sweep: {name}: its tables cannot be read ({why}); counted as failed", file=sys.stderr)
        run = next(r for r in sweep.runs if r["run"] == name)
        row = next(row for row in runs if row[0] == name)
        row[len(keys) + 3] = "failed"
        failed.append([name, run["seed"], outcome(out, run)["status"], "failed", f"its tables cannot be read ({why})"])
        summaries = [block for block in summaries if block["run"].iloc[0] != name]
        sweep.exclude(name)
    if sweep.damaged:  # the stacked tables again, without them
        write_stacked(sweep, stacked, tables)
    header = ["run", "seed"] + keys + ["end", "last_day", "soilweb_version"]
    write_table(pd.concat(summaries, ignore_index=True) if summaries else pd.DataFrame(columns=header),
                os.path.join(out, "summary.tsv"), "summary")
    with open(os.path.join(out, "failed.tsv"), "w", newline="") as f:
        writer = csv.writer(f, delimiter="\t", lineterminator="\n")
        writer.writerow(["run", "seed", "exit_status", "end", "error"])
        writer.writerows(failed)
    write_table(pd.DataFrame(runs, columns=["run", "replicate"] + keys + ["seed", "status", "last_day"] +
                             [f"{what}_died_out_day" for what in DIED_OUT]).astype({f"{w}_died_out_day": "Int64"
                                                                                   for w in DIED_OUT}),
                os.path.join(tables, "runs.tsv"))
    done = len(sweep.runs) - len(failed)
    print(f"{done} run{'' if done == 1 else 's'} collected into {out}/summary.tsv and {out}/tables"
          + (f"; {len(failed)} failed or unfinished (see {out}/failed.tsv)" if failed else ""))
    return len(failed)
