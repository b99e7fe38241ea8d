#pragma once

// The scan reflectance profile of a symbol's middle scan line as a picture:
// reflectance against position, GT, Rmin and Rmax, the edges and the bars.

#include "grading/Grading.h"

#include <QString>

class QPainter;

namespace raitakone::grading {

inline constexpr int kPlotWidth = 2400;
inline constexpr int kPlotHeight = 560;

void drawProfile(QPainter& painter, const SymbolGrade& symbol, QSizeF size);

// Writes FILE.png or FILE.svg; false with a message in Finnish on failure.
bool writeProfilePlot(const SymbolGrade& symbol, const QString& path, QString* error);

} // namespace raitakone::grading
