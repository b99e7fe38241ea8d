#include "printing/PngPage.h"

#include <zlib.h>

#include <cmath>
#include <cstdint>

namespace raitakone {
namespace {

uint32_t be32(const QByteArray& data, qsizetype at)
{
    const auto* b = reinterpret_cast<const uint8_t*>(data.constData() + at);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

} // namespace

std::optional<PngPage> readPngPage(const QByteArray& png)
{
    if (!png.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return std::nullopt;
    PngPage result;
    CompressedPage& page = result.page;
    bool header = false, physical = false, palette = false, end = false;
    for (qsizetype at = 8; !end;) {
        if (png.size() - at < 12)
            return std::nullopt;
        const uint32_t length = be32(png, at);
        if (length > uint32_t(png.size() - at - 12))
            return std::nullopt;
        const QByteArray type = png.mid(at + 4, 4);
        const QByteArray data = png.mid(at + 8, length);
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + at + 4), uInt(length + 4));
        if (be32(png, at + 8 + length) != uint32_t(crc))
            return std::nullopt;
        at += 12 + length;

        if (!header && type != "IHDR")
            return std::nullopt;
        if (type == "IHDR") {
            if (header || length != 13)
                return std::nullopt;
            header = true;
            page.width = int(std::min<uint32_t>(be32(data, 0), INT32_MAX));
            page.height = int(std::min<uint32_t>(be32(data, 4), INT32_MAX));
            const int depth = data[8], colourType = data[9];
            if (depth == 1 && colourType == 0)
                page.pixels = CompressedPage::Pixels::Bilevel;
            else if (depth == 8 && colourType == 3)
                page.pixels = CompressedPage::Pixels::Palette;
            else if (depth == 8 && colourType == 2)
                page.pixels = CompressedPage::Pixels::Rgb;
            else
                return std::nullopt;
            if (page.width <= 0 || page.height <= 0 || data[10] != 0 || data[11] != 0 || data[12] != 0)
                return std::nullopt; // deflate, adaptive filtering, no interlace
        } else if (type == "pHYs") {
            if (length != 9 || data[8] != 1) // pixels per metre
                return std::nullopt;
            physical = true;
            result.dpiX = std::round(be32(data, 0) * 0.0254);
            result.dpiY = std::round(be32(data, 4) * 0.0254);
        } else if (type == "PLTE") {
            if (length % 3 != 0 || length == 0)
                return std::nullopt;
            palette = true;
            for (uint32_t i = 0; i < length; i += 3)
                page.palette.append(qRgb(uint8_t(data[i]), uint8_t(data[i + 1]), uint8_t(data[i + 2])));
        } else if (type == "tEXt" && data.startsWith(QByteArray("Paper", 6))) {
            result.paper = parsePaper(data.mid(6).toStdString());
        } else if (type == "IDAT") {
            page.scanlines.append(data);
        } else if (type == "IEND") {
            end = true;
        }
    }
    const bool paletteNeeded = page.pixels == CompressedPage::Pixels::Palette;
    if (!physical || result.dpiX <= 0 || result.dpiY <= 0 || page.scanlines.isEmpty() || palette != paletteNeeded)
        return std::nullopt;
    return result;
}

} // namespace raitakone
