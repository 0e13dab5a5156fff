"""Shared by the fit benchmarks: run one fit in a fresh process and measure it.

The child process makes its data, resets its memory high-water mark, times
`repeats` fits and reports the median-ready list of times, the peak memory the
fits added on top of the data, the fit's outer iterations, and the time of one
NumPy X.T @ (w * X) on the fit's own model matrix (the "data pass" unit).
"""

import json
import subprocess
import sys
from pathlib import Path

CHILD = r"""
import json, sys, time
import numpy as np
import pelun
from process_memory import reset_high_water_mark, rss_kib

case = json.loads(sys.argv[1])
rng = np.random.default_rng(case["seed"])
n = case["n"]
namespace = {"np": np, "rng": rng, "n": n}
exec(case["make_data"], namespace)  # defines x and y
x, y = namespace["x"], namespace["y"]

reset_high_water_mark()
base = rss_kib("VmRSS:")
times = []
for _ in range(case["repeats"]):
    start = time.perf_counter()
    if case["terms"] is None:
        fit = pelun.fit(case["family"], x, y, k=case["k"])
    else:
        fit = pelun.fit_additive(case["family"], x, y, [tuple(t) if not isinstance(t[0], list) else
                                                        (tuple(t[0]), t[1], tuple(t[2])) for t in case["terms"]])
    times.append(time.perf_counter() - start)
peak = rss_kib("VmHWM:") - base

X = fit.evaluate_lpmatrix(x)
w = np.ones(n)
passes = []
for _ in range(3):
    start = time.perf_counter()
    X.T @ (w[:, None] * X)
    passes.append(time.perf_counter() - start)
print(json.dumps({"times": times, "peak_mib": peak / 1024, "n_iters": fit.n_iters, "m": len(fit.rho),
                  "p": len(fit.beta), "edf": fit.edf_total, "converged": fit.converged, "pass": min(passes)}))
"""


def run_fit(family, n, make_data, repeats, k=10, terms=None, seed=1):
    """Runs one benchmark case in a child process and returns its measurements."""
    case = {"family": family, "n": n, "make_data": make_data, "repeats": repeats, "k": k, "terms": terms,
            "seed": seed}
    out = subprocess.run([sys.executable, "-c", CHILD, json.dumps(case)], capture_output=True, text=True,
                         check=True, cwd=Path(__file__).resolve().parent)  # the child imports process_memory
    return json.loads(out.stdout)


def inner_fits_lower_bound(n_iters, m):
    """Inner fits of a search that accepted every first trial: (1 + 2m) per evaluated point, the start
    point included, plus the final refit."""
    return (1 + 2 * m) * (n_iters + 1) + 1
