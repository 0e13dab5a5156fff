// Fast-call argument binding and the conversions of Python values into the
// typed arguments of the core. Every converter returns false with a Python
// exception set on failure.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "errors.hpp"
#include "py_ref.hpp"

namespace pelun::py {

// The parameters of one function: all positional-or-keyword, the first
// `required` of them without default.
struct Signature {
    const char* function_name;
    std::span<const char* const> names;
    std::size_t required;
};

// Matches vectorcall arguments to the parameters. `bound` has one slot per
// parameter and receives borrowed references, nullptr for an absent one.
// Reports too many positional arguments, unknown or repeated keywords and
// missing required arguments as TypeError, in CPython's wording.
bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> bound);

// Runs one conversion; a TypeError it raises is re-raised with the
// "argument '<name>': " prefix, chained to the original.
template <class Convert>
bool convert_argument(const char* name, Convert&& convert) {
    if (convert()) return true;
    prefix_pending_type_error(name);
    return false;
}

// "'<actual>' object cannot be cast as '<expected>'" as TypeError.
bool raise_cast_error(std::string_view actual, std::string_view expected);
// The short type name of an object ("list", "ndarray").
std::string_view short_type_name(PyObject* object);

// A `str` (or subclass) as UTF-8 text; the text lives as long as the object.
bool convert_text(PyObject* object, std::string_view& text);

// Python int or object with __index__, value >= 0. CPython's own TypeError
// (not an integer) and OverflowError (negative, too large) are raised.
bool convert_unsigned(PyObject* object, std::size_t& value);

// As convert_unsigned; None or absent gives no value.
bool convert_optional_unsigned(PyObject* object, std::optional<std::size_t>& value);

// Anything CPython's float protocol accepts; None or absent gives no value.
// A genuine -1.0 is accepted (failure is -1.0 with an exception pending).
bool convert_optional_double(PyObject* object, std::optional<double>& value);

}  // namespace pelun::py
