#include "marking/MarkReader.h"

#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cmath>

namespace raitakone::marking {
namespace {

// The mark's modules are at least 0.5 mm; ZXing finds a code fastest with a
// few pixels a module, so a fine scan is read at a fraction of its size.
constexpr double kModuleMm = 0.5;
constexpr double kPixelsPerModuleRead = 4.0;

} // namespace

std::optional<ReadMark> readMark(const QImage& plane, double dpi)
{
    const int factor = std::max(1, int(kModuleMm * dpi / 25.4 / kPixelsPerModuleRead));
    const QImage read = factor == 1 ? plane
                                    : plane.scaled(plane.width() / factor, plane.height() / factor,
                                                   Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    const ZXing::ImageView view(read.constBits(), read.width(), read.height(), ZXing::ImageFormat::Lum,
                                int(read.bytesPerLine()));
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid())
            continue;
        if (std::optional<PageIdentity> page = parseMarkPayload(result.text())) {
            const auto& p = result.position();
            const QPointF centre((p.topLeft().x + p.topRight().x + p.bottomLeft().x + p.bottomRight().x) / 4.0,
                                 (p.topLeft().y + p.topRight().y + p.bottomLeft().y + p.bottomRight().y) / 4.0);
            return ReadMark{*page, centre * factor};
        }
    }
    return std::nullopt;
}

} // namespace raitakone::marking
