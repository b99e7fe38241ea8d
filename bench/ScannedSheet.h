#pragma once

// An A4 sheet as a flatbed scanner gives it, for the grading benchmarks:
// the "Valkea 3" page printed at the scan's resolution, paper and ink at
// their sRGB values, each edge softened over a pixel, a little noise.

#include "marking/PageMarker.h"
#include "printtests/PrintTests.h"
#include "surface/PrinterBackend.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

namespace raitakone {

// Keeps the one page it is given: A4 at dpi, 4 mm the printer cannot print on.
class KeepingPrinter : public PrinterBackend {
public:
    KeepingPrinter(double dpi, std::optional<PageRaster>* page) : dpi_(dpi), page_(page) {}
    PageGeometry geometry() override
    {
        // 4960 × 7016 at 600 dpi, as scanners give A4
        const int width = int(210.0 / 25.4 * dpi_), height = int(297.0 / 25.4 * dpi_ + 0.5);
        const int margin = int(std::ceil(4.0 / 25.4 * dpi_));
        return {dpi_, dpi_, width, height, PixelRect{margin, margin, width - margin, height - margin}};
    }
    void checkPrintQuality(int16_t) override {}
    Delivery deliver(const PageRaster& page, const JobSettings&) override
    {
        *page_ = page;
        return {};
    }

private:
    double dpi_;
    std::optional<PageRaster>* page_;
};

// Marked, the sheet carries the page mark in its bottom-right corner.
inline QImage scannedA4Sheet(double dpi, bool marked = false)
{
    std::optional<PageRaster> page;
    PrinterSurface printer([&page, dpi] { return std::make_unique<KeepingPrinter>(dpi, &page); });
    marking::PageMarker marker;
    if (marked)
        marker.markNext(printer, {"Command10:2", "Valkea 3 (bf)", "1/1", {}});
    Command10_Click(printer, 2);
    // The raster is the whole sheet, its margins left white; a bilevel page
    // (index 1 black) is read bit by bit, without a converted copy.
    const QImage& printed = page->image();
    QImage sheet(printed.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < printed.height(); ++y) {
        const uchar* in = printed.constScanLine(y);
        uchar* out = sheet.scanLine(y);
        for (int x = 0; x < printed.width(); ++x) {
            const bool ink = printed.format() == QImage::Format_Mono ? (in[x >> 3] >> (7 - (x & 7))) & 1
                                                                      : qGray(printed.pixel(x, y)) < 128;
            out[x] = ink ? 40 : 235;
        }
    }
    uint32_t seed = 12345;
    for (int y = 1; y < sheet.height() - 1; ++y) {
        const uchar* above = sheet.constScanLine(y - 1);
        const uchar* below = sheet.constScanLine(y + 1);
        uchar* row = sheet.scanLine(y);
        int previous = row[0];
        for (int x = 1; x < sheet.width() - 1; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 29) - 4;
            const int here = row[x];
            const int soft = (previous + 4 * here + row[x + 1] + above[x] + below[x]) / 8;
            previous = here;
            row[x] = uchar(std::clamp(soft + noise, 0, 255));
        }
    }
    return sheet;
}

} // namespace raitakone
