// One term of an additive model, as parsed from the caller's term tuples.
#pragma once

#include <cstddef>
#include <variant>

namespace pelun {

struct CrTermSpec {
    std::size_t col = 0;
    std::size_t k = 10;
};

struct CrStableTermSpec {
    std::size_t col = 0;
    std::size_t k = 10;
};

struct ReTermSpec {
    std::size_t col = 0;
};

struct TensorTermSpec {
    std::size_t col_a = 0;
    std::size_t col_b = 0;
    std::size_t k_a = 10;
    std::size_t k_b = 10;
};

// Kinds in this order: cr, cr_stable, re, tensor.
using TermSpec = std::variant<CrTermSpec, CrStableTermSpec, ReTermSpec, TensorTermSpec>;

}  // namespace pelun
