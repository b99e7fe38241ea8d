#pragma once

// Whether a page's drawing fits the printable area. The drawing is clipped
// there and the page prints as drawn; what fell outside is told to the user,
// so that a blank label is never left without a reason.

#include "surface/PageGeometry.h"

#include <string>

namespace raitakone {

// What a page's drawing asked to paint, in device pixels from the printable
// area's top-left corner, before clipping. The bars are what Line drew (the
// page's symbol), the text what Print inked.
struct DrawnExtent {
    PixelRect bars;
    PixelRect text;
    bool barsDrawn = false;
    bool barsOnPaper = false; // some pixel of a bar fell inside the printable area
    bool textDrawn = false;

    void addBars(const PixelRect& rect, const PixelRect& printableSize);
    void addText(const PixelRect& rect);
};

// Empty when the whole drawing lies inside the printable area. Otherwise one
// Finnish notice of how far the drawing reached past each edge ("Sivun
// piirroksesta jäi 11,1 cm tulostusalueen alapuolelle ja 5,0 cm sen oikealle
// puolelle."), and that the page printed no symbol where none of its bars
// reached the printable area. A cut of a fraction of a millimetre off the
// bars alone, where the page draws its first bar at the edge, is told as
// what it is.
struct PageFitNotice {
    std::string notice; // what the user must hear
    std::string minor;  // the sliver off a first bar at the edge: true but harmless, for the record
};
PageFitNotice pageFitNotice(const DrawnExtent& drawn, const PageGeometry& g);

} // namespace raitakone
