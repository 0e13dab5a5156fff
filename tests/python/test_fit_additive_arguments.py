"""The term grammar and family check of `fit_additive`, before any design is built."""

import numpy as np
import pytest

import pelun

SHAPE_MANAGED = (
    "fit_additive: family {0} is shape-managed and restricted to single-smooth in 94b; use "
    "pelun.fit(family={0}, …) or wait for multi-smooth shape-aware support. Supported additive families: "
    "gaussian, bernoulli/binomial, poisson, quasipoisson, quasibinomial, gamma, inverse_gaussian"
)


@pytest.fixture(scope="module")
def data():
    rng = np.random.default_rng(3)
    return rng.uniform(size=(40, 3)), rng.uniform(0.1, 0.9, size=40)


# (terms, exception type, exact message)
TERM_ERRORS = [
    ([[0, "cr", 10]], ValueError, "fit_additive: term 0 must be a tuple; got [0, 'cr', 10]"),
    ([(0, "cr"), "te"], ValueError, "fit_additive: term 1 must be a tuple; got 'te'"),
    ([(0,)], ValueError, "fit_additive: term 0 tuple must have at least 2 elements"),
    ([()], ValueError, "fit_additive: term 0 tuple must have at least 2 elements"),
    ([(0, 5)], TypeError, "'int' object cannot be cast as 'str'"),
    ([("a", "cr")], ValueError, "fit_additive: univariate term 0 first element must be an integer column index"),
    # the column is checked before the basis name
    ([("a", "zz")], ValueError, "fit_additive: univariate term 0 first element must be an integer column index"),
    ([(-1, "cr")], ValueError, "fit_additive: univariate term 0 first element must be an integer column index"),
    ([(0, "cr"), (1, "CR")], ValueError,
     "fit_additive: term 1 basis must be 'cr', 'cr_stable', 're', or 'te'; got \"CR\""),
    ([(0, "cr", 2.5)], TypeError, "'float' object cannot be interpreted as an integer"),
    ([(0, "cr_stable", -3)], OverflowError, "can't convert negative int to unsigned"),
    ([((0, 1, 2), "te")], ValueError, "fit_additive: tensor term 0 cols tuple must have exactly 2 elements"),
    ([([0, 1], "te")], ValueError, "fit_additive: tensor term 0 first element must be a (col_a, col_b) tuple"),
    ([((0, 1), "te", 5)], ValueError, "fit_additive: tensor term 0 k must be a (k_a, k_b) tuple"),
    ([((0, 1), "te", (5,))], ValueError, "fit_additive: tensor term 0 k tuple must have exactly 2 elements"),
    ([((0, "b"), "te")], TypeError, "'str' object cannot be interpreted as an integer"),
    ([((0, 1), "te", (5, -5))], OverflowError, "can't convert negative int to unsigned"),
    ([], ValueError, "fit_additive: terms list must be non-empty"),
]


@pytest.mark.parametrize("terms, error, message", TERM_ERRORS, ids=[m[:48] for _, _, m in TERM_ERRORS])
def test_term_errors(data, terms, error, message):
    x, y = data
    with pytest.raises(error) as info:
        pelun.fit_additive("gaussian", x, y, terms)
    assert type(info.value) is error
    assert str(info.value) == message


def test_term_errors_come_before_the_family_check(data):
    x, y = data
    with pytest.raises(ValueError, match="terms list must be non-empty"):
        pelun.fit_additive("negbin", x, y, [])
    with pytest.raises(ValueError, match="term 0 must be a tuple"):
        pelun.fit_additive("no such family", x, y, [[0, "cr"]])


@pytest.mark.parametrize("family", ["negbin", "nb", "tdist", "scat", "tweedie", "tw", "ocat", "elf", "quantile",
                                    "Gaussian", "no such family", 'q"uote'])
def test_families_without_an_additive_path_are_refused(data, family):
    x, y = data
    with pytest.raises(ValueError) as info:
        pelun.fit_additive(family, x, y, [(0, "cr")])
    quoted = '"' + family.replace('"', '\\"') + '"'
    assert str(info.value) == SHAPE_MANAGED.format(quoted)


def test_argument_conversion(data):
    x, y = data
    with pytest.raises(TypeError) as info:
        pelun.fit_additive("gaussian", x, y, ((0, "cr"),))
    assert str(info.value) == "argument 'terms': 'tuple' object cannot be cast as 'list'"
    with pytest.raises(TypeError, match=r"^argument 'x': "):
        pelun.fit_additive("gaussian", x[:, 0], y, [(0, "cr")])
    with pytest.raises(TypeError, match=r"^fit_additive\(\) missing 1 required positional argument: 'terms'$"):
        pelun.fit_additive("gaussian", x, y)


def test_list_subclass_and_extra_elements_are_accepted(data):
    x, y = data

    class TermList(list):
        pass

    terms = TermList([(0, "cr", 5, "ignored"), (2, "re", "anything"), ((1, 2), "te", (4, 4), None)])
    fit = pelun.fit_additive("gaussian", x, np.round(y, 1), terms)
    # cr with k = 5: 4 columns; re over 40 distinct values: 40; te 4 × 4: 15
    assert fit.term_col_ranges() == [(1, 5), (5, 45), (45, 60)]
    assert fit.rho.shape == (4,)
