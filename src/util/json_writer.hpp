// Compact JSON text built in one growable buffer: no whitespace, members and
// elements in the order they are written, doubles in their shortest exact form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace pelun {

// Appends the JSON number for `value`: the shortest digit string that reads
// back to the same double, in plain form when its decimal exponent d lies in
// −5…15 (0.001234, 12.34, 100.0, 0.0, -0.0) and in exponent form otherwise
// (1e+16, 1e-7, 1.234e+33, 5e-324). NaN and ±inf are written as null.
void append_json_number(std::string& out, double value);
std::string json_number(double value);

// Writes one JSON value. Calls must nest properly: inside an object, `key`
// before each member's value; inside an array, values only; one top-level
// value. The first misuse, a container nested deeper than `max_depth` or a
// string that is not UTF-8 is remembered; `finish` then reports it.
class JsonWriter {
public:
    // The same limit as the reader's, so that everything written reads back.
    static constexpr std::size_t max_depth = 128;

    JsonWriter();

    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    void key(std::string_view name);

    void null_value();
    void bool_value(bool value);
    void unsigned_value(std::uint64_t value);
    void number(double value);
    void string(std::string_view text);

    // The text of the complete value, or the first error's description.
    std::expected<std::string, std::string> finish() &&;

private:
    enum class Container : unsigned char { Object, Array };
    struct Level {
        Container container = Container::Array;
        bool first = true;
        bool key_pending = false;  // objects: a key was written, its value is due
    };

    // Separators before a value; false (with the error noted) where no value may go.
    bool before_value();
    void set_error(std::string text);
    void append_string(std::string_view text);

    std::string out_;
    std::array<Level, max_depth> levels_{};
    std::size_t depth_ = 0;
    bool top_written_ = false;
    std::string error_;
};

}  // namespace pelun
