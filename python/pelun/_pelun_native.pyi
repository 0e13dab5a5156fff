from typing import Any, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

_Array = npt.NDArray[np.float64]
_Index = int
_UnivariateTerm = Union[Tuple[_Index, str], Tuple[_Index, str, Any]]
_TensorTerm = Union[
    Tuple[Tuple[_Index, _Index], str],
    Tuple[Tuple[_Index, _Index], str, Tuple[_Index, _Index]],
]

class FittedGam: ...

def fit(
    family_name: str,
    x: _Array,
    y: _Array,
    weights: _Array | None = None,
    k: int = 10,
    design: str = "cr",
    theta: float | None = None,
    nu: float | None = None,
    sigma2: float | None = None,
    tweedie_p: float | None = None,
    tweedie_phi: float | None = None,
    r: int | None = None,
    tau: float | None = None,
    elf_sigma: float | None = None,
    elf_lambda: float | None = None,
) -> FittedGam: ...
def fit_additive(
    family_name: str,
    x: _Array,
    y: _Array,
    terms: list[_UnivariateTerm | _TensorTerm],
    weights: _Array | None = None,
) -> FittedGam: ...
