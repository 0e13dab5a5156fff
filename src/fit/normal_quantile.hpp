// The inverse of the standard normal distribution function, for Wald intervals.
#pragma once

#include "util/error.hpp"

namespace pelun {

// z with Φ(z) ≈ p for 0 < p < 1, by a rational approximation (relative error
// below 1.2e-9, no refinement step). Fails for p outside (0, 1) or NaN.
Result<double> normal_quantile(double p);

}  // namespace pelun
