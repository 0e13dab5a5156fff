"""End-to-end fits of the standard families and the FittedGam record they return."""

import math

import numpy as np
import pytest

import pelun


def truth(x):
    return np.sin(2.0 * np.pi * x) + 0.5 * x


def simulate(family, n=600, seed=0):
    rng = np.random.default_rng(seed)
    x = rng.uniform(size=(n, 1))
    f = truth(x[:, 0])
    if family == "gaussian":
        y = f + rng.normal(scale=0.3, size=n)
        mean = f
    elif family in ("poisson", "quasipoisson"):
        mean = np.exp(1.0 + f)
        y = rng.poisson(mean).astype(float)
    elif family in ("bernoulli", "quasibinomial"):
        mean = 1.0 / (1.0 + np.exp(-2.0 * f))
        y = (rng.uniform(size=n) < mean).astype(float)
    elif family == "gamma":
        mean = np.exp(f)
        y = rng.gamma(4.0, mean / 4.0)
    else:  # inverse_gaussian
        mean = np.exp(0.5 * f)
        y = rng.wald(mean, 8.0)
    return x, y, mean


STANDARD = ["gaussian", "poisson", "quasipoisson", "bernoulli", "quasibinomial", "gamma", "inverse_gaussian"]
# Mean squared error of the fitted mean allowed per family (relative to the
# variance of the true mean, which the fit must explain most of).
MAX_RELATIVE_ERROR = {"gaussian": 0.02, "poisson": 0.02, "quasipoisson": 0.02, "bernoulli": 0.1,
                      "quasibinomial": 0.1, "gamma": 0.05, "inverse_gaussian": 0.05}


@pytest.fixture(scope="module", params=STANDARD)
def standard_fit(request):
    family = request.param
    x, y, mean = simulate(family)
    return family, x, y, mean, pelun.fit(family, x, y)


def test_fitted_mean_recovers_the_truth(standard_fit):
    family, x, _, mean, fit = standard_fit
    assert fit.converged
    assert fit.n == len(mean)
    relative_error = np.mean((fit.predict_response(x) - mean) ** 2) / np.var(mean)
    assert relative_error < MAX_RELATIVE_ERROR[family]


def test_record_fields(standard_fit):
    family, x, _, _, fit = standard_fit
    p = fit.beta.shape[0]
    assert p == 10
    lam = getattr(fit, "lambda")
    assert fit.rho.shape == (1,) and lam.shape == (1,)
    assert lam[0] == math.exp(fit.rho[0])
    # every non-intercept coefficient of a cr smooth is penalized
    assert fit.edf_per_term[0] == pytest.approx(fit.edf_total - 1.0, abs=1e-9)
    assert 1.0 < fit.edf_total < p
    assert fit.vcov().shape == (p, p)
    assert np.array_equal(fit.vcov(), fit.vcov().T)
    assert fit.shape_params.shape == (0,)
    assert fit.term_col_ranges() == [(1, p)]
    assert isinstance(fit.n_iters, int) and isinstance(fit.converged, bool)
    assert math.isfinite(fit.reml_value)
    if family in ("poisson", "bernoulli"):
        assert fit.scale == 1.0
    else:
        assert fit.scale > 0.0 and fit.scale != 1.0


def working_weights(family, eta, mu):
    """Fisher working weights of the family at the fitted mean, for checking vcov."""
    if family == "gaussian":
        return np.ones_like(mu)
    if family in ("poisson", "quasipoisson"):
        return mu
    if family in ("bernoulli", "quasibinomial"):
        return mu * (1.0 - mu)
    if family == "gamma":
        return np.ones_like(mu)
    return 1.0 / mu  # inverse Gaussian, log link


def test_vcov_is_scale_times_inverse_penalized_hessian(standard_fit):
    # tr(H⁻¹ XᵀWX) is edf_total, so tr(vcov · XᵀWX) / scale must give it back
    # (scale 1 for Poisson and Bernoulli: vcov is H⁻¹ itself).
    family, x, _, _, fit = standard_fit
    X = fit.evaluate_lpmatrix(x)
    eta = fit.predict(x)
    w = working_weights(family, eta, fit.predict_response(x))
    xtwx = X.T @ (w[:, None] * X)
    assert np.trace(fit.vcov() @ xtwx) / fit.scale == pytest.approx(fit.edf_total, rel=1e-4)


def test_gaussian_scale_is_penalized_residual_variance():
    x, y, _ = simulate("gaussian", n=2000, seed=3)
    fit = pelun.fit("gaussian", x, y)
    assert fit.scale == pytest.approx(0.3**2, rel=0.1)
    residual = y - fit.predict(x)
    # (RSS + β'Sβ)/(n − 2) ≥ RSS/(n − 2)
    assert fit.scale >= np.sum(residual**2) / (len(y) - 2) - 1e-12


def test_random_effect_design_shrinks_level_means():
    rng = np.random.default_rng(4)
    groups = rng.integers(0, 6, size=300).astype(float)
    effects = np.array([-1.0, -0.5, 0.0, 0.3, 0.6, 1.2])
    y = 2.0 + effects[groups.astype(int)] + rng.normal(scale=0.5, size=300)
    fit = pelun.fit("gaussian", groups[:, None], y, design="re", k=99)
    assert fit.beta.shape == (7,)
    assert fit.term_col_ranges() == [(1, 7)]
    levels = np.arange(6.0)[:, None]
    predicted = fit.predict(levels)
    raw_means = np.array([y[groups == g].mean() for g in range(6)])
    assert np.max(np.abs(predicted - raw_means)) < 0.1
    # shrinkage pulls every level mean towards the overall mean
    centre = y.mean()
    assert np.all(np.abs(predicted - centre) <= np.abs(raw_means - centre) + 1e-12)
    # an unseen level gets the intercept alone
    assert fit.predict(np.array([[17.0]]))[0] == fit.beta[0]


def test_k_is_ignored_by_the_random_effect_design():
    rng = np.random.default_rng(5)
    x = rng.integers(0, 4, size=(100, 1)).astype(float)
    y = rng.poisson(3.0, size=100).astype(float)
    a = pelun.fit("poisson", x, y, design="re", k=3)
    b = pelun.fit("poisson", x, y, design="re", k=50)
    assert np.array_equal(a.beta, b.beta)


@pytest.mark.parametrize("name, alias", [("bernoulli", "binomial"), ("inverse_gaussian", "inverse.gaussian")])
def test_aliases_give_identical_fits(name, alias):
    x, y, _ = simulate(name, n=300, seed=6)
    a, b = pelun.fit(name, x, y), pelun.fit(alias, x, y)
    assert np.array_equal(a.beta, b.beta)
    assert a.reml_value == b.reml_value


def test_defaults_are_cr_with_k_10():
    x, y, _ = simulate("gaussian", n=300, seed=7)
    default = pelun.fit("gaussian", x, y)
    explicit = pelun.fit("gaussian", x, y, None, 10, "cr")
    assert np.array_equal(default.beta, explicit.beta)
    assert default.beta.shape == (10,)


@pytest.mark.parametrize("layout", ["transposed", "stepped", "reversed-columns"])
def test_strided_inputs_give_the_same_fit_as_contiguous_copies(layout):
    x, y, _ = simulate("poisson", n=400, seed=8)
    wide = np.column_stack([x[:, 0], np.arange(400.0)])
    if layout == "transposed":
        x_arg = np.ascontiguousarray(wide.T).T
    elif layout == "stepped":
        x_arg = np.repeat(wide, 3, axis=0)[::3]
    else:
        x_arg = wide[:, ::-1][:, ::-1]
    y_arg = np.repeat(y, 2)[::2]
    weights = np.repeat(np.linspace(0.5, 1.5, 400), 2)[1::2]
    reference = pelun.fit("poisson", np.ascontiguousarray(wide), y.copy(), weights=weights.copy())
    fit = pelun.fit("poisson", x_arg, y_arg, weights=weights)
    assert np.array_equal(fit.beta, reference.beta)
    assert np.array_equal(fit.vcov(), reference.vcov())


def test_prior_weights_change_the_fit_and_unit_weights_do_not():
    x, y, _ = simulate("gaussian", n=300, seed=9)
    unweighted = pelun.fit("gaussian", x, y)
    unit = pelun.fit("gaussian", x, y, weights=np.ones(300))
    np.testing.assert_allclose(unit.beta, unweighted.beta, rtol=1e-12, atol=1e-12)
    w = np.where(x[:, 0] > 0.5, 5.0, 0.2)
    weighted = pelun.fit("gaussian", x, y, weights=w)
    assert not np.allclose(weighted.beta, unweighted.beta)


def test_gaussian_with_n_equal_to_the_null_space_has_nan_scale():
    x = np.array([[0.0], [1.0]])
    fit = pelun.fit("gaussian", x, np.array([1.0, 3.0]), k=3)
    assert math.isnan(fit.scale)
    assert np.all(np.isfinite(fit.vcov()))  # H⁻¹ itself, not NaN · H⁻¹


# (family, y change, message): the data checks of the drivers
DATA_ERRORS = [
    ("poisson", {"y": "short"}, "x and y must have the same number of rows; got x.nrows()=50, y.len()=49"),
    ("gaussian", {"weights": "short"}, "prior_weights length must match x rows; got weights.len()=10, x.nrows()=50"),
    ("poisson", {"y_at": (4, -1.0)}, "Poisson requires y ≥ 0; got y=-1 at row 4"),
    ("quasipoisson", {"y_at": (0, -0.5)}, "QuasiPoisson requires y ≥ 0; got y=-0.5 at row 0"),
    ("bernoulli", {"y_at": (2, 2.0)}, "Bernoulli requires y in [0, 1]; got y=2 at row 2"),
    ("binomial", {"y_at": (3, math.nan)}, "Bernoulli requires y in [0, 1]; got y=NaN at row 3"),
    ("quasibinomial", {"y_at": (1, -0.25)}, "QuasiBinomial requires y in [0, 1]; got y=-0.25 at row 1"),
    ("gamma", {"y_at": (5, 0.0)}, "Gamma requires y > 0; got y=0 at row 5"),
    ("inverse_gaussian", {"y_at": (6, -math.inf)}, "InverseGaussian requires y > 0; got y=-inf at row 6"),
]


@pytest.mark.parametrize("family, change, message", DATA_ERRORS, ids=[m[:40] for _, _, m in DATA_ERRORS])
def test_data_checks(family, change, message):
    rng = np.random.default_rng(10)
    x = rng.uniform(size=(50, 1))
    y = np.full(50, 0.5)
    weights = None
    if change.get("y") == "short":
        y = y[:49]
    if change.get("weights") == "short":
        weights = np.ones(10)
    if "y_at" in change:
        row, value = change["y_at"]
        y[row] = value
    with pytest.raises(ValueError) as info:
        pelun.fit(family, x, y, weights=weights)
    assert str(info.value) == message


def test_non_finite_covariate_is_rejected():
    x = np.linspace(0, 1, 30)[:, None].copy()
    x[7, 0] = math.nan
    with pytest.raises(ValueError, match=r"^x must be finite \(got x\[7, 0\] = NaN\)$"):
        pelun.fit("gaussian", x, np.ones(30))


def test_knot_errors_reach_python_as_value_errors():
    x = np.full((20, 1), 3.0)
    with pytest.raises(ValueError):
        pelun.fit("gaussian", x, np.linspace(0, 1, 20))
    with pytest.raises(ValueError):
        pelun.fit("gaussian", np.linspace(0, 1, 20)[:, None], np.linspace(0, 1, 20), k=2)
