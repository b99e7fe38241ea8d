#pragma once

// Whole-page measurements fast enough for A4 at 1200 dpi: a bilevel page is
// read a byte at a time, any other page pixel by pixel.

#include "support/PageProbe.h"
#include "surface/PageRaster.h"

#include <cstring>
#include <vector>

namespace raitakone::testing {

// The smallest rectangle holding all ink of rows from .. to - 1 (empty when none).
inline PixelRect inkBox(const PageRaster& page, int from = 0, int to = -1)
{
    if (to < 0)
        to = page.height();
    PixelRect box{page.width(), page.height(), 0, 0};
    for (int y = from; y < to; ++y)
        if (const auto span = inkSpanOnRow(page, y)) {
            box.left = std::min(box.left, span->start);
            box.right = std::max(box.right, span->end);
            box.top = std::min(box.top, y);
            box.bottom = y + 1;
        }
    return box.empty() ? PixelRect{} : box;
}

// left, top, right, bottom, for comparing rectangles in one check.
inline std::vector<int> corners(const PixelRect& r) { return {r.left, r.top, r.right, r.bottom}; }

// Pixel for pixel the same page; bilevel pages are compared a row of bytes
// at a time (QImage's own comparison goes pixel by pixel for them).
inline bool samePixels(const PageRaster& a, const PageRaster& b)
{
    const QImage& x = a.image();
    const QImage& y = b.image();
    if (x.format() != QImage::Format_Mono || y.format() != QImage::Format_Mono)
        return x.size() == y.size() && x.convertToFormat(QImage::Format_RGB32) == y.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size() || x.colorTable() != y.colorTable())
        return false;
    const int whole = x.width() / 8;
    const int rest = x.width() % 8;
    const uchar mask = uchar(0xFF << (8 - rest));
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        if (std::memcmp(p, q, size_t(whole)) != 0 || (rest && ((p[whole] ^ q[whole]) & mask)))
            return false;
    }
    return true;
}

} // namespace raitakone::testing
