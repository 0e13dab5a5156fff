#include "util/json_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace pelun {
namespace {

// Checks and skips one whole document.
JsonResult<void> read_document(std::string_view text) {
    JsonReader r(text);
    if (auto skipped = r.skip_value(); !skipped) return skipped;
    return r.finish();
}

TEST(JsonReader, WalksObjectsAndArraysWithWhitespaceAnywhere) {
    const std::string text = " {\n\t\"a\" : [ 1 , -2.5e1 , true , null ] ,\r\n \"b\" : { } , \"c\":\"x\" } \n";
    JsonReader r(text);
    ASSERT_TRUE(r.begin_object());
    auto key = r.next_key();
    ASSERT_TRUE(key && *key);
    EXPECT_EQ(**key, "a");
    ASSERT_TRUE(r.begin_array());
    std::vector<double> numbers;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(*r.next_element());
        numbers.push_back(*r.read_double());
    }
    EXPECT_EQ(numbers, (std::vector<double>{1.0, -25.0}));
    ASSERT_TRUE(*r.next_element());
    EXPECT_TRUE(*r.read_bool());
    ASSERT_TRUE(*r.next_element());
    EXPECT_TRUE(*r.try_null());
    EXPECT_FALSE(*r.next_element());
    key = r.next_key();
    EXPECT_EQ(**key, "b");
    ASSERT_TRUE(r.begin_object());
    EXPECT_FALSE(r.next_key()->has_value());
    key = r.next_key();
    EXPECT_EQ(**key, "c");
    EXPECT_FALSE(*r.try_null());  // a string: nothing consumed
    EXPECT_EQ(*r.read_string(), "x");
    EXPECT_FALSE(r.next_key()->has_value());
    EXPECT_TRUE(r.finish());
}

TEST(JsonReader, UnescapesStringsIntoUtf8) {
    const std::string text = R"("a\"b\\c\/d\b\f\n\r\t\u0041\u00e9\u20ac\ud83d\ude00\u0000")"
                             "\xc3\xa9";  // raw é after the string: not part of it
    JsonReader r(std::string_view(text).substr(0, text.size() - 2));
    auto value = r.read_string();
    ASSERT_TRUE(value) << value.error().text;
    std::string expected = "a\"b\\c/d\b\f\n\r\tA\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    expected.push_back('\0');
    EXPECT_EQ(*value, expected);
    JsonReader raw("\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\x7f\"");
    EXPECT_EQ(*raw.read_string(), "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\x7f");
}

TEST(JsonReader, ReadsNumbersExactly) {
    const char* tokens[] = {"0",
                            "-0",
                            "5e-324",
                            "-5e-324",
                            "2.2250738585072014e-308",
                            "1.7976931348623157e308",
                            "1E+2",
                            "1e-7",
                            "0.1000000000000000055511151231257827021181583404541015625",
                            "123456789012345678901234567890",
                            "3e-324",
                            "0e-400",
                            "1000000000000000.0"};
    for (const char* token : tokens) {
        JsonReader r(token);
        auto value = r.read_double();
        ASSERT_TRUE(value) << token << ": " << value.error().text;
        const double expected = std::strtod(token, nullptr);  // an independent correctly rounded reader
        EXPECT_EQ(std::memcmp(&*value, &expected, sizeof expected), 0) << token;
    }
    EXPECT_TRUE(std::signbit(*JsonReader("-0").read_double()));
    EXPECT_EQ(*JsonReader("18446744073709551615").read_unsigned(), 18446744073709551615ull);
    EXPECT_EQ(*JsonReader("0").read_unsigned(), 0u);
}

struct ErrorCase {
    const char* name;
    std::string text;
    const char* message;  // the error text before " at line .. column .."
    std::size_t line;
    std::size_t column;
};

class JsonReaderErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(JsonReaderErrorTest, ReportsTheErrorClassAndItsPosition) {
    const ErrorCase& c = GetParam();
    auto result = read_document(c.text);
    ASSERT_FALSE(result) << c.name;
    const JsonError& e = result.error();
    EXPECT_EQ(e.text, std::string(c.message) + " at line " + std::to_string(c.line) + " column " +
                          std::to_string(c.column));
    EXPECT_EQ(e.line, c.line);
    EXPECT_EQ(e.column, c.column);
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, JsonReaderErrorTest,
    ::testing::Values(
        ErrorCase{"empty", "", "EOF while parsing a value", 1, 1},
        ErrorCase{"only whitespace", "  ", "EOF while parsing a value", 1, 3},
        ErrorCase{"stray byte", "@", "expected value", 1, 1},
        ErrorCase{"unclosed array", "[1", "EOF while parsing an array", 1, 3},
        ErrorCase{"unclosed object", "{\"a\":1", "EOF while parsing an object", 1, 7},
        ErrorCase{"trailing comma in array", "[1,]", "trailing comma", 1, 4},
        ErrorCase{"trailing comma in object", "{\"a\":1 , }", "trailing comma", 1, 10},
        ErrorCase{"missing colon", "{\"a\" 1}", "expected `:`", 1, 6},
        ErrorCase{"non-string key", "{1:2}", "key must be a string", 1, 2},
        ErrorCase{"missing comma", "[1 2]", "expected `,` or `]`", 1, 4},
        ErrorCase{"missing comma in object", "{\"a\":1 \"b\":2}", "expected `,` or `}`", 1, 8},
        ErrorCase{"leading zero", "01", "invalid number", 1, 2},
        ErrorCase{"bare minus", "-", "invalid number", 1, 2},
        ErrorCase{"no fraction digits", "1.", "invalid number", 1, 3},
        ErrorCase{"no exponent digits", "1e+", "invalid number", 1, 4},
        ErrorCase{"leading plus", "+1", "expected value", 1, 1},
        ErrorCase{"bad literal", "tru", "invalid literal", 1, 1},
        ErrorCase{"NaN is not JSON", "NaN", "expected value", 1, 1},
        ErrorCase{"bad escape", "\"a\\x\"", "invalid escape", 1, 4},
        ErrorCase{"bad hex digit", "\"\\u12g4\"", "invalid \\u escape", 1, 6},
        ErrorCase{"lone leading surrogate", "\"\\ud800x\"", "lone leading surrogate in \\u escape", 1, 2},
        ErrorCase{"leading surrogate before non-trailing", "\"\\ud800\\u0041\"",
                  "lone leading surrogate in \\u escape", 1, 2},
        ErrorCase{"lone trailing surrogate", "\"ab\\udc00\"", "lone trailing surrogate in \\u escape", 1, 4},
        ErrorCase{"control character", "\"a\x01\"", "unescaped control character in string", 1, 3},
        ErrorCase{"raw line feed in string", "\"a\nb\"", "unescaped control character in string", 1, 3},
        ErrorCase{"overlong UTF-8", "\"\xc0\xaf\"", "invalid UTF-8 in string", 1, 2},
        ErrorCase{"overlong three-byte UTF-8", "\"\xe0\x80\xaf\"", "invalid UTF-8 in string", 1, 2},
        ErrorCase{"UTF-8 surrogate", "\"x\xed\xa0\x80\"", "invalid UTF-8 in string", 1, 3},
        ErrorCase{"above U+10FFFF", "\"\xf4\x90\x80\x80\"", "invalid UTF-8 in string", 1, 2},
        ErrorCase{"cut UTF-8", "\"\xe2\x82\"", "invalid UTF-8 in string", 1, 2},
        ErrorCase{"stray continuation byte", "\"\x80\"", "invalid UTF-8 in string", 1, 2},
        ErrorCase{"UTF-8 in a key", "{\"\xff\":1}", "invalid UTF-8 in string", 1, 3},
        ErrorCase{"unclosed string", "\"abc", "EOF while parsing a string", 1, 5},
        ErrorCase{"trailing characters", "{} x", "trailing characters", 1, 4},
        ErrorCase{"second value", "1 2", "trailing characters", 1, 3},
        ErrorCase{"line and column after line feeds", "[\n1,\n]", "trailing comma", 3, 1},
        ErrorCase{"column restarts on each line", "{\"a\":\n  [1,\n   2 3]}", "expected `,` or `]`", 3, 6},
        ErrorCase{"too deep", std::string(129, '[') + std::string(129, ']'), "recursion limit exceeded", 1, 129},
        ErrorCase{"too deep in objects", [] {
                      std::string s;
                      for (int i = 0; i < 129; ++i) s += "{\"k\":";
                      return s + "1" + std::string(129, '}');
                  }(),
                  "recursion limit exceeded", 1, 128 * 5 + 1}));

TEST(JsonReader, AcceptsNestingUpToTheLimit) {
    EXPECT_TRUE(read_document(std::string(128, '[') + std::string(128, ']')));
}

TEST(JsonReader, ErrorOffsetIsTheByteOffsetAndTheTextEndsWithLineAndColumn) {
    JsonReader r("[1,\n  x]");
    ASSERT_TRUE(r.begin_array());
    ASSERT_TRUE(*r.next_element());
    ASSERT_TRUE(r.read_double());
    ASSERT_TRUE(*r.next_element());
    auto value = r.read_double();
    ASSERT_FALSE(value);
    EXPECT_EQ(value.error().offset, 6u);
    EXPECT_EQ(value.error().text, "expected value at line 2 column 3");
}

TEST(JsonReader, TypeErrorsNameWhatWasFoundAndWhatWasExpected) {
    struct Case {
        const char* text;
        bool unsigned_wanted;
        const char* message;
    };
    const Case cases[] = {
        {"null", false, "invalid type: null, expected a number at line 1 column 1"},
        {"\"1.5\"", false, "invalid type: string, expected a number at line 1 column 1"},
        {"  true", false, "invalid type: boolean `true`, expected a number at line 1 column 3"},
        {"[1]", false, "invalid type: array, expected a number at line 1 column 1"},
        {"{}", false, "invalid type: object, expected a number at line 1 column 1"},
        {"-1", true, "invalid type: number `-1`, expected an unsigned integer at line 1 column 1"},
        {"1.0", true, "invalid type: number `1.0`, expected an unsigned integer at line 1 column 1"},
        {"1e3", true, "invalid type: number `1e3`, expected an unsigned integer at line 1 column 1"},
        {"18446744073709551616", true, "number out of range at line 1 column 1"},
        {"1e400", false, "number out of range at line 1 column 1"},
        {"-1e400", false, "number out of range at line 1 column 1"},
        {"1e-400", false, "number out of range at line 1 column 1"},
        {"2e-324", false, "number out of range at line 1 column 1"},
    };
    for (const Case& c : cases) {
        JsonReader r(c.text);
        const std::string message = c.unsigned_wanted ? r.read_unsigned().error().text : r.read_double().error().text;
        EXPECT_EQ(message, c.message) << c.text;
    }
    JsonReader r("7");
    EXPECT_EQ(r.read_string().error().text, "invalid type: number `7`, expected a string at line 1 column 1");
    JsonReader b("0");
    EXPECT_EQ(b.read_bool().error().text, "invalid type: number `0`, expected a boolean at line 1 column 1");
    JsonReader o("[]");
    EXPECT_EQ(o.begin_object().error().text, "invalid type: array, expected an object at line 1 column 1");
}

TEST(JsonReader, TokenOffsetPointsAtKeysValuesAndClosingBrackets) {
    const std::string text = R"({"ab": 12, "c":[]})";
    JsonReader r(text);
    ASSERT_TRUE(r.begin_object());
    ASSERT_TRUE(r.next_key());
    EXPECT_EQ(r.token_offset(), 1u);
    ASSERT_TRUE(r.read_unsigned());
    EXPECT_EQ(r.token_offset(), 7u);
    ASSERT_TRUE(r.next_key());
    EXPECT_EQ(r.token_offset(), 11u);
    ASSERT_TRUE(r.begin_array());
    EXPECT_FALSE(*r.next_element());
    EXPECT_EQ(r.token_offset(), 16u);
    EXPECT_FALSE(r.next_key()->has_value());
    EXPECT_EQ(r.token_offset(), 17u);
}

TEST(JsonReader, MarkAndRewindReadTheSameValueTwice) {
    const std::string text = R"([{"kind":"x","v":[1,2]},3])";
    JsonReader r(text);
    ASSERT_TRUE(r.begin_array());
    ASSERT_TRUE(*r.next_element());
    const JsonReader::Mark mark = r.mark();
    ASSERT_TRUE(r.skip_value());
    r.rewind(mark);
    ASSERT_TRUE(r.begin_object());
    EXPECT_EQ(**r.next_key(), "kind");
    EXPECT_EQ(*r.read_string(), "x");
    EXPECT_EQ(**r.next_key(), "v");
    ASSERT_TRUE(r.skip_value());
    EXPECT_FALSE(r.next_key()->has_value());
    ASSERT_TRUE(*r.next_element());  // the comma is still expected: the array's state was restored
    EXPECT_EQ(*r.read_unsigned(), 3u);
    EXPECT_FALSE(*r.next_element());
    EXPECT_TRUE(r.finish());
}

TEST(JsonReader, RefusesWalkingAContainerAsTheOtherKind) {
    JsonReader array("[1]");
    ASSERT_TRUE(array.begin_array());
    EXPECT_EQ(array.next_key().error().text, "no object is open at line 1 column 2");
    JsonReader object("{}");
    EXPECT_EQ(object.next_element().error().text, "no array is open at line 1 column 1");
}

TEST(JsonReader, SkipsEveryKindOfValue) {
    EXPECT_TRUE(read_document(R"({"a":[1,-0.5e-3,"s\u00e9",true,false,null,{"b":{}},[]],"c":""})"));
    EXPECT_TRUE(read_document("  [ ]  \n\r\t"));
}

}  // namespace
}  // namespace pelun
