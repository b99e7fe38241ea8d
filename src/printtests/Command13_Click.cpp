#include "printtests/PrintTests.h"

#include "printtests/TwipsPage.h"

namespace raitakone {

// "twips 1": the symbol at (5, 25) twips with its bar height held in double
// precision; six empty lines in Times New Roman 16, then the numbers.
void Command13_Click(PrinterSurface& Printer)
{
    const TwipsSymbol<double> symbol = drawTwipsSymbol<double>(Printer);
    Printer.Font().setSize(16);
    Printer.Font().setName("Times New Roman");
    for (int line = 0; line < 6; ++line)
        Printer.Print();
    printTwipsNumbers(Printer, symbol);
    Printer.EndDoc();
}

} // namespace raitakone
