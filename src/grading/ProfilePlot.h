#pragma once

// The scan reflectance profile of one of a symbol's scan lines as a picture:
// reflectance against position, GT, Rmin and Rmax, the edges and the bars.

#include "grading/Grading.h"

#include <QString>

class QPainter;

namespace raitakone::grading {

inline constexpr int kPlotWidth = 2400;
inline constexpr int kPlotHeight = 560;
// The SVG plot, in CSS pixels (96 an inch): 317.5 × 111.1 mm.
inline constexpr int kSvgPlotWidth = 1200;
inline constexpr int kSvgPlotHeight = 420;
inline constexpr int kSvgPixelsPerInch = 96;

// line counts from 0, as SymbolGrade::lines does.
void drawProfile(QPainter& painter, const SymbolGrade& symbol, int line, QSizeF size);

// Writes FILE.png or FILE.svg; false with a message in Finnish on failure.
bool writeProfilePlot(const SymbolGrade& symbol, const QString& path, QString* error, int line = kMiddleScanLine);

} // namespace raitakone::grading
