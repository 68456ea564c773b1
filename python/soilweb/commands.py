"""The commands soilweb-plot, soilweb-sweep and soilweb-calibrate, as an installation's console
scripts and the source tree's scripts/ start them: each makes sure its Python has the modules it
needs (else runs itself again on one that has), then runs. Light by design, as interpreter is."""
from .interpreter import ensure_modules


def plot():
    ensure_modules("soilweb-plot", ("numpy", "pandas", "matplotlib"))
    from .plot import run
    run()


def sweep():
    ensure_modules("soilweb-sweep", ("numpy", "pandas", "scipy"))
    from .sweep.cli import run
    run()


def calibrate():
    ensure_modules("soilweb-calibrate", ("numpy", "pandas", "scipy"))
    from .calibrate.cli import run
    run()
