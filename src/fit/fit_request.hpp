// What the Python surface hands to the fit drivers once the arguments are
// converted, and the first stage of a single-smooth fit: choosing the family
// and the design by name and checking the family's starting values.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "design/additive_terms.hpp"
#include "family/family.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

enum class DesignKind { Cr, Re, CrStable };

// The arguments of `fit`, converted. Views borrow the caller's arrays for the
// duration of the call; the prior weights are an owned copy.
struct FitRequest {
    std::string_view family_name;
    MatrixView x;
    VectorView y;
    std::optional<Vector> weights;
    std::size_t k = 10;
    std::string_view design = "cr";
    std::optional<double> theta;
    std::optional<double> nu;
    std::optional<double> sigma2;
    std::optional<double> tweedie_p;
    std::optional<double> tweedie_phi;
    std::optional<std::size_t> r;
    std::optional<double> tau;
    std::optional<double> elf_sigma;
    std::optional<double> elf_lambda;
};

// The arguments of `fit_additive`, converted and parsed.
struct AdditiveFitRequest {
    std::string_view family_name;
    MatrixView x;
    VectorView y;
    std::vector<TermSpec> terms;
    std::optional<Vector> weights;
};

// A single-smooth fit whose family, design and starting values passed the
// checks that come before the design is built. Family-specific values carry
// their defaults already.
struct SingleSmoothPlan {
    FamilyKind family = FamilyKind::Gaussian;
    DesignKind design = DesignKind::Cr;
    double theta = 2.0;        // NegBin starting overdispersion
    double nu = 5.0;           // TDist starting degrees of freedom
    double sigma2 = 1.0;       // TDist starting scale
    double tweedie_p = 1.5;    // Tweedie starting power
    double tweedie_phi = 1.0;  // Tweedie starting dispersion
    std::size_t n_categories = 0;  // Ocat R
    double tau = 0.5;          // quantile level
    double elf_sigma = 0.0;    // 0 selects the automatic warm start
    double elf_lambda = 0.0;
};

// Exact, case-sensitive lookup of a family name or alias of `fit`.
std::optional<FamilyKind> lookup_family_name(std::string_view name);

// Exact lookup of the names that `fit_additive` accepts (the families
// without shape parameters).
std::optional<FamilyKind> lookup_additive_family_name(std::string_view name);

// Family and design resolution plus the checks that precede the design:
// unknown family, NegBin theta <= 0, Tweedie p outside (1, 2), Ocat r missing
// or below 3, quantile tau outside (0, 1), unknown design, x without columns.
// Every failure is InvalidParameter with the user-facing sentence.
Result<SingleSmoothPlan> plan_single_smooth_fit(const FitRequest& request);

}  // namespace pelun
