#include "printtests/PrintTests.h"

#include "pattern/BarPattern.h"
#include "printtests/CornerSymbol.h"

namespace raitakone {

// "1 00", "2 10", "3 01", "4 11": the corner page of "Viivakoodi 30.11." with
// the two digits of the caption as FillColor and ForeColor, each black (0) or
// the colour one step off black (1). With DrawMode 1 all four pages come out
// black. No text.
void Command7_Click(PrinterSurface& Printer, int16_t Index, const ShowMessage& MsgBox)
{
    const double w = moduleWidth(Printer.TwipsPerPixelX());
    const double h = cornerBarHeight(Printer.TwipsPerPixelY());

    setCornerPixelPen(Printer, w);
    switch (Index) {
    case 0: // "1 00"
        Printer.setFillColor(0);
        Printer.setForeColor(0);
        break;
    case 1: // "2 10"
        Printer.setFillColor(1);
        Printer.setForeColor(0);
        break;
    case 2: // "3 01"
        Printer.setFillColor(0);
        Printer.setForeColor(1);
        break;
    default: // no such button: say so, then print as "4 11"
        MsgBox("virhe");
        [[fallthrough]];
    case 3: // "4 11"
        Printer.setFillColor(1);
        Printer.setForeColor(1);
        break;
    }

    drawCornerBars(Printer, w, h);

    Printer.EndDoc();
}

} // namespace raitakone
