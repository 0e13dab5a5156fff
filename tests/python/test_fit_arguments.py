"""Argument conversion and the checks `fit` makes before a design is built."""

import math

import numpy as np
import pytest

import pelun

UNKNOWN_FAMILY = (
    "unknown family {}; supported: gaussian, bernoulli, poisson, quasipoisson, quasibinomial, "
    "gamma, inverse_gaussian, negbin, tdist, tweedie, ocat, elf"
)
DESIGN = "design must be 'cr', 're', or 'cr_stable'; got {}"

ALL_FAMILY_NAMES = [
    "gaussian", "bernoulli", "binomial", "poisson", "quasipoisson", "quasibinomial", "gamma",
    "inverse_gaussian", "inverse.gaussian", "negbin", "nb", "tdist", "scat", "tweedie", "tw",
    "ocat", "elf", "quantile",
]


# Families whose fit path is not built yet stop with NotImplementedError
# once every early check has passed.
NOT_YET_FITTED = {"negbin", "nb", "tdist", "scat", "tweedie", "tw", "ocat", "elf", "quantile"}


def call_fit(xy, family, **kwargs):
    x, y = xy
    if family == "ocat":
        kwargs.setdefault("r", 3)
    return pelun.fit(family, x, y, **kwargs)


@pytest.mark.parametrize("family", ALL_FAMILY_NAMES)
def test_every_family_name_passes_the_early_checks(xy, family):
    if family in NOT_YET_FITTED:
        with pytest.raises(NotImplementedError):
            call_fit(xy, family)
    else:
        assert isinstance(call_fit(xy, family), pelun.FittedGam)


# (family, keyword arguments, expected ValueError message)
VALUE_ERRORS = [
    ("Gaussian", {}, UNKNOWN_FAMILY.format('"Gaussian"')),
    ("gaussian ", {}, UNKNOWN_FAMILY.format('"gaussian "')),
    ('we"ird\\\n', {}, UNKNOWN_FAMILY.format('"we\\"ird\\\\\\n"')),
    ("", {}, UNKNOWN_FAMILY.format('""')),
    ("gaussian", {"design": "CR"}, DESIGN.format('"CR"')),
    ("poisson", {"design": "tab\there"}, DESIGN.format('"tab\\there"')),
    ("negbin", {"theta": -1}, "negbin theta must be > 0; got theta=-1"),
    ("nb", {"theta": -1.0}, "negbin theta must be > 0; got theta=-1"),
    ("negbin", {"theta": 0.0}, "negbin theta must be > 0; got theta=0"),
    ("negbin", {"theta": -math.inf}, "negbin theta must be > 0; got theta=-inf"),
    # theta is checked before the design, even when the design is also invalid
    ("negbin", {"theta": -1, "design": "zz"}, "negbin theta must be > 0; got theta=-1"),
    # None is the same as omitted: theta defaults to 2 and the design fails
    ("negbin", {"theta": None, "design": "zz"}, DESIGN.format('"zz"')),
    # NaN passes theta <= 0 and is caught after the design
    ("negbin", {"theta": math.nan, "design": "zz"}, DESIGN.format('"zz"')),
    ("tweedie", {"tweedie_p": 2.0}, "tweedie p must be in (1, 2); got tweedie_p=2"),
    ("tw", {"tweedie_p": 1.0}, "tweedie p must be in (1, 2); got tweedie_p=1"),
    ("tweedie", {"tweedie_p": math.nan}, "tweedie p must be in (1, 2); got tweedie_p=NaN"),
    ("tweedie", {"tweedie_p": 0.25}, "tweedie p must be in (1, 2); got tweedie_p=0.25"),
    ("elf", {"tau": 1}, "elf/quantile tau must be in (0, 1); got tau=1"),
    ("quantile", {"tau": 0.0}, "elf/quantile tau must be in (0, 1); got tau=0"),
    ("elf", {"tau": math.inf}, "elf/quantile tau must be in (0, 1); got tau=inf"),
    ("ocat", {"r": None}, "family='ocat' requires r=K (number of ordered categories, K >= 3)"),
    ("ocat", {"r": 2}, "ocat requires r >= 3, got r=2"),
    ("ocat", {"r": 0}, "ocat requires r >= 3, got r=0"),
]


@pytest.mark.parametrize("family, kwargs, message", VALUE_ERRORS,
                         ids=[f"{f}-{sorted(k.items())}" for f, k, _ in VALUE_ERRORS])
def test_early_checks_raise_value_error_with_exact_message(xy, family, kwargs, message):
    x, y = xy
    with pytest.raises(ValueError) as info:
        pelun.fit(family, x, y, **kwargs)
    assert str(info.value) == message


def test_ocat_without_r_asks_for_it(xy):
    x, y = xy
    with pytest.raises(ValueError, match=r"^family='ocat' requires r=K"):
        pelun.fit("ocat", x, y)


def test_design_is_checked_for_every_family(xy):
    for family in ALL_FAMILY_NAMES:
        with pytest.raises(ValueError) as info:
            call_fit(xy, family, design="spline")
        assert str(info.value) == DESIGN.format('"spline"')


def test_x_without_columns_is_rejected(xy):
    _, y = xy
    with pytest.raises(ValueError) as info:
        pelun.fit("gaussian", np.empty((30, 0)), y)
    assert str(info.value) == "x must have at least one column; got x.ncols()=0"


class FloatLike:
    def __float__(self):
        return 3.0


class IndexLike:
    def __index__(self):
        return 12


# (keyword arguments, exception type, exact message); the cases use "nb" so
# that every optional argument is converted.
CONVERSION_ERRORS = [
    ({"family_name": 3}, TypeError, "argument 'family_name': 'int' object cannot be cast as 'str'"),
    ({"x": [[1.0]]}, TypeError, "argument 'x': 'list' object cannot be cast as 'ndarray[float64, ndim=2]'"),
    ({"x": np.zeros(30)}, TypeError,
     "argument 'x': 'ndarray[float64, ndim=1]' object cannot be cast as 'ndarray[float64, ndim=2]'"),
    ({"x": np.zeros((30, 1), dtype=np.float32)}, TypeError,
     "argument 'x': 'ndarray[float32, ndim=2]' object cannot be cast as 'ndarray[float64, ndim=2]'"),
    ({"x": np.zeros((30, 1), dtype=">f8")}, TypeError,
     "argument 'x': 'ndarray[>f8, ndim=2]' object cannot be cast as 'ndarray[float64, ndim=2]'"),
    ({"y": np.zeros(30, dtype=np.float32)}, TypeError,
     "argument 'y': 'ndarray[float32, ndim=1]' object cannot be cast as 'ndarray[float64, ndim=1]'"),
    ({"y": np.zeros((30, 1))}, TypeError,
     "argument 'y': 'ndarray[float64, ndim=2]' object cannot be cast as 'ndarray[float64, ndim=1]'"),
    ({"y": list(range(30))}, TypeError,
     "argument 'y': 'list' object cannot be cast as 'ndarray[float64, ndim=1]'"),
    ({"weights": np.ones(30, dtype=np.int64)}, TypeError,
     "argument 'weights': 'ndarray[int64, ndim=1]' object cannot be cast as 'ndarray[float64, ndim=1]'"),
    ({"k": 10.0}, TypeError, "argument 'k': 'float' object cannot be interpreted as an integer"),
    ({"k": "10"}, TypeError, "argument 'k': 'str' object cannot be interpreted as an integer"),
    ({"k": -1}, OverflowError, "can't convert negative int to unsigned"),
    ({"k": 2**70}, OverflowError, "int too big to convert"),
    ({"design": b"cr"}, TypeError, "argument 'design': 'bytes' object cannot be cast as 'str'"),
    ({"theta": "2"}, TypeError, "argument 'theta': must be real number, not str"),
    ({"nu": [5]}, TypeError, "argument 'nu': must be real number, not list"),
    ({"tweedie_phi": object()}, TypeError, "argument 'tweedie_phi': must be real number, not object"),
    ({"r": -1}, OverflowError, "can't convert negative int to unsigned"),
    ({"r": 3.0}, TypeError, "argument 'r': 'float' object cannot be interpreted as an integer"),
    ({"tau": "0.5"}, TypeError, "argument 'tau': must be real number, not str"),
    ({"elf_lambda": 1j}, TypeError, "argument 'elf_lambda': must be real number, not complex"),
]


@pytest.mark.parametrize("overrides, error, message", CONVERSION_ERRORS,
                         ids=[next(iter(o)) + "-" + type(next(iter(o.values()))).__name__
                              for o, _, _ in CONVERSION_ERRORS])
def test_conversion_errors(xy, overrides, error, message):
    x, y = xy
    arguments = {"family_name": "nb", "x": x, "y": y, **overrides}
    with pytest.raises(error) as info:
        pelun.fit(**arguments)
    assert type(info.value) is error
    assert str(info.value) == message


def test_conversion_type_error_is_chained_to_its_cause(xy):
    x, y = xy
    with pytest.raises(TypeError) as info:
        pelun.fit("gaussian", x, y, k=1.5)
    cause = info.value.__cause__
    assert isinstance(cause, TypeError)
    assert str(cause) == "'float' object cannot be interpreted as an integer"
    assert info.value.__suppress_context__


def test_conversion_runs_in_parameter_order(xy):
    x, y = xy
    # x is checked before y and k; theta before r.
    with pytest.raises(TypeError, match=r"^argument 'x'"):
        pelun.fit("nb", [1.0], [2.0], k=1.5)
    with pytest.raises(TypeError, match=r"^argument 'theta'"):
        pelun.fit("nb", x, y, theta="a", r=-1)
    # Conversion errors come before any check of the values.
    with pytest.raises(TypeError, match=r"^argument 'k'"):
        pelun.fit("no such family", x, y, k=1.5)


def test_numbers_through_their_protocols(xy):
    x, y = xy
    # __float__ for doubles and __index__ for counts are accepted; a genuine
    # -1.0 is a value, not a conversion failure.
    with pytest.raises(NotImplementedError):
        pelun.fit("nb", x, y, theta=FloatLike(), k=IndexLike())
    with pytest.raises(ValueError, match=r"got theta=-1$"):
        pelun.fit("nb", x, y, theta=-1.0)
    with pytest.raises(ValueError, match=r"got r=2$"):
        pelun.fit("ocat", x, y, r=np.int64(2))


def test_arguments_a_family_does_not_read_are_ignored(xy):
    x, y = xy
    with_extras = pelun.fit("gaussian", x, y, theta=-5, tweedie_p=9, r=1, tau=3)
    assert np.array_equal(with_extras.beta, pelun.fit("gaussian", x, y).beta)


# (args, kwargs, exact TypeError message) of the argument binder
BINDING_ERRORS = [
    (("gaussian",), {}, "fit() missing 2 required positional arguments: 'x' and 'y'"),
    ((), {}, "fit() missing 3 required positional arguments: 'family_name', 'x', and 'y'"),
    (("gaussian", "X"), {}, "fit() missing 1 required positional argument: 'y'"),
    (("gaussian", "X", "Y"), {"bogus": 1}, "fit() got an unexpected keyword argument 'bogus'"),
    (("gaussian", "X", "Y"), {"x": 1}, "fit() got multiple values for argument 'x'"),
    (tuple(range(16)), {}, "fit() takes from 3 to 15 positional arguments but 16 were given"),
]


@pytest.mark.parametrize("args, kwargs, message", BINDING_ERRORS)
def test_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        pelun.fit(*args, **kwargs)
    assert str(info.value) == message


def test_all_arguments_by_keyword_and_by_position(xy):
    x, y = xy
    with pytest.raises(ValueError, match="got tweedie_p=3"):
        pelun.fit(family_name="tweedie", x=x, y=y, weights=None, k=5, design="re", theta=None, nu=None,
                  sigma2=None, tweedie_p=3, tweedie_phi=None, r=None, tau=None, elf_sigma=None,
                  elf_lambda=None)
    with pytest.raises(ValueError, match="got tau=2"):
        pelun.fit("elf", x, y, None, 5, "cr", None, None, None, None, None, None, 2.0, None, None)


@pytest.mark.parametrize("layout", ["transposed", "stepped", "reversed", "fortran"])
def test_non_contiguous_arrays_are_accepted(xy, layout):
    x, y = xy
    if layout == "transposed":
        x_arg = np.ascontiguousarray(x.T).T
    elif layout == "stepped":
        x_arg = np.repeat(x, 2, axis=0)[::2]
    elif layout == "reversed":
        x_arg = x[::-1, ::-1]
    else:
        x_arg = np.asfortranarray(x)
    y_arg = np.repeat(y[::-1], 3)[::-3]
    fit = pelun.fit("poisson", x_arg, y_arg, weights=np.ones(60)[::2])
    x_copy = np.ascontiguousarray(x_arg)
    reference = pelun.fit("poisson", x_copy, np.ascontiguousarray(y_arg), weights=np.ones(30))
    assert np.array_equal(fit.beta, reference.beta)


def test_misaligned_arrays_are_read_safely(xy):
    x, y = xy
    buffer = bytearray(8 * y.size + 1)
    misaligned = np.frombuffer(buffer, dtype=np.float64, offset=1, count=y.size)
    misaligned[:] = y
    assert not misaligned.flags.aligned
    fit = pelun.fit("poisson", x, misaligned, weights=misaligned)
    assert np.array_equal(fit.beta, pelun.fit("poisson", x, y.copy(), weights=y.copy()).beta)


def test_arrays_changed_during_conversion_are_read_as_they_end_up(xy):
    # A __float__ run during conversion may reshape x; the views are taken
    # only after every conversion, so the call sees the final, valid array.
    _, y = xy
    x = np.zeros((30, 1))

    class Shrinker:
        def __float__(self):
            x.resize((30, 0), refcheck=False)
            return 2.0

    with pytest.raises(ValueError, match="at least one column"):
        pelun.fit("nb", x, y, theta=Shrinker())
