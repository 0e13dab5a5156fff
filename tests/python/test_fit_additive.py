"""Additive fits, tensor-product terms and the stable reparameterisation, end to end."""

import numpy as np
import pytest

import pelun


def classic_terms(x):
    f0 = 2 * np.sin(np.pi * x[:, 0])
    f1 = np.exp(2 * x[:, 1])
    f2 = 0.2 * x[:, 2] ** 11 * (10 * (1 - x[:, 2])) ** 6 + 10 * (10 * x[:, 2]) ** 3 * (1 - x[:, 2]) ** 10
    return [f0, f1, f2, np.zeros(len(x))]


@pytest.fixture(scope="module")
def additive_gaussian():
    rng = np.random.default_rng(31)
    x = rng.uniform(size=(2000, 4))
    terms = classic_terms(x)
    y = sum(terms) + rng.normal(scale=2.0, size=2000)
    fit = pelun.fit_additive("gaussian", x, y, [(0, "cr"), (1, "cr"), (2, "cr"), (3, "cr")])
    return x, terms, fit


def test_additive_fit_recovers_each_term(additive_gaussian):
    x, terms, fit = additive_gaussian
    assert fit.converged
    assert fit.rho.shape == (4,) and fit.edf_per_term.shape == (4,)
    assert fit.term_col_ranges() == [(1, 10), (10, 19), (19, 28), (28, 37)]
    X = fit.evaluate_lpmatrix(x)
    for (first, last), truth in zip(fit.term_col_ranges()[:3], terms[:3]):
        partial = X[:, first:last] @ fit.beta[first:last]
        centred = truth - truth.mean()
        assert np.mean((partial - centred) ** 2) < 0.06 * np.var(truth) + 0.05
    # the null term is flattened to (nearly) nothing
    first, last = fit.term_col_ranges()[3]
    assert np.std(X[:, first:last] @ fit.beta[first:last]) < 0.1
    assert fit.edf_total == pytest.approx(1 + fit.edf_per_term.sum(), abs=1e-9)


def test_tensor_term_recovers_an_interaction_surface():
    rng = np.random.default_rng(32)
    x = rng.uniform(size=(1500, 2))
    surface = np.sin(3 * x[:, 0]) * np.cos(2 * x[:, 1]) + x[:, 0] * x[:, 1]
    y = surface + rng.normal(scale=0.1, size=1500)
    fit = pelun.fit_additive("gaussian", x, y, [((0, 1), "te", (6, 6))])
    assert fit.converged
    assert fit.rho.shape == (2,)
    assert fit.term_col_ranges() == [(1, 36)]
    grid = np.array([[a, b] for a in np.linspace(0.05, 0.95, 10) for b in np.linspace(0.05, 0.95, 10)])
    truth = np.sin(3 * grid[:, 0]) * np.cos(2 * grid[:, 1]) + grid[:, 0] * grid[:, 1]
    assert np.mean((fit.predict(grid) - truth) ** 2) < 1e-3


def test_mixed_terms_and_column_ranges():
    rng = np.random.default_rng(33)
    x = np.column_stack([rng.uniform(size=(600, 3)), rng.integers(0, 5, 600).astype(float)])
    y = rng.poisson(np.exp(0.5 + np.sin(3 * x[:, 0]) + x[:, 1] * x[:, 2] + 0.2 * x[:, 3])).astype(float)
    fit = pelun.fit_additive("poisson", x, y, [(0, "cr", 8), ((1, 2), "te", (4, 3)), (3, "re")])
    assert fit.term_col_ranges() == [(1, 8), (8, 19), (19, 24)]
    assert fit.rho.shape == (4,)  # one for the cr term, two for the tensor term, one for re
    assert fit.beta.shape == (24,)
    assert fit.scale == 1.0


def test_column_checks_at_prediction():
    rng = np.random.default_rng(34)
    x = rng.uniform(size=(300, 4))
    fit = pelun.fit_additive("gaussian", x, x[:, 0] + rng.normal(size=300), [(0, "cr"), ((1, 3), "te", (4, 4))])
    with pytest.raises(ValueError) as info:
        fit.predict(x[:, :3])
    assert str(info.value) == "AdditivePredictor: term 1 expects column 3 but x has only 3 columns"
    # extra columns are ignored
    wide = np.column_stack([x, np.full(300, np.nan)])
    np.testing.assert_array_equal(fit.predict(wide), fit.predict(x))


def test_design_errors_reach_python():
    x = np.random.default_rng(35).uniform(size=(50, 2))
    y = np.ones(50)
    with pytest.raises(ValueError):
        pelun.fit_additive("gaussian", x, y, [(5, "cr")])
    with pytest.raises(ValueError):
        pelun.fit_additive("gaussian", x, y, [((1, 1), "te")])


def test_cr_stable_gives_the_cr_fit():
    rng = np.random.default_rng(36)
    x = rng.uniform(size=(500, 1))
    for family, y in [("gaussian", np.sin(6 * x[:, 0]) + rng.normal(scale=0.3, size=500)),
                      ("poisson", rng.poisson(np.exp(np.cos(4 * x[:, 0]))).astype(float))]:
        cr = pelun.fit(family, x, y)
        stable = pelun.fit(family, x, y, design="cr_stable")
        assert stable.rho[0] == pytest.approx(cr.rho[0], rel=1e-6, abs=1e-6)
        np.testing.assert_allclose(stable.predict(x), cr.predict(x), rtol=1e-6, atol=1e-8)
        assert stable.edf_total == pytest.approx(cr.edf_total, rel=1e-6)


def test_additive_cr_stable_terms():
    rng = np.random.default_rng(37)
    x = rng.uniform(size=(800, 2))
    y = np.sin(5 * x[:, 0]) + x[:, 1] ** 2 + rng.normal(scale=0.2, size=800)
    plain = pelun.fit_additive("gaussian", x, y, [(0, "cr"), (1, "cr")])
    stable = pelun.fit_additive("gaussian", x, y, [(0, "cr_stable"), (1, "cr_stable")])
    np.testing.assert_allclose(stable.predict(x), plain.predict(x), rtol=1e-6, atol=1e-7)
