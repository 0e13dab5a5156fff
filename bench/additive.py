"""Timings of additive fits: four cr terms, and two-dimensional tensor terms.

    python bench/additive.py
"""

import statistics

from fit_timing import inner_fits_lower_bound, run_fit

FOUR_TERMS = (
    "x = rng.uniform(size=(n, 4)); "
    "f = 2 * np.sin(np.pi * x[:, 0]) + np.exp(2 * x[:, 1]) + "
    "0.2 * x[:, 2] ** 11 * (10 * (1 - x[:, 2])) ** 6 + 10 * (10 * x[:, 2]) ** 3 * (1 - x[:, 2]) ** 10; "
    "y = f + rng.normal(scale=2.0, size=n)"
)
SURFACE = (
    "x = rng.uniform(size=(n, 2)); "
    "y = np.sin(3 * x[:, 0]) * np.cos(2 * x[:, 1]) + x[:, 0] * x[:, 1] + rng.normal(scale=0.2, size=n)"
)


def main():
    cases = [
        ("4 × cr (k = 10)", FOUR_TERMS, [[0, "cr", 10], [1, "cr", 10], [2, "cr", 10], [3, "cr", 10]], 10**4),
        ("4 × cr (k = 10)", FOUR_TERMS, [[0, "cr", 10], [1, "cr", 10], [2, "cr", 10], [3, "cr", 10]], 10**5),
        ("te 5 × 5", SURFACE, [[[0, 1], "te", [5, 5]]], 10**4),
        ("te 10 × 10", SURFACE, [[[0, 1], "te", [10, 10]]], 10**4),
    ]
    print("| model | n | p | smoothing parameters | fit time (s) | data passes | peak memory (MiB) | "
          "outer iterations | inner fits |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, make_data, terms, n in cases:
        r = run_fit("gaussian", n, make_data, repeats=3, terms=terms, seed=n)
        t = statistics.median(r["times"])
        print(f"| {name} | {n:,} | {r['p']} | {r['m']} | {t:.3f} | {t / r['pass']:.1f} | {r['peak_mib']:.1f} | "
              f"{r['n_iters']} | ≥{inner_fits_lower_bound(r['n_iters'], r['m'])} |", flush=True)


if __name__ == "__main__":
    main()
