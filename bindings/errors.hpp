// Conversion of core errors into Python exceptions, and the binding layer's
// internal-failure exception.
#pragma once

#include <string>
#include <string_view>

#include "py_ref.hpp"
#include "util/error.hpp"

namespace pelun::py {

// An exception not raised yet: its type (a built-in exception type) and its
// message. The Python object is only made when it is raised.
struct PendingError {
    PyObject* type = nullptr;
    std::string message;
};

// The one conversion of a core error: InvalidParameter becomes ValueError
// with the bare text, SingularSystem, NotConverged and Linalg RuntimeError
// with their display text, and Internal the internal-failure exception with
// its text.
PendingError to_pending_error(PelunError&& error);

// Raises the exception into the interpreter; returns nullptr for the caller
// to return.
PyObject* raise(const PendingError& pending);
PyObject* raise_error(PelunError&& error);

// A broken internal invariant: raised as an exception type derived directly
// from BaseException, so that `except Exception` does not swallow it.
PyObject* raise_internal_failure(std::string_view description);

// Replaces a pending TypeError by TypeError("argument '<name>': <message>"),
// chained to the original as its cause. Other pending exceptions are left
// as they are.
void prefix_pending_type_error(const char* argument_name);

}  // namespace pelun::py
