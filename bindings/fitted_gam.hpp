// The Python class FittedGam: an immutable view of one fitted-model record.
#pragma once

#include "fit/fitted_gam.hpp"
#include "py_ref.hpp"

namespace pelun::py {

// Creates the FittedGam type object (module "pelun._pelun_native") and keeps
// a reference for `wrap_fitted_gam`; the caller owns the new reference.
PyObject* create_fitted_gam_type();

// A new FittedGam instance owning `record`, made through the class's
// allocation slot; nullptr with an exception set on failure.
PyObject* wrap_fitted_gam(FittedGam&& record);

// The FittedGam class object (borrowed; alive as long as the module), or
// nullptr before `create_fitted_gam_type` has run.
PyObject* fitted_gam_class();

// The record of `self`, which must be a FittedGam instance.
const FittedGam& fitted_gam_record(PyObject* self);

}  // namespace pelun::py
