#include "printtests/PrintTests.h"

#include "surface/RuntimeError.h"

namespace raitakone {

// Placeholder until this test's page is built.
void Command3_Click(Surface& picViivakoodi, PrinterSurface& Printer, const EndProgram& End)
{
    throw RuntimeError("Command3_Click: tätä testiä ei ole vielä toteutettu");
}

} // namespace raitakone
