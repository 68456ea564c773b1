"""soilweb-calibrate plot: the figures of a calibration, its posterior predictive check and its report page."""
import os

import pandas as pd

from ..command import fail
from ..figures.calibration import plot_generations, plot_marginals, plot_pairs, plot_predictive
from ..figures.common import Figures
from ..report import calibration_report, write_report
from .driver import weighted_quantiles
from .inputs import parse_assignments
from .predict import observed_frame, predict, read_record


def read_tables(cal):
    tables = {}
    for name in ("particles", "generations", "posterior"):
        path = os.path.join(cal, "tables", f"{name}.tsv")
        if not os.path.isfile(path):
            fail(f"{cal} has no {name} table: its generation 0 has not closed yet")
        tables[name] = pd.read_csv(path, sep="\t")
    return tables


def posterior_summary(posterior, priors, truth):
    """Each key: its prior, the posterior's median and 90 % interval, the truth when known."""
    rows = []
    for key, spec in priors.items():
        low, median, high = weighted_quantiles(posterior[key], posterior.weight, (0.05, 0.5, 0.95))
        prior = f"{spec['min']:g} to {spec['max']:g}" + (" (log)" if spec.get("scale") == "log" else "") \
            if "min" in spec else f"normal, mean {spec['mean']:g}, sd {spec['sd']:g}"
        rows.append((key, prior, f"{median:.4g}", f"{low:.4g} to {high:.4g}",
                     f"{truth[key]:g}" if key in truth else ""))
    return rows


def plot(cal, count, truth_items, jobs, binary):
    record = read_record(cal)
    tables = read_tables(cal)
    truth = dict(record.get("truth", {}), **parse_assignments(truth_items, "--truth"))
    if count < 0:
        fail(f"--predict must be at least 0, got {count}")
    folder = os.path.join(cal, "figures")
    os.makedirs(folder, exist_ok=True)
    figures = Figures(folder, "png", 100, True)
    title = os.path.basename(os.path.normpath(cal))
    priors = record["priors"]
    plot_marginals(tables["particles"], priors, truth, figures, title)
    plot_pairs(tables["particles"], priors, truth, figures, title)
    plot_generations(tables["generations"], figures, title)
    if count:
        plot_predictive(predict(cal, count, jobs, binary), observed_frame(record), figures, title)
    write_report(folder, calibration_report(cal, record, tables, posterior_summary(tables["posterior"], priors, truth)),
                 figures)
    print(f"figures written to {folder}; the report is {os.path.join(folder, 'report.html')}")
