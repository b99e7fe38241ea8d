#include "support/Decode.h"

#include <ZXing/ReadBarcode.h>

namespace raitakone::testing {

std::string decodeCode128(const QImage& image)
{
    // A white margin gives the decoder the quiet zone the symbol lacks when
    // it sits in the very corner of a page.
    const int margin = 40;
    QImage grey(image.width() + 2 * margin, image.height() + 2 * margin, QImage::Format_Grayscale8);
    grey.fill(255);
    const QImage source = image.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < source.height(); ++y)
        std::copy_n(source.constScanLine(y), source.width(), grey.scanLine(y + margin) + margin);

    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::Code128);
    hints.setTryHarder(true);
    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum,
                                int(grey.bytesPerLine()));
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    return result.isValid() ? result.text() : std::string();
}

std::string decodeCode128(const PageRaster& page) { return decodeCode128(page.image()); }

} // namespace raitakone::testing
