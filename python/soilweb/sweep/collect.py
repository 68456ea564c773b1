"""Gathering a sweep's finished runs: OUT/summary.tsv, OUT/failed.tsv and the tidy tables of OUT/tables.

Each run's share is its part (parts.py), made once as the run ends; collect makes the parts still missing
(in parallel), then joins the parts' bytes in the runs' order. A collect of a sweep where nothing has changed
since the last one sees so from the files' stamps alone and rewrites nothing."""
import concurrent.futures
import csv
import gzip
import io
import json
import os
import sys

from .. import schema
from ..safe import NotOurs, Unreadable, check_file, read_json
from .folder import write_whole
from .parts import DIED_OUT, QUASI_EXTINCT, SweepRecord, is_current, make_part, part_path, quoted, read_part, stamp_of
from .runner import refuse_locked_runs

# What collect wrote last, with the stamps of everything it was made from.
MANIFEST = ".collected.json"


def write_table(frame, path, table=None):
    """A tidy table as soilweb writes its own: tab-separated, reals with six significant digits, the columns of
    a run's table by their names in its file (as these tables have always had them)."""
    schema.in_file_names(frame, table).to_csv(path, sep="\t", index=False, float_format="%.6g", na_rep="NA", lineterminator="\n")


_sweep = None


def without_bodies(part):
    """A part with its blocks' headers only: the bodies are read again, one part at a time, as the tables are
    written."""
    return dict(part, blocks={table: (header, None) for table, (header, _) in part["blocks"].items()})


def _part_in_worker(out, name):
    """make_part in a worker process, which reads sweep.json once."""
    global _sweep
    if _sweep is None or _sweep.out != out:
        _sweep = SweepRecord(out)
    return without_bodies(make_part(out, _sweep, name))


def made_parts(out, sweep, names, jobs):
    """The parts of the runs named, made now (without their bodies): in parallel over jobs processes when
    there are many."""
    if jobs <= 1 or len(names) < 4 * jobs:
        return [without_bodies(make_part(out, sweep, name)) for name in names]
    with concurrent.futures.ProcessPoolExecutor(max_workers=jobs) as pool:
        return list(pool.map(_part_in_worker, [out] * len(names), names, chunksize=max(1, len(names) // (8 * jobs))))


def current_parts(out, sweep, jobs):
    """Every run's part in the runs' order, without its bodies: kept ones whose files are unchanged, the others
    made now."""
    parts, todo = {}, []
    for run in sweep.runs:
        part = read_part(out, run["run"])
        if part is not None and is_current(out, run["run"], part["stamps"]):
            parts[run["run"]] = without_bodies(part)
        else:
            todo.append(run["run"])
    for part in made_parts(out, sweep, todo, jobs):
        parts[part["run"]] = part
    return [parts[run["run"]] for run in sweep.runs]


# Where each section of the parts goes, relative to OUT, and whether it is compressed there.
SECTIONS = {"summary.tsv": ("summary.tsv", False), "summary": (os.path.join("tables", "summary.tsv.gz"), True),
            "traits": (os.path.join("tables", "traits.tsv.gz"), True),
            "genetics": (os.path.join("tables", "genetics.tsv.gz"), True)}


def write_sections(out, parts):
    """The joined tables, written as the parts are read one at a time: a header, then each run's block as its
    part keeps it, in the runs' order. A table whose runs' columns differ is joined in memory instead. Returns
    the files written, relative to OUT."""
    headers = {}
    for part in parts:
        for section, (header, _) in part["blocks"].items():
            headers.setdefault(section, []).append(header)
    streamed = {section for section, found in headers.items() if all(h == found[0] for h in found)}
    files, bodies = {}, {section: [] for section in headers if section not in streamed}
    for section in streamed:
        path, compressed = SECTIONS[section]
        files[section] = open(os.path.join(out, path + ".partial"), "wb")
        head = headers[section][0].encode()
        files[section].write(gzip.compress(head, 6, mtime=0) if compressed else head)
    for part in parts:
        if not part["blocks"]:
            continue
        kept = read_part(out, part["run"])
        for section, (header, body) in (kept["blocks"].items() if kept else ()):
            if section in files:
                files[section].write(body if SECTIONS[section][1] else gzip.decompress(body))
            elif section in bodies:
                bodies[section].append((header, body))
    for section, f in files.items():
        f.close()
        os.replace(f.name, f.name[:-len(".partial")])
    for section, blocks in bodies.items():
        path, compressed = SECTIONS[section]
        write_whole(os.path.join(out, path), united(blocks, compressed))
    return [SECTIONS[section][0] for section in headers]


def united(blocks, compressed):
    """Blocks whose columns differ (a column only some runs write): one table of every column, in the order
    first seen, NA where a run has none."""
    import pandas as pd
    frames = []
    for head, body in blocks:
        text = head + gzip.decompress(body).decode()
        frames.append(pd.read_csv(io.StringIO(text), sep="\t", dtype=str, keep_default_na=False))
    data = pd.concat(frames, ignore_index=True).to_csv(sep="\t", index=False, na_rep="NA", lineterminator="\n").encode()
    return gzip.compress(data, 6, mtime=0) if compressed else data


def failed_table(parts):
    text = io.StringIO()
    writer = csv.writer(text, delimiter="\t", lineterminator="\n")
    writer.writerow(["run", "seed", "exit_status", "end", "error"])
    writer.writerows(part["failed_row"] for part in parts if part["failed_row"])
    return text.getvalue().encode()


def write_outputs(out, sweep, parts):
    """Writes summary.tsv, failed.tsv and the tables of OUT/tables; returns the files written, relative to OUT."""
    os.makedirs(os.path.join(out, "tables"), exist_ok=True)
    written = write_sections(out, parts)
    others = {"failed.tsv": failed_table(parts)}
    if "summary.tsv" not in written:  # no run collected: the header alone
        front = ["run", "seed"] + sweep.keys + ["end", "last_day", "soilweb_version"]
        others["summary.tsv"] = ("\t".join(quoted(name) for name in front) + "\n").encode()
    header = ["run", "replicate"] + sweep.keys + ["seed", "status", "last_day"] + \
        [f"{what}_died_out_day" for what in DIED_OUT] + [f"{what}_quasi_extinct_day" for what in QUASI_EXTINCT]
    others[os.path.join("tables", "runs.tsv")] = ("\t".join(quoted(name) for name in header) + "\n" +
                                                  "".join(part["runs_row"] for part in parts)).encode()
    for relative, data in others.items():
        write_whole(os.path.join(out, relative), data)
    return written + list(others)


def last_collect(path):
    """What the last collect recorded; None when there is none or it cannot be read (then every file is
    written again)."""
    try:
        manifest = read_json(path, "record of the last collect") if check_file(path) else None
    except NotOurs:
        raise
    except Unreadable:
        return None
    keys = ("runs", "outputs", "said", "summary", "failed")
    return manifest if isinstance(manifest, dict) and all(key in manifest for key in keys) else None


def unchanged(out, sweep, manifest):
    """The runs' parts and collect's files are as the last collect left them."""
    runs = manifest["runs"]
    if not isinstance(runs, dict) or list(runs) != [run["run"] for run in sweep.runs]:
        return False
    for name, kept in runs.items():
        if stamp_of(part_path(out, name)) != kept.get("part") or not is_current(out, name, kept.get("stamps", {})):
            return False
    return all(stamp_of(os.path.join(out, path)) == stamp for path, stamp in manifest["outputs"].items())


def say(lines, summary):
    for line in lines:
        print(line, file=sys.stderr)
    print(summary)


def collect(out, jobs=1):
    """Gathers every finished run's tables; returns the number of runs that failed or did not finish. A run
    whose record does not match sweep.json, or whose tables cannot be read, is reported and counted as failed;
    the others are collected."""
    sweep = SweepRecord(out)
    refuse_locked_runs(out, sweep.runs)
    path = os.path.join(out, MANIFEST)
    manifest = last_collect(path)
    if manifest is not None and unchanged(out, sweep, manifest):
        say(manifest["said"], manifest["summary"])
        return manifest["failed"]
    parts = current_parts(out, sweep, jobs)
    written = write_outputs(out, sweep, parts)
    failed = sum(1 for part in parts if part["failed_row"])
    done = len(parts) - failed
    said = [f"soilweb-sweep: {part['run']}: {part['problem']}; counted as failed" for part in parts if part["problem"]]
    summary = (f"{done} run{'' if done == 1 else 's'} collected into {out}/summary.tsv and {out}/tables"
               + (f"; {failed} failed or unfinished (see {out}/failed.tsv)" if failed else ""))
    kept = {"runs": {part["run"]: {"part": stamp_of(part_path(out, part["run"])), "stamps": part["stamps"]}
                     for part in parts},
            "outputs": {relative: stamp_of(os.path.join(out, relative)) for relative in written},
            "said": said, "summary": summary, "failed": failed}
    write_whole(path, json.dumps(kept).encode())
    say(said, summary)
    return failed
