#pragma once

// The scan reflectance profile of one of a symbol's scan lines as a picture:
// reflectance against position, GT, Rmin and Rmax, the edges and the bars.

#include "grading/Grading.h"

#include <QString>

class QPainter;

namespace raitakone::grading {

inline constexpr int kPlotWidth = 2400;
inline constexpr int kPlotHeight = 560;

// line counts from 0, as SymbolGrade::lines does.
void drawProfile(QPainter& painter, const SymbolGrade& symbol, int line, QSizeF size);

// Writes FILE.png or FILE.svg; false with a message in Finnish on failure.
bool writeProfilePlot(const SymbolGrade& symbol, const QString& path, QString* error, int line = kMiddleScanLine);

} // namespace raitakone::grading
