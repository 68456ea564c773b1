"""Fuzz target: the sweep folder reader (soilweb.read_sweep and what soilweb-sweep collect reads of each run),
on damaged copies of a real sweep's sweep.json and run records. Each case cuts, flips or inserts bytes in one
of them, or puts a JSON value of another kind at one of their keys; reading must then succeed or refuse with
one line (soilweb's Unreadable, or a missing folder). Any other exception is a finding, kept under
FINDINGS/case-N with the files that caused it.
Usage: python3 sweep_reader_fuzz.py SWEEP FINDINGS SECONDS [SEED]"""
import gzip
import json
import os
import random
import shutil
import sys
import tempfile
import time
import traceback
import warnings

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python"))
from soilweb import stacked  # noqa: E402
from soilweb.safe import Unreadable  # noqa: E402
from soilweb.sweep.collect import MANIFEST, last_collect  # noqa: E402
from soilweb.sweep.parts import SweepRecord, contribution, is_current, read_part  # noqa: E402

KINDS = [None, True, 0, -1, 1.5, "", "x", [], [1], {}, {"a": 1}]


def targets(folder):
    """The files a case may damage: sweep.json, the last collect's record, and each run's record and part."""
    found = [os.path.join(folder, "sweep.json"), os.path.join(folder, MANIFEST)]
    for parent, _, files in os.walk(os.path.join(folder, "runs")):
        found += [os.path.join(parent, f) for f in files if f.endswith("_run_info.json") or f == "sweep.part"]
    return sorted(found)


def damage(path, rng):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    how = rng.randrange(4)
    if how == 0 and data:
        del data[rng.randrange(len(data)):]
    elif how == 1 and data:
        for _ in range(rng.randint(1, 8)):
            data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
    elif how == 2:
        at = rng.randrange(len(data) + 1)
        data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 16)))
    else:
        try:
            document = json.loads(data)
        except ValueError:
            return
        node = document
        for _ in range(rng.randint(1, 3)):  # a key at some depth, its value replaced by one of another kind
            if isinstance(node, dict) and node:
                key = rng.choice(sorted(node))
                if rng.random() < 0.5 or not isinstance(node[key], (dict, list)):
                    node[key] = rng.choice(KINDS)
                    break
                node = node[key]
            elif isinstance(node, list) and node:
                index = rng.randrange(len(node))
                if rng.random() < 0.5 or not isinstance(node[index], (dict, list)):
                    node[index] = rng.choice(KINDS)
                    break
                node = node[index]
            else:
                break
        data = bytearray(json.dumps(document).encode())
    with open(path, "wb") as f:
        f.write(data)


def read(folder):
    """What collect reads of a sweep, without writing anything: its record, the last collect's, and each run's
    part, or what the part would hold when it is damaged or out of date; then the loader's stacked record."""
    sweep = SweepRecord(folder)
    last_collect(os.path.join(folder, MANIFEST))
    for run in sweep.runs:
        part = read_part(folder, run["run"])
        if part is None or not is_current(folder, run["run"], part["stamps"]):
            contribution(folder, sweep, run)
        else:  # a part read back whole holds whole gzip members
            for _, body in part["blocks"].values():
                gzip.decompress(body)
    stacked.read_sweep(folder)["record"]


def main():
    pristine, findings, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    ends = time.monotonic() + seconds
    cases = found = 0
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "sweep")
        while time.monotonic() < ends:
            cases += 1
            shutil.rmtree(copy, ignore_errors=True)
            shutil.copytree(pristine, copy, symlinks=True)
            files = targets(copy)
            for _ in range(rng.randint(1, 3)):
                damage(rng.choice(files), rng)
            try:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    read(copy)
            except (Unreadable, FileNotFoundError):
                pass
            except Exception:  # noqa: BLE001 - anything else is what the fuzzer looks for
                found += 1
                kept = os.path.join(findings, f"case-{cases}")
                shutil.copytree(copy, kept, symlinks=True)
                with open(os.path.join(kept, "traceback.txt"), "w") as f:
                    f.write(traceback.format_exc())
                print(f"finding kept: {kept}\n{traceback.format_exc().splitlines()[-1]}")
    print(f"sweep_reader: {cases} cases, {found} findings")
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
