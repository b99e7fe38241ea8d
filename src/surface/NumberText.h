#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace raitakone {

// The default number-to-text conversion: shortest form, no trailing zeros,
// the user's decimal separator (QLocale's default locale), no grouping;
// sign and exponent as in the C locale ("-2,5e-07" in Finnish).
// A Single carries at most 7 significant digits, a double 15.
std::string singleToText(float value);
std::string doubleToText(double value);

// Numbers in the C locale's form whatever the process locale says. Qt sets
// the C library's locale from the environment, after which printf and strtod
// write and read "595,27559" under fi_FI; these never do.
// fixedDecimal keeps `decimals` places ("5.0"); plainDecimal drops trailing
// zeros and a bare point ("595.27559", "210").
std::string fixedDecimal(double value, int decimals);
std::string plainDecimal(double value, int maxDecimals);

// A non-negative decimal typed by a person or read from a file: digits with
// at most one decimal point or comma ("101.6", "101,6", "210"); nothing else,
// so no sign, exponent, space or trailing text is taken silently.
std::optional<double> parseDecimal(std::string_view text);

} // namespace raitakone
