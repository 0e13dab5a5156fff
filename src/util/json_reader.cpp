#include "util/json_reader.hpp"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "util/json_utf8.hpp"

namespace pelun {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

JsonReader::JsonReader(std::string_view text) : text_(text) {}

JsonError JsonReader::error_at(std::size_t offset, std::string_view message) const {
    offset = std::min(offset, text_.size());
    const std::string_view before = text_.substr(0, offset);
    const auto line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
    const std::size_t newline = before.rfind('\n');
    const std::size_t line_start = newline == std::string_view::npos ? 0 : newline + 1;
    const std::size_t column = offset - line_start + 1;
    std::string text(message);
    text += " at line " + std::to_string(line) + " column " + std::to_string(column);
    return {offset, line, column, std::move(text)};
}

std::unexpected<JsonError> JsonReader::fail_at(std::size_t offset, std::string_view message) const {
    return std::unexpected(error_at(offset, message));
}

void JsonReader::skip_whitespace() {
    while (!at_end()) {
        const char c = current();
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
        ++pos_;
    }
}

void JsonReader::rewind(const Mark& mark) {
    pos_ = mark.pos;
    depth_ = mark.depth;
    if (depth_ > 0) first_[depth_ - 1] = mark.first;
}

JsonResult<JsonKind> JsonReader::peek() {
    skip_whitespace();
    token_offset_ = pos_;
    if (at_end()) return fail_at(pos_, "EOF while parsing a value");
    switch (current()) {
        case '{': return JsonKind::Object;
        case '[': return JsonKind::Array;
        case '"': return JsonKind::String;
        case 't':
        case 'f': return JsonKind::Boolean;
        case 'n': return JsonKind::Null;
        default:
            if (current() == '-' || is_digit(current())) return JsonKind::Number;
            return fail_at(pos_, "expected value");
    }
}

JsonResult<void> JsonReader::enter() {
    if (depth_ == max_depth) return fail_at(pos_, "recursion limit exceeded");
    in_object_[depth_] = current() == '{';
    ++pos_;
    first_[depth_++] = true;
    return {};
}

JsonResult<void> JsonReader::begin_object() {
    auto kind = peek();
    if (!kind) return std::unexpected(std::move(kind.error()));
    if (*kind != JsonKind::Object) return std::unexpected(type_error("an object"));
    return enter();
}

JsonResult<void> JsonReader::begin_array() {
    auto kind = peek();
    if (!kind) return std::unexpected(std::move(kind.error()));
    if (*kind != JsonKind::Array) return std::unexpected(type_error("an array"));
    return enter();
}

JsonResult<bool> JsonReader::next_member(std::string* key) {
    if (depth_ == 0 || !in_object_[depth_ - 1]) return fail_at(pos_, "no object is open");
    skip_whitespace();
    if (at_end()) return fail_at(pos_, "EOF while parsing an object");
    bool& first = first_[depth_ - 1];
    if (current() == '}') {
        token_offset_ = pos_++;
        --depth_;
        return false;
    }
    if (!first) {
        if (current() != ',') return fail_at(pos_, "expected `,` or `}`");
        ++pos_;
        skip_whitespace();
        if (at_end()) return fail_at(pos_, "EOF while parsing an object");
        if (current() == '}') return fail_at(pos_, "trailing comma");
    }
    first = false;
    if (current() != '"') return fail_at(pos_, "key must be a string");
    const std::size_t key_offset = pos_;
    if (auto scanned = scan_string(key); !scanned) return std::unexpected(std::move(scanned.error()));
    skip_whitespace();
    if (at_end()) return fail_at(pos_, "EOF while parsing an object");
    if (current() != ':') return fail_at(pos_, "expected `:`");
    ++pos_;
    token_offset_ = key_offset;
    return true;
}

JsonResult<std::optional<std::string>> JsonReader::next_key() {
    std::string key;
    auto more = next_member(&key);
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) return std::nullopt;
    return key;
}

JsonResult<bool> JsonReader::next_element() {
    if (depth_ == 0 || in_object_[depth_ - 1]) return fail_at(pos_, "no array is open");
    skip_whitespace();
    if (at_end()) return fail_at(pos_, "EOF while parsing an array");
    bool& first = first_[depth_ - 1];
    if (current() == ']') {
        token_offset_ = pos_++;
        --depth_;
        return false;
    }
    if (!first) {
        if (current() != ',') return fail_at(pos_, "expected `,` or `]`");
        ++pos_;
        skip_whitespace();
        if (at_end()) return fail_at(pos_, "EOF while parsing an array");
        if (current() == ']') return fail_at(pos_, "trailing comma");
    }
    first = false;
    return true;
}

JsonResult<void> JsonReader::expect_literal(std::string_view literal) {
    if (text_.substr(pos_, literal.size()) != literal) return fail_at(pos_, "invalid literal");
    pos_ += literal.size();
    return {};
}

JsonResult<void> JsonReader::read_null() {
    auto kind = peek();
    if (!kind) return std::unexpected(std::move(kind.error()));
    if (*kind != JsonKind::Null) return std::unexpected(type_error("null"));
    return expect_literal("null");
}

JsonResult<bool> JsonReader::try_null() {
    auto kind = peek();
    if (!kind) return std::unexpected(std::move(kind.error()));
    if (*kind != JsonKind::Null) return false;
    if (auto literal = expect_literal("null"); !literal) return std::unexpected(std::move(literal.error()));
    return true;
}

JsonResult<bool> JsonReader::read_bool() {
    auto kind = peek();
    if (!kind) return std::unexpected(std::move(kind.error()));
    if (*kind != JsonKind::Boolean) return std::unexpected(type_error("a boolean"));
    const bool value = current() == 't';
    if (auto literal = expect_literal(value ? "true" : "false"); !literal)
        return std::unexpected(std::move(literal.error()));
    return value;
}

JsonResult<std::size_t> JsonReader::scan_number() {
    std::size_t p = pos_;
    const auto digit_at = [&](std::size_t i) { return i < text_.size() && is_digit(text_[i]); };
    if (p < text_.size() && text_[p] == '-') ++p;
    if (!digit_at(p)) return fail_at(p, "invalid number");
    if (text_[p] == '0') {
        ++p;
        if (digit_at(p)) return fail_at(p, "invalid number");  // no leading zeros
    } else {
        while (digit_at(p)) ++p;
    }
    if (p < text_.size() && text_[p] == '.') {
        ++p;
        if (!digit_at(p)) return fail_at(p, "invalid number");
        while (digit_at(p)) ++p;
    }
    if (p < text_.size() && (text_[p] == 'e' || text_[p] == 'E')) {
        ++p;
        if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
        if (!digit_at(p)) return fail_at(p, "invalid number");
        while (digit_at(p)) ++p;
    }
    return p;
}

JsonResult<double> JsonReader::read_double() {
    auto kind = peek();
    if (!kind) return std::unexpected(std::move(kind.error()));
    if (*kind != JsonKind::Number) return std::unexpected(type_error("a number"));
    auto end = scan_number();
    if (!end) return std::unexpected(std::move(end.error()));
    double value = 0.0;
    const char* first = text_.data() + pos_;
    const char* last = text_.data() + *end;
    const auto result = std::from_chars(first, last, value);
    if (result.ec == std::errc::result_out_of_range) return fail_at(pos_, "number out of range");
    if (result.ec != std::errc() || result.ptr != last) return fail_at(pos_, "invalid number");
    pos_ = *end;
    return value;
}

JsonResult<std::uint64_t> JsonReader::read_unsigned() {
    auto kind = peek();
    if (!kind) return std::unexpected(std::move(kind.error()));
    if (*kind != JsonKind::Number) return std::unexpected(type_error("an unsigned integer"));
    auto end = scan_number();
    if (!end) return std::unexpected(std::move(end.error()));
    const std::string_view token = text_.substr(pos_, *end - pos_);
    if (token.find_first_of("-.eE") != std::string_view::npos)
        return std::unexpected(type_error("an unsigned integer"));
    std::uint64_t value = 0;
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    if (result.ec == std::errc::result_out_of_range) return fail_at(pos_, "number out of range");
    if (result.ec != std::errc() || result.ptr != token.data() + token.size())
        return fail_at(pos_, "invalid number");
    pos_ = *end;
    return value;
}

JsonResult<void> JsonReader::scan_string(std::string* out) {
    std::size_t p = pos_ + 1;  // past the opening quote
    while (true) {
        if (p >= text_.size()) return fail_at(p, "EOF while parsing a string");
        const auto byte = static_cast<unsigned char>(text_[p]);
        if (byte == '"') break;
        if (byte == '\\') {
            const std::size_t escape = p;
            if (++p >= text_.size()) return fail_at(p, "EOF while parsing a string");
            char simple = 0;
            switch (text_[p]) {
                case '"': simple = '"'; break;
                case '\\': simple = '\\'; break;
                case '/': simple = '/'; break;
                case 'b': simple = '\b'; break;
                case 'f': simple = '\f'; break;
                case 'n': simple = '\n'; break;
                case 'r': simple = '\r'; break;
                case 't': simple = '\t'; break;
                case 'u': break;
                default: return fail_at(p, "invalid escape");
            }
            if (simple != 0) {
                if (out != nullptr) *out += simple;
                ++p;
                continue;
            }
            // \uXXXX, a UTF-16 code unit; a surrogate pair is two escapes.
            const auto read_unit = [&](std::size_t at, std::uint32_t& unit) -> JsonResult<void> {
                unit = 0;
                for (std::size_t k = 0; k < 4; ++k) {
                    if (at + k >= text_.size()) return fail_at(at + k, "EOF while parsing a string");
                    const int h = hex_value(text_[at + k]);
                    if (h < 0) return fail_at(at + k, "invalid \\u escape");
                    unit = unit * 16 + static_cast<std::uint32_t>(h);
                }
                return {};
            };
            std::uint32_t unit = 0;
            if (auto read = read_unit(p + 1, unit); !read) return std::unexpected(std::move(read.error()));
            p += 5;
            if (unit >= 0xDC00 && unit <= 0xDFFF) return fail_at(escape, "lone trailing surrogate in \\u escape");
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (text_.substr(p, 2) != "\\u") return fail_at(escape, "lone leading surrogate in \\u escape");
                std::uint32_t low = 0;
                if (auto read = read_unit(p + 2, low); !read) return std::unexpected(std::move(read.error()));
                if (low < 0xDC00 || low > 0xDFFF) return fail_at(escape, "lone leading surrogate in \\u escape");
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                p += 6;
            }
            if (out != nullptr) append_utf8(*out, unit);
            continue;
        }
        if (byte < 0x20) return fail_at(p, "unescaped control character in string");
        if (byte < 0x80) {
            if (out != nullptr) *out += static_cast<char>(byte);
            ++p;
            continue;
        }
        const std::size_t length = json_detail::utf8_sequence_length(text_, p);
        if (length == 0) return fail_at(p, "invalid UTF-8 in string");
        if (out != nullptr) out->append(text_, p, length);
        p += length;
    }
    pos_ = p + 1;
    return {};
}

JsonResult<std::string> JsonReader::read_string() {
    auto kind = peek();
    if (!kind) return std::unexpected(std::move(kind.error()));
    if (*kind != JsonKind::String) return std::unexpected(type_error("a string"));
    std::string value;
    if (auto scanned = scan_string(&value); !scanned) return std::unexpected(std::move(scanned.error()));
    return value;
}

JsonResult<void> JsonReader::skip_value() {
    auto kind = peek();
    if (!kind) return std::unexpected(std::move(kind.error()));
    switch (*kind) {
        case JsonKind::Null: return expect_literal("null");
        case JsonKind::Boolean: return expect_literal(current() == 't' ? "true" : "false");
        case JsonKind::Number: {
            auto end = scan_number();
            if (!end) return std::unexpected(std::move(end.error()));
            pos_ = *end;
            return {};
        }
        case JsonKind::String: return scan_string(nullptr);
        case JsonKind::Array: {
            if (auto entered = enter(); !entered) return entered;
            while (true) {
                auto more = next_element();
                if (!more) return std::unexpected(std::move(more.error()));
                if (!*more) return {};
                if (auto skipped = skip_value(); !skipped) return skipped;
            }
        }
        case JsonKind::Object: {
            if (auto entered = enter(); !entered) return entered;
            while (true) {
                auto more = next_member(nullptr);
                if (!more) return std::unexpected(std::move(more.error()));
                if (!*more) return {};
                if (auto skipped = skip_value(); !skipped) return skipped;
            }
        }
    }
    return {};
}

JsonResult<void> JsonReader::finish() {
    skip_whitespace();
    if (!at_end()) return fail_at(pos_, "trailing characters");
    return {};
}

std::string JsonReader::describe_next() {
    switch (current()) {
        case 'n': return "null";
        case 't': return "boolean `true`";
        case 'f': return "boolean `false`";
        case '"': return "string";
        case '[': return "array";
        case '{': return "object";
        default: break;
    }
    auto end = scan_number();
    if (!end || *end - pos_ > 32) return "number";
    return "number `" + std::string(text_.substr(pos_, *end - pos_)) + "`";
}

JsonError JsonReader::type_error(std::string_view expected) {
    auto kind = peek();
    if (!kind) return std::move(kind.error());
    return error_at(token_offset_, "invalid type: " + describe_next() + ", expected " + std::string(expected));
}

}  // namespace pelun
