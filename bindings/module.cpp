// Entry point of the extension module `_pelun_native`.
#include <cstdint>

#include "errors.hpp"
#include "fit_functions.hpp"
#include "fitted_gam.hpp"
#include "linalg/blas.hpp"
#include "numpy_bridge.hpp"
#include "py_ref.hpp"

namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_pelun_native",
    "",  // empty module docstring
    // Not -1: CPython then calls the entry again for every import (a
    // sub-interpreter's included) instead of copying the first module's dict.
    0,
    nullptr,
};

// The module object of this process and the interpreter that created it.
PyObject* the_module = nullptr;
std::int64_t module_interpreter_id = -1;

PyObject* create_module() {
    using pelun::py::PyRef;
    PyRef module = PyRef::steal(PyModule_Create(&module_definition));
    if (!module) return nullptr;
    if (!pelun::py::import_numpy()) return nullptr;

    PyRef fitted_gam_type = PyRef::steal(pelun::py::create_fitted_gam_type());
    if (!fitted_gam_type) return nullptr;
    if (PyModule_AddObjectRef(module.get(), "FittedGam", fitted_gam_type.get()) < 0) return nullptr;
    if (PyModule_AddFunctions(module.get(), pelun::py::fit_function_table()) < 0) return nullptr;
    return module.release();
}

}  // namespace

PyMODINIT_FUNC PyInit__pelun_native() {
    const std::int64_t interpreter_id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter_id < 0) return nullptr;
    if (module_interpreter_id >= 0 && module_interpreter_id != interpreter_id) {
        PyErr_SetString(PyExc_ImportError,
                        "_pelun_native does not support sub-interpreters: it can be imported only in "
                        "the interpreter that imported it first");
        return nullptr;
    }
    if (the_module != nullptr) return Py_NewRef(the_module);

    PyObject* module = create_module();
    if (module == nullptr) return nullptr;
    // The core computes on the calling thread only.
    pelun::set_blas_single_threaded();
    module_interpreter_id = interpreter_id;
    the_module = Py_NewRef(module);
    return module;
}
