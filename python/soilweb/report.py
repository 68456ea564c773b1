"""The report page: one self-contained HTML page (no network needed) with the run's or the
sweep's record, every figure inline, and the files with what they hold."""
import html
import json
import os

from . import schema
from .figures.common import ending_of, species_of
from .figures.grouping import parameter_label

OUTPUTS = schema.folder_of("summary")

STYLE = """body{font-family:sans-serif;max-width:1100px;margin:2em auto;padding:0 1em;color:#222}
h1{font-size:1.5em}h2{font-size:1.2em;margin-top:2em;border-bottom:1px solid #ccc}
table{border-collapse:collapse}td,th{padding:.2em .8em;text-align:left;vertical-align:top;border-bottom:1px solid #eee}
figure{margin:1.5em 0}figure svg{max-width:100%;height:auto}figcaption{color:#555;font-size:.9em}
.ended{font-weight:bold}.warning{color:#a33}"""


def size_text(size):
    for unit in ("bytes", "KB", "MB", "GB"):
        if size < 1000 or unit == "GB":
            return f"{size:,.0f} {unit}" if unit == "bytes" else f"{size:,.1f} {unit}"
        size /= 1000


def meanings(info):
    """What each file (its name after "NAME_") and each folder of a run's folder holds, by name, from the
    schema and the file names the run's configuration chose."""
    outputs = info.get("configuration", {}).get("simulation", {}).get("outputs", {})
    known = {"plots": "these figures"}
    for entry in schema.SCHEMA["files"]:
        for path in filter(None, (entry["daily"], entry["tables"])):
            folder, name = path.split("/")[1], path.rsplit("/", 1)[1][len("NAME_"):]
            for key, value in outputs.items():
                name = name.replace(f"<{key}>", str(value))
            if "_D." in name:
                known[folder] = f"{entry['meaning']}, one file a day"
            else:
                known[name] = entry["meaning"]
                known.setdefault(folder, entry["meaning"])
    return known


def meaning_of(name, known, run):
    """What a file or folder holds: by its name, less the run's prefix and any ".gz"."""
    name = name[len(run) + 1:] if name.startswith(run + "_") else name
    return known.get(name[:-3] if name.endswith(".gz") else name, "")


def files_below(folder):
    """The sizes of every file under folder, at any depth (links are not followed)."""
    sizes = []
    for parent, folders, files in os.walk(folder):
        for name in files:
            path = os.path.join(parent, name)
            if not os.path.islink(path):
                sizes.append(os.lstat(path).st_size)
    return sizes


def files_rows(folder, known, run=""):
    """The folder's files and what they hold; a folder of daily files is one row."""
    rows = []
    for entry in sorted(os.scandir(folder), key=lambda e: e.name):
        if entry.name.startswith("."):
            continue
        if entry.is_dir(follow_symlinks=False):
            sizes = files_below(entry.path)
            if entry.name == OUTPUTS:
                rows += [(f"{OUTPUTS}/{name}", size, meaning) for name, size, meaning in
                         files_rows(entry.path, known, run)]
            else:
                rows.append((f"{entry.name}/ ({len(sizes)} file{'s' if len(sizes) != 1 else ''})", sum(sizes),
                             meaning_of(entry.name, known, run)))
        else:
            rows.append((entry.name, entry.stat().st_size, meaning_of(entry.name, known, run)))
    return rows


def table_html(rows):
    return "<table>" + "".join("<tr>" + "".join(f"<td>{html.escape(str(c))}</td>" for c in row) + "</tr>"
                               for row in rows) + "</table>"


def run_report(folder, info, title):
    ending = ending_of(info)
    ended = ending[2] if ending else f"completed: day {info.get('last_day')} of {info.get('last_day_configured')}"
    record = [("how it ended", ended), ("seed", f"{info.get('seed')} ({info.get('seed_source', '')})"),
              ("soilweb", f"{info.get('soilweb_version', '?')} (commit {info.get('commit', '?')})"),
              ("species", ", ".join(species_of(info))), ("days run", info.get("days_run")),
              ("started", info.get("start_time")),
              ("wall time", f"{info.get('wall_time_seconds', 0):.2f} s"), ("command", " ".join(
                  info.get("command_line", []))), ("host", info.get("host"))]
    warnings = info.get("warnings", [])
    body = f"<h2>Record</h2>{table_html(record)}"
    body += "<h2>Warnings</h2>" + ("<ul>" + "".join(f'<li class="warning">{html.escape(w)}</li>' for w in warnings)
                                   + "</ul>" if warnings else "<p>None.</p>")
    run = os.path.basename(os.path.normpath(folder))
    files = [(name, size_text(size), meaning) for name, size, meaning in files_rows(folder, meanings(info), run)]
    return title, body, f"<h2>Files</h2>{table_html(files)}"


def sweep_report(folder, sweep, runs, names, title):
    ends = {}
    for run in runs:
        ends[run["end"]] = ends.get(run["end"], 0) + 1
    grid = sweep.sweep["grid"]
    record = [("design", sweep.sweep.get("design", "grid")), ("master seed", sweep.sweep["master_seed"]),
              ("replicates per point", sweep.sweep["replicates"]), ("runs", len(runs)),
              ("how they ended", ", ".join(f"{n} {'died out' if e == 'extinct' else e}" for e, n in sorted(ends.items())))]
    record += [(parameter_label(k, names), json.dumps(v)) for k, v in grid.items()]
    body = f"<h2>Sweep</h2>{table_html(record)}"
    analysed = os.path.join(folder, "tables", "sensitivity.tsv")
    if os.path.exists(analysed):
        body += "<h2>Which parameters matter</h2>" + sensitivity_html(analysed)
    files = [(name, size_text(size), meaning) for name, size, meaning in files_rows(folder, {"plots": "these figures"})]
    return title, body, f"<h2>Files</h2>{table_html(files)}"


def calibration_report(folder, record, tables, posterior):
    """The calibration's record, its generations and each key's posterior against its prior (and the truth)."""
    settings, stopping = record["settings"], record["stopping"]
    generations = tables["generations"]
    done = [("master seed", record["master_seed"]), ("soilweb", record.get("soilweb_version", "?")),
            ("particles", settings["population"]), ("runs per particle", settings["replicates"]),
            ("tolerance", f"the {settings['alpha']:g}-quantile of the previous generation's distances"),
            ("generations", len(generations)), ("runs the generations used", int(generations.runs.sum())),
            ("observed", f"{record['inputs']['observed']['path']} (sha256 {record['inputs']['observed']['sha256'][:12]})"),
            ("targets", ", ".join(f"{k} = {v:g}" for k, v in record.get("targets", {}).items()) or "none"),
            ("stopping rules", ", ".join(f"{k} {v:g}" for k, v in stopping.items() if v is not None))]
    body = f"<h2>Calibration</h2>{table_html(done)}"
    head = "<tr><th>key</th><th>prior</th><th>posterior median</th><th>90 % interval</th><th>truth</th></tr>"
    body += "<h2>Posterior</h2>" + table_html(posterior).replace("<table>", "<table>" + head, 1)
    rows = [(int(g.generation), f"{g.tolerance:.4g}", int(g.runs), int(g.accepted), f"{100 * g.acceptance_rate:.1f} %",
             f"{g.ess:.1f}", f"{g.wall_seconds:.1f} s") for g in generations.itertuples()]
    head = ("<tr><th>generation</th><th>tolerance</th><th>runs</th><th>accepted</th><th>acceptance</th>"
            "<th>effective sample size</th><th>wall</th></tr>")
    body += "<h2>Generations</h2>" + table_html(rows).replace("<table>", "<table>" + head, 1)
    files = [(name, size_text(size), meaning) for name, size, meaning in
             files_rows(folder, {"figures": "these figures", "tables": "the calibration's tables",
                                 "simulated": "each run reduced to its summaries: what a stopped calibration "
                                              "carries on from", "calibration.json": "the calibration's record",
                                 "work": "the runs under way"})]
    return f"Calibration {os.path.basename(os.path.normpath(folder))}", body, f"<h2>Files</h2>{table_html(files)}"


def sensitivity_html(path):
    """The table soilweb-sweep analyse wrote, each value with its interval."""
    rows = []
    with open(path) as f:
        next(f)
        for line in f:
            outcome, parameter, measure, value, low, high = line.rstrip("\n").split("\t")
            interval = "" if low == "NA" else f"{low} to {high}"
            rows.append((outcome, parameter, measure, value, interval))
    head = "<tr><th>outcome</th><th>parameter</th><th>measure</th><th>value</th><th>95 % interval</th></tr>"
    return table_html(rows).replace("<table>", "<table>" + head, 1)


def write_report(out, parts, figures):
    title, head, tail = parts
    shown = "".join(f"<figure>{svg}<figcaption>{html.escape(caption)}</figcaption></figure>"
                    for _, caption, svg in figures.kept)
    page = (f'<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8"><title>{html.escape(title)}</title>'
            f"<style>{STYLE}</style></head><body><h1>{html.escape(title)}</h1>{head}<h2>Figures</h2>{shown}{tail}"
            "</body></html>\n")
    path = os.path.join(out, "report.html")
    with open(path, "w", encoding="utf-8") as f:
        f.write(page)
