#pragma once

// The one symbol every page carries: a finished Code 128 symbol held as a
// string of modules ("1" dark, "0" light), plus the physical size the tests
// aim at and the rule that turns the printer's pixel size into a module width.

#include <string_view>

namespace raitakone {

// Start C, 27 data characters of code set C, check character 11 and Stop;
// no quiet zones.
inline constexpr std::string_view kBarPattern =
    "11010011100"
    "11101001100"
    "10001001100"
    "11101000110"
    "11001000010"
    "11011001100"
    "11011001100"
    "10011000100"
    "11001001110"
    "11011001100"
    "10001110110"
    "11000101110"
    "11011001100"
    "11011001100"
    "11011001100"
    "11011001100"
    "11011001100"
    "11001000100"
    "11011001100"
    "11001101100"
    "10001001100"
    "10111001100"
    "10110000100"
    "11011101000"
    "11001001110"
    "10110000100"
    "11011001100"
    "11011001100"
    "11000100100"
    "1100011101011";

inline constexpr int kModuleCount = 332;
static_assert(kBarPattern.size() == kModuleCount);

inline constexpr double kSymbolWidthTwips = 5953.5; // 10.5 cm at 567 twips per cm
inline constexpr double kBarHeightTwips = 623.7;    // 1.1 cm
inline constexpr double kBarHeightCm = 1.1;
inline constexpr double kTwipsPerCm = 567.0;
inline constexpr double kTwipsPerInch = 1440.0;

// Module i (1-based, as the scans count) is dark.
inline bool isDark(int i) { return kBarPattern[static_cast<size_t>(i - 1)] == '1'; }

// Int(5953.5 / twipsPerPixelX / 332): whole device pixels per module. The
// division by the pixel size comes first; a pixel size of 0 is an error.
double moduleWidth(float twipsPerPixelX);

// Int(623.7 / twipsPerPixelY): the 1.1 cm bar height in whole device pixels.
double barHeightPixels(float twipsPerPixelY);

} // namespace raitakone
