// The module functions `fit` and `fit_additive`.
#pragma once

#include "py_ref.hpp"

namespace pelun::py {

// Method table with `fit` then `fit_additive`, terminated by a null entry.
PyMethodDef* fit_function_table();

}  // namespace pelun::py
