#include "printtests/PrintTests.h"

#include "surface/RuntimeError.h"

namespace raitakone {

// Placeholder until this test's page is built.
void Command5_Click(PrinterSurface& Printer)
{
    throw RuntimeError("Command5_Click: tätä testiä ei ole vielä toteutettu");
}

} // namespace raitakone
