// Number and name formatting for user-facing messages.
#pragma once

#include <string>
#include <string_view>

namespace pelun {

// Shortest text that reads back to the same double, with no trailing ".0"
// for integral values (2.0 -> "2", 0.5 -> "0.5"); "inf", "-inf", "NaN".
std::string format_double(double value);

// Lower-case scientific notation with exactly three decimals and a bare
// exponent: 0.00012346 -> "1.235e-4", 2.0 -> "2.000e0", 0.0 -> "0.000e0".
std::string format_sci3(double value);

// A user-supplied name between double quotes, with backslash escapes for
// quotes, backslashes and control characters: ab"c -> "ab\"c".
std::string quote_name(std::string_view name);

}  // namespace pelun
