#pragma once

// A page file's PNG read back into the page's compressed scanlines, the
// inverse of encodePng: the PDF of the same page can then be made from it
// without decoding a pixel, byte for byte as it would have been written.

#include "printing/PageEncoders.h"
#include "surface/Paper.h"

#include <QByteArray>

#include <optional>

namespace raitakone {

struct PngPage {
    CompressedPage page;
    double dpiX = 0; // from pHYs, rounded to a whole dpi
    double dpiY = 0;
    std::optional<Paper> paper; // from its "Paper" text, where it has one
};

// A non-interlaced PNG of 1-bit grey, 8-bit palette or 8-bit RGB pixels with
// its resolution in pixels per metre, and its paper where it names one: what
// encodePng writes. Nothing for any
// other data, or when a chunk is damaged or missing.
std::optional<PngPage> readPngPage(const QByteArray& png);

} // namespace raitakone
