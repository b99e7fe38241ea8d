#include "printtests/TwipsPage.h"

#include "arithmetic/Arithmetic.h"
#include "pattern/BarPattern.h"
#include "printtests/SolidPen.h"
#include "surface/NumberText.h"

#include <type_traits>

namespace raitakone {
namespace {

constexpr int16_t kBoxFromStart = LineFlag::StartGiven | LineFlag::Box; // 20

// The bar's lower end, y0 + h: a double-precision sum rounded to a Single,
// or a sum of two Singles.
float barBottom(float y0, double h) { return toSingle(checkedSum(y0, h)); }
float barBottom(float y0, float h) { return singleSum(y0, h); }

} // namespace

template <typename Height>
TwipsSymbol<Height> drawTwipsSymbol(PrinterSurface& Printer)
{
    float x0 = 5;
    float y0 = 25;
    Printer.setCurrentX(x0);
    Printer.setCurrentY(y0);
    const float l = toSingle(moduleWidth(Printer.TwipsPerPixelX()));
    Height h;
    if constexpr (std::is_same_v<Height, float>)
        h = toSingle(barHeightPixels(Printer.TwipsPerPixelY()));
    else
        h = barHeightPixels(Printer.TwipsPerPixelY());
    Printer.setDrawWidth(toInt16(l)); // a width of 0 is refused here, before anything is drawn
    Printer.setScaleMode(Scale::Pixels);
    x0 = Printer.CurrentX();
    y0 = Printer.CurrentY();
    setSolidPenAndFill(Printer);

    const int16_t n = toInt16(double(kBarPattern.size()));
    for (int16_t i = 1; i <= n; i = toInt16(i + 1)) {
        const float x = singleProduct(float(i - 1), l);
        if (isDark(i))
            Printer.Line(kBoxFromStart, singleSum(x0, x), y0, singleSum(x0, x), barBottom(y0, h), 0);
    }
    return {l, h};
}

template <typename Height>
void printTwipsNumbers(PrinterSurface& Printer, const TwipsSymbol<Height>& symbol)
{
    Printer.Print({"Printer.TwipsPerPixelX:" + singleToText(Printer.TwipsPerPixelX())});
    Printer.Print({"Printer.TwipsPerPixelY:" + singleToText(Printer.TwipsPerPixelY())});
    Printer.Print();
    Printer.Print({"h:", symbol.h, "*"});
    Printer.Print({"l:", symbol.l, "*"});
}

template TwipsSymbol<double> drawTwipsSymbol<double>(PrinterSurface&);
template TwipsSymbol<float> drawTwipsSymbol<float>(PrinterSurface&);
template void printTwipsNumbers<double>(PrinterSurface&, const TwipsSymbol<double>&);
template void printTwipsNumbers<float>(PrinterSurface&, const TwipsSymbol<float>&);

} // namespace raitakone
