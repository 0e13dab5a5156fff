#include "linalg/views.hpp"

namespace pelun {

Vector to_vector(VectorView v) {
    Vector out(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) out[i] = v[i];
    return out;
}

Matrix to_matrix(MatrixView m) {
    Matrix out(m.rows(), m.cols());
    for (std::size_t i = 0; i < m.rows(); ++i)
        for (std::size_t j = 0; j < m.cols(); ++j) out(i, j) = m(i, j);
    return out;
}

}  // namespace pelun
