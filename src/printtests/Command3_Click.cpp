#include "printtests/PrintTests.h"

#include "arithmetic/Arithmetic.h"
#include "pattern/BarPattern.h"

namespace raitakone {

// "Command3": a preview of the symbol on the picture box, one screen pixel per
// module, then the same pattern on paper as stacks of one-pixel lines in the
// printer's current unit. x runs on from the preview into the printer pass.
// The program ends once the page has been handed over.
void Command3_Click(Surface& picViivakoodi, PrinterSurface& Printer, const EndProgram& End)
{
    // 1. The picture box works in its own pixels.
    picViivakoodi.setScaleMode(Scale::Pixels);

    // 2. Module step (also lines per dark module), bar height, origin.
    const int w = 1;
    const int h = 30;
    const int x0 = 5;
    const int y0 = 25;

    // 3. Opaque text background, solid black fill.
    picViivakoodi.setFontTransparent(false);
    picViivakoodi.setFillStyle(0);
    picViivakoodi.setFillColor(kBlack);

    // 4. x starts at the origin and is not reset before the printer pass.
    int x = x0;

    // 5. A one-pixel pen on the picture box.
    picViivakoodi.setDrawWidth(toInt16(w));

    // 6. Preview pass: a zero-width box, that is a one-pixel stroke, per dark module.
    const int16_t moduleCount = toInt16(double(kBarPattern.size()));
    for (int16_t i = 1; i <= moduleCount; ++i) {
        if (isDark(i))
            picViivakoodi.Line(LineFlag::Box | LineFlag::StartGiven, float(x), float(y0), float(x), float(y0 + h), 0);
        x += w;
    }

    // 7. The printer's pen is one pixel, whatever w is.
    Printer.setDrawWidth(1);

    // 8. Printer pass, in the printer's current unit, x going on from 337:
    //    a stack of w one-pixel lines per dark module.
    for (int16_t i = 1; i <= moduleCount; ++i) {
        if (isDark(i))
            for (int j = 0; j <= w - 1; ++j)
                Printer.Line(LineFlag::Box | LineFlag::StartGiven, float(x + j), float(y0), float(x + j),
                             float(y0 + h), 0);
        x += w;
    }

    // 9. The page goes to the printer.
    Printer.EndDoc();

    // 10. Only then the program ends.
    End();
}

} // namespace raitakone
