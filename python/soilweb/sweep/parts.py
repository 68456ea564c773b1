"""Each finished run's share of the sweep's tables, its part: its row of runs.tsv, its row of failed.tsv when
it failed, and its blocks of summary.tsv and of the stacked tables, formatted once as the run ends and kept in
the run's folder (runs/RUN/sweep.part). collect then only joins the parts' bytes in the runs' order.

A part names the files it was made from with their sizes and times: a run redone, by the sweep or by hand, or
a table damaged afterwards, no longer matches its part, which is then made again. Reading needs no pandas: the
columns' types come from the schema, and each value is written as the sweep's tables have always written it
(reals with six significant digits, NA for a missing value)."""
import gzip
import json
import os
import zlib

from .. import records, schema
from ..safe import RECORD_MOST_READ, NotOurs, Unreadable, check_file, check_folder, read_bytes, read_json, \
    read_text

PART = "sweep.part"
PART_FORMAT = 2
# What a run may lose, each with a column in runs.tsv: the day after which it was first found gone.
DIED_OUT = ("resource", "prey", "predators")
# Texts pandas reads as a missing value, so the sweep's tables have always written them NA.
MISSING = frozenset(("", "NA", "N/A", "NaN", "nan", "-NaN", "-nan", "NULL", "null", "n/a", "#N/A", "#N/A N/A",
                     "#NA", "-1.#IND", "-1.#QNAN", "1.#IND", "1.#QNAN", "<NA>", "None"))
# The stacked tables' blocks are compressed as the run ends, at zlib's fastest level: the sweep does it
# beside its runs, on the same processors.
COMPRESSION = 1


# How a run ended, as its record says; these need not run again.
FINISHED = ("completed", "extinct")


def outcome(out, run, record=None):
    """What a run left: its exit status, how it ended, its last day and version. record: its record, when
    read already."""
    folder = os.path.join(out, "runs", run["run"])
    if not check_folder(folder) or not check_folder(os.path.join(folder, run["run"])):
        return {"status": "not run", "end": "not run", "last_day": "", "version": ""}
    status_path = os.path.join(folder, "exit_status")
    status = read_text(status_path, 64).strip() if check_file(status_path) else "not run"
    info_path = os.path.join(folder, run["run"], "outputs", run["run"] + "_run_info.json")
    info = {} if record is None else record
    if record is None and check_file(info_path):
        try:
            info = read_json(info_path, "run's record", RECORD_MOST_READ)
        except Unreadable:
            if not check_file(info_path):
                raise
        info = info if isinstance(info, dict) else {}
    end = info.get("status", "not run")
    if status != "0" and end in FINISHED + ("running",):
        end = "failed"  # a run that exits non-zero failed, whatever it wrote before
    last_day = info.get("last_day")
    return {"status": status, "end": end, "last_day": "" if last_day is None else str(last_day),
            "version": info.get("soilweb_version", "")}


def text_of(value):
    return value if isinstance(value, str) else json.dumps(value)


def quoted(text):
    """A field as a tab-separated table quotes it: only when it holds a tab, a quote or a line break."""
    if "\t" in text or '"' in text or "\n" in text or "\r" in text:
        return '"' + text.replace('"', '""') + '"'
    return text


def cell(value, kind):
    """One value as the sweep's tables write it: a real with six significant digits, a whole number as it is,
    NA for a missing value, anything else as text."""
    if value is None or (isinstance(value, str) and value in MISSING) or (isinstance(value, float) and value != value):
        return "NA"
    if kind == "real":
        return "%.6g" % float(value)
    if kind == "integer":
        return str(int(float(value))) if isinstance(value, float) else str(int(value))
    return quoted(str(value))


def column_types(table, header):
    types = {c["name"]: c["type"] for c in schema.FILES[table]["columns"]}
    return [types.get(name, "text") for name in header]


def parameter_formats(sweep):
    """How each swept key's values are written in the stacked tables, as one column of the whole sweep: whole
    numbers as they are, a mix of reals and whole numbers with six significant digits, other values as text."""
    formats = {}
    for key in sweep["grid"]:
        values = [run["parameters"][key] for run in sweep["runs"]]
        numbers = [v for v in values if isinstance(v, (int, float)) and not isinstance(v, bool)]
        if len(numbers) == len(values) and any(isinstance(v, float) for v in values):
            formats[key] = "real"
        elif len(numbers) == len(values):
            formats[key] = "integer"
        else:
            formats[key] = "text"
    return formats


class SweepRecord:
    """What a sweep's parts are made from: sweep.json read once, each run with its replicate number."""

    def __init__(self, out):
        self.out = out
        path = os.path.join(out, "sweep.json")
        self.record = read_json(path, "sweep record")
        records.check_sweep_record(self.record, path)
        self.keys = list(self.record["grid"])
        self.formats = parameter_formats(self.record)
        self.runs, seen = [], {}
        for run in self.record["runs"]:
            point = json.dumps(run["parameters"], sort_keys=True)
            seen[point] = seen.get(point, 0) + 1
            self.runs.append(dict(run, replicate=seen[point]))
        self.by_name = {run["run"]: run for run in self.runs}

    def table_front(self, run):
        """The columns in front of a run's rows of a stacked table: run, replicate, the swept keys' values."""
        names = ["run", "replicate"] + self.keys
        values = [quoted(run["run"]), str(run["replicate"])]
        for key in self.keys:
            value = run["parameters"][key]
            if not isinstance(value, (int, float, str)):
                value = json.dumps(value)
            values.append(cell(value, self.formats[key]) if self.formats[key] != "text" else quoted(str(value)))
        return names, values


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


def first_error(folder):
    """The first line of a run's errors that is neither a warning nor a note."""
    errors = os.path.join(folder, "errors.txt")
    lines = [line.strip() for line in read_text(errors, 1 << 20).splitlines()] if check_file(errors) else []
    return next((line for line in lines if ": warning: " not in line and ": note: " not in line), "")


def stamp_of(path):
    """A file's size and modification time, which change when it is written again; None when it is absent."""
    try:
        found = os.lstat(path)
    except FileNotFoundError:
        return None
    return [found.st_size, found.st_mtime_ns]


class RunFiles:
    """The files of one run a part is made from, each noted with its stamp as it is read."""

    def __init__(self, out, name):
        self.folder = os.path.join(out, "runs", name)
        self.outputs = os.path.join(self.folder, name, "outputs")
        self.name = name
        self.stamps = {}

    def note(self, relative):
        self.stamps[relative] = stamp_of(os.path.join(self.folder, relative))

    def output(self, file):
        """The relative path of one of the run's outputs, plain or compressed; None when neither is there."""
        for candidate in (file, file + ".gz"):
            relative = os.path.join(self.name, "outputs", f"{self.name}_{candidate}")
            if check_file(os.path.join(self.folder, relative)):
                return relative
        return None

    def text(self, relative):
        """A table's text, read whole (a damaged compressed file raises)."""
        self.note(relative)
        data = read_bytes(os.path.join(self.folder, relative), RECORD_MOST_READ)
        if relative.endswith(".gz"):
            data = gzip.decompress(data)
        return data.decode()

    def record(self):
        self.note("exit_status")
        relative = os.path.join(self.name, "outputs", f"{self.name}_{schema.file_name('record')}")
        self.note(relative)
        path = os.path.join(self.folder, relative)
        record = read_json(path, "run's record", RECORD_MOST_READ) if check_file(path) else {}
        if record:
            records.check_record(record, path)
        return record

    def summary(self, record):
        """The relative path of the run's summary: the name its configuration gives, else the file that starts
        as a summary does."""
        outputs = record.get("configuration", {}).get("simulation", {}).get("outputs", {})
        name = outputs.get("summaryFilename") if isinstance(outputs, dict) else None
        if name:
            return self.output(name)
        start = "\t".join(schema.file_columns("summary")[:2]) + "\t"
        for candidate in sorted(os.listdir(self.outputs)) if check_folder(self.outputs) else []:
            relative = os.path.join(self.name, "outputs", candidate)
            if not check_file(os.path.join(self.folder, relative)):
                continue
            try:
                with (gzip.open if candidate.endswith(".gz") else open)(os.path.join(self.folder, relative), "rt") as f:
                    if f.readline().startswith(start):
                        return relative
            except (OSError, EOFError, zlib.error, UnicodeDecodeError):
                continue
        return None


# The species whose quasi-extinction runs.tsv gives, and their summary columns' prefix.
QUASI_EXTINCT = {"prey": "PREY", "predators": "PREDATOR"}


def quasi_extinct_days(header, rows):
    """Per species, the first day of the summary on which no breeding pair was possible any more (fewer than
    two living animals, eggs included); None when there was always one."""
    days = {}
    day = header.index("DAY")
    for what, prefix in QUASI_EXTINCT.items():
        living = [header.index(f"{prefix}_{state}") for state in ("UNBORN", "ACTIVE", "REPRODUCING")]
        for row in rows:
            fields = row.split("\t")
            if sum(int(fields[k]) for k in living) < 2:
                days[what] = int(fields[day])
                break
    return days


def rows_of(text, table):
    """A table's header and its lines, each value written as the sweep's tables write it. soilweb writes every
    real with six significant digits as these tables do, so a line whose values need no other form (no
    missing value but NA, no text to quote) is kept as it is; only the others are written value by value."""
    lines = text.splitlines()
    if not lines:
        return [], []
    header = lines[0].split("\t")
    kinds = column_types(table, header)
    texts = [k for k, kind in enumerate(kinds) if kind == "text"]
    lead = max(texts, default=-1) + 1  # the fields to look at: up to the last text column
    rows = []
    for line in lines[1:]:
        fields = line.count("\t") + 1
        if fields != len(header):
            raise ValueError(f"a line of {fields} fields under a header of {len(header)}")
        first = line.split("\t", lead)
        if "nan" in line or '"' in line or "\t\t" in line or line[:1] in ("", "\t") or line.endswith("\t") or \
                any(first[k] in MISSING for k in texts):
            line = "\t".join(cell(value, kind) for value, kind in zip(line.split("\t"), kinds))
        rows.append(line)
    return header, rows


def frame_rows(frame, table):
    """The header and lines of a table the loader made (the trait statistics of a run written day by day)."""
    frame = schema.in_file_names(frame, table)
    header = list(frame.columns)
    kinds = column_types(table, header)
    return header, ["\t".join(cell(v, kind) for v, kind in zip(values, kinds)) for values in frame.itertuples(index=False)]


def block(front_names, front_values, header, rows):
    """A header line and the body of a run's lines with the front columns before them."""
    lead = "\t".join(front_values) + "\t"
    return ("\t".join(quoted(name) for name in front_names + header) + "\n",
            "".join(lead + row + "\n" for row in rows))


def derived_traits(files):
    """The trait statistics of a run written day by day, made from its end-of-day snapshots by the loader."""
    import warnings
    from ..loader import Run
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        frame = Run(os.path.join(files.folder, files.name))["traits"]
    return None if frame is None or frame.empty else frame_rows(frame, "traits")


def contribution(out, sweep, run):
    """What a run adds to the sweep's tables: its rows of runs.tsv and failed.tsv, its blocks, the problem that
    made it count as failed (said by collect) and the stamps of the files they were made from."""
    name = run["run"]
    files = RunFiles(out, name)
    problem, blocks = "", {}
    try:
        record = files.record()
        problem = record_mismatch(run, record, sweep.keys)
    except NotOurs:
        raise
    except Unreadable as e:  # a damaged record: the run failed, the others are collected
        record, problem = {}, str(e)
    ended = outcome(out, run, record)
    quasi = {}
    if not problem and ended["end"] in FINISHED:
        problem, blocks = tables_of(files, sweep, run, ended, record)
        quasi = blocks.pop("quasi", {})
    if problem:
        ended = dict(ended, end="failed")
    gone = records.died_out_days(record)
    runs_row = [quoted(name), str(run["replicate"])] + [quoted(text_of(run["parameters"][k])) for k in sweep.keys] + \
        [str(run["seed"]), quoted(ended["end"]), quoted(ended["last_day"])] + \
        [cell(gone[what], "integer") for what in DIED_OUT] + \
        [cell(quasi.get(what), "integer") for what in QUASI_EXTINCT]
    failed_row = None
    if problem or ended["end"] not in FINISHED:
        failed_row = [name, run["seed"], ended["status"], ended["end"], problem or first_error(files.folder)]
        blocks = {}
    return {"run": name, "stamps": files.stamps, "problem": problem, "runs_row": "\t".join(runs_row) + "\n",
            "failed_row": failed_row, "blocks": blocks}


def tables_of(files, sweep, run, ended, record):
    """The blocks of a finished run (summary.tsv, then each stacked table), or the problem that keeps them out."""
    blocks = {}
    try:
        path = files.summary(record)
        if path is None:
            return "it wrote no summary", {}
        header, rows = rows_of(files.text(path), "summary")
    except (OSError, EOFError, ValueError, zlib.error) as e:
        return f"its summary cannot be read ({records.damage_of(e)})", {}
    last = record.get("last_day")
    ends = rows[-1].split("\t")[header.index("DAY")] if rows and "DAY" in header else None
    if isinstance(last, int) and ends is not None and ends.isdigit() and int(ends) < last:
        return f"its summary ends at day {ends}, short of the record's last day {last} (cut short or damaged)", {}
    front = ["run", "seed"] + sweep.keys + ["end", "last_day", "soilweb_version"]
    values = [quoted(run["run"]), str(run["seed"])] + [quoted(text_of(run["parameters"][k])) for k in sweep.keys] + \
        [quoted(ended["end"]), quoted(ended["last_day"]), quoted(ended["version"])]
    blocks["summary.tsv"] = block(front, values, header, rows)
    blocks["quasi"] = quasi_extinct_days(header, rows)
    names, lead = sweep.table_front(run)
    blocks["summary"] = block(names, lead, header, rows)
    try:
        for table in ("traits", "genetics"):
            path = files.output(schema.file_name(table))
            if path is not None:
                header, rows = rows_of(files.text(path), table)
                found = (header, rows) if rows else None
            elif table == "traits" and check_folder(os.path.join(files.folder, files.name,
                                                                 schema.folder_of("animals_end"))):
                found = derived_traits(files)
            else:
                found = None
            if found:
                blocks[table] = block(names, lead, *found)
    except (OSError, EOFError, ValueError, zlib.error) as e:
        return f"its tables cannot be read ({records.damage_of(e)})", {}
    return "", blocks


# ---- the part on disk ----------------------------------------------------------------------------
# One file, replaced whole: the CRC-32 of the rest in hexadecimal on a line, a line of JSON (the rows, the
# problem, the stamps, each block's header and the length of its body), then the bodies one after another,
# each a gzip member: collect joins the stacked tables' members as they are, and decompresses summary.tsv's.

def part_path(out, name):
    return os.path.join(out, "runs", name, PART)


def encoded(part):
    """A contribution with its bodies as the part keeps them, each a gzip member."""
    blocks = {table: (header, gzip.compress(body.encode(), COMPRESSION, mtime=0))
              for table, (header, body) in part["blocks"].items()}
    return dict(part, blocks=blocks)


def write_part(out, part):
    """Keeps an encoded contribution as the run's part, whole or not at all."""
    meta = {key: part[key] for key in ("run", "stamps", "problem", "runs_row", "failed_row")}
    meta["format"] = PART_FORMAT
    meta["sections"] = [[table, header, len(body)] for table, (header, body) in part["blocks"].items()]
    content = json.dumps(meta).encode() + b"\n" + b"".join(body for _, body in part["blocks"].values())
    path = part_path(out, part["run"])
    check_file(path)
    with open(path + ".partial", "wb") as f:
        f.write(b"%08x\n" % zlib.crc32(content) + content)
    os.replace(path + ".partial", path)


def read_part(out, name):
    """A run's part as written, with its bodies as bytes; None when it has none, or it is not whole as written
    (its checksum differs: a part damaged on disk is made again, never joined)."""
    path = part_path(out, name)
    if not check_file(path):
        return None
    checksum, _, content = read_bytes(path, RECORD_MOST_READ).partition(b"\n")
    if checksum != b"%08x" % zlib.crc32(content):
        return None
    head, _, rest = content.partition(b"\n")
    try:
        part = json.loads(head)
        if part.get("format") != PART_FORMAT:  # made by another version: made again
            return None
        blocks, at = {}, 0
        for table, header, length in part["sections"]:
            blocks[table] = (header, rest[at:at + length])
            at += length
    except (ValueError, KeyError, TypeError):
        return None
    if at != len(rest):
        return None
    part["blocks"] = blocks
    return part


def is_current(out, name, stamps):
    """Whether the files a part was made from are as they were then."""
    folder = os.path.join(out, "runs", name)
    return all(stamp_of(os.path.join(folder, relative)) == stamp for relative, stamp in stamps.items())


def has_ended(out, name):
    """A run's wrapper writes its exit status as it ends (and removes it as a run starts again)."""
    return check_file(os.path.join(out, "runs", name, "exit_status"))


def make_part(out, sweep, name):
    """The contribution of a run, kept as its part when the run has ended (one not ended is kept nowhere)."""
    part = encoded(contribution(out, sweep, sweep.by_name[name]))
    if has_ended(out, name):
        write_part(out, part)
    return part


def make_parts(out, names):
    """The parts of the runs named (run folders' paths or run names) that have ended: what the launcher calls
    as runs end."""
    sweep = SweepRecord(out)
    for name in names:
        name = os.path.basename(os.path.normpath(name))
        if name in sweep.by_name and has_ended(out, name):
            make_part(out, sweep, name)
