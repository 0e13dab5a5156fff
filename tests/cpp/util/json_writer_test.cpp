#include "util/json_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace pelun {
namespace {

struct NumberCase {
    double value;
    const char* text;
};

class JsonNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(JsonNumberTest, PlainFormForExponentsMinusFiveToFifteenExponentFormOtherwise) {
    EXPECT_EQ(json_number(GetParam().value), GetParam().text);
}

constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, JsonNumberTest,
    ::testing::Values(
        // zero and signs
        NumberCase{0.0, "0.0"}, NumberCase{-0.0, "-0.0"}, NumberCase{-2.5, "-2.5"},
        // plain form, d >= n - 1: digits, zeros, ".0"
        NumberCase{1.0, "1.0"}, NumberCase{100.0, "100.0"}, NumberCase{123.0, "123.0"},
        NumberCase{1e15, "1000000000000000.0"}, NumberCase{1.5e15, "1500000000000000.0"},
        NumberCase{-1e15, "-1000000000000000.0"},
        // plain form, 0 <= d < n - 1: point after d + 1 digits
        NumberCase{12.34, "12.34"}, NumberCase{12345.678, "12345.678"}, NumberCase{0.5, "0.5"},
        NumberCase{1.2345678901234567e15, "1234567890123456.8"},
        // plain form, d < 0: "0.", -d-1 zeros, digits
        NumberCase{0.1, "0.1"}, NumberCase{0.001234, "0.001234"}, NumberCase{1e-5, "0.00001"},
        NumberCase{1.5e-5, "0.000015"}, NumberCase{-1e-5, "-0.00001"},
        // exponent form: sign always, no leading zeros in the exponent
        NumberCase{1e16, "1e+16"}, NumberCase{-1e16, "-1e+16"}, NumberCase{1.2345678901234568e17, "1.2345678901234568e+17"},
        NumberCase{1.234e33, "1.234e+33"}, NumberCase{1e21, "1e+21"}, NumberCase{1e-6, "1e-6"},
        NumberCase{1e-7, "1e-7"}, NumberCase{-1.5e-7, "-1.5e-7"}, NumberCase{9.999999e-6, "9.999999e-6"},
        NumberCase{1.7976931348623157e308, "1.7976931348623157e+308"},
        // subnormals and the smallest normal
        NumberCase{5e-324, "5e-324"}, NumberCase{-5e-324, "-5e-324"}, NumberCase{1e-320, "1e-320"},
        NumberCase{2.2250738585072014e-308, "2.2250738585072014e-308"},
        // not representable in JSON
        NumberCase{std::numeric_limits<double>::quiet_NaN(), "null"}, NumberCase{inf, "null"},
        NumberCase{-inf, "null"}));

TEST(JsonNumber, EveryFiniteDoubleReadsBackBitForBit) {
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<std::uint64_t> bits;
    int checked = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t raw = bits(rng);
        double value;
        std::memcpy(&value, &raw, sizeof value);
        if (!std::isfinite(value)) continue;
        const std::string text = json_number(value);
        // strtod is an independent reader of the decimal text.
        const double back = std::strtod(text.c_str(), nullptr);
        std::uint64_t back_raw;
        std::memcpy(&back_raw, &back, sizeof back);
        ASSERT_EQ(back_raw, raw) << text;
        // JSON grammar: a fraction or an exponent, never a bare integer.
        ASSERT_NE(text.find_first_of(".e"), std::string::npos) << text;
        ++checked;
    }
    EXPECT_GT(checked, 19000);
}

TEST(JsonWriter, WritesCompactTextInCallOrder) {
    JsonWriter w;
    w.begin_object();
    w.key("b");
    w.unsigned_value(18446744073709551615ull);
    w.key("a");
    w.begin_array();
    w.number(1.0);
    w.null_value();
    w.bool_value(true);
    w.bool_value(false);
    w.begin_array();
    w.end_array();
    w.begin_object();
    w.end_object();
    w.end_array();
    w.key("s");
    w.string("x");
    w.end_object();
    auto text = std::move(w).finish();
    ASSERT_TRUE(text.has_value()) << text.error();
    EXPECT_EQ(*text, R"({"b":18446744073709551615,"a":[1.0,null,true,false,[],{}],"s":"x"})");
}

TEST(JsonWriter, EscapesQuotesBackslashesAndControlCharactersAndKeepsUtf8) {
    JsonWriter w;
    w.string("q\"b\\n\n\r\t\b\f\x01\x1f\x7f/\xc3\xa9\xf0\x9f\x98\x80");
    auto text = std::move(w).finish();
    ASSERT_TRUE(text.has_value()) << text.error();
    EXPECT_EQ(*text, "\"q\\\"b\\\\n\\n\\r\\t\\b\\f\\u0001\\u001f\x7f/\xc3\xa9\xf0\x9f\x98\x80\"");
}

TEST(JsonWriter, ReportsMisuseAndInvalidStrings) {
    struct Case {
        const char* name;
        void (*calls)(JsonWriter&);
        const char* error;
    };
    const Case cases[] = {
        {"value without key", [](JsonWriter& w) { w.begin_object(); w.number(1.0); w.end_object(); },
         "an object member without a key"},
        {"key in array", [](JsonWriter& w) { w.begin_array(); w.key("a"); w.end_array(); },
         "a key outside an object or where a value is due"},
        {"two top-level values", [](JsonWriter& w) { w.null_value(); w.null_value(); }, "a second top-level value"},
        {"unclosed", [](JsonWriter& w) { w.begin_array(); }, "an incomplete value"},
        {"nothing", [](JsonWriter&) {}, "an incomplete value"},
        {"mismatched close", [](JsonWriter& w) { w.begin_array(); w.end_object(); },
         "an object closed where none is open or a key has no value"},
        {"cut UTF-8", [](JsonWriter& w) { w.string("a\xc3"); }, "a string that is not valid UTF-8"},
        {"overlong UTF-8", [](JsonWriter& w) { w.string("\xc0\xaf"); }, "a string that is not valid UTF-8"},
        {"UTF-8 surrogate", [](JsonWriter& w) { w.string("\xed\xa0\x80"); }, "a string that is not valid UTF-8"},
        {"invalid key", [](JsonWriter& w) { w.begin_object(); w.key("\xff"); w.null_value(); w.end_object(); },
         "a string that is not valid UTF-8"},
    };
    for (const Case& c : cases) {
        JsonWriter w;
        c.calls(w);
        auto text = std::move(w).finish();
        ASSERT_FALSE(text.has_value()) << c.name;
        EXPECT_EQ(text.error(), c.error) << c.name;
    }
}

TEST(JsonWriter, NestsUpToTheReadersDepthLimitAndNoFurther) {
    for (const std::size_t depth : {JsonWriter::max_depth, JsonWriter::max_depth + 1}) {
        JsonWriter w;
        for (std::size_t i = 0; i < depth; ++i) w.begin_array();
        for (std::size_t i = 0; i < depth; ++i) w.end_array();
        auto text = std::move(w).finish();
        if (depth <= JsonWriter::max_depth) {
            ASSERT_TRUE(text.has_value()) << text.error();
            EXPECT_EQ(*text, std::string(depth, '[') + std::string(depth, ']'));
        } else {
            ASSERT_FALSE(text.has_value());
            EXPECT_EQ(text.error(), "recursion limit exceeded");
        }
    }
}

}  // namespace
}  // namespace pelun
