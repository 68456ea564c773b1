"""How a run's files are found and read: plain or gzip-compressed, links and FIFOs refused, the daily
layout's day files joined into one table."""
import glob
import gzip
import io
import os
import re

import numpy as np
import pandas as pd

from . import schema
from .safe import check_file


def existing(path):
    """path, or path + ".gz", whichever exists; None when neither does. A link or a FIFO there is refused."""
    for candidate in (path, path + ".gz"):
        if check_file(candidate):
            return candidate
    return None


def open_text(path):
    return gzip.open(path, "rt", newline="") if path.endswith(".gz") else open(path, newline="")


def read_tsv(path, **options):
    """A file's table, its columns in the loaders' names. index_col=False: the daily animal files end every
    line with a tab."""
    return schema.in_loader_names(pd.read_csv(path, sep="\t", index_col=False, **options))


def day_of(path):
    return int(re.search(r"_day_(\d+)\.txt(\.gz)?$", path).group(1))


def day_files(folder, kind):
    """The day files of a kind of snapshot in a run's folder, by day."""
    folder = os.path.join(folder, schema.folder_of(kind))
    found = glob.glob(os.path.join(folder, "*_day_*.txt")) + glob.glob(os.path.join(folder, "*_day_*.txt.gz"))
    return sorted(found, key=day_of)


def joined_day_files(folder, kind):
    """The day files of a kind of snapshot as one table with a leading day, as the tables layout writes
    it; None when there is none. The files' lines are joined and read at once."""
    files = day_files(folder, kind)
    if not files:
        return None
    header, bodies, days, counts = None, [], [], []
    for path in files:
        with open_text(path) as f:
            text = f.read()
        if kind == "cells":
            body = "".join(line + "\n" for line in text.splitlines() if line[:1].isdigit())  # totals aside
        else:
            header, _, body = text.partition("\n")
        bodies.append(body)
        counts.append(body.count("\n"))
        days.append(day_of(path))
    text = "".join(bodies)
    if kind == "cells":
        frame = pd.read_csv(io.StringIO(text), sep="\t", header=None, names=schema.columns("cells"))
    else:
        frame = read_tsv(io.StringIO(header + "\n" + text))
    frame.insert(0, "day", np.repeat(days, counts))
    return frame
