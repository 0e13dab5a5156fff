#include "arguments.hpp"

#include <cstdint>
#include <string>
#include <vector>

#include "errors.hpp"

namespace pelun::py {

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": CPython's list of missing names.
std::string quoted_name_list(std::span<const char* const> names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() > 2 ? ", " : " ";
        if (i > 0 && i + 1 == names.size()) out += "and ";
        out += "'";
        out += names[i];
        out += "'";
    }
    return out;
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> bound) {
    const std::size_t n_params = signature.names.size();
    for (auto& slot : bound) slot = nullptr;

    const auto n_positional = static_cast<std::size_t>(nargs);
    if (n_positional > n_params) {
        PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zu were given",
                     signature.function_name, signature.required, n_params, n_positional);
        return false;
    }
    for (std::size_t i = 0; i < n_positional; ++i) bound[i] = args[i];

    const Py_ssize_t n_keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < n_keywords; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        std::size_t index = n_params;
        for (std::size_t i = 0; i < n_params; ++i) {
            if (PyUnicode_CompareWithASCIIString(key, signature.names[i]) == 0) {
                index = i;
                break;
            }
        }
        if (index == n_params) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         signature.function_name, key);
            return false;
        }
        if (bound[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                         signature.function_name, signature.names[index]);
            return false;
        }
        bound[index] = args[nargs + k];
    }

    std::vector<const char*> missing;
    for (std::size_t i = 0; i < signature.required; ++i)
        if (bound[i] == nullptr) missing.push_back(signature.names[i]);
    if (!missing.empty()) {
        const std::string names = quoted_name_list(missing);
        PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s",
                     signature.function_name, missing.size(), missing.size() == 1 ? "" : "s",
                     names.c_str());
        return false;
    }
    return true;
}

std::string_view short_type_name(PyObject* object) {
    std::string_view name = Py_TYPE(object)->tp_name;
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

bool raise_cast_error(std::string_view actual, std::string_view expected) {
    const std::string message =
        "'" + std::string(actual) + "' object cannot be cast as '" + std::string(expected) + "'";
    PyErr_SetString(PyExc_TypeError, message.c_str());
    return false;
}

bool convert_text(PyObject* object, std::string_view& text) {
    if (!PyUnicode_Check(object)) return raise_cast_error(short_type_name(object), "str");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) return false;  // e.g. lone surrogates: UnicodeEncodeError
    text = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool convert_unsigned(PyObject* object, std::size_t& value) {
    PyRef index = PyRef::steal(PyNumber_Index(object));
    if (!index) return false;
    const unsigned long long converted = PyLong_AsUnsignedLongLong(index.get());
    if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    if (converted > SIZE_MAX) {
        PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C size_t");
        return false;
    }
    value = static_cast<std::size_t>(converted);
    return true;
}

bool convert_optional_unsigned(PyObject* object, std::optional<std::size_t>& value) {
    value.reset();
    if (object == nullptr || object == Py_None) return true;
    std::size_t converted = 0;
    if (!convert_unsigned(object, converted)) return false;
    value = converted;
    return true;
}

bool convert_optional_double(PyObject* object, std::optional<double>& value) {
    value.reset();
    if (object == nullptr || object == Py_None) return true;
    const double converted = PyFloat_AsDouble(object);
    if (converted == -1.0 && PyErr_Occurred()) return false;
    value = converted;
    return true;
}

}  // namespace pelun::py
