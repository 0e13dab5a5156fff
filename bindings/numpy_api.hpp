// The NumPy C API, shared by every binding file. The module entry defines
// PELUN_NUMPY_IMPORT before including this header; it owns the API table.
#pragma once

#include "py_ref.hpp"

#define NPY_NO_DEPRECATED_API NPY_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL pelun_numpy_api_table
#ifndef PELUN_NUMPY_IMPORT
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
