#include "printtests/PrintTests.h"

#include "surface/RuntimeError.h"

namespace raitakone {

// Placeholder until this test's page is built.
void siirra(PrinterSurface& Printer)
{
    throw RuntimeError("siirra: tätä testiä ei ole vielä toteutettu");
}

} // namespace raitakone
