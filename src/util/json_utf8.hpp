// UTF-8 well-formedness, shared by the JSON writer and reader: the shortest
// encodings of U+0000..U+10FFFF without the surrogates U+D800..U+DFFF.
#pragma once

#include <cstddef>
#include <string_view>

namespace pelun::json_detail {

// Length (2, 3 or 4) of the well-formed multi-byte sequence that starts at
// text[i], or 0 when the bytes there are not one (a stray continuation byte,
// an overlong form, a surrogate, a value above U+10FFFF, a cut sequence).
// Precondition: text[i] is not ASCII.
inline std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(i);
    std::size_t length = 0;
    // Bounds of the second byte, which carry the overlong, surrogate and
    // range rules; later bytes are plain continuation bytes 0x80..0xBF.
    unsigned low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
        if (lead == 0xED) high = 0x9F;  // U+D800..U+DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong below U+10000
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return length;
}

}  // namespace pelun::json_detail
