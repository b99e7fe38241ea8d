#pragma once

// Where the symbols lie in a scan. ZXing-C++ reads them (text, position);
// a symbol ZXing cannot read (a bar missing, the narrow spaces closed by ink
// spread) is still found as a run of bars between two quiet zones, so that
// it can be graded and fail where it fails. A run of bars may also be a line
// of text: the grading keeps an unread one only where it finds a start or
// stop character.

#include <QImage>
#include <QPointF>

#include <functional>
#include <string>
#include <vector>

namespace raitakone::grading {

struct FoundSymbol {
    // In pixels, along the rows or columns the finder read across the bars:
    // topLeft and topRight on the first one, bottomLeft and bottomRight on
    // the last; left is the symbol's start where ZXing read it.
    QPointF topLeft, topRight, bottomRight, bottomLeft;
    std::string text; // empty when the symbol was not read
    bool read = false;
    bool atImageEdge = false; // its bars reach nearer the scan's edge than a quiet zone
    bool whole = true;        // a start and a stop character stand at its two ends
};

// plane: Format_Grayscale8; pixelsPerMm: the scan's finer resolution;
// aspect: pixels down the scan for each pixel across over the same length.
// stop is asked between the search's passes; once it says true, what was
// found so far is returned.
std::vector<FoundSymbol> findSymbols(const QImage& plane, double pixelsPerMm, double aspect = 1.0,
                                     const std::function<bool()>& stop = {});

} // namespace raitakone::grading
