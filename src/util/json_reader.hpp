// A pull reader of JSON text: the caller walks the document value by value and
// gets every failure with its byte position, line and column.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace pelun {

// Where and why reading failed.
struct JsonError {
    std::size_t offset = 0;  // 0-based byte offset of the offending byte (the text size at its end)
    std::size_t line = 1;    // 1-based
    std::size_t column = 1;  // 1-based byte column within the line
    std::string text;        // the description, ending with " at line {line} column {column}"
};

template <class T>
using JsonResult = std::expected<T, JsonError>;

enum class JsonKind { Null, Boolean, Number, String, Array, Object };

// Reads one document from `text`, which must outlive the reader. The text
// need not be valid: every method checks what it consumes (strict JSON
// grammar, UTF-8 strings, escapes, nesting depth) and fails with a position.
// After an error the reader's state is unspecified; stop reading.
//
// Walking an object:  begin_object(), then while next_key() gives a key, read
// or skip exactly one value. Arrays alike with next_element(). Then finish().
class JsonReader {
public:
    // Containers nested deeper than this are rejected ("recursion limit exceeded").
    static constexpr std::size_t max_depth = 128;

    explicit JsonReader(std::string_view text);

    // The kind of the next value, after skipping whitespace; consumes nothing.
    // Fails at the end of the text or at a byte that starts no value.
    JsonResult<JsonKind> peek();

    JsonResult<void> begin_object();
    // The next member's key (unescaped), positioned before its value; nullopt
    // once the closing brace is consumed.
    JsonResult<std::optional<std::string>> next_key();
    JsonResult<void> begin_array();
    // True when an element follows (read it next), false once the closing
    // bracket is consumed.
    JsonResult<bool> next_element();

    JsonResult<void> read_null();
    // Consumes a null if one is next; false (consuming nothing) otherwise.
    JsonResult<bool> try_null();
    JsonResult<bool> read_bool();
    // Any JSON number, converted exactly (correctly rounded); "number out of
    // range" when it overflows or underflows a double.
    JsonResult<double> read_double();
    // A number written as a plain non-negative integer; "number out of range"
    // above 2⁶⁴ − 1.
    JsonResult<std::uint64_t> read_unsigned();
    JsonResult<std::string> read_string();
    // Checks and skips one complete value of any kind.
    JsonResult<void> skip_value();
    // After the top-level value: only spaces, tabs, line feeds and carriage
    // returns may remain, otherwise "trailing characters".
    JsonResult<void> finish();

    // Offset of the first byte of the value or key consumed or peeked last
    // (of the closing bracket or brace when a container ended).
    std::size_t token_offset() const { return token_offset_; }

    // An error at `offset` with `message` followed by its line and column.
    JsonError error_at(std::size_t offset, std::string_view message) const;
    // "invalid type: {what the next value is}, expected {expected}" at the next value.
    JsonError type_error(std::string_view expected);

    // A saved position between values, to read a stretch of the text twice
    // (rewinding to a mark taken at the same or a shallower depth).
    struct Mark {
        std::size_t pos;
        std::size_t depth;
        bool first;
    };
    Mark mark() const { return {pos_, depth_, depth_ > 0 ? first_[depth_ - 1] : true}; }
    void rewind(const Mark& mark);

private:
    void skip_whitespace();
    bool at_end() const { return pos_ >= text_.size(); }
    char current() const { return text_[pos_]; }
    std::unexpected<JsonError> fail_at(std::size_t offset, std::string_view message) const;
    JsonResult<void> enter();
    // next_key without building the key when `key` is null.
    JsonResult<bool> next_member(std::string* key);
    // Checks a string starting at pos_ (at its quote), appending the unescaped
    // text to `out` when given; leaves pos_ after the closing quote.
    JsonResult<void> scan_string(std::string* out);
    // Checks the number grammar from pos_; returns the end of the token.
    JsonResult<std::size_t> scan_number();
    JsonResult<void> expect_literal(std::string_view literal);
    std::string describe_next();

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t token_offset_ = 0;
    std::size_t depth_ = 0;
    // first_[d]: container d has not had a member or element yet;
    // in_object_[d]: it is an object rather than an array.
    std::array<bool, max_depth> first_{};
    std::array<bool, max_depth> in_object_{};
};

}  // namespace pelun
