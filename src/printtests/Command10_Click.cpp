#include "printtests/PrintTests.h"

#include "arithmetic/Arithmetic.h"
#include "pattern/BarPattern.h"
#include "printtests/SolidPen.h"
#include "surface/RuntimeError.h"

#include <iterator>
#include <string>

namespace raitakone {
namespace {

// The four buttons draw the same bars; they differ only in the form of the
// Line call and in the label that spells that form out.
struct LineForm {
    int16_t flags;
    Colour color; // passed always, used only where the colour bit is set
    const char* label;
};

constexpr Colour kRgbBlack = 0; // RGB(0, 0, 0)

constexpr LineForm kLineForms[] = {
    {LineFlag::StartGiven | LineFlag::Box, 0, "kuten pakuro 12.12.2005 alkaen"},                          // 20
    {LineFlag::StartGiven | LineFlag::ColorGiven | LineFlag::FilledBox, kRgbBlack, ",RGB(0, 0, 0), BF"}, // 38
    {LineFlag::StartGiven | LineFlag::FilledBox, 0, ",, BF"},                                             // 36
    {LineFlag::StartGiven | LineFlag::ColorGiven | LineFlag::Box, kRgbBlack, "RGB(0, 0, 0), B"},         // 22
};

} // namespace

// "Valkea 1 (perus)" .. "Valkea 4 (rgb)": zero-width boxes (or filled boxes)
// with a pen one module wide, in device pixels, 1.1 cm tall and 1.1 cm from
// the top; the 1.1 cm is converted by the printer through CurrentY.
void Command10_Click(PrinterSurface& Printer, int16_t Index)
{
    if (Index < 0 || Index >= int(std::size(kLineForms)))
        throw RuntimeError("Tuntematon Command10-painike (Index " + std::to_string(Index) + ")");
    const LineForm& form = kLineForms[Index];
    std::string label;

    Printer.setCurrentX(5); // in the unit the printer has now: twips on a fresh printer
    const float w = toSingle(moduleWidth(Printer.TwipsPerPixelX()));
    Printer.setScaleMode(Scale::Centimetres);
    Printer.setCurrentY(1.1f);
    Printer.setScaleMode(Scale::Pixels);
    const float h = Printer.CurrentY();
    Printer.setDrawWidth(toInt16(w)); // a width of 0 is refused here, before anything is drawn
    const float x0 = Printer.CurrentX();
    const float y0 = Printer.CurrentY(); // still the 1.1 cm: y0 = h
    setSolidPenAndFill(Printer);

    const int16_t n = toInt16(double(kBarPattern.size()));
    for (int16_t i = 1; i <= n; i = toInt16(i + 1)) {
        const float p = singleProduct(float(i - 1), w);
        if (isDark(i)) {
            const float x = singleSum(x0, p);
            Printer.Line(form.flags, x, y0, x, singleSum(y0, h), form.color);
            label = form.label;
        }
    }

    for (int line = 0; line < 4; ++line)
        Printer.Print();
    Printer.Print({label});
    Printer.EndDoc();
}

} // namespace raitakone
