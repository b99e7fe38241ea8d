#pragma once

// The pieces shared by the pages that put the symbol in the very corner of
// the printable area with a pen one module wide ("Viivakoodi 30.11.", the
// four bit-pair buttons and siirra). Those pages differ only in the fill and
// outline colours their click procedures set between the pen and the bars.

#include "surface/PrinterSurface.h"

namespace raitakone {

// Int(623.7 / TwipsPerPixelY) whole pixels; 1.1 where that comes to 0 (a
// printer coarser than 1.1 cm a pixel), so the bars never vanish.
double cornerBarHeight(float twipsPerPixelY);

// The state the corner pages set, in this order: DrawWidth = w, ScaleMode =
// pixels, ColorMode = 1, DrawMode = 1, DrawStyle = 0 (solid), FontTransparent
// = False, FillStyle = 0 (solid). DrawWidth 0 (w of a printer below about
// 80 dpi) is refused before anything is drawn.
void setCornerPixelPen(PrinterSurface& Printer, double w);

// One zero-width box (line flags 20) per dark module, centred on (i - 1) * w,
// from y = 0 down to y = h, in pixels.
void drawCornerBars(Surface& Printer, double w, double h);

} // namespace raitakone
