// FittedGam's persistence methods: serialize, the class method deserialize
// and __reduce__, which makes pickles carry the serialized frame.
#pragma once

#include "py_ref.hpp"

namespace pelun::py {

// serialize(self) -> bytes: the frame of the instance's record.
PyObject* serialize_method(PyObject* self, PyObject* unused);

// deserialize(cls, bytes) -> FittedGam (fast call): `bytes` must be a bytes
// object; the result is always of the module's FittedGam class.
PyObject* deserialize_method(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// __reduce__(self) -> (FittedGam.deserialize, (frame,)).
PyObject* reduce_method(PyObject* self, PyObject* unused);

}  // namespace pelun::py
