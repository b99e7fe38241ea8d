#pragma once

// The pieces of the series report that its HTML and its JSON share: how a
// printer's resolution and paper are named, the middle scan line's profile
// as the report draws it, the colour of a grade, and the methods paragraph.

#include "grading/Grading.h"

#include <QString>

#include <vector>

namespace raitakone::report {

struct SeriesReport;

// "600 dpi", or "600 × 1200 dpi" when the two differ.
QString resolutionText(double dpiX, double dpiY);
// "210 × 297 mm".
QString paperText(int widthMm, int heightMm);

// The middle scan line's reflectance, averaged into at most kTracePoints
// evenly spaced points over the line's length.
inline constexpr size_t kTracePoints = 600;
struct ProfileTrace {
    double lengthMm = 0.0;
    double gt = 0.0;
    std::vector<float> reflectance;
    std::vector<std::pair<double, double>> barsMm;
};
ProfileTrace middleProfile(const grading::SymbolGrade& symbol);

// How the values were measured, in a few Finnish sentences.
QString methodsText(const SeriesReport& report);
// The warning for scans whose reflectances cannot be trusted, in Finnish;
// empty when every one can.
QString untrustedText(const SeriesReport& report);

} // namespace raitakone::report
