// The clamp constants of the family formulas and the two clamp operations
// they are applied with.
#pragma once

namespace pelun {

// Floor for means, variances and responses that enter a logarithm or a
// division.
inline constexpr double tiny_positive = 1e-300;
// Bounds that keep a probability away from 0 and 1 in the logit link and the
// binomial deviance.
inline constexpr double probability_low = 1e-15;
inline constexpr double probability_high = 0.999999999999999;

// max(x, low) and min(x, high). A NaN x passes through unchanged, so that the
// finiteness tests of the inner fits still see it downstream.
inline double at_least(double x, double low) { return x < low ? low : x; }
inline double at_most(double x, double high) { return x > high ? high : x; }

// A probability clamped to [probability_low, probability_high].
inline double clamp_probability(double mu) {
    return at_most(at_least(mu, probability_low), probability_high);
}

}  // namespace pelun
