#include "family/family.hpp"

#include <cmath>
#include <string>

#include "util/format.hpp"

namespace pelun {

namespace {

Family of_kind(FamilyKind kind) {
    Family family;
    family.kind = kind;
    return family;
}

}  // namespace

Family gaussian_identity() { return of_kind(FamilyKind::Gaussian); }
Family bernoulli_logit() { return of_kind(FamilyKind::Bernoulli); }
Family quasibinomial_logit() { return of_kind(FamilyKind::QuasiBinomial); }
Family poisson_log() { return of_kind(FamilyKind::Poisson); }
Family quasipoisson_log() { return of_kind(FamilyKind::QuasiPoisson); }
Family gamma_log() { return of_kind(FamilyKind::Gamma); }
Family inverse_gaussian_log() { return of_kind(FamilyKind::InverseGaussian); }

Family negbin_log(double theta) {
    Family family = of_kind(FamilyKind::NegBin);
    family.theta = theta;
    return family;
}

Family tdist_identity(double nu, double sigma2) {
    Family family = of_kind(FamilyKind::TDist);
    family.nu = nu;
    family.sigma2 = sigma2;
    return family;
}

Family tweedie_log(double p, double phi) {
    Family family = of_kind(FamilyKind::Tweedie);
    family.power = p;
    family.phi = phi;
    return family;
}

Family ocat_identity(std::size_t n_cats) {
    Family family = of_kind(FamilyKind::Ocat);
    family.n_cats = n_cats;
    return family;
}

Family elf_identity(double tau, double sigma, double lambda) {
    Family family = of_kind(FamilyKind::Elf);
    family.tau = tau;
    family.elf_sigma = sigma;
    family.elf_lambda = lambda;
    return family;
}

std::string_view display_name(FamilyKind kind) {
    switch (kind) {
        case FamilyKind::Gaussian: return "Gaussian";
        case FamilyKind::Bernoulli: return "Bernoulli";
        case FamilyKind::QuasiBinomial: return "QuasiBinomial";
        case FamilyKind::Poisson: return "Poisson";
        case FamilyKind::QuasiPoisson: return "QuasiPoisson";
        case FamilyKind::Gamma: return "Gamma";
        case FamilyKind::InverseGaussian: return "InverseGaussian";
        case FamilyKind::NegBin: return "NegBin";
        case FamilyKind::TDist: return "TDist";
        case FamilyKind::Tweedie: return "Tweedie";
        case FamilyKind::Ocat: return "Ocat";
        case FamilyKind::Elf: return "ELF";
    }
    return "";
}

LinkKind link_kind(FamilyKind kind) {
    switch (kind) {
        case FamilyKind::Bernoulli:
        case FamilyKind::QuasiBinomial: return LinkKind::Logit;
        case FamilyKind::Poisson:
        case FamilyKind::QuasiPoisson:
        case FamilyKind::Gamma:
        case FamilyKind::InverseGaussian:
        case FamilyKind::NegBin:
        case FamilyKind::Tweedie: return LinkKind::Log;
        case FamilyKind::Gaussian:
        case FamilyKind::TDist:
        case FamilyKind::Ocat:
        case FamilyKind::Elf: return LinkKind::Identity;
    }
    return LinkKind::Identity;
}

ScaleKind scale_kind(FamilyKind kind) {
    switch (kind) {
        case FamilyKind::Bernoulli:
        case FamilyKind::Poisson: return ScaleKind::Fixed;
        case FamilyKind::Gaussian: return ScaleKind::Estimated;
        case FamilyKind::QuasiBinomial:
        case FamilyKind::QuasiPoisson:
        case FamilyKind::Gamma:
        case FamilyKind::InverseGaussian: return ScaleKind::Pearson;
        case FamilyKind::NegBin:
        case FamilyKind::TDist:
        case FamilyKind::Tweedie:
        case FamilyKind::Ocat:
        case FamilyKind::Elf: return ScaleKind::FamilySpecific;
    }
    return ScaleKind::FamilySpecific;
}

ResponseDomain response_domain(FamilyKind kind) {
    switch (kind) {
        case FamilyKind::Poisson:
        case FamilyKind::QuasiPoisson:
        case FamilyKind::NegBin:
        case FamilyKind::Tweedie: return ResponseDomain::NonNegative;
        case FamilyKind::Bernoulli:
        case FamilyKind::QuasiBinomial: return ResponseDomain::UnitInterval;
        case FamilyKind::Gamma:
        case FamilyKind::InverseGaussian: return ResponseDomain::Positive;
        // Ocat and ELF validate their responses in their own drivers.
        case FamilyKind::Gaussian:
        case FamilyKind::TDist:
        case FamilyKind::Ocat:
        case FamilyKind::Elf: return ResponseDomain::Any;
    }
    return ResponseDomain::Any;
}

namespace {

// Index of the first y for which `fails` holds, or y.size().
template <class Predicate>
std::size_t first_failing_row(VectorView y, Predicate fails) {
    for (std::size_t i = 0; i < y.size(); ++i)
        if (fails(y[i])) return i;
    return y.size();
}

}  // namespace

Result<void> check_response(const Family& family, VectorView y) {
    std::size_t row = y.size();
    const char* requirement = "";
    switch (response_domain(family.kind)) {
        case ResponseDomain::Any: return {};
        case ResponseDomain::NonNegative:
            row = first_failing_row(y, [](double v) { return v < 0.0; });
            requirement = " requires y \u2265 0; got y=";
            break;
        case ResponseDomain::UnitInterval:
            row = first_failing_row(y, [](double v) { return v < 0.0 || v > 1.0 || std::isnan(v); });
            requirement = " requires y in [0, 1]; got y=";
            break;
        case ResponseDomain::Positive:
            row = first_failing_row(y, [](double v) { return v <= 0.0; });
            requirement = " requires y > 0; got y=";
            break;
    }
    if (row == y.size()) return {};
    return fail_invalid(std::string(display_name(family.kind)) + requirement + format_double(y[row]) +
                        " at row " + std::to_string(row));
}

}  // namespace pelun
