"""A calibration made by soilweb-calibrate, loaded: its record and its tables as pandas DataFrames.

    cal = soilweb.read_calibration("my-calibration")
    cal.posterior        # the last population: particle, weight, distance, each key, seed
    cal.generations      # tolerance, runs, acceptance, effective sample size by generation
    cal.summary()        # each key's posterior median and 90 % interval
    cal.predict(40)      # 40 runs at posterior draws: their summaries of the observed columns
"""
import os

import pandas as pd

from .calibrate.driver import RECORD, weighted_quantiles
from .safe import read_json


class Calibration:
    """A calibration's folder, read as its tables are asked for (each is read again as the calibration
    goes on)."""

    def __init__(self, folder):
        self.folder = os.fspath(folder)
        path = os.path.join(self.folder, RECORD)
        if not os.path.isfile(path):
            raise FileNotFoundError(f"{self.folder} holds no calibration ({RECORD} is missing)")
        self.record = read_json(path, "calibration record")
        self.keys = list(self.record["priors"])

    def _table(self, name):
        return pd.read_csv(os.path.join(self.folder, "tables", f"{name}.tsv"), sep="\t")

    @property
    def particles(self):
        return self._table("particles")

    @property
    def generations(self):
        return self._table("generations")

    @property
    def posterior(self):
        return self._table("posterior")

    def summary(self):
        """Each key's weighted posterior median and 90 % interval."""
        posterior = self.posterior
        rows = [(key, *weighted_quantiles(posterior[key], posterior.weight, (0.5, 0.05, 0.95))) for key in self.keys]
        return pd.DataFrame(rows, columns=["key", "median", "low", "high"])

    def predict(self, n=40, jobs=None, binary=None):
        """n runs at particles of the posterior drawn by weight (also written to tables/predictive.tsv): draw,
        particle, seed, day and each observed column in the observed unit."""
        from .api import find_binary
        from .calibrate.predict import predict
        return predict(self.folder, n, jobs or os.cpu_count() or 1, find_binary(binary))

    def __repr__(self):
        return f"Calibration({self.folder!r}: {len(self.keys)} keys, {len(self.generations)} generations)"


def read_calibration(folder):
    return Calibration(folder)
