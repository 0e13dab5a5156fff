"""pelun: penalized regression-spline GAMs with automatic smoothness selection.

Fit with :func:`fit` (one smooth term) or :func:`fit_additive` (several terms);
both return a :class:`FittedGam`.
"""

from ._pelun_native import FittedGam, fit, fit_additive

__version__ = "0.1.0"

__all__ = ["FittedGam", "fit", "fit_additive", "__version__"]
