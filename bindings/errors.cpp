#include "errors.hpp"

namespace pelun::py {

namespace {

PyObject* internal_failure_type() {
    // Created on first use and kept for the life of the process.
    static PyObject* type = PyErr_NewExceptionWithDoc(
        "pelun._pelun_native.InternalFailure",
        "A broken internal invariant of pelun; please report it with the call that caused it.",
        PyExc_BaseException, nullptr);
    return type;
}

}  // namespace

PendingError to_pending_error(PelunError&& error) {
    switch (error.kind) {
        case ErrorKind::InvalidParameter:
            return {PyExc_ValueError, std::move(error.text)};
        case ErrorKind::Internal:
            return {internal_failure_type(), std::move(error.text)};
        default:
            return {PyExc_RuntimeError, error.display()};
    }
}

PyObject* raise(const PendingError& pending) {
    if (pending.type == nullptr) return nullptr;  // making the internal-failure type failed; that error is set
    PyErr_SetString(pending.type, pending.message.c_str());
    return nullptr;
}

PyObject* raise_error(PelunError&& error) { return raise(to_pending_error(std::move(error))); }

PyObject* raise_internal_failure(std::string_view description) {
    PyObject* type = internal_failure_type();
    if (type == nullptr) return nullptr;  // creating the type failed; that error is pending
    const std::string text(description);
    PyErr_SetString(type, text.c_str());
    return nullptr;
}

void prefix_pending_type_error(const char* argument_name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef cause = PyRef::steal(value);
    PyRef cause_type = PyRef::steal(type);
    PyRef cause_traceback = PyRef::steal(traceback);
    if (cause_traceback) PyException_SetTraceback(cause.get(), cause_traceback.get());

    PyRef text = PyRef::steal(PyObject_Str(cause.get()));
    if (!text) return;
    PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", argument_name, text.get()));
    if (!message) return;
    PyRef replacement = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!replacement) return;
    // `raise TypeError(...) from cause`: both links, context suppressed.
    PyException_SetContext(replacement.get(), Py_NewRef(cause.get()));
    PyException_SetCause(replacement.get(), cause.release());
    PyErr_SetObject(PyExc_TypeError, replacement.get());
}

}  // namespace pelun::py
