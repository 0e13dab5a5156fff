// Log-gamma, digamma and trigamma with fixed approximations, so that results
// do not depend on the platform's mathematics library beyond exp, log and sin.
// Deliberately not std::lgamma: call these qualified, as pelun::lgamma.
#pragma once

namespace pelun {

// log Γ(x) for x > 0: Lanczos approximation (g = 7, nine coefficients), with
// the reflection formula below 0.5.
double lgamma(double x);

// ψ(x) for x > 0: shifted up to x ≥ 6 by the recurrence, then the asymptotic
// series. Returns NaN for x ≤ 0, where the shift loop would not be bounded.
double digamma(double x);

// ψ′(x) for x > 0, by the same scheme; NaN for x ≤ 0.
double trigamma(double x);

}  // namespace pelun
