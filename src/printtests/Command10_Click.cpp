#include "printtests/PrintTests.h"

#include "surface/RuntimeError.h"

namespace raitakone {

// Placeholder until this test's page is built.
void Command10_Click(PrinterSurface& Printer, int16_t Index)
{
    throw RuntimeError("Command10_Click: tätä testiä ei ole vielä toteutettu");
}

} // namespace raitakone
