import numpy as np
import pytest


@pytest.fixture(scope="module")
def xy():
    """A small covariate matrix and response that pass every conversion."""
    rng = np.random.default_rng(0)
    x = rng.uniform(size=(30, 2))
    y = rng.poisson(2.0, size=30).astype(np.float64)
    return x, y
