#include "printtests/PrintTests.h"

#include "printtests/TwipsPage.h"

namespace raitakone {

// "twips 2": the symbol of "twips 1" with its bar height held as a Single;
// the six empty lines come before the font is set, so they take the
// printer's default font. The last lines name the difference.
void Command14_Click(PrinterSurface& Printer)
{
    const TwipsSymbol<float> symbol = drawTwipsSymbol<float>(Printer);
    for (int line = 0; line < 6; ++line)
        Printer.Print();
    Printer.Font().setSize(16);
    Printer.Font().setName("Times New Roman");
    printTwipsNumbers(Printer, symbol);
    Printer.Print();
    Printer.Print({"Lisätty:"});
    Printer.Print({"Static h As Single"});
    Printer.EndDoc();
}

} // namespace raitakone
