#include "design/covariate_check.hpp"

#include <cassert>
#include <cmath>
#include <string>

#include "util/format.hpp"

namespace pelun {

Result<void> require_finite_column(MatrixView x, std::size_t col) {
    assert(col < x.cols());
    const VectorView column = x.column(col);
    for (std::size_t r = 0; r < column.size(); ++r) {
        const double v = column[r];
        if (!std::isfinite(v)) {
            return fail_invalid("x must be finite (got x[" + std::to_string(r) + ", " + std::to_string(col) +
                                "] = " + format_double(v) + ")");
        }
    }
    return {};
}

}  // namespace pelun
