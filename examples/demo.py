"""The main job of this repository: a pelun session on a small embedded dataset.

The fit paths are still being built; for now the demo shows the package
loading and a call rejected by the argument checks, with its message.
"""

import numpy as np

import pelun


def main() -> None:
    rng = np.random.default_rng(20261211)
    x = np.sort(rng.uniform(0.0, 1.0, size=200))[:, None]
    y = rng.poisson(np.exp(1.0 + np.sin(2.0 * np.pi * x[:, 0]))).astype(np.float64)
    print(f"pelun {pelun.__version__}: {len(y)} observations, counts from {y.min():g} to {y.max():g}")
    try:
        pelun.fit("negbin", x, y, theta=-1.0)
    except ValueError as error:
        print(f"rejected as expected: ValueError: {error}")
    try:
        pelun.fit("poisson", x, y)
    except NotImplementedError as error:
        print(f"not available yet: {error}")


if __name__ == "__main__":
    main()
