// The stored form of a fitted model: a 17-byte frame header (magic "PELUN",
// format version, body length) followed by the whole record as compact JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fit/fitted_gam.hpp"
#include "util/error.hpp"

namespace pelun {

inline constexpr std::size_t frame_header_size = 17;
inline constexpr std::uint32_t frame_format_version = 1;

// The frame of `fit`: "PELUN", the version as little-endian u32, the body
// length L as little-endian u64, then the L bytes of the JSON body. The same
// record always gives the same bytes. NaN and ±inf are written as null.
// Fails only for a record the reader would refuse for its nesting depth (a
// predictor tree far deeper than any design builds):
// "FittedGam::serialize: JSON encode failed: {}".
Result<std::string> serialize_fit(const FittedGam& fit);

// The record stored in `frame`. The header is checked first (length,
// magic, version, length overflow, truncation, in this order); bytes after
// the body are ignored. In the body, keys may come in any order and unknown
// keys of the record and of predictor objects are skipped; a null where a
// floating-point number is expected reads as NaN. The predictor's matrices
// must have the shapes a design builder gives them (centring k × (k − 1) for
// k knots, and so on) and a tensor margin's knots must be valid, so that
// evaluating it never meets inconsistent sizes; beta and vcov are checked
// against the predictor when predicting. Every failure is InvalidParameter,
// for the body "FittedGam::deserialize: JSON decode failed at byte {column}: {text}".
Result<FittedGam> deserialize_fit(std::span<const unsigned char> frame);

}  // namespace pelun
