import numpy as np
import pytest


@pytest.fixture(scope="module")
def xy():
    """A small covariate matrix and a response inside (0, 1), valid for every family."""
    rng = np.random.default_rng(0)
    x = rng.uniform(size=(30, 2))
    y = rng.uniform(0.1, 0.9, size=30)
    return x, y
