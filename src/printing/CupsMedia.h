#pragma once

// A CUPS media size and what it becomes: the sheet and printable area in
// device pixels, the PDF sheet in points, and the paper as people read it.

#include "surface/PageGeometry.h"

#include <string>

namespace raitakone {

// A media size as CUPS reports it: sheet and margins in hundredths of a
// millimetre.
struct MediaSize {
    int width = 0;
    int length = 0;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The sheet in device pixels (rounded to the nearest pixel) and the
// printable area inside it. Margins round outwards to whole pixels so the
// printable area never reaches into a margin the printer cannot mark. The
// sheet in points is the one the PDF for the queue has: the paper's width,
// and its height in whole points, as raster headers and the rasteriser have it.
PageGeometry pageGeometryForMedia(const MediaSize& media, double dpiX, double dpiY);

// "A4, 210 × 297 mm" for a media size in hundredths of a millimetre.
std::string mediaDescription(const std::string& name, int width, int length);

// A PWG self-describing name (iso_a4_210x297mm) as its common name (A4).
std::string commonMediaName(const std::string& name);

// Hundredths of a millimetre as people read them: "210", "101,6".
std::string mediaMillimetres(int hundredths);

} // namespace raitakone
