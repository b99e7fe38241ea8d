#pragma once

// What the three "twips" pages share: the symbol, drawn with a pen one module
// wide at an origin of (5, 25) in the unit the printer has when the click
// arrives, and the block of numbers it was drawn with. The pages differ in
// the text around that block and in the type the bar height is held in.

#include "surface/PrinterSurface.h"

namespace raitakone {

// The numbers a twips page reports. Height is double, or float where the
// page keeps its bar height as a Single.
template <typename Height>
struct TwipsSymbol {
    float l;  // module width, device pixels
    Height h; // bar height, device pixels
};

// Origin (5, 25); l = Int(5953.5 / TwipsPerPixelX / 332); h =
// Int(623.7 / TwipsPerPixelY); DrawWidth = l; ScaleMode pixels; the origin
// read back in pixels; black solid pen and fill; then one zero-width box
// (line flags 20) from (x0 + (i - 1) * l, y0) down to y0 + h for every dark
// module i. Nothing is drawn before DrawWidth has been accepted.
template <typename Height>
TwipsSymbol<Height> drawTwipsSymbol(PrinterSurface& Printer);

// "Printer.TwipsPerPixelX:" and "Printer.TwipsPerPixelY:" each joined to the
// pixel size, an empty line, then "h:"; h; "*" and "l:"; l; "*".
template <typename Height>
void printTwipsNumbers(PrinterSurface& Printer, const TwipsSymbol<Height>& symbol);

extern template TwipsSymbol<double> drawTwipsSymbol<double>(PrinterSurface&);
extern template TwipsSymbol<float> drawTwipsSymbol<float>(PrinterSurface&);
extern template void printTwipsNumbers<double>(PrinterSurface&, const TwipsSymbol<double>&);
extern template void printTwipsNumbers<float>(PrinterSurface&, const TwipsSymbol<float>&);

} // namespace raitakone
