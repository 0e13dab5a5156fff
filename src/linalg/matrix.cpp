#include "linalg/matrix.hpp"

namespace pelun {

Matrix Matrix::from_rows(std::initializer_list<std::initializer_list<double>> rows) {
    const std::size_t n_rows = rows.size();
    const std::size_t n_cols = n_rows == 0 ? 0 : rows.begin()->size();
    Matrix m(n_rows, n_cols);
    std::size_t i = 0;
    for (const auto& row : rows) {
        std::size_t j = 0;
        for (const double v : row) {
            if (j < n_cols) m(i, j) = v;
            ++j;
        }
        ++i;
    }
    return m;
}

Matrix Matrix::identity(std::size_t n) {
    Matrix m(n, n);
    for (std::size_t i = 0; i < n; ++i) m(i, i) = 1.0;
    return m;
}

Matrix transpose(const Matrix& a) {
    Matrix t(a.cols(), a.rows());
    for (std::size_t i = 0; i < a.rows(); ++i)
        for (std::size_t j = 0; j < a.cols(); ++j) t(j, i) = a(i, j);
    return t;
}

}  // namespace pelun
