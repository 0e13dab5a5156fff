"""Diagnostics behind pelun's MSE in the side-by-side benchmark (run by bench/compare.py; prints JSON).

1. Single smooth, Gaussian, n = 10^4, on the benchmark's own replicate data: the smoothing parameter pelun
   selects against an independent evaluation of the REML criterion on pelun's own model matrix, with the
   penalty integral of f''^2 rebuilt from second differences of that basis. It reports the edf at pelun's
   optimum, at the independent REML optimum and at the optimum of the grid MSE (the oracle the benchmark
   scores against).
2. Additive f2, k = 10: how well 10-knot natural cubic splines (the space of a k = 10 cr term) and 10 cubic
   B-splines on equally spaced knots can approximate f2 at all: the least-squares error over [0, 1] and on
   the benchmark's 7-point lattice, a floor that no smoothing selection goes below.
"""

import json
import sys

import numpy as np

import compare_workloads as wl
from compare import seed_of


def reml_check(n=10 ** 4, replicates=5):
    import pelun
    g, truth = wl.grid("gaussian")
    rows = []
    for r in range(replicates):
        x, y = wl.simulate("gaussian", n, seed_of("gaussian", n) + 1000 * r)
        fit = pelun.fit("gaussian", x, y, k=wl.K_SINGLE)
        X, G = fit.evaluate_lpmatrix(x), fit.evaluate_lpmatrix(g)
        h = 1e-4
        t = np.linspace(x.min() + 2 * h, x.max() - 2 * h, 20001)
        d2 = (fit.evaluate_lpmatrix((t + h)[:, None]) - 2 * fit.evaluate_lpmatrix(t[:, None]) +
              fit.evaluate_lpmatrix((t - h)[:, None])) / h ** 2
        S = d2.T @ d2 * (t[1] - t[0])
        eig = np.linalg.eigvalsh(S)
        rank = int(np.sum(eig > eig.max() * 1e-8))
        null = X.shape[1] - rank
        xtx, xty = X.T @ X, X.T @ y
        scan = []
        for rho in np.arange(-30.0, 15.0, 0.05):
            A = xtx + np.exp(rho) * S
            beta = np.linalg.solve(A, xty)
            dp = np.sum((y - X @ beta) ** 2) + np.exp(rho) * beta @ S @ beta
            reml = (n - null) * np.log(dp) + np.linalg.slogdet(A)[1] - rank * rho
            edf = float(np.trace(np.linalg.solve(A, xtx)))
            scan.append((reml, edf, float(np.mean((G @ beta - truth) ** 2))))
        scan = np.array(scan)
        at_reml, at_mse = scan[np.argmin(scan[:, 0])], scan[np.argmin(scan[:, 2])]
        rows.append({"pelun_edf": float(fit.edf_total),
                     "pelun_mse": float(np.mean((fit.predict_response(g) - truth) ** 2)),
                     "reml_edf": float(at_reml[1]), "reml_mse": float(at_reml[2]),
                     "oracle_edf": float(at_mse[1]), "oracle_mse": float(at_mse[2])})
    mean = {k: float(np.mean([row[k] for row in rows])) for k in rows[0]}
    return {"n": n, "replicates": replicates, "mean": mean, "rows": rows}


def basis_floor():
    from scipy.interpolate import BSpline, CubicSpline
    f2 = lambda t: 0.2 * t ** 11 * (10 * (1 - t)) ** 6 + 10 * (10 * t) ** 3 * (1 - t) ** 10
    t = np.linspace(0.0, 1.0, 20001)
    lattice = np.linspace(0.05, 0.95, 7)
    knots = np.linspace(0.0, 1.0, wl.K_ADDITIVE)
    natural = lambda s: np.array([CubicSpline(knots, e, bc_type="natural")(s)
                                  for e in np.eye(wl.K_ADDITIVE)]).T
    bknots = np.r_[[0.0] * 3, np.linspace(0.0, 1.0, wl.K_ADDITIVE - 2), [1.0] * 3]
    bspline = lambda s: BSpline.design_matrix(np.clip(s, 0.0, 1.0 - 1e-12), bknots, 3).toarray()
    out = {}
    for name, basis in [("natural cubic spline, 10 knots", natural), ("cubic B-spline, 10 functions", bspline)]:
        coef = np.linalg.lstsq(basis(t), f2(t), rcond=None)[0]
        out[name] = {"l2": float(np.mean((basis(t) @ coef - f2(t)) ** 2)),
                     "lattice": float(np.mean((basis(lattice) @ coef - f2(lattice)) ** 2))}
    return out


if __name__ == "__main__":
    print(json.dumps({"reml": reml_check(), "basis_floor": basis_floor()}))
    sys.stdout.flush()
