#include "util/format.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <cstring>
#include <random>

namespace pelun {
namespace {

struct DoubleCase {
    double value;
    const char* text;
};

class FormatDoubleTest : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(FormatDoubleTest, PrintsShortestFormWithoutTrailingZero) {
    EXPECT_EQ(format_double(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatDoubleTest,
    ::testing::Values(DoubleCase{2.0, "2"}, DoubleCase{1.0, "1"}, DoubleCase{0.5, "0.5"},
                      DoubleCase{-1.0, "-1"}, DoubleCase{2.5, "2.5"}, DoubleCase{0.0, "0"},
                      DoubleCase{-0.0, "-0"}, DoubleCase{0.1, "0.1"}, DoubleCase{1e-7, "1e-07"},
                      DoubleCase{std::numeric_limits<double>::infinity(), "inf"},
                      DoubleCase{-std::numeric_limits<double>::infinity(), "-inf"},
                      DoubleCase{std::numeric_limits<double>::quiet_NaN(), "NaN"}));

TEST(FormatDouble, ReadsBackToTheSameDouble) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<std::uint64_t> bits;
    for (int i = 0; i < 2000; ++i) {
        const std::uint64_t raw = bits(rng);
        double value;
        std::memcpy(&value, &raw, sizeof value);
        if (!std::isfinite(value)) continue;
        const std::string text = format_double(value);
        double back = 0.0;
        std::from_chars(text.data(), text.data() + text.size(), back);
        EXPECT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;
    }
}

TEST(FormatSci3, ThreeDecimalsAndBareExponent) {
    EXPECT_EQ(format_sci3(0.00012346), "1.235e-4");
    EXPECT_EQ(format_sci3(2.0), "2.000e0");
    EXPECT_EQ(format_sci3(0.0), "0.000e0");
    EXPECT_EQ(format_sci3(123456.0), "1.235e5");
    EXPECT_EQ(format_sci3(-3.5e-12), "-3.500e-12");
    EXPECT_EQ(format_sci3(std::numeric_limits<double>::quiet_NaN()), "NaN");
}

TEST(QuoteName, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(quote_name("Gaussian"), "\"Gaussian\"");
    EXPECT_EQ(quote_name("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(quote_name("tab\there\nnl"), "\"tab\\there\\nnl\"");
    EXPECT_EQ(quote_name(std::string_view("nul\0x", 5)), "\"nul\\0x\"");
    EXPECT_EQ(quote_name("\x1b[0m"), "\"\\u{1b}[0m\"");
    EXPECT_EQ(quote_name("\x7f"), "\"\\u{7f}\"");
    EXPECT_EQ(quote_name("\xc2\x85"), "\"\\u{85}\"");  // U+0085, a C1 control
    EXPECT_EQ(quote_name("caf\xc3\xa9 \xce\xb8"), "\"caf\xc3\xa9 \xce\xb8\"");  // printable UTF-8 kept
    EXPECT_EQ(quote_name(""), "\"\"");
}

}  // namespace
}  // namespace pelun
