#pragma once

// Whole-page measurements fast enough for A4 at 1200 dpi: a bilevel page is
// read a byte at a time, any other page pixel by pixel.

#include "support/PageProbe.h"
#include "surface/PageRaster.h"

#include <bit>
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

// Pixels that differ between two one-bit images of the same width whose set
// bits are black, with b read shiftDown rows lower (rows beyond it count as
// paper). A row of bytes at a time: quick enough for A4 at 1200 dpi.
inline long differingBits(const QImage& a, const QImage& b, int shiftDown = 0)
{
    const int whole = a.width() / 8, rest = a.width() % 8;
    long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const int dy = y + shiftDown;
        const uchar* p = a.constScanLine(y);
        const uchar* q = dy >= 0 && dy < b.height() ? b.constScanLine(dy) : nullptr;
        for (int i = 0; i < whole + (rest ? 1 : 0); ++i) {
            const uchar mask = i == whole ? uchar(0xFF << (8 - rest)) : uchar(0xFF);
            count += std::popcount(unsigned((p[i] ^ (q ? q[i] : 0)) & mask));
        }
    }
    return count;
}

// Pixel for pixel the same page (QImage's own comparison of bilevel pages
// goes pixel by pixel).
inline bool samePixels(const PageRaster& a, const PageRaster& b)
{
    const QImage& x = a.image();
    const QImage& y = b.image();
    if (x.format() != QImage::Format_Mono || y.format() != QImage::Format_Mono)
        return x.size() == y.size() && x.convertToFormat(QImage::Format_RGB32) == y.convertToFormat(QImage::Format_RGB32);
    return x.size() == y.size() && x.colorTable() == y.colorTable() && differingBits(x, y) == 0;
}

} // namespace raitakone::testing
