#pragma once

// The bar-width ladder, "Kavennustikkaat": the pages' own symbol repeated in
// rungs down the page, rung k drawing every bar k printer pixels narrower
// than its nominal width (every space as much wider), k from -1 to half a
// module. Each rung is drawn as the line-form pages draw their bars, with
// zero-width boxes and the pen as wide as the bar, in device pixels, so what
// the ladder shows of the printer holds for the pages. Where the rungs do
// not all fit the paper they go on as many sheets as they need.

#include "surface/PageGeometry.h"
#include "surface/PrinterSurface.h"

#include <string>
#include <vector>

namespace raitakone::ladder {

inline constexpr const char* kLadderCaption = "Kavennustikkaat";
inline constexpr int kQuietZoneModules = 10;

// The reductions at this horizontal resolution: -1, 0, 1 .. X / 2.
std::vector<int> ladderReductions(double dpiX);

// Where everything goes, in device pixels from the printable area's origin.
struct LadderLayout {
    int modulePixels = 0;
    int symbolLeft = 0;     // the first bar's nominal leading edge
    int firstRungTop = 0;   // the first rung's bars start here
    int barHeight = 0;
    int pitch = 0;          // from one rung's bars to the next one's
    std::vector<std::vector<int>> sheets; // each sheet's reductions, top to bottom
};

// Throws a RuntimeError when not even one rung fits the printable area.
LadderLayout ladderLayout(const PageGeometry& geometry);

// The distance from one rung's bars to the next one's, in millimetres.
double rungPitchMm(double dpiX, double dpiY);

// The label under a rung: the width change, "−2 px · −85 µm" for k = 2.
std::string rungLabel(int reduction, double dpiX);

// Draws sheet number `sheet` (from 0) of the ladder and ends the page.
void printLadderSheet(PrinterSurface& Printer, int sheet);

} // namespace raitakone::ladder
