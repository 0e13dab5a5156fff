"""One case of the side-by-side benchmark, run in a fresh process by bench/compare.py.

    python bench/compare_case.py '{"system": "pelun", "workload": "poisson", "n": 10000, ...}'

The process simulates its data, makes one warm-up fit on a small data set (so that lazy imports and
first-call set-up are not timed), resets its memory high-water mark, and times `max_repeats` fits of the
same data (fewer once `repeat_budget` seconds are spent), each fit including its smoothing selection. The
peak memory is the high-water mark the fits added to the process. It then scores the fit against the truth
on the workload's grid (mean squared error of the fitted mean, coverage of the 95 % pointwise interval) and
refits up to `replicates - 1` further data sets of the same workload for the averages. For pelun it also
times one NumPy X.T @ (w * X) on pelun's own model matrix (the "data pass").

Each result is printed as one JSON line as soon as it is known, so the parent keeps what was measured when
it stops the process at its time cap. The peers are used through their public APIs only.
"""

import gc
import json
import math
import sys
import time
import warnings

import numpy as np

import compare_workloads as wl
from process_memory import reset_high_water_mark, rss_kib

LEVEL = 0.95


def emit(**record):
    print(json.dumps(record), flush=True)


# --- the three systems: fit (with automatic smoothing), one fit at fixed smoothing, prediction -----------

class Pelun:
    def __init__(self, workload, options):
        import pelun
        self.pelun = pelun
        self.w = wl.WORKLOADS[workload]
        self.version = pelun.__version__

    def fit(self, x, y):
        kind, family = self.w["kind"], self.w["family"]
        if kind == "single":
            return self.pelun.fit(family, x, y, k=wl.K_SINGLE)
        if kind == "additive":
            return self.pelun.fit_additive(family, x, y, [(j, "cr", wl.K_ADDITIVE) for j in range(x.shape[1])])
        return self.pelun.fit_additive(family, x, y, [((0, 1), "te", wl.K_SURFACE)])

    fixed_fit = fit  # pelun has no separate fixed-smoothing entry point; not used

    def predict(self, fit, g):
        return fit.predict_ci(g, LEVEL, "response")

    def info(self, fit):
        return {"edf": float(fit.edf_total), "n_iters": int(fit.n_iters), "converged": bool(fit.converged),
                "rho": [float(r) for r in fit.rho]}


class PyGam:
    GRID_ADDITIVE = 5  # values of lam per term in the Cartesian grid of the additive workload

    def __init__(self, workload, options):
        import pygam
        self.pygam = pygam
        self.w = wl.WORKLOADS[workload]
        self.version = pygam.__version__
        self.model = {"gaussian": pygam.LinearGAM, "poisson": pygam.PoissonGAM,
                      "bernoulli": pygam.LogisticGAM}[self.w["family"]]

    def terms(self, d):
        s, te = self.pygam.s, self.pygam.te
        kind = self.w["kind"]
        if kind == "single":
            return s(0, n_splines=wl.K_SINGLE)
        if kind == "additive":
            t = s(0, n_splines=wl.K_ADDITIVE)
            for j in range(1, d):
                t = t + s(j, n_splines=wl.K_ADDITIVE)
            return t
        return te(0, 1, n_splines=list(wl.K_SURFACE))

    def fit(self, x, y):
        gam = self.model(self.terms(x.shape[1]))
        if self.w["kind"] == "additive":
            lams = [np.logspace(-3, 3, self.GRID_ADDITIVE)] * x.shape[1]
            return gam.gridsearch(x, y, lam=lams, progress=False)
        return gam.gridsearch(x, y, progress=False)  # the default grid: lam = logspace(-3, 3, 11)

    def fixed_fit(self, x, y):
        return self.model(self.terms(x.shape[1])).fit(x, y)

    def predict(self, fit, g):
        ci = fit.confidence_intervals(g, width=LEVEL)
        return fit.predict_mu(g), ci[:, 0], ci[:, 1]

    def info(self, fit):
        def flat(v):
            return [u for item in v for u in flat(item)] if isinstance(v, (list, tuple, np.ndarray)) else [float(v)]
        return {"edf": float(fit.statistics_["edof"]), "lam": flat(fit.lam)}


class StatsmodelsGam:
    def __init__(self, workload, options):
        import statsmodels
        import statsmodels.api as sm
        from statsmodels.gam.api import BSplines, GLMGam
        self.w = wl.WORKLOADS[workload]
        if self.w["kind"] == "surface":
            raise NotImplementedError("GLMGam has no tensor-product smooth")
        self.version = statsmodels.__version__
        self.BSplines, self.GLMGam = BSplines, GLMGam
        self.family = {"gaussian": sm.families.Gaussian, "poisson": sm.families.Poisson,
                       "bernoulli": sm.families.Binomial}[self.w["family"]]
        self.method = options.get("method", "minimize")
        self.k = wl.K_SINGLE if self.w["kind"] == "single" else wl.K_ADDITIVE

    def model(self, x, y, alpha=None):
        d = x.shape[1]
        basis = self.BSplines(x, df=[self.k] * d, degree=[3] * d)
        kwargs = {} if alpha is None else {"alpha": alpha}
        return self.GLMGam(y, exog=np.ones((len(y), 1)), smoother=basis, family=self.family(), **kwargs)

    def fit(self, x, y):
        model = self.model(x, y)
        model.fit()  # select_penweight reads the scale that a first fit sets
        alpha = model.select_penweight(method=self.method)[0]
        return self.model(x, y, alpha).fit()

    def fixed_fit(self, x, y):
        return self.model(x, y).fit()

    def predict(self, fit, g):
        pred = fit.get_prediction(exog=np.ones((len(g), 1)), exog_smooth=g)
        ci = pred.conf_int(alpha=1 - LEVEL)
        return pred.predicted_mean, ci[:, 0], ci[:, 1]

    def info(self, fit):
        return {"edf": float(np.sum(fit.edf)), "alpha": [float(a) for a in np.ravel(fit.model.alpha)]}


SYSTEMS = {"pelun": Pelun, "pygam": PyGam, "statsmodels": StatsmodelsGam}


def score(system, fit, g, truth):
    mu, lo, hi = (np.asarray(a, dtype=float) for a in system.predict(fit, g))
    return {"mse": float(np.mean((mu - truth) ** 2)),
            "coverage": float(np.mean((lo <= truth) & (truth <= hi))),
            "finite": bool(np.all(np.isfinite(mu)) and np.all(np.isfinite(lo)) and np.all(np.isfinite(hi)))}, \
        (mu, lo, hi)


def data_pass(X, threads=None, repeats=5):
    """Best of `repeats` timings of one X.T @ (w[:, None] * X), with NumPy's BLAS threads or `threads`."""
    from contextlib import nullcontext
    try:
        from threadpoolctl import threadpool_limits
        limit = nullcontext() if threads is None else threadpool_limits(limits=threads, user_api="blas")
    except ImportError:
        limit = nullcontext()
    w = np.ones(X.shape[0])
    best = math.inf
    with limit:
        for _ in range(repeats):
            start = time.perf_counter()
            X.T @ (w[:, None] * X)
            best = min(best, time.perf_counter() - start)
    return best


def warning_texts(caught):
    texts = sorted({f"{w.category.__name__}: {str(w.message)[:120]}" for w in caught})
    return texts[:5]


def main():
    job = json.loads(sys.argv[1])
    name, n, seed = job["workload"], job["n"], job["seed"]
    try:
        system = SYSTEMS[job["system"]](name, job.get("options", {}))
    except NotImplementedError as error:
        emit(event="unsupported", message=str(error))
        return
    x, y = wl.simulate(name, n, seed)
    g, truth = wl.grid(name)

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        xw, yw = wl.simulate(name, 300 if wl.WORKLOADS[name]["d"] < 4 else 400, seed + 7)
        system.fixed_fit(xw, yw)  # warm-up: imports and first-call set-up, not timed

    if job.get("probe"):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            start = time.perf_counter()
            system.fixed_fit(x, y)
            emit(event="probe", seconds=time.perf_counter() - start)
        return

    gc.collect()
    reset_high_water_mark()
    base = rss_kib("VmRSS:")
    times, fit = [], None
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        while len(times) < job["max_repeats"] and (not times or sum(times) < job["repeat_budget"]):
            fit = None
            start = time.perf_counter()
            fit = system.fit(x, y)
            times.append(time.perf_counter() - start)
    peak_kib = rss_kib("VmHWM:") - base
    emit(event="timing", times=times, peak_mib=peak_kib / 1024, base_mib=base / 1024, version=system.version,
         warnings=warning_texts(caught))

    metrics, curve = score(system, fit, g, truth)
    emit(event="replicate", r=0, seed=seed, **metrics, **system.info(fit))
    if job.get("curve"):
        emit(event="curve", x=g[:, 0].tolist(), truth=truth.tolist(), mu=curve[0].tolist(), lo=curve[1].tolist(),
             hi=curve[2].tolist(), data_x=x[:, 0].tolist(), data_y=y.tolist())

    if job["system"] == "pelun":
        X = fit.evaluate_lpmatrix(x)
        emit(event="pass", seconds=data_pass(X), seconds_1thread=data_pass(X, threads=1), p=int(X.shape[1]))
        del X

    spent, last = 0.0, min(times)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for r in range(1, job["replicates"]):
            if spent + last > job["replicate_budget"]:
                break
            xr, yr = wl.simulate(name, n, seed + 1000 * r)
            fit = None
            start = time.perf_counter()
            fit = system.fit(xr, yr)
            last = time.perf_counter() - start
            spent += last
            metrics, _ = score(system, fit, g, truth)
            emit(event="replicate", r=r, seed=seed + 1000 * r, seconds=last, **metrics, **system.info(fit))
    emit(event="done")


if __name__ == "__main__":
    main()
