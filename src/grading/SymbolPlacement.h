#pragma once

// Where a found symbol lies, in millimetres: its axis (from its start
// character towards its stop), the middle of its bar height, where its
// first and last bars begin and end, its bar height and its module.

#include "grading/ScanProfile.h"
#include "grading/SymbolFinder.h"

#include <optional>

namespace raitakone::grading {

struct Placement {
    Vec axis;        // along the symbol, from its start
    Vec across;
    Vec centre;      // on the axis, in the middle of the bar height
    double startMm;  // first bar's leading edge, along the axis from the centre
    double endMm;    // last bar's trailing edge
    double barHeightMm;
    double moduleMm;
};

std::optional<Placement> place(const ReflectanceField& field, const QImage& plane, const FoundSymbol& found);

} // namespace raitakone::grading
