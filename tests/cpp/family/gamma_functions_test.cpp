#include "family/gamma_functions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pelun {
namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double euler_gamma = 0.57721566490153286061;

struct KnownValue {
    const char* name;
    double value;
    double expected;
    double tolerance;
};

// H_{n-1} = Σ_{k<n} 1/k and Σ_{k<n} 1/k², for ψ(n) = −γ + H_{n−1} and
// ψ′(n) = π²/6 − Σ_{k<n} 1/k².
double harmonic(int n, int power) {
    double s = 0.0;
    for (int k = 1; k < n; ++k) s += 1.0 / std::pow(k, power);
    return s;
}

// The series of ψ and ψ′ are cut after the 1/x⁸ and 1/x⁹ terms and used from
// x = 6 on, so below 6 their error is that of the first omitted term at the
// shifted argument: 1/(132·6¹⁰) ≈ 1.3e-10 for ψ and 5/(66·6¹¹) ≈ 2.1e-10 for
// ψ′. From x = 10 on it is below 1e-12.
constexpr double shifted_series_tolerance = 2.5e-10;

TEST(SpecialFunctions, KnownValues) {
    const KnownValue cases[] = {
        {"lgamma(1)", pelun::lgamma(1.0), 0.0, 1e-13},
        {"lgamma(2)", pelun::lgamma(2.0), 0.0, 1e-13},
        {"lgamma(0.5) = log sqrt(pi)", pelun::lgamma(0.5), 0.5 * std::log(pi), 1e-13},
        // Γ(1/4) = 3.625609908221908311930685155867672002995...
        {"lgamma(0.25), reflected", pelun::lgamma(0.25), std::log(3.6256099082219083119), 1e-12},
        // Γ(3/2) = √π / 2.
        {"lgamma(1.5)", pelun::lgamma(1.5), std::log(std::sqrt(pi) / 2.0), 1e-13},
        // Γ(1e-3) = 999.42377248459546611...
        {"lgamma(1e-3), reflected", pelun::lgamma(1e-3), std::log(999.42377248459546611), 1e-11},
        {"digamma(1) = -gamma", pelun::digamma(1.0), -euler_gamma, shifted_series_tolerance},
        {"digamma(1/2) = -gamma - 2 log 2", pelun::digamma(0.5), -euler_gamma - 2.0 * std::log(2.0),
         shifted_series_tolerance},
        {"digamma(2)", pelun::digamma(2.0), -euler_gamma + harmonic(2, 1), shifted_series_tolerance},
        {"digamma(6), series alone", pelun::digamma(6.0), -euler_gamma + harmonic(6, 1), shifted_series_tolerance},
        {"digamma(10)", pelun::digamma(10.0), -euler_gamma + harmonic(10, 1), 1e-12},
        {"digamma(100)", pelun::digamma(100.0), -euler_gamma + harmonic(100, 1), 1e-13},
        {"trigamma(1) = pi^2/6", pelun::trigamma(1.0), pi * pi / 6.0, shifted_series_tolerance},
        {"trigamma(1/2) = pi^2/2", pelun::trigamma(0.5), pi * pi / 2.0, shifted_series_tolerance},
        {"trigamma(2)", pelun::trigamma(2.0), pi * pi / 6.0 - harmonic(2, 2), shifted_series_tolerance},
        {"trigamma(10)", pelun::trigamma(10.0), pi * pi / 6.0 - harmonic(10, 2), 1e-12},
        {"trigamma(100)", pelun::trigamma(100.0), pi * pi / 6.0 - harmonic(100, 2), 1e-13},
    };
    for (const KnownValue& c : cases) EXPECT_NEAR(c.value, c.expected, c.tolerance) << c.name;
}

// log Γ(n) = log (n − 1)!, the factorial accumulated exactly in doubles.
TEST(SpecialFunctions, LgammaOfIntegersIsTheLogFactorial) {
    double factorial = 1.0;
    for (int n = 2; n <= 25; ++n) {
        factorial *= n - 1;
        const double expected = std::log(factorial);
        EXPECT_NEAR(pelun::lgamma(n), expected, 1e-13 * std::max(1.0, expected)) << "n=" << n;
    }
}

// Γ(x + 1) = x Γ(x), across the reflection point 0.5 and over a wide range.
TEST(SpecialFunctions, LgammaSatisfiesTheRecurrence) {
    for (const double x : {0.01, 0.3, 0.49, 0.5, 0.77, 1.3, 4.2, 17.5, 150.0, 1e4}) {
        const double lhs = pelun::lgamma(x + 1.0);
        EXPECT_NEAR(lhs, pelun::lgamma(x) + std::log(x), 1e-12 * std::max(1.0, std::abs(lhs))) << x;
    }
}

// ψ = (log Γ)′ and ψ′ = ψ′ by central differences, on either side of the
// shift threshold 6 (a difference across it would see the step of the
// truncated series); and the recurrences ψ(x + 1) = ψ(x) + 1/x,
// ψ′(x + 1) = ψ′(x) − 1/x² to the accuracy of the shifted series.
TEST(SpecialFunctions, DigammaAndTrigammaAreTheDerivatives) {
    for (const double x : {0.2, 0.9, 2.5, 5.5, 6.5, 12.0, 80.0}) {
        SCOPED_TRACE(x);
        const double h = 1e-5 * x;
        const double dlgamma = (pelun::lgamma(x + h) - pelun::lgamma(x - h)) / (2.0 * h);
        EXPECT_NEAR(pelun::digamma(x), dlgamma, 1e-7 * std::max(1.0, std::abs(dlgamma)));
        const double ddigamma = (pelun::digamma(x + h) - pelun::digamma(x - h)) / (2.0 * h);
        EXPECT_NEAR(pelun::trigamma(x), ddigamma, 1e-6 * ddigamma);
        EXPECT_NEAR(pelun::digamma(x + 1.0), pelun::digamma(x) + 1.0 / x, shifted_series_tolerance);
        EXPECT_NEAR(pelun::trigamma(x + 1.0), pelun::trigamma(x) - 1.0 / (x * x), shifted_series_tolerance);
    }
}

TEST(SpecialFunctions, DigammaAndTrigammaOutsideTheirDomainAreNaN) {
    // The shift loop would never end at -inf or below -2^53.
    for (const double x : {0.0, -1.5, -1e300, -std::numeric_limits<double>::infinity()}) {
        EXPECT_TRUE(std::isnan(pelun::digamma(x))) << x;
        EXPECT_TRUE(std::isnan(pelun::trigamma(x))) << x;
    }
}

}  // namespace
}  // namespace pelun
