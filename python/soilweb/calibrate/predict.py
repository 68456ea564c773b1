"""The posterior predictive check: M runs at particles of the last population drawn by weight, each with a
seed of its own (both drawn from the master seed), run as a sweep's runs are in CAL/predict; their summaries
of the observed columns, in the observed unit, make CAL/tables/predictive.tsv."""
import json
import os
import shutil

import numpy as np
import pandas as pd

from ..command import fail
from ..safe import check_file, read_json
from ..sweep.config import Keys, RunConfigs
from ..sweep.folder import make_run_folder, write_whole
from ..sweep.parts import FINISHED, RunFiles, outcome
from ..sweep.runner import ENDED, EndedLog, run_all
from .driver import RECORD, read_summary
from .inputs import column_named, summary_columns

# The generator of the draws: seeded apart from every generation's proposals (which take three numbers).
PREDICT_STREAM = 1 << 40


class Counter:
    """Counts the predictive runs as they end, for the progress line; nothing to make of them."""

    def __init__(self, out, progress):
        self.log, self.progress = EndedLog(os.path.join(out, ENDED)), progress

    def reap(self):
        self.progress.count(self.log.ended())
        self.progress.update()


def read_record(cal):
    path = os.path.join(cal, RECORD)
    if not check_file(path):
        fail(f"{cal} holds no calibration ({RECORD} is missing)")
    return read_json(path, "calibration record")


def observed_frame(record):
    """The observed table the calibration was fitted to, as the record keeps it, its columns as the summary's."""
    from io import StringIO
    text = record["observed"]
    lines = [line for line in text.splitlines() if line.strip() and not line.startswith("#")]
    frame = pd.read_csv(StringIO("\n".join(lines)), sep="\t" if "\t" in lines[0] else ",")
    known = summary_columns()
    return frame.rename(columns={c: column_named(c, known, "observed column") for c in frame.columns
                                 if c not in ("day", "series")})


def predict(cal, count, jobs, binary, keep=False):
    """Runs count posterior draws; returns (and writes) their table: draw, particle, seed, day, then each
    observed column in the observed unit."""
    record = read_record(cal)
    posterior = pd.read_csv(os.path.join(cal, "tables", "posterior.tsv"), sep="\t")
    keys = list(record["priors"])
    rng = np.random.default_rng([record["master_seed"], PREDICT_STREAM])
    weights = posterior["weight"].to_numpy()
    chosen = rng.choice(len(posterior), size=count, p=weights / weights.sum())
    seeds = rng.integers(1, 2**31 - 1, size=count)
    work = os.path.join(cal, "predict")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "runs"))
    base = json.loads(json.dumps(record["base"]))
    base["simulation"]["outputs"]["files"] = record["settings"]["files"]
    configs = RunConfigs(base, Keys(binary))
    runs = []
    for draw, (row, seed) in enumerate(zip(chosen, seeds)):
        # Column by column, so that a whole-number key stays whole.
        parameters = {k: posterior[k].iloc[int(row)].item() for k in keys}
        run = {"run": f"draw-{draw + 1:04d}", "seed": int(seed), "parameters": parameters}
        make_run_folder(work, run, lambda run=run: configs.text(run))
        runs.append((run, int(posterior["particle"].iloc[int(row)])))
    write_whole(os.path.join(work, "jobs.txt"),
                "".join(os.path.abspath(os.path.join(work, "runs", r["run"])) + "\n" for r, _ in runs))
    run_all(work, binary, jobs, reaper=Counter, name="soilweb-calibrate", what="predictive check")
    observed = observed_frame(record)
    columns = [c for c in observed.columns if c not in ("day", "series")]
    scale = record["distance"]["scale"]
    rows = []
    for draw, (run, particle) in enumerate(runs):
        name = run["run"]
        if outcome(work, run)["end"] not in FINISHED:
            continue
        files = RunFiles(work, name)
        summary = read_summary(files.text(files.summary(files.record())))
        for day in sorted(next(iter(summary.values()))):
            rows.append([draw + 1, particle, run["seed"], day] +
                        [summary[c][day] * scale.get(c, 1.0) for c in columns])
    if not keep:
        shutil.rmtree(work)
    table = pd.DataFrame(rows, columns=["draw", "particle", "seed", "day"] + columns)
    table.to_csv(os.path.join(cal, "tables", "predictive.tsv"), sep="\t", index=False, na_rep="NA")
    return table
