#include "util/format.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace pelun {

namespace {

const char* non_finite_text(double value) {
    if (std::isnan(value)) return "NaN";
    return value > 0 ? "inf" : "-inf";
}

}  // namespace

std::string format_double(double value) {
    if (!std::isfinite(value)) return non_finite_text(value);
    std::array<char, 64> buffer{};
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    (void)ec;  // 64 characters always suffice for a double
    return std::string(buffer.data(), end);
}

std::string format_sci3(double value) {
    if (!std::isfinite(value)) return non_finite_text(value);
    std::array<char, 64> buffer{};
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                   std::chars_format::scientific, 3);
    (void)ec;
    // to_chars writes "1.235e-04"; the message form is "1.235e-4".
    std::string text(buffer.data(), end);
    const auto e = text.find('e');
    std::string mantissa = text.substr(0, e);
    const int exponent = std::atoi(text.c_str() + e + 1);
    return mantissa + "e" + std::to_string(exponent);
}

std::string quote_name(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 2);
    out.push_back('"');
    const auto append_code_point = [&out](unsigned code) {
        std::array<char, 16> hex{};
        std::snprintf(hex.data(), hex.size(), "\\u{%x}", code);
        out += hex.data();
    };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (byte < 0x20 || byte == 0x7f) {
                    append_code_point(byte);
                } else if (byte == 0xc2 && i + 1 < name.size() &&
                           static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                           static_cast<unsigned char>(name[i + 1]) <= 0x9f) {
                    // U+0080..U+009F, the C1 control characters, in UTF-8.
                    append_code_point(static_cast<unsigned char>(name[++i]));
                } else {
                    out.push_back(c);  // other UTF-8 bytes pass through
                }
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace pelun
