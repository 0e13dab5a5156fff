#include "fit/normal_quantile.hpp"

#include <cmath>

#include "util/format.hpp"

namespace pelun {

namespace {

// Central region numerator a and denominator b, tails numerator c and
// denominator d; highest power first.
constexpr double a1 = -39.69683028665376, a2 = 220.9460984245205, a3 = -275.9285104469687,
                 a4 = 138.357751867269, a5 = -30.66479806614716, a6 = 2.506628277459239;
constexpr double b1 = -54.47609879822406, b2 = 161.5858368580409, b3 = -155.6989798598866,
                 b4 = 66.80131188771972, b5 = -13.28068155288572;
constexpr double c1 = -0.007784894002430293, c2 = -0.3223964580411365, c3 = -2.400758277161838,
                 c4 = -2.549732539343734, c5 = 4.374664141464968, c6 = 2.938163982698783;
constexpr double d1 = 0.007784695709041462, d2 = 0.3224671290700398, d3 = 2.445134137142996,
                 d4 = 3.754408661907416;

constexpr double kLowerBreak = 0.02425;
constexpr double kUpperBreak = 1.0 - kLowerBreak;  // 0.97575

double tail(double q) {
    return (((((c1 * q + c2) * q + c3) * q + c4) * q + c5) * q + c6) /
           ((((d1 * q + d2) * q + d3) * q + d4) * q + 1.0);
}

}  // namespace

Result<double> normal_quantile(double p) {
    if (!(p > 0.0 && p < 1.0))
        return fail_invalid("normal_quantile: p must be in (0,1), got " + format_double(p));
    if (p < kLowerBreak) return tail(std::sqrt(-2.0 * std::log(p)));
    if (p <= kUpperBreak) {
        const double q = p - 0.5;
        const double r = q * q;
        return (((((a1 * r + a2) * r + a3) * r + a4) * r + a5) * r + a6) * q /
               (((((b1 * r + b2) * r + b3) * r + b4) * r + b5) * r + 1.0);
    }
    return -tail(std::sqrt(-2.0 * std::log(1.0 - p)));
}

}  // namespace pelun
