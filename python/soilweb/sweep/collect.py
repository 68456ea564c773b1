"""Gathering a sweep's finished runs: OUT/summary.tsv, OUT/failed.tsv and the tidy tables of
OUT/tables."""
import csv
import json
import os

import pandas as pd

from .. import loader, schema
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


def collect(out):
    """Gathers every finished run's tables; returns the number of runs that failed or did not finish."""
    sweep = loader.read_sweep(out)
    refuse_locked_runs(out, sweep.runs)
    keys = sweep.keys
    summaries, failed, runs = [], [], []
    for run in sweep.runs:
        ended = outcome(out, run)
        tables = sweep.run(run["run"])
        summary = tables["summary"] if tables is not None else None
        gone = loader.died_out_days(tables.record if tables is not None else {})
        runs.append([run["run"], run["replicate"]] + [text_of(run["parameters"][k]) for k in keys] +
                    [run["seed"], ended["end"], ended["last_day"]] + [gone[what] for what in DIED_OUT])
        if ended["end"] not in FINISHED or summary is None:
            folder = os.path.join(out, "runs", run["run"])
            errors = os.path.join(folder, "errors.txt")
            lines = [line.strip() for line in open(errors)] if os.path.exists(errors) else []
            first = next((line for line in lines if ": warning: " not in line and ": note: " not in line), "")
            failed.append([run["run"], run["seed"], ended["status"], ended["end"], first])
            continue
        block = summary.copy()
        front = {"run": run["run"], "seed": run["seed"]}
        front.update((k, text_of(run["parameters"][k])) for k in keys)
        front.update(end=ended["end"], last_day=ended["last_day"], soilweb_version=ended["version"])
        for position, (column, value) in enumerate(front.items()):
            block.insert(position, column, value)
        summaries.append(block)
    header = ["run", "seed"] + keys + ["end", "last_day", "soilweb_version"]
    write_table(pd.concat(summaries, ignore_index=True) if summaries else pd.DataFrame(columns=header),
                os.path.join(out, "summary.tsv"), "summary")
    with open(os.path.join(out, "failed.tsv"), "w", newline="") as f:
        writer = csv.writer(f, delimiter="\t", lineterminator="\n")
        writer.writerow(["run", "seed", "exit_status", "end", "error"])
        writer.writerows(failed)
    # The tidy tables of the whole sweep: run, replicate and the swept parameters first.
    tables = os.path.join(out, "tables")
    os.makedirs(tables, exist_ok=True)
    write_table(pd.DataFrame(runs, columns=["run", "replicate"] + keys + ["seed", "status", "last_day"] +
                             [f"{what}_died_out_day" for what in DIED_OUT]).astype({f"{w}_died_out_day": "Int64"
                                                                                   for w in DIED_OUT}),
                os.path.join(tables, "runs.tsv"))
    # The genetic statistics only as the runs wrote them, not as snapshots give a part of them.
    wrote_genetics = any(t is not None and t.wrote("genetics") for t in (sweep.run(r["run"]) for r in sweep.runs))
    for name in ("summary", "traits") + (("genetics",) if wrote_genetics else ()):
        stacked = sweep[name]
        if stacked is not None:
            write_table(stacked, os.path.join(tables, name + ".tsv.gz"), name)
    done = len(sweep.runs) - len(failed)
    print(f"{done} run{'' if done == 1 else 's'} collected into {out}/summary.tsv and {out}/tables"
          + (f"; {len(failed)} failed or unfinished (see {out}/failed.tsv)" if failed else ""))
    return len(failed)
