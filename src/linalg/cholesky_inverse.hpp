// Quantities of a symmetric positive definite matrix H taken from its lower
// Cholesky factor L (H = L Lᵀ).
#pragma once

#include "linalg/matrix.hpp"

namespace pelun {

// H⁻¹, column k solving L Lᵀ x = e_k by one forward and one back
// substitution. The result is exactly symmetric (the lower triangle is
// mirrored).
Matrix inverse_from_cholesky(const Matrix& l);

// log|H| = 2 Σ log L_kk.
double log_det_from_cholesky(const Matrix& l);

// Σ_ik A_ik B_ik, which is tr(A B) for symmetric A or B.
double trace_of_product(const Matrix& a, const Matrix& b);

}  // namespace pelun
