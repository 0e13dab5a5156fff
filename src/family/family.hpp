// The response family of a fit as a plain value: which family, its
// parameters, and what goes with it (display name, link, kind of scale,
// response domain and the response check).
#pragma once

#include <cstddef>
#include <string_view>

#include "family/link.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

enum class FamilyKind {
    Gaussian,
    Bernoulli,
    QuasiBinomial,
    Poisson,
    QuasiPoisson,
    Gamma,
    InverseGaussian,
    NegBin,
    TDist,
    Tweedie,
    Ocat,
    Elf,
};

// A family and its parameters. Only the parameters of `kind` are meaningful;
// the others stay 0. Values are built by the constructors below, which do not
// validate: the fit drivers check user-supplied parameters.
struct Family {
    FamilyKind kind = FamilyKind::Gaussian;
    double theta = 0.0;          // NegBin: θ > 0
    double nu = 0.0;             // TDist: ν > 2
    double sigma2 = 0.0;         // TDist: σ² > 0
    double power = 0.0;          // Tweedie: 1 < p < 2
    double phi = 0.0;            // Tweedie: φ > 0
    std::size_t n_cats = 0;      // Ocat: number of ordered categories
    double tau = 0.0;            // ELF: quantile level
    double elf_sigma = 0.0;      // ELF: loss scale (0 selects the automatic value)
    double elf_lambda = 0.0;     // ELF: loss smoothing width (0 selects the automatic value)

    bool operator==(const Family&) const = default;
};

Family gaussian_identity();
Family bernoulli_logit();
Family quasibinomial_logit();
Family poisson_log();
Family quasipoisson_log();
Family gamma_log();
Family inverse_gaussian_log();
Family negbin_log(double theta);
Family tdist_identity(double nu, double sigma2);
Family tweedie_log(double p, double phi);
Family ocat_identity(std::size_t n_cats);
Family elf_identity(double tau, double sigma, double lambda);

// The family's name as it appears in messages: "Poisson", "QuasiBinomial",
// "InverseGaussian", "NegBin", ... (the member name; "ELF" for Elf).
std::string_view display_name(FamilyKind kind);

LinkKind link_kind(FamilyKind kind);

// How the scale of a fit is obtained.
enum class ScaleKind {
    Fixed,           // 1 (Bernoulli, Poisson)
    Estimated,       // profiled from the closed-form fit (Gaussian)
    Pearson,         // Pearson statistic over residual degrees of freedom
    FamilySpecific,  // set by the family's own fit path (shape families, Ocat, ELF)
};
ScaleKind scale_kind(FamilyKind kind);

// The values a response may take.
enum class ResponseDomain {
    Any,           // no check
    NonNegative,   // y ≥ 0; NaN passes
    UnitInterval,  // 0 ≤ y ≤ 1; NaN fails
    Positive,      // y > 0; NaN passes
};
ResponseDomain response_domain(FamilyKind kind);

// Checks the response against the family's domain, rows in order from 0; the
// first failing row gives InvalidParameter, e.g.
// "Poisson requires y ≥ 0; got y=-1 at row 3".
Result<void> check_response(const Family& family, VectorView y);

}  // namespace pelun
