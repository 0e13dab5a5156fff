#include "util/error.hpp"

#include "util/format.hpp"

namespace pelun {

std::string PelunError::display() const {
    switch (kind) {
        case ErrorKind::InvalidParameter:
            return "invalid parameter: " + text;
        case ErrorKind::SingularSystem:
            return "singular system: " + text;
        case ErrorKind::NotConverged:
            return "solver did not converge after " + std::to_string(iters) +
                   " iterations (last grad norm = " + format_sci3(grad_norm) + ")";
        case ErrorKind::Linalg:
            return "linalg failure: " + text;
        case ErrorKind::Internal:
            return "internal failure: " + text;
    }
    return "unknown error";
}

}  // namespace pelun
