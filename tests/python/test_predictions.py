"""FittedGam as a Python object: read-only attributes, point and interval predictions."""

import math
import threading

import numpy as np
import pytest

import pelun

Z975 = 1.959963984540054  # the 0.975 quantile of the standard normal


@pytest.fixture(scope="module")
def data():
    rng = np.random.default_rng(21)
    x = rng.uniform(size=(500, 1))
    eta = np.sin(2 * np.pi * x[:, 0])
    return {
        "x": x,
        "gaussian": eta + rng.normal(scale=0.3, size=500),
        "poisson": rng.poisson(np.exp(1 + eta)).astype(float),
        "bernoulli": (rng.uniform(size=500) < 1 / (1 + np.exp(-3 * eta))).astype(float),
    }


@pytest.fixture(scope="module")
def fits(data):
    return {family: pelun.fit(family, data["x"], data[family]) for family in ("gaussian", "poisson", "bernoulli")}


@pytest.fixture(scope="module")
def grid():
    return np.linspace(-0.1, 1.1, 37)[:, None]


def test_arrays_are_fresh_copies(fits):
    fit = fits["gaussian"]
    beta = fit.beta
    beta[0] = 1e9
    assert fit.beta[0] != 1e9
    v = fit.vcov()
    v[:] = 0
    assert np.any(fit.vcov() != 0)
    assert fit.beta is not fit.beta


@pytest.mark.parametrize("name", ["beta", "rho", "lambda", "edf_per_term", "scale", "edf_total", "n", "n_iters",
                                  "converged", "reml_value", "shape_params"])
def test_attributes_are_read_only(fits, name):
    with pytest.raises(AttributeError):
        setattr(fits["gaussian"], name, 1)


def test_no_new_attributes(fits):
    with pytest.raises(AttributeError):
        fits["gaussian"].extra = 1


def test_property_and_method_docstrings(fits):
    cls = type(fits["gaussian"])
    assert "one per term" in cls.rho.__doc__
    assert "edf_total - 1" in cls.edf_per_term.__doc__
    assert cls.vcov.__text_signature__ == "($self)"
    assert cls.predict_ci.__text_signature__ == '($self, x_new, level=0.95, scale="response")'
    assert cls.predict_diff.__text_signature__ == "($self, x_a, x_b, level=0.95)"


def test_predict_is_the_lpmatrix_times_beta(fits, grid):
    for fit in fits.values():
        X = fit.evaluate_lpmatrix(grid)
        assert X.shape == (37, fit.beta.shape[0])
        assert np.all(X[:, 0] == 1.0)
        np.testing.assert_allclose(fit.predict(grid), X @ fit.beta, rtol=1e-13, atol=1e-13)


def test_predict_response_applies_the_inverse_link(fits, grid):
    np.testing.assert_array_equal(fits["gaussian"].predict_response(grid), fits["gaussian"].predict(grid))
    np.testing.assert_allclose(fits["poisson"].predict_response(grid), np.exp(fits["poisson"].predict(grid)),
                               rtol=1e-15)
    eta = fits["bernoulli"].predict(grid)
    np.testing.assert_allclose(fits["bernoulli"].predict_response(grid), 1 / (1 + np.exp(-eta)), rtol=1e-14)


def test_response_scale_has_no_clamping(fits):
    # Far outside the data the smooth extrapolates linearly to huge |eta|.
    far = np.array([[-1e6], [1e6]])
    eta = fits["bernoulli"].predict(far)
    assert abs(eta[0]) > 800 and abs(eta[1]) > 800
    mu = fits["bernoulli"].predict_response(far)
    assert set(mu) <= {0.0, 1.0}
    assert mu[0] == (1.0 if eta[0] > 0 else 0.0)
    big = far[np.argmax(fits["poisson"].predict(far))][None, :]
    assert fits["poisson"].predict_response(big)[0] == math.inf


def test_prediction_at_nan_is_nan(fits):
    assert math.isnan(fits["poisson"].predict_response(np.array([[math.nan]]))[0])


def test_intervals_match_a_direct_computation(fits, grid):
    for family, fit in fits.items():
        X = fit.evaluate_lpmatrix(grid)
        se = np.sqrt(np.einsum("ij,jk,ik->i", X, fit.vcov(), X))
        mean, lo, hi = fit.predict_ci(grid, scale="link")
        np.testing.assert_array_equal(mean, fit.predict(grid))
        np.testing.assert_allclose(hi - mean, Z975 * se, rtol=1e-8)
        np.testing.assert_allclose(mean - lo, Z975 * se, rtol=1e-8)
        r_mean, r_lo, r_hi = fit.predict_ci(grid)
        np.testing.assert_array_equal(r_mean, fit.predict_response(grid))
        assert np.all(r_lo <= r_mean) and np.all(r_mean <= r_hi)
        wide = fit.predict_ci(grid, level=0.99, scale="link")
        assert np.all(wide[2] - wide[0] >= hi - mean)


def test_interval_coverage_of_the_truth_is_about_nominal():
    # Averaged over replicates, 95 % pointwise intervals cover the true
    # function at roughly the nominal rate.
    grid = np.linspace(0.05, 0.95, 25)[:, None]
    truth = np.sin(2 * np.pi * grid[:, 0])
    covered = []
    for seed in range(20):
        rng = np.random.default_rng(100 + seed)
        x = rng.uniform(size=(200, 1))
        y = np.sin(2 * np.pi * x[:, 0]) + rng.normal(scale=0.4, size=200)
        _, lo, hi = pelun.fit("gaussian", x, y).predict_ci(grid, scale="link")
        covered.append(np.mean((lo <= truth) & (truth <= hi)))
    assert 0.85 < np.mean(covered) <= 1.0


def test_predict_diff(fits, grid):
    fit = fits["poisson"]
    diff, lo, hi = fit.predict_diff(grid, grid)
    assert np.all(diff == 0) and np.all(lo == 0) and np.all(hi == 0)
    a, b = grid[:5], grid[10:15]
    diff, lo, hi = fit.predict_diff(a, b)
    np.testing.assert_allclose(diff, fit.predict(a) - fit.predict(b), rtol=1e-12, atol=1e-12)
    d = fit.evaluate_lpmatrix(a) - fit.evaluate_lpmatrix(b)
    se = np.sqrt(np.einsum("ij,jk,ik->i", d, fit.vcov(), d))
    np.testing.assert_allclose(hi - diff, Z975 * se, rtol=1e-8)
    # one row against five: broadcast either way
    one = grid[:1]
    assert fit.predict_diff(one, b)[0].shape == (5,)
    np.testing.assert_allclose(fit.predict_diff(b, one)[0], fit.predict(b) - fit.predict(one)[0], atol=1e-12)


# (method, args, kwargs, exception, message)
PREDICTION_ERRORS = [
    ("predict_ci", ([[0.5]],), {}, TypeError,
     "argument 'x_new': 'list' object cannot be cast as 'ndarray[float64, ndim=2]'"),
    ("predict", (np.zeros((3, 1), dtype=np.float32),), {}, TypeError,
     "argument 'x_new': 'ndarray[float32, ndim=2]' object cannot be cast as 'ndarray[float64, ndim=2]'"),
    ("evaluate_lpmatrix", (np.zeros(3),), {}, TypeError,
     "argument 'x_new': 'ndarray[float64, ndim=1]' object cannot be cast as 'ndarray[float64, ndim=2]'"),
    ("predict", (np.zeros((3, 0)),), {}, ValueError, "x_new must have at least one column; got x_new.ncols()=0"),
    ("predict_ci", (np.zeros((3, 1)),), {"scale": "Link"}, ValueError,
     "scale must be 'link' or 'response', got \"Link\""),
    ("predict_ci", (np.zeros((3, 1)),), {"level": 1.0}, ValueError, "level must be in (0, 1); got level=1"),
    ("predict_ci", (np.zeros((3, 1)),), {"level": math.nan}, ValueError, "level must be in (0, 1); got level=NaN"),
    ("predict_ci", (np.zeros((3, 1)),), {"level": 0.0}, ValueError, "level must be in (0, 1); got level=0"),
    # (level + 1)/2 rounds to 1 for the largest double below 1
    ("predict_ci", (np.zeros((3, 1)),), {"level": math.nextafter(1.0, 0.0)}, ValueError,
     "level must be in (0, 1); got level=0.9999999999999999"),
    ("predict_ci", (np.zeros((3, 1)),), {"level": "high"}, TypeError, "argument 'level': must be real number, not str"),
    ("predict_ci", (np.zeros((3, 1)),), {"scale": 1}, TypeError, "argument 'scale': 'int' object cannot be cast as 'str'"),
    ("predict_diff", (np.zeros((2, 1)), np.zeros((3, 1))), {}, ValueError,
     "predict_diff: row counts must match or one must be 1 (broadcast); got a=2, b=3"),
    ("predict_diff", (np.zeros((2, 1)), np.zeros((2, 1))), {"level": 2.0}, ValueError,
     "level must be in (0, 1); got level=2"),
    ("predict", (), {}, TypeError, "predict() missing 1 required positional argument: 'x_new'"),
    ("predict", (np.zeros((1, 1)),), {"x": 1}, TypeError, "predict() got an unexpected keyword argument 'x'"),
]


@pytest.mark.parametrize("method, args, kwargs, error, message", PREDICTION_ERRORS,
                         ids=[f"{m}-{msg[:30]}" for m, _, _, _, msg in PREDICTION_ERRORS])
def test_prediction_errors(fits, method, args, kwargs, error, message):
    with pytest.raises(error) as info:
        getattr(fits["poisson"], method)(*args, **kwargs)
    assert type(info.value) is error
    assert str(info.value) == message


def test_keyword_arguments_and_extra_columns(fits, grid):
    fit = fits["gaussian"]
    wide = np.column_stack([grid[:, 0], np.full(37, np.nan)])
    np.testing.assert_array_equal(fit.predict(x_new=wide), fit.predict(grid))
    np.testing.assert_array_equal(fit.predict_ci(x_new=grid, level=0.9, scale="link")[1],
                                  fit.predict_ci(grid, 0.9, "link")[1])
    assert fit.predict(np.zeros((0, 1))).shape == (0,)


def test_fits_can_be_read_from_several_threads(fits, grid):
    fit = fits["poisson"]
    expected = fit.predict_ci(grid)
    results = []

    def work():
        for _ in range(50):
            results.append(fit.predict_ci(grid))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 200
    assert all(np.array_equal(r[1], expected[1]) for r in results)
