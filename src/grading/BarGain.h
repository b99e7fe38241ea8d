#pragma once

// What the printer did to the bars: each bar's width less its nominal width,
// over the scan lines whose elements are known in modules, and the bar that
// stands furthest from the others.

#include "grading/Grading.h"

#include <optional>
#include <vector>

namespace raitakone::grading {

// One scan line's elements (first bar to last) and their nominal widths.
struct MeasuredElements {
    std::vector<double> widthsMm;
    std::vector<int> modules;
};

// The module of one line: a straight line fitted through the bars' leading
// edges against their module positions, which ink spread moves all alike.
double lineModule(const MeasuredElements& line);

// The symbol's module: the mean over the lines.
std::optional<double> symbolModule(const std::vector<MeasuredElements>& lines);

BarGain barGainOf(const std::vector<MeasuredElements>& lines, double moduleMm, std::optional<double> printerDpi);

// The gain in pixels of a printer at dpi, set on a measured gain.
void setPrinterResolution(BarGain& gain, double dpi);

} // namespace raitakone::grading
