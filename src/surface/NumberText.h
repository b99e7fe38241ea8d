#pragma once

#include <string>

namespace raitakone {

// The default number-to-text conversion: shortest form, no trailing zeros,
// the user's decimal separator (QLocale's default locale), no grouping;
// sign and exponent as in the C locale ("-2,5e-07" in Finnish).
// A Single carries at most 7 significant digits, a double 15.
std::string singleToText(float value);
std::string doubleToText(double value);

} // namespace raitakone
