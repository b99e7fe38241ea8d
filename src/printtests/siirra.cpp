#include "printtests/PrintTests.h"

namespace raitakone {

// The window procedure no control calls: moves the current position to the
// origin, then prints the page of "Viivakoodi 30.11." step for step.
void siirra(PrinterSurface& Printer)
{
    Printer.setCurrentX(0);
    Printer.setCurrentY(0);

    Command5_Click(Printer);
}

} // namespace raitakone
