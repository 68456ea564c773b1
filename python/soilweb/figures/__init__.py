"""The figures of runs (figures.run) and sweeps (figures.sweep), drawn without a display."""
import matplotlib

matplotlib.use("Agg")
