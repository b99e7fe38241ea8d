#pragma once

#include "surface/PageRaster.h"

#include <string>

namespace raitakone::testing {

// Reads a Code 128 symbol off the page with ZXing-C++; empty when none is found.
std::string decodeCode128(const PageRaster& page);
std::string decodeCode128(const QImage& image);

// The 54 digits the bar pattern carries.
inline constexpr const char* kPatternDigits = "240555610000072000475000000000001000010515705120700000";

} // namespace raitakone::testing
