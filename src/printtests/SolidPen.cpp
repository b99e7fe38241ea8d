#include "printtests/SolidPen.h"

namespace raitakone {

void setSolidPenAndFill(Surface& Printer)
{
    Printer.setDrawMode(1);
    Printer.setDrawStyle(0);
    Printer.setFontTransparent(false);
    Printer.setFillStyle(0);
    Printer.setFillColor(1);
}

} // namespace raitakone
