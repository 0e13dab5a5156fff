#include "design/kronecker.hpp"

#include <algorithm>
#include <cassert>

namespace pelun {

Matrix row_kronecker(const Matrix& a, const Matrix& b) {
    assert(a.rows() == b.rows());
    const std::size_t n = a.rows(), ka = a.cols(), kb = b.cols(), width = ka * kb;
    Matrix out(n, width);
    for (std::size_t r = 0; r < n; ++r) {
        const double* ar = a.data() + r * ka;
        const double* br = b.data() + r * kb;
        double* o = out.data() + r * width;
        for (std::size_t i = 0; i < ka; ++i) {
            const double ai = ar[i];
            double* oi = o + i * kb;
            for (std::size_t j = 0; j < kb; ++j) oi[j] = ai * br[j];
        }
    }
    return out;
}

Matrix kron_with_identity(const Matrix& s, std::size_t m) {
    assert(s.is_square());
    const std::size_t k = s.rows(), width = k * m;
    Matrix out(width, width);
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t j = 0; j < k; ++j) {
            const double v = s(i, j);
            if (v == 0.0) continue;
            for (std::size_t l = 0; l < m; ++l) out(i * m + l, j * m + l) = v;
        }
    return out;
}

Matrix identity_kron(std::size_t m, const Matrix& s) {
    assert(s.is_square());
    const std::size_t k = s.rows(), width = k * m;
    Matrix out(width, width);
    for (std::size_t block = 0; block < m; ++block)
        for (std::size_t i = 0; i < k; ++i) {
            const double* in = s.data() + i * k;
            std::copy(in, in + k, out.data() + (block * k + i) * width + block * k);
        }
    return out;
}

}  // namespace pelun
