#include "printtests/PrintTests.h"

#include "surface/RuntimeError.h"

namespace raitakone {

// Placeholder until this test's page is built.
void Command7_Click(PrinterSurface& Printer, int16_t Index, const ShowMessage& MsgBox)
{
    throw RuntimeError("Command7_Click: tätä testiä ei ole vielä toteutettu");
}

} // namespace raitakone
