#include "family/gamma_functions.hpp"

#include <cmath>
#include <limits>

namespace pelun {

namespace {

constexpr double pi = 3.141592653589793;
constexpr double half_log_two_pi = 0.9189385332046727;
constexpr double lanczos_g_plus_half = 7.5;
constexpr double lanczos[9] = {
    0.9999999999998099,     676.5203681218851,     -1259.1392167224028,
    771.3234287776531,      -176.6150291621406,    12.507343278686905,
    -0.13857109526572012,   9.984369578019572e-06, 1.5056327351493116e-07,
};

// Below this the argument is shifted up by the recurrences before the
// asymptotic series is used.
constexpr double series_threshold = 6.0;

}  // namespace

double lgamma(double x) {
    if (x < 0.5) return std::log(pi / std::sin(pi * x)) - lgamma(1.0 - x);
    const double xm = x - 1.0;
    const double t = xm + lanczos_g_plus_half;
    double a = lanczos[0];
    for (int k = 1; k < 9; ++k) a += lanczos[k] / (xm + k);
    return half_log_two_pi + (xm + 0.5) * std::log(t) - t + std::log(a);
}

double digamma(double x) {
    if (!(x > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    double s = 0.0;
    while (x < series_threshold) {
        s -= 1.0 / x;
        x += 1.0;
    }
    const double inv = 1.0 / x;
    const double inv2 = inv * inv;
    const double inv4 = inv2 * inv2;
    const double inv6 = inv4 * inv2;
    const double inv8 = inv4 * inv4;
    return s + std::log(x) - 0.5 * inv - inv2 / 12.0 + inv4 / 120.0 - inv6 / 252.0 + inv8 / 240.0;
}

double trigamma(double x) {
    if (!(x > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    double s = 0.0;
    while (x < series_threshold) {
        s += 1.0 / (x * x);
        x += 1.0;
    }
    const double inv = 1.0 / x;
    const double inv2 = inv * inv;
    const double inv3 = inv2 * inv;
    const double inv5 = inv3 * inv2;
    const double inv7 = inv5 * inv2;
    const double inv9 = inv7 * inv2;
    return s + inv + 0.5 * inv2 + inv3 / 6.0 - inv5 / 30.0 + inv7 / 42.0 - inv9 / 30.0;
}

}  // namespace pelun
