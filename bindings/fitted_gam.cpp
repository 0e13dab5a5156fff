#include "fitted_gam.hpp"

namespace pelun::py {

namespace {

struct FittedGamObject {
    PyObject_HEAD
};

PyType_Slot fitted_gam_slots[] = {
    {Py_tp_doc, const_cast<char*>("")},
    {0, nullptr},
};

PyType_Spec fitted_gam_spec = {
    "pelun._pelun_native.FittedGam",
    sizeof(FittedGamObject),
    0,
    // Instances come only from the fit functions, never from calling the class.
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    fitted_gam_slots,
};

}  // namespace

PyObject* create_fitted_gam_type() { return PyType_FromSpec(&fitted_gam_spec); }

}  // namespace pelun::py
