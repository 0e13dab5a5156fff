// The additive fit: a design of several terms, fitted by the standard driver.
#pragma once

#include "fit/fit_request.hpp"
#include "fit/fitted_gam.hpp"
#include "util/error.hpp"

namespace pelun {

// Builds the additive design of `request.terms` on `request.x` and fits it
// with the family's standard driver over all smoothing parameters. The
// family name must be one of the additive families (fails otherwise).
Result<FittedGam> fit_additive_model(const AdditiveFitRequest& request);

}  // namespace pelun
