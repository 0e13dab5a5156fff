// Owns the NumPy C API table that every other binding file refers to.
#define PELUN_NUMPY_IMPORT
#include "numpy_api.hpp"
#include "numpy_bridge.hpp"

namespace pelun::py {

bool import_numpy() { return PyArray_ImportNumPyAPI() == 0; }

}  // namespace pelun::py
