#include "util/json_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "util/json_utf8.hpp"

namespace pelun {

void append_json_number(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (std::signbit(value)) {
        out += '-';
        value = -value;
    }
    if (value == 0.0) {
        out += "0.0";
        return;
    }
    // The shortest round-trip digits in scientific form: "d[.ddd]e±XX".
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::scientific);
    const std::string_view text(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
    const std::size_t e = text.find('e');
    std::string digits;
    digits.reserve(e);
    for (const char c : text.substr(0, e))
        if (c != '.') digits.push_back(c);
    int exponent = 0;
    const std::string_view exponent_text = text.substr(e + 1);
    std::from_chars(exponent_text.data() + 1, exponent_text.data() + exponent_text.size(), exponent);
    if (exponent_text.front() == '-') exponent = -exponent;

    const auto n = static_cast<int>(digits.size());
    const auto d = exponent;
    if (d >= -5 && d <= 15) {
        if (d < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-d - 1), '0');
            out += digits;
        } else if (d < n - 1) {
            out.append(digits, 0, static_cast<std::size_t>(d + 1));
            out += '.';
            out.append(digits, static_cast<std::size_t>(d + 1));
        } else {
            out += digits;
            out.append(static_cast<std::size_t>(d - n + 1), '0');
            out += ".0";
        }
        return;
    }
    out += digits[0];
    if (n > 1) {
        out += '.';
        out.append(digits, 1);
    }
    out += 'e';
    out += d < 0 ? '-' : '+';
    out += std::to_string(d < 0 ? -d : d);
}

std::string json_number(double value) {
    std::string out;
    append_json_number(out, value);
    return out;
}

JsonWriter::JsonWriter() { out_.reserve(128); }

void JsonWriter::set_error(std::string text) {
    if (error_.empty()) error_ = std::move(text);
}

bool JsonWriter::before_value() {
    if (!error_.empty()) return false;
    if (depth_ == 0) {
        if (top_written_) {
            set_error("a second top-level value");
            return false;
        }
        top_written_ = true;
        return true;
    }
    Level& level = levels_[depth_ - 1];
    if (level.container == Container::Object) {
        if (!level.key_pending) {
            set_error("an object member without a key");
            return false;
        }
        level.key_pending = false;
        return true;
    }
    if (!level.first) out_ += ',';
    level.first = false;
    return true;
}

void JsonWriter::begin_object() {
    if (!before_value()) return;
    if (depth_ == max_depth) {
        set_error("recursion limit exceeded");
        return;
    }
    levels_[depth_++] = Level{Container::Object, true, false};
    out_ += '{';
}

void JsonWriter::end_object() {
    if (!error_.empty()) return;
    if (depth_ == 0 || levels_[depth_ - 1].container != Container::Object || levels_[depth_ - 1].key_pending) {
        set_error("an object closed where none is open or a key has no value");
        return;
    }
    --depth_;
    out_ += '}';
}

void JsonWriter::begin_array() {
    if (!before_value()) return;
    if (depth_ == max_depth) {
        set_error("recursion limit exceeded");
        return;
    }
    levels_[depth_++] = Level{Container::Array, true, false};
    out_ += '[';
}

void JsonWriter::end_array() {
    if (!error_.empty()) return;
    if (depth_ == 0 || levels_[depth_ - 1].container != Container::Array) {
        set_error("an array closed where none is open");
        return;
    }
    --depth_;
    out_ += ']';
}

void JsonWriter::key(std::string_view name) {
    if (!error_.empty()) return;
    if (depth_ == 0 || levels_[depth_ - 1].container != Container::Object || levels_[depth_ - 1].key_pending) {
        set_error("a key outside an object or where a value is due");
        return;
    }
    Level& level = levels_[depth_ - 1];
    if (!level.first) out_ += ',';
    level.first = false;
    level.key_pending = true;
    append_string(name);
    out_ += ':';
}

void JsonWriter::null_value() {
    if (before_value()) out_ += "null";
}

void JsonWriter::bool_value(bool value) {
    if (before_value()) out_ += value ? "true" : "false";
}

void JsonWriter::unsigned_value(std::uint64_t value) {
    if (!before_value()) return;
    std::array<char, 24> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out_.append(buffer.data(), result.ptr);
}

void JsonWriter::number(double value) {
    if (before_value()) append_json_number(out_, value);
}

void JsonWriter::string(std::string_view text) {
    if (before_value()) append_string(text);
}

void JsonWriter::append_string(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out_ += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            const std::size_t length = json_detail::utf8_sequence_length(text, i);
            if (length == 0) {
                set_error("a string that is not valid UTF-8");
                return;
            }
            out_.append(text, i, length);
            i += length;
            continue;
        }
        switch (byte) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '\b': out_ += "\\b"; break;
            case '\f': out_ += "\\f"; break;
            case '\n': out_ += "\\n"; break;
            case '\r': out_ += "\\r"; break;
            case '\t': out_ += "\\t"; break;
            default:
                if (byte < 0x20) {
                    out_ += "\\u00";
                    out_ += hex[byte >> 4];
                    out_ += hex[byte & 0xF];
                } else {
                    out_ += static_cast<char>(byte);
                }
        }
        ++i;
    }
    out_ += '"';
}

std::expected<std::string, std::string> JsonWriter::finish() && {
    if (error_.empty() && (depth_ != 0 || !top_written_)) set_error("an incomplete value");
    if (!error_.empty()) return std::unexpected(std::move(error_));
    return std::move(out_);
}

}  // namespace pelun
