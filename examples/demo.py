"""The main job of this repository: pelun fits on a small embedded dataset.

A Gaussian and a Poisson smooth are fitted to data simulated from a fixed seed
(the true curves are known), with the smoothing parameter chosen by REML /
LAML. The script prints a compact summary of each fit, a few predictions with
95 % intervals, and writes a plot of the data, the fitted curves and their
bands to examples/demo.png.
"""

import pathlib

import numpy as np

import pelun

HERE = pathlib.Path(__file__).resolve().parent


def embedded_data():
    """200 observations of a covariate on [0, 1] with a Gaussian and a count response."""
    rng = np.random.default_rng(20261211)
    x = np.sort(rng.uniform(0.0, 1.0, size=200))[:, None]
    signal = np.sin(2.0 * np.pi * x[:, 0]) + 0.5 * x[:, 0]
    gaussian_y = signal + rng.normal(scale=0.35, size=200)
    counts = rng.poisson(np.exp(1.0 + signal)).astype(np.float64)
    return x, signal, gaussian_y, counts


def summary(name, fit):
    lam = getattr(fit, "lambda")
    return (f"{name:9s} edf={fit.edf_total:6.3f}  lambda={lam[0]:10.4g}  scale={fit.scale:8.4g}  "
            f"criterion={fit.reml_value:10.4f}  outer iterations={fit.n_iters}  converged={fit.converged}")


def main() -> None:
    x, signal, gaussian_y, counts = embedded_data()
    print(f"pelun {pelun.__version__}: {len(counts)} observations of x on [0, 1]")

    gaussian = pelun.fit("gaussian", x, gaussian_y, k=10)
    poisson = pelun.fit("poisson", x, counts, k=10)
    print(summary("gaussian", gaussian))
    print(summary("poisson", poisson))

    at = np.array([[0.1], [0.25], [0.5], [0.75], [0.9]])
    truth = np.sin(2.0 * np.pi * at[:, 0]) + 0.5 * at[:, 0]
    mean, lo, hi = gaussian.predict_ci(at)
    rate, rate_lo, rate_hi = poisson.predict_ci(at)
    print("\n    x   true f  gaussian fit [95% interval]      true rate  poisson rate [95% interval]")
    for i in range(len(at)):
        print(f"{at[i, 0]:5.2f}  {truth[i]:7.3f}  {mean[i]:7.3f} [{lo[i]:7.3f}, {hi[i]:7.3f}]   "
              f"{np.exp(1 + truth[i]):10.3f}  {rate[i]:10.3f} [{rate_lo[i]:7.3f}, {rate_hi[i]:7.3f}]")

    mse = np.mean((gaussian.predict(x) - signal) ** 2)
    print(f"\nmean squared error of the Gaussian fit against the true curve: {mse:.5f}")
    write_plot(x, signal, gaussian_y, counts, gaussian, poisson)


def write_plot(x, signal, gaussian_y, counts, gaussian, poisson):
    try:
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed; no plot written")
        return
    grid = np.linspace(0.0, 1.0, 300)[:, None]
    true_curve = np.sin(2.0 * np.pi * grid[:, 0]) + 0.5 * grid[:, 0]
    fig, axes = plt.subplots(1, 2, figsize=(11, 4.2))
    for ax, fit, y, truth, title in [
        (axes[0], gaussian, gaussian_y, true_curve, "Gaussian: y = f(x) + noise"),
        (axes[1], poisson, counts, np.exp(1.0 + true_curve), "Poisson: counts with rate exp(1 + f(x))"),
    ]:
        mean, lo, hi = fit.predict_ci(grid)
        ax.scatter(x[:, 0], y, s=9, color="0.55", label="data")
        ax.fill_between(grid[:, 0], lo, hi, color="tab:blue", alpha=0.25, label="95% interval")
        ax.plot(grid[:, 0], mean, color="tab:blue", lw=2, label=f"pelun fit (edf {fit.edf_total:.1f})")
        ax.plot(grid[:, 0], truth, color="black", lw=1, ls="--", label="truth")
        ax.set_title(title)
        ax.set_xlabel("x")
        ax.legend(loc="best", fontsize=8)
    fig.tight_layout()
    path = HERE / "demo.png"
    fig.savefig(path, dpi=110)
    print(f"plot written to {path.relative_to(HERE.parent)}")


if __name__ == "__main__":
    main()
