// The single-smooth fit: the design named by the request on column 0 of x,
// then the fit path of the family.
#pragma once

#include "design/design.hpp"
#include "fit/fit_request.hpp"
#include "fit/fitted_gam.hpp"
#include "util/error.hpp"

namespace pelun {

// True for the plans this build can fit end to end (the standard families).
bool single_smooth_path_available(const SingleSmoothPlan& plan);

// The cr, re or cr_stable design on column 0 of x (k is ignored by re).
Result<Design> build_single_smooth_design(DesignKind kind, MatrixView x, std::size_t k);

// Builds the design of `plan` from `request.x` and runs the family's fit.
// Precondition: `plan` comes from plan_single_smooth_fit(request) and
// single_smooth_path_available(plan).
Result<FittedGam> fit_single_smooth(const FitRequest& request, const SingleSmoothPlan& plan);

}  // namespace pelun
