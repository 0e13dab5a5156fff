"""Workloads of the side-by-side benchmark (bench/compare.py): simulated data with known truth.

Every workload draws its data from a fixed seed, knows its true mean function and has a fixed evaluation
grid on which the fitted mean and its 95 % pointwise interval are compared with the truth.
"""

import numpy as np


def _logistic(eta):
    return 1.0 / (1.0 + np.exp(-eta))


def additive_truth(x):
    """Sum of the four classic additive test functions (the fourth is zero)."""
    f0 = 2.0 * np.sin(np.pi * x[:, 0])
    f1 = np.exp(2.0 * x[:, 1])
    f2 = 0.2 * x[:, 2] ** 11 * (10.0 * (1.0 - x[:, 2])) ** 6 + 10.0 * (10.0 * x[:, 2]) ** 3 * (1.0 - x[:, 2]) ** 10
    return f0 + f1 + f2


def surface_truth(x):
    return np.sin(3.0 * x[:, 0]) * np.cos(2.0 * x[:, 1]) + x[:, 0] * x[:, 1]


# name: (family, number of covariates, true mean of the response as a function of x, noise simulator)
WORKLOADS = {
    "gaussian": dict(family="gaussian", d=1, kind="single",
                     mean=lambda x: np.sin(2.0 * np.pi * x[:, 0]),
                     draw=lambda rng, mu: mu + rng.normal(scale=0.5, size=mu.shape)),
    "poisson": dict(family="poisson", d=1, kind="single",
                    mean=lambda x: np.exp(1.0 + np.sin(2.0 * np.pi * x[:, 0])),
                    draw=lambda rng, mu: rng.poisson(mu).astype(float)),
    "bernoulli": dict(family="bernoulli", d=1, kind="single",
                      mean=lambda x: _logistic(2.0 * np.sin(2.0 * np.pi * x[:, 0])),
                      draw=lambda rng, mu: (rng.uniform(size=mu.shape) < mu).astype(float)),
    "additive": dict(family="gaussian", d=4, kind="additive",
                     mean=additive_truth,
                     draw=lambda rng, mu: mu + rng.normal(scale=2.0, size=mu.shape)),
    "surface": dict(family="gaussian", d=2, kind="surface",
                    mean=surface_truth,
                    draw=lambda rng, mu: mu + rng.normal(scale=0.2, size=mu.shape)),
}

# Basis dimensions: 20 for the single smooth (pygam's default n_splines), 10 per additive term, 10 x 10 for
# the tensor-product surface (pygam's default per margin).
K_SINGLE = 20
K_ADDITIVE = 10
K_SURFACE = (10, 10)


def simulate(name, n, seed):
    """Covariates x (n x d, uniform on the unit cube) and response y of workload `name`."""
    w = WORKLOADS[name]
    rng = np.random.default_rng(seed)
    x = rng.uniform(size=(n, w["d"]))
    y = w["draw"](rng, w["mean"](x))
    return x, y


def grid(name):
    """The evaluation grid of workload `name` and the true mean on it."""
    w = WORKLOADS[name]
    if w["d"] == 1:
        g = np.linspace(0.01, 0.99, 200)[:, None]
    elif w["d"] == 2:
        a = np.linspace(0.02, 0.98, 30)
        g = np.array(np.meshgrid(a, a, indexing="ij")).reshape(2, -1).T.copy()
    else:
        a = np.linspace(0.05, 0.95, 7)
        g = np.array(np.meshgrid(*([a] * w["d"]), indexing="ij")).reshape(w["d"], -1).T.copy()
    return g, w["mean"](g)
