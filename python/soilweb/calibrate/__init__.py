"""Calibration of soilweb to observed data by ABC-SMC: the command soilweb-calibrate (python3 -m
soilweb.calibrate) and, called, the function that runs one: soilweb.calibrate(base, priors, observed, ...)
(soilweb.api.calibrate), which hands back the loaded calibration (soilweb.Calibration)."""
import sys as _sys
import types as _types


class _CallablePackage(_types.ModuleType):
    def __call__(self, *args, **kwargs):
        from ..api import calibrate
        return calibrate(*args, **kwargs)


_sys.modules[__name__].__class__ = _CallablePackage
