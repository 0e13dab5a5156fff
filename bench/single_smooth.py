"""Timings of single-smooth fits: wall time, peak memory, outer iterations.

Each case runs in a fresh process (bench/fit_timing.py). Fit time is also
given in "data passes": multiples of one NumPy X.T @ (w * X) on the fit's own
model matrix, timed in the same process.

    python bench/single_smooth.py            # n up to 10^6
    python bench/single_smooth.py --quick    # n up to 10^5
"""

import argparse
import statistics

from fit_timing import inner_fits_lower_bound, run_fit

DATA = {
    "gaussian": "x = rng.uniform(size=(n, 1)); y = np.sin(2 * np.pi * x[:, 0]) + rng.normal(scale=0.5, size=n)",
    "poisson": "x = rng.uniform(size=(n, 1)); y = rng.poisson(np.exp(1 + np.sin(2 * np.pi * x[:, 0]))).astype(float)",
    "bernoulli": "x = rng.uniform(size=(n, 1)); "
                 "y = (rng.uniform(size=n) < 1 / (1 + np.exp(-2 * np.sin(2 * np.pi * x[:, 0])))).astype(float)",
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="stop at n = 10^5")
    args = parser.parse_args()
    sizes = [10**4, 10**5] if args.quick else [10**4, 10**5, 10**6]
    print("| family | n | k | fit time (s) | data passes | peak memory (MiB) | outer iterations | inner fits | edf |")
    print("|---|---|---|---|---|---|---|---|---|")
    for family, make_data in DATA.items():
        for k in [10, 40]:
            for n in sizes:
                r = run_fit(family, n, make_data, repeats=5 if n <= 10**5 else 3, k=k, seed=n + k)
                t = statistics.median(r["times"])
                print(f"| {family} | {n:,} | {k} | {t:.4f} | {t / r['pass']:.1f} | {r['peak_mib']:.1f} | "
                      f"{r['n_iters']} | ≥{inner_fits_lower_bound(r['n_iters'], r['m'])} | {r['edf']:.2f} |",
                      flush=True)


if __name__ == "__main__":
    main()
