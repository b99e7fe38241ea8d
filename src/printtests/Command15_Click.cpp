#include "printtests/PrintTests.h"

#include "printtests/TwipsPage.h"

namespace raitakone {

// "twips 3": the page of "twips 1" with a fixed text on the fourth of the
// six lines under the bars; every line below it keeps its place.
void Command15_Click(PrinterSurface& Printer)
{
    const TwipsSymbol<double> symbol = drawTwipsSymbol<double>(Printer);
    Printer.Font().setSize(16);
    Printer.Font().setName("Times New Roman");
    for (int line = 0; line < 3; ++line)
        Printer.Print();
    Printer.Print({"tässä kysytty korkeus sentteinä"});
    for (int line = 0; line < 2; ++line)
        Printer.Print();
    printTwipsNumbers(Printer, symbol);
    Printer.EndDoc();
}

} // namespace raitakone
