#include "printtests/PrintTests.h"

#include "pattern/BarPattern.h"
#include "printtests/CornerSymbol.h"

namespace raitakone {

// "Viivakoodi 30.11.": the symbol in the top-left corner of the printable
// area, each dark module a zero-width box with a pen one module wide, filled
// in the colour one step off black. The outline keeps the printer's ForeColor.
// No text.
void Command5_Click(PrinterSurface& Printer)
{
    const double w = moduleWidth(Printer.TwipsPerPixelX());
    const double h = cornerBarHeight(Printer.TwipsPerPixelY());

    setCornerPixelPen(Printer, w);
    Printer.setFillColor(1); // RGB(1, 0, 0)

    drawCornerBars(Printer, w, h);

    Printer.EndDoc();
}

} // namespace raitakone
