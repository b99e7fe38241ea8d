#include "printtests/PrintTests.h"

#include "surface/RuntimeError.h"

namespace raitakone {

// Placeholder until this test's page is built.
void Command14_Click(PrinterSurface& Printer)
{
    throw RuntimeError("Command14_Click: tätä testiä ei ole vielä toteutettu");
}

} // namespace raitakone
