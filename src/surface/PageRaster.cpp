#include "surface/PageRaster.h"

#include <algorithm>
#include <cstring>

namespace raitakone {
namespace {

QRgb toQRgb(Colour c) { return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
Colour fromQRgb(QRgb rgb) { return Colour(qRed(rgb)) | Colour(qGreen(rgb)) << 8 | Colour(qBlue(rgb)) << 16; }

// Sets or clears bits first .. last - 1 of an MSB-first bit row.
void fillBits(uchar* row, int first, int last, bool value)
{
    while (first < last && (first & 7) != 0) {
        const uchar mask = uchar(0x80 >> (first & 7));
        row[first >> 3] = value ? (row[first >> 3] | mask) : (row[first >> 3] & ~mask);
        ++first;
    }
    const int wholeBytes = (last - first) / 8;
    if (wholeBytes > 0) {
        std::memset(row + (first >> 3), value ? 0xFF : 0x00, size_t(wholeBytes));
        first += wholeBytes * 8;
    }
    while (first < last) {
        const uchar mask = uchar(0x80 >> (first & 7));
        row[first >> 3] = value ? (row[first >> 3] | mask) : (row[first >> 3] & ~mask);
        ++first;
    }
}

} // namespace

PixelRect PixelRect::intersected(const PixelRect& other) const
{
    return {std::max(left, other.left), std::max(top, other.top),
            std::min(right, other.right), std::min(bottom, other.bottom)};
}

PageRaster::PageRaster(int width, int height, Storage storage)
{
    if (storage == Storage::Bilevel) {
        image_ = QImage(width, height, QImage::Format_Mono);
        image_.setColorTable({toQRgb(kWhite), toQRgb(kBlack)});
        // QImage::fill leaves the padding at the end of each row untouched;
        // clear every byte so rows can be compared and encoded whole.
        std::memset(image_.bits(), 0, size_t(image_.sizeInBytes()));
    } else {
        image_ = QImage(width, height, QImage::Format_RGB32);
        image_.fill(toQRgb(kWhite));
    }
}

void PageRaster::fill(const PixelRect& rect, Colour colour)
{
    const PixelRect r = rect.intersected(bounds());
    if (r.empty())
        return;
    if (isBilevel() && colour != kBlack && colour != kWhite)
        promoteToPalette();

    switch (image_.format()) {
    case QImage::Format_Mono:
        fillBilevel(r, colour == kBlack);
        break;
    case QImage::Format_Indexed8: {
        const int index = paletteIndex(colour);
        if (index >= 0) {
            for (int y = r.top; y < r.bottom; ++y)
                std::memset(image_.scanLine(y) + r.left, index, size_t(r.right - r.left));
            break;
        }
        image_ = image_.convertToFormat(QImage::Format_RGB32);
        [[fallthrough]];
    }
    default: {
        const QRgb rgb = toQRgb(colour);
        for (int y = r.top; y < r.bottom; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
            std::fill(line + r.left, line + r.right, rgb);
        }
    }
    }
}

void PageRaster::setPixel(int x, int y, Colour colour) { fill({x, y, x + 1, y + 1}, colour); }

Colour PageRaster::pixel(int x, int y) const { return fromQRgb(image_.pixel(x, y)); }

void PageRaster::fillBilevel(const PixelRect& r, bool black)
{
    for (int y = r.top; y < r.bottom; ++y)
        fillBits(image_.scanLine(y), r.left, r.right, black);
}

int PageRaster::paletteIndex(Colour colour)
{
    const QRgb rgb = toQRgb(colour);
    QList<QRgb> table = image_.colorTable();
    const auto found = std::find(table.begin(), table.end(), rgb);
    if (found != table.end())
        return int(found - table.begin());
    if (table.size() >= 256)
        return -1;
    table.append(rgb);
    image_.setColorTable(table);
    return int(table.size() - 1);
}

void PageRaster::promoteToPalette()
{
    image_ = image_.convertToFormat(QImage::Format_Indexed8);
}

} // namespace raitakone
