"""Timings of single-smooth fits: wall time, peak memory and outer iterations.

Each case runs in a fresh process so that its peak memory is its own: the
process's high-water mark is reset after the data are made, so the figure is
what the fit itself adds on top of the data. A NumPy X.T @ X on the fit's own
model matrix, timed in the same process, is the "data pass" unit that the fit
time is compared with.

    python bench/single_smooth.py            # the full table (n up to 10^6)
    python bench/single_smooth.py --quick    # n up to 10^5
"""

import argparse
import json
import statistics
import subprocess
import sys
import time

CASE = r"""
import json, sys, time
import numpy as np
import pelun

family, n, k, repeats = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = np.random.default_rng(n + k)
x = rng.uniform(size=(n, 1))
f = np.sin(2 * np.pi * x[:, 0])
if family == "gaussian":
    y = f + rng.normal(scale=0.5, size=n)
elif family == "poisson":
    y = rng.poisson(np.exp(1 + f)).astype(float)
else:
    y = (rng.uniform(size=n) < 1 / (1 + np.exp(-2 * f))).astype(float)

def rss_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field):
                return int(line.split()[1])
    return 0

with open("/proc/self/clear_refs", "w") as refs:
    refs.write("5")  # reset the high-water mark
base = rss_kib("VmRSS:")
times = []
for _ in range(repeats):
    start = time.perf_counter()
    fit = pelun.fit(family, x, y, k=k)
    times.append(time.perf_counter() - start)
peak = rss_kib("VmHWM:") - base

X = fit.evaluate_lpmatrix(x)
w = np.ones(n)
pass_times = []
for _ in range(3):
    start = time.perf_counter()
    X.T @ (w[:, None] * X)
    pass_times.append(time.perf_counter() - start)
print(json.dumps({"times": times, "peak_mib": peak / 1024, "n_iters": fit.n_iters,
                  "edf": fit.edf_total, "converged": fit.converged, "pass": min(pass_times)}))
"""


def run_case(family, n, k, repeats):
    out = subprocess.run([sys.executable, "-c", CASE, family, str(n), str(k), str(repeats)],
                         capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="stop at n = 10^5")
    args = parser.parse_args()
    sizes = [10**4, 10**5] if args.quick else [10**4, 10**5, 10**6]
    print("| family | n | k | fit time (s) | data passes | peak memory (MiB) | outer iterations | inner fits | edf |")
    print("|---|---|---|---|---|---|---|---|---|")
    for family in ["gaussian", "poisson", "bernoulli"]:
        for k in [10, 40]:
            for n in sizes:
                repeats = 5 if n <= 10**5 else 3
                result = run_case(family, n, k, repeats)
                fit_time = statistics.median(result["times"])
                passes = fit_time / result["pass"]
                # Every accepted outer iteration evaluates the criterion and its
                # finite-difference Hessian: 3 inner fits per trial point (one
                # smoothing parameter), plus the start point and the final refit.
                inner = 3 * (result["n_iters"] + 1) + 1
                print(f"| {family} | {n:,} | {k} | {fit_time:.4f} | {passes:.1f} | {result['peak_mib']:.1f} | "
                      f"{result['n_iters']} | ≥{inner} | {result['edf']:.2f} |", flush=True)


if __name__ == "__main__":
    time.sleep(0)
    main()
