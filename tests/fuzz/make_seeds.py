"""Writes the seed corpus of the deserialize fuzzer: frames of real fits and of
hand-made records of every predictor kind. Usage: python make_seeds.py DIR"""

import json
import pathlib
import struct
import sys

import numpy as np

import pelun


def frame(record):
    body = json.dumps(record, separators=(",", ":")).encode()
    return b"PELUN" + struct.pack("<IQ", 1, len(body)) + body


def array(values):
    values = np.asarray(values, dtype=float)
    return {"v": 1, "dim": list(values.shape), "data": values.ravel().tolist()}


def cr(k, kind="cr"):
    p = {"kind": kind, "knots": array(np.linspace(0.0, 1.0, k)), "centring": array(np.eye(k, k - 1) - 1.0 / k)}
    if kind == "cr_stable":
        p["reparam_v"] = array(np.eye(k - 1)[::-1])
    return p


def tensor(col_a, col_b, k_a, k_b):
    m = k_a * k_b
    return {"kind": "tensor", "col_a": col_a, "col_b": col_b, "bs_a": "cr", "bs_b": "cr",
            "knots_a": array(np.linspace(0.0, 1.0, k_a)), "knots_b": array(np.linspace(-1.0, 2.0, k_b)),
            "xp_a": array(np.eye(k_a)), "xp_b": array(np.eye(k_b)), "centring": array(np.eye(m, m - 1) - 1.0 / m)}


def record(predictor, p):
    return {"beta": array(np.linspace(-1.0, 1.0, p)), "rho": array([0.5]), "lambda": array([np.exp(0.5)]),
            "scale": 1.5, "edf_total": 4.0, "edf_per_term": array([3.0]), "n": 100, "n_iters": 5,
            "converged": True, "reml_value": 12.5, "predictor": predictor, "vcov": array(np.eye(p) * 0.01),
            "link_kind": "Log", "shape_params": array([])}


def main(directory):
    out = pathlib.Path(directory)
    out.mkdir(parents=True, exist_ok=True)
    rng = np.random.default_rng(1)
    x = rng.uniform(size=(200, 1))
    levels = rng.integers(0, 5, size=(200, 1)) / 4.0
    seeds = {
        "gaussian_cr": pelun.fit("gaussian", x, np.sin(6 * x[:, 0]) + rng.normal(size=200), k=6).serialize(),
        "poisson_re": pelun.fit("poisson", levels, rng.poisson(3.0, size=200).astype(float), design="re").serialize(),
        "nan_scale": pelun.fit("gaussian", np.array([[0.0], [1.0]]), np.array([1.0, 3.0]), k=3).serialize(),
        "cr_stable": frame(record(cr(4, "cr_stable"), 4)),
        "tensor": frame(record(tensor(0, 1, 3, 3), 9)),
    }
    inner = {"kind": "additive", "term_predictors": [cr(3), tensor(0, 0, 3, 3)], "cols_used": [[0], [0, 0]],
             "term_col_ranges": [[1, 3], [3, 11]]}
    additive = {"kind": "additive",
                "term_predictors": [cr(4), {"kind": "re", "levels": [0.0, 0.5, 1.0]}, tensor(2, 3, 3, 3), inner],
                "cols_used": [[0], [1], [2, 3], [1]], "term_col_ranges": [[1, 4], [4, 7], [7, 15], [15, 25]]}
    seeds["additive"] = frame(record(additive, 25))
    for name, data in seeds.items():
        pelun.FittedGam.deserialize(data)  # every seed is a valid frame
        (out / name).write_bytes(data)


if __name__ == "__main__":
    main(sys.argv[1])
