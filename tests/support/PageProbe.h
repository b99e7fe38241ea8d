#pragma once

// Measurements taken off a page raster, for tests that check what a page
// really holds rather than how it was drawn.

#include "surface/PageRaster.h"

#include <optional>
#include <vector>

namespace raitakone::testing {

struct Run {
    int start = 0; // first column (or row)
    int end = 0;   // one past the last
    int length() const { return end - start; }
    bool operator==(const Run&) const = default;
};

bool isInk(const PageRaster& page, int x, int y); // any pixel that is not white

// Dark runs on one row, between columns from and to (exclusive).
std::vector<Run> darkRunsOnRow(const PageRaster& page, int row, int from = 0, int to = -1);
// Dark runs down one column.
std::vector<Run> darkRunsInColumn(const PageRaster& page, int column, int from = 0, int to = -1);
// First and one past the last inked column of a row; nothing for a blank row.
// Reads a bilevel page a byte at a time, so whole pages at 1200 dpi are quick.
std::optional<Run> inkSpanOnRow(const PageRaster& page, int row);
// Bands of consecutive rows that hold ink, between rows from and to.
std::vector<Run> inkBands(const PageRaster& page, int from = 0, int to = -1);
// The number of pixels that are not white.
long inkPixelCount(const PageRaster& page);

// The dark runs the bar pattern must give on a row when module i is drawn
// w pixels wide starting at column left + (i - 1) * w, clipped at column 0.
std::vector<Run> expectedPatternRuns(int left, int w);

} // namespace raitakone::testing
