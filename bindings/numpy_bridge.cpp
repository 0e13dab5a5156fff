#include "numpy_bridge.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "arguments.hpp"
#include "numpy_api.hpp"

namespace pelun::py {

namespace {

std::string expected_array_name(int ndim) { return "ndarray[float64, ndim=" + std::to_string(ndim) + "]"; }

std::string describe_array(PyArrayObject* array) {
    PyRef dtype = PyRef::steal(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(array))));
    const char* dtype_text = dtype ? PyUnicode_AsUTF8(dtype.get()) : nullptr;
    if (dtype_text == nullptr) {
        PyErr_Clear();
        dtype_text = "?";
    }
    return "ndarray[" + std::string(dtype_text) + ", ndim=" + std::to_string(PyArray_NDIM(array)) + "]";
}

bool is_aligned(PyArrayObject* array) { return PyArray_ISALIGNED(array); }

}  // namespace

bool check_float64_array(PyObject* object, int ndim) {
    if (!PyArray_Check(object)) return raise_cast_error(short_type_name(object), expected_array_name(ndim));
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    const bool float64 = PyArray_TYPE(array) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(array);
    if (PyArray_NDIM(array) != ndim || !float64)
        return raise_cast_error(describe_array(array), expected_array_name(ndim));
    return true;
}

bool view_matrix(PyObject* object, MatrixArgument& out) {
    if (!check_float64_array(object, 2)) return false;
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    const auto rows = static_cast<std::size_t>(PyArray_DIM(array, 0));
    const auto cols = static_cast<std::size_t>(PyArray_DIM(array, 1));
    const MatrixView raw(PyArray_DATA(array), rows, cols, PyArray_STRIDE(array, 0), PyArray_STRIDE(array, 1));
    if (is_aligned(array)) {
        out.view = raw;
        return true;
    }
    out.aligned_copy = Matrix(rows, cols);
    const auto* base = static_cast<const char*>(PyArray_DATA(array));
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < cols; ++j)
            std::memcpy(&out.aligned_copy(i, j),
                        base + static_cast<npy_intp>(i) * PyArray_STRIDE(array, 0) +
                            static_cast<npy_intp>(j) * PyArray_STRIDE(array, 1),
                        sizeof(double));
    out.view = MatrixView(out.aligned_copy);
    return true;
}

bool view_vector(PyObject* object, VectorArgument& out) {
    if (!check_float64_array(object, 1)) return false;
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    const auto size = static_cast<std::size_t>(PyArray_DIM(array, 0));
    if (is_aligned(array)) {
        out.view = VectorView(PyArray_DATA(array), size, PyArray_STRIDE(array, 0));
        return true;
    }
    out.aligned_copy.resize(size);
    const auto* base = static_cast<const char*>(PyArray_DATA(array));
    for (std::size_t i = 0; i < size; ++i)
        std::memcpy(&out.aligned_copy[i], base + static_cast<npy_intp>(i) * PyArray_STRIDE(array, 0),
                    sizeof(double));
    out.view = VectorView(std::span<const double>(out.aligned_copy));
    return true;
}

bool copy_vector(PyObject* object, Vector& out) {
    VectorArgument argument;
    if (!view_vector(object, argument)) return false;
    out = argument.aligned_copy.empty() ? to_vector(argument.view) : std::move(argument.aligned_copy);
    return true;
}

PyObject* new_array(const Vector& values) {
    npy_intp dims[1] = {static_cast<npy_intp>(values.size())};
    PyObject* array = PyArray_SimpleNew(1, dims, NPY_DOUBLE);
    if (array == nullptr) return nullptr;
    std::copy(values.begin(), values.end(),
              static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array))));
    return array;
}

PyObject* new_array(const Matrix& values) {
    npy_intp dims[2] = {static_cast<npy_intp>(values.rows()), static_cast<npy_intp>(values.cols())};
    PyObject* array = PyArray_SimpleNew(2, dims, NPY_DOUBLE);
    if (array == nullptr) return nullptr;
    std::copy(values.data(), values.data() + values.size(),
              static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array))));
    return array;
}

}  // namespace pelun::py
