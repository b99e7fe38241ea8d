#pragma once

// Checks that a page carries a given line of text at a given place: the
// glyphs the surface renders for the text are compared pixel by pixel with
// the cell of the page where the line should stand.

#include "support/PageProbe.h"
#include "surface/PageRaster.h"
#include "surface/TextRun.h"

#include <string>

namespace raitakone::testing {

// Pixels of the text's cell at (left, top) whose ink differs from the
// rendered text; 0 when exactly that text stands there.
inline long textMismatch(const PageRaster& page, const std::string& text, const TextFont& font, double dpi,
                         int left, int top)
{
    const TextRun run = renderText(text, font, dpi, dpi);
    long mismatches = 0;
    for (int y = 0; y < run.height; ++y)
        for (int x = 0; x < run.width; ++x) {
            const int px = left + x, py = top + y;
            const bool onPage = px >= 0 && py >= 0 && px < page.width() && py < page.height();
            if (run.inked(x, y) != (onPage && isInk(page, px, py)))
                ++mismatches;
        }
    return mismatches;
}

} // namespace raitakone::testing
