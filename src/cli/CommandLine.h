#pragma once

// The program's entries: with no option the window; --print, --list-printers
// (and the grading entries) do their work without one and end with an exit
// status: 0 done, 1 the work failed, 2 bad input; --scan also 3 when the
// scanner could not scan.

#include "app/Controls.h"
#include "surface/PrinterSurface.h"

#include <QTextStream>

#include <optional>
#include <vector>

namespace raitakone {

// Runs the program as its command line asks; returns the exit status.
int runProgram(int argc, char** argv);

// Prints the pages in order on a printer of the connector, one line each on
// out ("[3/20] Valkea 3 (bf) → raitakone-pdf, työ 17"); a page's notice (what
// did not fit the paper, a stopped queue) and a page that fails are reported
// on err after the page's caption, and the series goes on. Pages that end the program when
// clicked end nothing here. Stops early, after a whole page, when
// stopRequested answers true. With mark every page carries its mark (the
// ladder always does), numbered in the series. Returns 0 when every page was
// delivered, else 1; count, when given, gets how many pages were printed or
// failed, of how many (a ladder counts its sheets).
struct SeriesCount {
    int handled = 0;
    int total = 0;
};
int printSeries(const std::vector<PrintPage>& pages, const PrinterSurface::Connector& connector, QTextStream& out,
                QTextStream& err, const std::function<bool()>& stopRequested = {}, SeriesCount* count = nullptr,
                bool mark = false);

// The page a name means: a control name with its index, a caption as on its
// button, or either written loosely (case and spacing aside) where only one
// page fits; nothing otherwise, with *error listing the names.
std::optional<PrintPage> pageNamedLoosely(const QString& name, QString* error);

// The CUPS destinations, one line each; 1 when the scheduler does not answer.
int listPrinters(QTextStream& out, QTextStream& err);

} // namespace raitakone
