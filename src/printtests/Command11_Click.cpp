#include "printtests/PrintTests.h"

#include "arithmetic/Arithmetic.h"
#include "pattern/BarPattern.h"
#include "printtests/SolidPen.h"

#include <string>

namespace raitakone {

// "Samsung 1" .. "Samsung 5": the symbol at a small origin (5, 25 in the unit
// the click finds) with one label line under it. "Samsung 1" switches to
// pixels only after the pen width is set; the others switch first, and
// "Samsung 3" .. "Samsung 5" also ask for print quality -1, -2 or -3.
void Command11_Click(PrinterSurface& Printer, int16_t Index)
{
    std::string label;

    Printer.setCurrentX(5);
    Printer.setCurrentY(25);

    if (Index != 0) {
        label = "scalemode aluksi.";
        Printer.setScaleMode(Scale::Pixels);
        switch (Index) {
        case 2:
            Printer.setPrintQuality(-1);
            label += " printquality = -1";
            break;
        case 3:
            Printer.setPrintQuality(-2);
            label += " printquality = -2";
            break;
        case 4:
            Printer.setPrintQuality(-3);
            label += " printquality = -3";
            break;
        }
    }

    const float w = toSingle(moduleWidth(Printer.TwipsPerPixelX()));
    const double h = barHeightPixels(Printer.TwipsPerPixelY());

    Printer.setDrawWidth(toInt16(w));

    if (Index == 0) {
        label = "kuten pakuro:ssa 12.12.2005 alkaen";
        Printer.setScaleMode(Scale::Pixels);
    }

    // The origin of step one, now in pixels: ScaleMode kept its physical place.
    const float x0 = Printer.CurrentX();
    const float y0 = Printer.CurrentY();

    setSolidPenAndFill(Printer);

    const int16_t boxFromStart = LineFlag::Box | LineFlag::StartGiven; // 20
    const int16_t n = toInt16(double(kBarPattern.size()));
    for (int16_t i = 1; i <= n; i = toInt16(i + 1)) {
        const float x = singleProduct(toInt16(i - 1), w);
        if (isDark(i))
            Printer.Line(boxFromStart, singleSum(x0, x), y0, singleSum(x0, x), toSingle(checkedSum(y0, h)), 0);
    }

    Printer.Print({""});
    Printer.Print({""});
    Printer.Print({""});
    Printer.Print({""});
    Printer.Print({label});

    Printer.EndDoc();
}

} // namespace raitakone
