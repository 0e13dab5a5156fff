// Coverage-guided fuzzing of reading stored fits (libFuzzer); run: bash tests/fuzz/run.sh [seconds].
//
// Every input must either fail with the decode error of deserialize_fit or
// give a record that writes and reads back to the same bytes and whose
// predictions succeed or fail with InvalidParameter. Anything else, and any
// sanitizer report, is a crash.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fit/persistence.hpp"
#include "fit/prediction.hpp"

namespace {

std::span<const unsigned char> as_bytes(const std::string& s) {
    return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

// Four rows inside and outside [0, 1], and a column count every stored
// predictor of a sensible frame can read.
pelun::Matrix probe_points() {
    pelun::Matrix x(4, 4);
    for (std::size_t i = 0; i < x.size(); ++i) x.data()[i] = -0.3 + 0.45 * static_cast<double>(i % 4);
    return x;
}

void require(bool condition) {
    if (!condition) __builtin_trap();
}

void check_frame(std::span<const unsigned char> input) {
    auto fit = pelun::deserialize_fit(input);
    if (!fit) {
        require(fit.error().kind == pelun::ErrorKind::InvalidParameter);
        require(fit.error().text.rfind("FittedGam::deserialize: ", 0) == 0);
        return;
    }
    auto frame = pelun::serialize_fit(*fit);
    require(frame.has_value());
    auto again = pelun::deserialize_fit(as_bytes(*frame));
    require(again.has_value());
    auto frame_again = pelun::serialize_fit(*again);
    require(frame_again.has_value() && *frame_again == *frame);

    static const pelun::Matrix x = probe_points();
    auto matrix = pelun::lpmatrix(*fit, x);
    if (matrix)
        require(matrix->rows() == x.rows() && matrix->cols() == fit->beta.size());
    else
        require(matrix.error().kind == pelun::ErrorKind::InvalidParameter);
    auto interval = pelun::predict_interval(*fit, x, 0.9, true);
    require(interval.has_value() == matrix.has_value());
}

}  // namespace

// The input as a whole frame, and as the body of a frame with a matching
// header (so that mutations of the JSON are not all stopped by the length).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_frame({data, size});
    std::string framed = "PELUN";
    framed += std::string("\x01\x00\x00\x00", 4);
    for (int i = 0; i < 8; ++i) framed += static_cast<char>((static_cast<std::uint64_t>(size) >> (8 * i)) & 0xFF);
    framed.append(reinterpret_cast<const char*>(data), size);
    check_frame(as_bytes(framed));
    return 0;
}
