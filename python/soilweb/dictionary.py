"""The data dictionary: every result file and column of the schema (a run's, a calibration's, and the tables soilweb-plot makes of a pedigree) as
one Markdown table.

    python3 -m soilweb.dictionary                  # prints it
    python3 -m soilweb.dictionary docs/outputs.md  # writes it into that page, between its markers
"""
import sys

from .schema import SCHEMA


def data_dictionary():
    """Every file and column as one Markdown table, as docs/outputs.md holds it."""
    rows = ["| File | Column | Type | Unit | Meaning |", "|---|---|---|---|---|"]
    for f in SCHEMA["files"]:
        places = " or ".join(f"`{p}`" for p in dict.fromkeys((f["daily"], f["tables"])) if p)
        rows.append(f"| **{f['id']}** {places} | | | | {f['meaning']}; written with {f['when']} |")
        if f["day_first_in_tables"]:
            rows.append("| | `day` | integer | day | the day (tables layout only) |")
        for c in f["columns"]:
            rows.append(f"| | `{c['name']}` | {c['type']} | {c['unit']} | {c['meaning']} |")
    for section, by in (("calibration_tables", "soilweb-calibrate"), ("analysis_tables", "soilweb-plot")):
        for t in SCHEMA[section]:
            rows.append(f"| **{t['id']}** `{t['path']}` | | | | {t['meaning']}; written by {by} |")
            rows += [f"| | `{c['name']}` | {c['type']} | {c['unit']} | {c['meaning']} |" for c in t["columns"]]
    return "\n".join(rows) + "\n"


# The data dictionary stands between these lines of docs/outputs.md.
BEGIN, END = "<!-- data dictionary: made by python3 -m soilweb.dictionary -->\n", "<!-- end of the data dictionary -->\n"


def with_dictionary(page):
    """The page with the data dictionary between its markers made anew."""
    before, _, rest = page.partition(BEGIN)
    _, _, after = rest.partition(END)
    return before + BEGIN + data_dictionary() + END + after


if __name__ == "__main__":
    if len(sys.argv) > 1:
        with open(sys.argv[1]) as f:
            page = f.read()
        with open(sys.argv[1], "w") as f:
            f.write(with_dictionary(page))
    else:
        print(data_dictionary(), end="")
