// The Python class FittedGam.
#pragma once

#include "py_ref.hpp"

namespace pelun::py {

// Creates the FittedGam type object (module "pelun._pelun_native"); the
// caller owns the new reference.
PyObject* create_fitted_gam_type();

}  // namespace pelun::py
