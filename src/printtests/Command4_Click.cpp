#include "printtests/PrintTests.h"

#include "surface/RuntimeError.h"

namespace raitakone {

// Placeholder until this test's page is built.
void Command4_Click(PrinterSurface& Printer, const EndProgram& End)
{
    throw RuntimeError("Command4_Click: tätä testiä ei ole vielä toteutettu");
}

} // namespace raitakone
