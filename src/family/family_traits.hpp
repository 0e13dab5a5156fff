// What a family traits type provides to the generic family loops and to the
// inner fits that are instantiated once per family.
#pragma once

#include <concepts>

namespace pelun {

// A traits type bundles the per-observation formulas of one family. The
// standard families are empty structs with static functions; a family with
// parameters keeps them as members. Callers always go through an instance
// (`family.variance(mu)`), which works for both.
//
//   Link               IdentityLink, LogLink or LogitLink (family/link.hpp)
//   initial_mean(y)    start mean μ0 of the inner fit for one response value
//   variance(mu)       V(μ) as used in the working weights, clamped and
//                      floored at tiny_positive
//   unit_deviance(y, mu)  d(y, μ), including the family's factor 2
//
// Families with a Pearson scale also provide pearson_term(y, mu), the summand
// (y − μ̃)² / V(μ̃) of the Pearson statistic.
template <class F>
concept FamilyTraits = requires(const F& family, double y, double mu) {
    typename F::Link;
    { F::Link::inverse(mu) } -> std::convertible_to<double>;
    { F::Link::link(mu) } -> std::convertible_to<double>;
    { F::Link::derivative(mu) } -> std::convertible_to<double>;
    { family.initial_mean(y) } -> std::convertible_to<double>;
    { family.variance(mu) } -> std::convertible_to<double>;
    { family.unit_deviance(y, mu) } -> std::convertible_to<double>;
};

}  // namespace pelun
