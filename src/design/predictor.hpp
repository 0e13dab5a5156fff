// The data a fitted model keeps to rebuild its model matrix at new
// covariates: one record per kind of design or term, joined in `Predictor`.
#pragma once

#include <cstddef>
#include <utility>
#include <variant>
#include <vector>

#include "linalg/matrix.hpp"

namespace pelun {

struct Predictor;

// Kind of basis of one tensor-product margin.
enum class MarginBasis { Cr };

// A cubic regression spline with the sum-to-zero constraint.
struct CrPredictor {
    Vector knots;     // k strictly increasing knots
    Matrix centring;  // Z, k × (k−1)

    bool operator==(const CrPredictor&) const = default;
};

// A random effect: one indicator column per level.
struct RePredictor {
    std::vector<double> levels;  // ascending, distinct by bit pattern, no −0.0

    bool operator==(const RePredictor&) const = default;
};

// A constrained cubic regression spline rotated into its penalty's eigenbasis.
struct CrStablePredictor {
    Vector knots;      // k knots
    Matrix centring;   // Z, k × (k−1)
    Matrix reparam_v;  // V, (k−1) × (k−1), columns by descending eigenvalue

    bool operator==(const CrStablePredictor&) const = default;
};

// A sum of terms; owns the terms' predictors.
struct AdditivePredictor {
    std::vector<Predictor> term_predictors;  // one per term, in term order
    // The covariate columns each term reads: [col], or [col_a, col_b] for a tensor.
    std::vector<std::vector<std::size_t>> cols_used;
    // (first, last_exclusive) model-matrix columns of each term's block.
    std::vector<std::pair<std::size_t, std::size_t>> term_col_ranges;

    bool operator==(const AdditivePredictor&) const;
};

// A two-column tensor-product smooth of two cubic-regression-spline margins.
struct TensorPredictor {
    std::size_t col_a = 0;
    std::size_t col_b = 0;
    MarginBasis bs_a = MarginBasis::Cr;
    MarginBasis bs_b = MarginBasis::Cr;
    Vector knots_a;   // k_a knots
    Vector knots_b;   // k_b knots
    Matrix xp_a;      // k_a × k_a transform of the first margin's basis
    Matrix xp_b;      // k_b × k_b transform of the second margin's basis
    Matrix centring;  // (k_a·k_b) × (k_a·k_b − 1)

    bool operator==(const TensorPredictor&) const = default;
};

// The tagged union; the alternatives' order is the variant order
// Cr, Re, CrStable, Additive, Tensor.
struct Predictor {
    std::variant<CrPredictor, RePredictor, CrStablePredictor, AdditivePredictor, TensorPredictor> value;

    bool operator==(const Predictor&) const = default;
};

inline bool AdditivePredictor::operator==(const AdditivePredictor&) const = default;

}  // namespace pelun
