#pragma once

#include "surface/Surface.h"

namespace raitakone {

// The pen and fill of the pages drawn with zero-width boxes, in this order:
// DrawMode = 1 (every painted pixel black), DrawStyle = 0 (solid),
// FontTransparent = False, FillStyle = 0 (solid), FillColor = 1 (the colour
// value 1, one step off black).
void setSolidPenAndFill(Surface& Printer);

} // namespace raitakone
