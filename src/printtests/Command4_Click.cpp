#include "printtests/PrintTests.h"

#include "arithmetic/Arithmetic.h"
#include "pattern/BarPattern.h"

namespace raitakone {

// "Viivakodi PK DrawWidth": the symbol as filled boxes in centimetres, 10 cm
// shared among the 332 modules, so the bar widths come from the box geometry
// alone whatever the printer's resolution. The program ends once the page has
// been handed over.
void Command4_Click(PrinterSurface& Printer, const EndProgram& End)
{
    const int16_t leftX = 5;        // cm, left edge of module 1
    const int16_t topY = 25;        // cm, top of the bars
    const double barHeight = 1.1;   // cm
    const int16_t symbolWidth = 10; // cm, all 332 modules together

    // 1. Centimetres, a one-pixel pen.
    Printer.setScaleMode(Scale::Centimetres);
    Printer.setDrawWidth(1);

    // 2. The first left edge and the width of one module, kept as Singles.
    float x = leftX;
    const float step = toSingle(checkedDivide(symbolWidth, double(kBarPattern.size())));
    const float bottomY = toSingle(checkedSum(topY, barHeight));

    // 3. One filled box per dark module; the left edge is a running
    //    single-precision sum, and a box's right edge is the next module's left.
    const int16_t moduleCount = toInt16(double(kBarPattern.size()));
    for (int16_t i = 1; i <= moduleCount; ++i) {
        if (isDark(i))
            Printer.Line(LineFlag::FilledBox | LineFlag::StartGiven, x, topY, singleSum(x, step), bottomY, 0);
        x = singleSum(x, step);
    }

    // 4. The page goes to the printer.
    Printer.EndDoc();

    // 5. Only then the program ends.
    End();
}

} // namespace raitakone
