// The one error type of the numerical core: every fallible operation returns
// `Result<T>`, either its value or a `PelunError`. Nothing in the core throws.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <utility>

namespace pelun {

// Variant order is fixed: it is the variant's index.
enum class ErrorKind {
    InvalidParameter,  // the caller's input is unacceptable
    SingularSystem,    // a factorisation needed for a linear solve failed
    NotConverged,      // the outer search used up its iteration budget
    Linalg,            // any other linear-algebra failure
    // Not a user-facing variant: a broken internal invariant that correct
    // input cannot reach (e.g. corrupt stored data that passed every check).
    // The Python layer raises it outside the Exception hierarchy.
    Internal,
};

struct PelunError {
    ErrorKind kind = ErrorKind::InvalidParameter;
    // Payload text of InvalidParameter, SingularSystem and Linalg.
    std::string text;
    // Payload of NotConverged.
    std::size_t iters = 0;
    double grad_norm = 0.0;

    static PelunError invalid_parameter(std::string text) {
        return {ErrorKind::InvalidParameter, std::move(text), 0, 0.0};
    }
    static PelunError singular_system(std::string text) {
        return {ErrorKind::SingularSystem, std::move(text), 0, 0.0};
    }
    static PelunError not_converged(std::size_t iters, double grad_norm) {
        return {ErrorKind::NotConverged, {}, iters, grad_norm};
    }
    static PelunError linalg(std::string text) {
        return {ErrorKind::Linalg, std::move(text), 0, 0.0};
    }
    static PelunError internal(std::string text) {
        return {ErrorKind::Internal, std::move(text), 0, 0.0};
    }

    // The display text, e.g. "singular system: PIRLS factor: ..." or
    // "solver did not converge after 50 iterations (last grad norm = 1.235e-4)".
    std::string display() const;
};

template <class T>
using Result = std::expected<T, PelunError>;

// Shorthand for returning an error from a function that returns Result<T>.
inline std::unexpected<PelunError> fail(PelunError error) {
    return std::unexpected<PelunError>(std::move(error));
}
inline std::unexpected<PelunError> fail_invalid(std::string text) {
    return fail(PelunError::invalid_parameter(std::move(text)));
}

}  // namespace pelun
