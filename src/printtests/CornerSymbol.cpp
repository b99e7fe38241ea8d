#include "printtests/CornerSymbol.h"

#include "arithmetic/Arithmetic.h"
#include "pattern/BarPattern.h"

namespace raitakone {

double cornerBarHeight(float twipsPerPixelY)
{
    const double h = barHeightPixels(twipsPerPixelY);
    return h == 0 ? 1.1 : h;
}

void setCornerPixelPen(PrinterSurface& Printer, double w)
{
    Printer.setDrawWidth(toInt16(w));
    Printer.setScaleMode(Scale::Pixels);
    Printer.setColorMode(1);
    Printer.setDrawMode(1);
    Printer.setDrawStyle(0);
    Printer.setFontTransparent(false);
    Printer.setFillStyle(0);
}

void drawCornerBars(Surface& Printer, double w, double h)
{
    const int16_t boxFromStart = LineFlag::Box | LineFlag::StartGiven; // 20
    for (int i = 1; i <= int(kBarPattern.size()); ++i) {
        const double x = checkedProduct(i - 1, w);
        if (isDark(i))
            Printer.Line(boxFromStart, toSingle(x), 0, toSingle(x), toSingle(h), 0);
    }
}

} // namespace raitakone
