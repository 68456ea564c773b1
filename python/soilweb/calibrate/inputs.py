"""What a calibration is fitted to and over: the observed table (a day column, summary columns, an optional
series column for several observed replicates), scalar targets in the outcomes' vocabulary, and the priors of
the keys it fits, each checked against the keys soilweb reads. Every problem is one line naming what is
wrong."""
import csv
import difflib
import io
import math
import re

from .. import schema
from ..command import fail, usage
from ..safe import Unreadable, read_text
from ..sweep.config import SWEEP_KEYS, check_grid_key, resolve
from .smc import Prior

# Observed tables are small; a larger file is not one.
MOST_OBSERVED = 64 << 20
NUMBER = r"-?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?"


class Observed:
    """The observations: (column as the summary file names it, day, series, value) for each value given."""

    def __init__(self, entries, columns, series):
        self.entries, self.columns, self.series = entries, columns, series

    def days(self, column):
        return sorted({day for c, day, _, _ in self.entries if c == column})


def summary_columns():
    """The summary's columns as its file names them (the optional ones too), the day aside."""
    return [c for c in schema.file_columns("summary", optional=True) if c != "DAY"]


def column_named(name, columns, what):
    """A summary column from its file's name or the loaders' (PREY_ACTIVE or prey_active)."""
    for column in columns:
        if name == column or name == schema.loader_name(column, "summary") or name.upper() == column:
            return column
    near = difflib.get_close_matches(name.upper(), columns, n=1, cutoff=0.6)
    fail(f"{what} '{name}' is not a summary column" + (f"; did you mean '{near[0]}'?" if near else
                                                        f"; choose from {', '.join(columns)}"))


def read_observed(path, last_day):
    """The observed table: tab- or comma-separated, with a day column, summary columns and optionally series."""
    try:
        text = read_text(path, MOST_OBSERVED)
    except FileNotFoundError:
        fail(f"there is no observed table {path}")
    except Unreadable as e:
        fail(str(e))
    except OSError as e:
        fail(f"cannot read the observed table {path}: {e.strerror or e}")
    lines = [line for line in text.splitlines() if line.strip() and not line.startswith("#")]
    if len(lines) < 2:
        fail(f"the observed table {path} has no rows under its header")
    delimiter = "\t" if "\t" in lines[0] else ","
    rows = list(csv.reader(io.StringIO("\n".join(lines)), delimiter=delimiter))
    header = [name.strip() for name in rows[0]]
    if "day" not in header:
        fail(f"the observed table {path} has no 'day' column (its columns: {', '.join(header)})")
    if len(set(header)) != len(header):
        fail(f"the observed table {path} names a column twice")
    known = summary_columns()
    columns = {name: column_named(name, known, "observed column") for name in header if name not in ("day", "series")}
    if not columns:
        fail(f"the observed table {path} has no summary column beside its day")
    entries, seen = [], set()
    for number, row in enumerate(rows[1:], start=2):
        if len(row) != len(header):
            fail(f"{path}: line {number} has {len(row)} fields under a header of {len(header)}")
        fields = dict(zip(header, (value.strip() for value in row)))
        day = whole_day(fields["day"], path, number)
        if day > last_day:
            fail(f"{path}: line {number}: day {day} is beyond the run's last day {last_day} (simulation.days)")
        series = fields.get("series", "")
        if (series, day) in seen:
            fail(f"{path}: line {number}: day {day}" + (f" of series '{series}'" if series else "") + " given twice")
        seen.add((series, day))
        for name, column in columns.items():
            value = number_of(fields[name], path, number, name)
            if value is not None:
                entries.append((column, day, series, value))
    for name, column in columns.items():
        if not any(c == column for c, _, _, _ in entries):
            fail(f"the observed column '{name}' of {path} has no value (every one is missing)")
    return Observed(entries, list(columns.values()), "series" in header)


def whole_day(text, path, line):
    if not re.fullmatch(r"\d+", text):
        fail(f"{path}: line {line}: the day '{text}' is not a whole number of at least 0")
    return int(text)


def number_of(text, path, line, name):
    """A value of the observed table; None for a missing one (empty, NA, nan)."""
    if text in ("", "NA", "na", "NaN", "nan", "."):
        return None
    try:
        value = float(text)
    except ValueError:
        fail(f"{path}: line {line}: '{name}' is '{text}', not a number")
    if not math.isfinite(value):
        fail(f"{path}: line {line}: '{name}' is '{text}', not a finite number")
    return value


def parse_assignments(items, what, number=True):
    """NAME=VALUE options (--scale, --weight, --transform, --target, --truth) as a dict, in the given order."""
    found = {}
    for item in items or []:
        name, sep, value = item.partition("=")
        if not sep or not name or not value:
            usage(f"{what} '{item}' is not NAME=VALUE")
        if number:
            try:
                value = float(value)
            except ValueError:
                usage(f"{what} '{item}': '{value}' is not a number")
            if not math.isfinite(value):
                usage(f"{what} '{item}': '{value}' is not a finite number")
        found[name] = value
    return found


def key_range(info, base):
    """The values soilweb takes for a key, as (lowest, highest, whether the lowest itself is refused), from the
    range its key table states; unbounded where it states none this can read."""
    text = info.get("range", "")
    both = re.match(rf"({NUMBER}) \.\.\. ({NUMBER})", text)
    if both:
        return float(both.group(1)), float(both.group(2)), False
    if text.startswith("0 or 1"):
        return 0.0, 1.0, False
    low = re.match(rf"(>=?) ({NUMBER})", text)
    if low:
        return float(low.group(2)), math.inf, low.group(1) == ">"
    between = re.fullmatch(r"from (\w+) to (\w+)", text)
    if between:
        simulation = base.get("simulation", {})
        ends = [simulation.get(name) for name in between.groups()]
        if all(isinstance(end, (int, float)) and not isinstance(end, bool) for end in ends):
            return float(ends[0]), float(ends[1]), False
    return -math.inf, math.inf, False


def read_priors(document, base, keys):
    """The priors of a calibration from their JSON: key -> {"min", "max"} (uniform), with "scale": "log"
    (log-uniform), or {"mean", "sd"} (normal, truncated to the key's range); in the document's order."""
    if not isinstance(document, dict) or not document:
        fail("the priors must be a JSON object of key path -> {\"min\": a, \"max\": b} or {\"mean\": m, \"sd\": s}")
    priors = []
    for key, spec in document.items():
        if key in SWEEP_KEYS:
            fail(f"prior key '{key}' is set by the calibration itself; leave it out of the priors")
        if any(part.startswith("//") for part in key.split(".")):
            fail(f"prior key '{key}' is a comment: soilweb does not read it, so fitting it would change nothing")
        check_grid_key(key, keys)
        resolve(base, key, keys)
        info = keys.info(key)
        if "integer" not in info.get("type", "") and "real" not in info.get("type", "") and \
                info.get("type") not in (None, "list", "list of lenient reals", "list of lenient integers"):
            fail(f"prior key '{key}' is a {info['type']} key: only numbers can be fitted")
        priors.append(prior_of(key, spec, key_range(info, base), keys.is_whole_number(key)))
    return priors


def prior_of(key, spec, valid, whole):
    low, high, open_low = valid
    if not isinstance(spec, dict) or not spec:
        fail(f"prior of '{key}': give {{\"min\": a, \"max\": b}} (with \"scale\": \"log\" for a log-uniform one) "
             f"or {{\"mean\": m, \"sd\": s}}")
    numbers = {name: value for name, value in spec.items() if name != "scale"}
    for name, value in numbers.items():
        if name not in ("min", "max", "mean", "sd"):
            fail(f"prior of '{key}': unknown field '{name}' (min, max, scale, mean, sd)")
        if not isinstance(value, (int, float)) or isinstance(value, bool) or not math.isfinite(value):
            fail(f"prior of '{key}': {name} must be a finite number, not {value!r}")
    scale = spec.get("scale", "linear")
    if scale not in ("linear", "log"):
        fail(f"prior of '{key}': scale must be \"linear\" or \"log\", not {scale!r}")
    if set(numbers) == {"min", "max"}:
        a, b = numbers["min"], numbers["max"]
        if a >= b:
            fail(f"prior of '{key}': min {a:g} is not below max {b:g}")
        if a < low or b > high or (open_low and a <= low):
            fail(f"prior of '{key}': [{a:g}, {b:g}] goes outside the key's range ({range_text(valid)})")
        if scale == "log" and a <= 0:
            fail(f"prior of '{key}': a log-scale prior needs min above 0, not {a:g}")
        if whole and (a != int(a) or b != int(b)):
            fail(f"prior of '{key}': the key takes whole numbers; give whole min and max")
        return Prior(key, "log" if scale == "log" else "uniform", a, b, whole=whole)
    if set(numbers) == {"mean", "sd"} and scale == "linear":
        if numbers["sd"] <= 0:
            fail(f"prior of '{key}': sd must be above 0, not {numbers['sd']:g}")
        if not low <= numbers["mean"] <= high or (open_low and numbers["mean"] <= low):
            fail(f"prior of '{key}': the mean {numbers['mean']:g} is outside the key's range ({range_text(valid)})")
        return Prior(key, "normal", low, high, mean=numbers["mean"], sd=numbers["sd"], whole=whole)
    fail(f"prior of '{key}': give min and max (uniform; \"scale\": \"log\" for log-uniform) or mean and sd "
         f"(normal), not {', '.join(sorted(spec))}")


def range_text(valid):
    low, high, open_low = valid
    if math.isinf(high):
        return f"{'>' if open_low else '>='} {low:g}"
    return f"{low:g} ... {high:g}"
