#include "persistence_methods.hpp"

#include <array>
#include <span>
#include <string>

#include "arguments.hpp"
#include "errors.hpp"
#include "fit/persistence.hpp"
#include "fitted_gam.hpp"

namespace pelun::py {

namespace {

PyObject* frame_bytes(PyObject* self) {
    auto frame = serialize_fit(fitted_gam_record(self));
    if (!frame) return raise_error(std::move(frame.error()));
    return PyBytes_FromStringAndSize(frame->data(), static_cast<Py_ssize_t>(frame->size()));
}

}  // namespace

PyObject* serialize_method(PyObject* self, PyObject*) { return frame_bytes(self); }

PyObject* deserialize_method(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<const char*, 1> names = {"bytes"};
    std::array<PyObject*, 1> bound{};
    if (!bind_arguments({"deserialize", names, 1}, args, nargs, kwnames, bound)) return nullptr;
    PyObject* data = bound[0];
    if (!convert_argument("bytes", [&] {
            return PyBytes_Check(data) ? true : raise_cast_error(short_type_name(data), "bytes");
        }))
        return nullptr;
    const std::span<const unsigned char> frame(reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(data)),
                                               static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
    auto record = deserialize_fit(frame);
    if (!record) return raise_error(std::move(record.error()));
    // Whatever class it is called on, the result is of the module's own class.
    return wrap_fitted_gam(std::move(*record));
}

PyObject* reduce_method(PyObject* self, PyObject*) {
    PyObject* cls = fitted_gam_class();
    if (cls == nullptr) return raise_internal_failure("FittedGam.__reduce__: the FittedGam class does not exist");
    PyRef deserialize = PyRef::steal(PyObject_GetAttrString(cls, "deserialize"));
    if (!deserialize) return nullptr;
    PyRef frame = PyRef::steal(frame_bytes(self));
    if (!frame) return nullptr;
    return Py_BuildValue("(O(O))", deserialize.get(), frame.get());
}

}  // namespace pelun::py
