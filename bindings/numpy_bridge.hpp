// The NumPy array bridge: float64 arrays of the caller checked and read in
// place through their strides, and new arrays made from owned buffers.
#pragma once

#include "linalg/matrix.hpp"
#include "linalg/views.hpp"
#include "py_ref.hpp"

namespace pelun::py {

// True when `object` is a NumPy array with `ndim` dimensions whose dtype is
// native-order float64; otherwise raises the cast TypeError naming the
// object's type (for arrays, its dtype and number of dimensions).
bool check_float64_array(PyObject* object, int ndim);

// A read-only view of a checked 2-D or 1-D array, valid while the array is
// alive and unchanged. Misaligned data (possible for arrays made over raw
// buffers) is copied once into an aligned buffer that the argument owns.
struct MatrixArgument {
    MatrixView view;
    Matrix aligned_copy;
};
struct VectorArgument {
    VectorView view;
    Vector aligned_copy;
};
bool view_matrix(PyObject* object, MatrixArgument& out);
bool view_vector(PyObject* object, VectorArgument& out);

// An owned copy of a checked 1-D array.
bool copy_vector(PyObject* object, Vector& out);

// New NumPy arrays holding copies of the values.
PyObject* new_array(const Vector& values);
PyObject* new_array(const Matrix& values);

// Imports the NumPy C API; called once from the module entry.
bool import_numpy();

}  // namespace pelun::py
