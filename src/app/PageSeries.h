#pragma once

// Pages as a series prints them: the ladder's sheets, as many as the paper
// needs, and the label each page's mark carries.

#include "app/Controls.h"
#include "marking/PageMarker.h"

#include <string>
#include <vector>

namespace raitakone {

// "Kavennustikkaat": sheet from 0; -1 stands for all the sheets the paper needs.
PrintPage ladderPrintPage(int sheet = -1);
bool isLadderPage(const PrintPage& page);

// The pages with each ladder that stands for all its sheets replaced by its
// sheets on this printer's paper. Throws a RuntimeError when the printer
// cannot be reached.
std::vector<PrintPage> withLadderSheets(const std::vector<PrintPage>& pages, PrinterSurface& printer);

// What the page's mark says of it: its control name and caption, its number
// in the series, and a ladder sheet's reductions.
marking::PageLabel markLabel(const PrintPage& page, const std::string& n, PrinterSurface& printer);

// What a page is in the series as --print all prints it, for a scan whose
// mark is missing: its control name, caption and number, "1" for the first.
marking::PageIdentity unmarkedPageIdentity(const PrintPage& page);

// Prints the page with its mark when marked is true or the page is the
// ladder, which is always marked; without it otherwise.
void printMarkedPage(const PrintPage& page, bool marked, marking::PageMarker& marker, const std::string& n,
                     PrinterSurface& Printer, Surface& picViivakoodi, const EndProgram& end,
                     const ShowMessage& message);

} // namespace raitakone
