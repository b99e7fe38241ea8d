#include "marking/MarkReader.h"

#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace raitakone::marking {
namespace {

// The mark's modules are at least 0.5 mm; ZXing finds a code fastest with a
// few pixels a module, so a fine scan is read at a fraction of its size.
constexpr double kModuleMm = 0.5;
constexpr double kPixelsPerModuleRead = 3.0;

// The mean of each factor x factor block: a fine scan at a fraction of its
// size, as a coarser scan would have seen it.
QImage shrunk(const QImage& plane, int factor)
{
    const int width = plane.width() / factor, height = plane.height() / factor;
    QImage out(width, height, QImage::Format_Grayscale8);
    if (out.isNull())
        throw std::bad_alloc();
    std::vector<int> sums(static_cast<size_t>(width), 0);
    for (int y = 0; y < height; ++y) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int k = 0; k < factor; ++k) {
            const uchar* in = plane.constScanLine(y * factor + k);
            for (int x = 0; x < width; ++x, in += factor) {
                int block = 0;
                for (int j = 0; j < factor; ++j)
                    block += in[j];
                sums[size_t(x)] += block;
            }
        }
        uchar* row = out.scanLine(y);
        for (int x = 0; x < width; ++x)
            row[x] = uchar(sums[size_t(x)] / (factor * factor));
    }
    return out;
}

} // namespace

MarkReading readMarks(const QImage& plane, double dpi)
{
    const int factor = std::max(1, int(kModuleMm * dpi / 25.4 / kPixelsPerModuleRead));
    const QImage read = factor == 1 ? plane : shrunk(plane, factor);
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    // The scan is already as small as it can be read; a QR code reads the
    // same way round whichever way up the page lies.
    hints.setTryRotate(false);
    hints.setTryDownscale(false);
    const ZXing::ImageView view(read.constBits(), read.width(), read.height(), ZXing::ImageFormat::Lum,
                                int(read.bytesPerLine()));
    MarkReading reading;
    std::string refused;
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid())
            continue;
        const MarkCheck check = checkMarkPayload(result.text());
        if (!check.page) {
            if (refused.empty())
                refused = check.problem;
            continue;
        }
        if (reading.mark) {
            const PageIdentity& first = reading.mark->page;
            if (*check.page != first && reading.notice.empty())
                reading.notice = "Skannauksessa on kahden eri sivun merkinnät (" + first.caption + " " + first.n +
                                 " ja " + check.page->caption + " " + check.page->n +
                                 "); tulokset on nimetty ensimmäisen mukaan. Skannaa sivut erikseen.";
            continue;
        }
        const auto& p = result.position();
        const QPointF centre((p.topLeft().x + p.topRight().x + p.bottomLeft().x + p.bottomRight().x) / 4.0,
                             (p.topLeft().y + p.topRight().y + p.bottomLeft().y + p.bottomRight().y) / 4.0);
        reading.mark = ReadMark{*check.page, centre * factor};
    }
    if (reading.notice.empty())
        reading.notice = refused;
    return reading;
}

std::optional<ReadMark> readMark(const QImage& plane, double dpi) { return readMarks(plane, dpi).mark; }

} // namespace raitakone::marking
