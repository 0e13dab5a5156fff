// Dispatch from a runtime `Family` value to the traits of its family, so that
// drivers holding a family value reach the per-family template instances.
#pragma once

#include <span>
#include <type_traits>

#include "family/bernoulli.hpp"
#include "family/family.hpp"
#include "family/family_ops.hpp"
#include "family/gamma.hpp"
#include "family/gaussian.hpp"
#include "family/inverse_gaussian.hpp"
#include "family/poisson.hpp"

namespace pelun {

// True for the kinds that visit_family handles: the seven standard families.
constexpr bool has_family_traits(FamilyKind kind) {
    switch (kind) {
        case FamilyKind::Gaussian:
        case FamilyKind::Bernoulli:
        case FamilyKind::QuasiBinomial:
        case FamilyKind::Poisson:
        case FamilyKind::QuasiPoisson:
        case FamilyKind::Gamma:
        case FamilyKind::InverseGaussian: return true;
        default: return false;
    }
}

// Stops the process: a family without traits reached visit_family.
[[noreturn]] void visit_family_without_traits(FamilyKind kind);

// Calls fn(traits) with the traits object of the family's kind and returns
// its result; fn must return the same type for every traits type. Quasi
// families get the traits of their parent (same computation).
// Precondition: has_family_traits(family.kind); anything else is a
// programming error and aborts.
template <class Fn>
std::invoke_result_t<Fn&, GaussianTraits> visit_family(const Family& family, Fn&& fn) {
    switch (family.kind) {
        case FamilyKind::Gaussian: return fn(GaussianTraits{});
        case FamilyKind::Bernoulli:
        case FamilyKind::QuasiBinomial: return fn(BernoulliTraits{});
        case FamilyKind::Poisson:
        case FamilyKind::QuasiPoisson: return fn(PoissonTraits{});
        case FamilyKind::Gamma: return fn(GammaTraits{});
        case FamilyKind::InverseGaussian: return fn(InverseGaussianTraits{});
        case FamilyKind::NegBin:
        case FamilyKind::TDist:
        case FamilyKind::Tweedie:
        case FamilyKind::Ocat:
        case FamilyKind::Elf: break;
    }
    visit_family_without_traits(family.kind);
}

// Pearson scale of a family held as a value (see the traits overloads in
// family/family_ops.hpp); without prior weights every weight is 1.
inline double pearson_scale(const Family& family, VectorView y, std::span<const double> mu,
                            double tau) {
    return visit_family(family, [&](const auto& traits) { return pearson_scale(traits, y, mu, tau); });
}
inline double pearson_scale(const Family& family, VectorView y, std::span<const double> mu,
                            std::span<const double> w, double tau) {
    return visit_family(family,
                        [&](const auto& traits) { return pearson_scale(traits, y, mu, w, tau); });
}

}  // namespace pelun
