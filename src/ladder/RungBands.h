#pragma once

// Where the rungs of a ladder lie in its scan: bands of rows that cross a
// long, dense run of bars. Each rung is graded on its own band, because a
// reader that meets the same symbol several times over takes the copies for
// one symbol.

#include <QImage>

#include <vector>

namespace raitakone::ladder {

struct RowBand {
    int top = 0;    // first row
    int bottom = 0; // one past the last row
};

// plane: Format_Grayscale8 at dpiX x dpiY. Each band holds one rung's bars
// with margin mm of paper above and below; top to bottom. The rows must run
// along the bars' axis within a few degrees (either way round).
std::vector<RowBand> rungBands(const QImage& plane, double dpiX, double dpiY, double marginMm);

} // namespace raitakone::ladder
