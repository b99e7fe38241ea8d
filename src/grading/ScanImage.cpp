#include "grading/ScanImage.h"

#include <poppler-qt6.h>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>

#include <cmath>
#include <memory>

namespace raitakone::grading {
namespace {

constexpr double kMetresPerInch = 0.0254;
constexpr int kScanAllocationLimitMb = 8192; // an A4 page at 2400 dpi in RGB32 is 2.2 GB

// Files keep dots per metre as whole numbers: 600 dpi comes back as
// 599.9988. A resolution that close to a whole number is that number.
double dpiFromDotsPerMetre(int dotsPerMetre)
{
    const double dpi = dotsPerMetre * kMetresPerInch;
    return std::fabs(dpi - std::round(dpi)) < 0.02 ? std::round(dpi) : dpi;
}

quint32 bigEndian32(const QByteArray& bytes, int at)
{
    return (quint32(uchar(bytes[at])) << 24) | (quint32(uchar(bytes[at + 1])) << 16) |
           (quint32(uchar(bytes[at + 2])) << 8) | quint32(uchar(bytes[at + 3]));
}

// A PNG's pHYs chunk, read without decoding the image: dots per unit across
// and down, and the unit (1 = metre). Nothing when the file has none.
struct PngPhys {
    quint32 x = 0, y = 0;
    int unit = 0;
};
std::optional<PngPhys> pngPhys(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(8);
    if (head.size() < 8)
        return std::nullopt;
    for (;;) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return std::nullopt;
        const quint32 length = bigEndian32(chunk, 0);
        const QByteArray type = chunk.mid(4, 4);
        if (type == "pHYs") {
            const QByteArray data = file.read(9);
            if (length != 9 || data.size() < 9)
                return std::nullopt;
            return PngPhys{bigEndian32(data, 0), bigEndian32(data, 4), int(uchar(data[8]))};
        }
        if (type == "IDAT" || type == "IEND")
            return std::nullopt;
        if (!file.seek(file.pos() + qint64(length) + 4))
            return std::nullopt;
    }
}

// A PNG states its resolution only in a pHYs chunk; Qt reports a default
// when it has none.
bool pngHasPhys(const QString& path) { return pngPhys(path).has_value(); }

// The 72 and 96 dpi that programs write when they do not know are no
// resolution at all.
std::optional<double> meaningfulDpi(int dotsPerMetre)
{
    if (dotsPerMetre <= 0)
        return std::nullopt;
    const double dpi = dpiFromDotsPerMetre(dotsPerMetre);
    if (std::fabs(dpi - 72.0) < 0.5 || std::fabs(dpi - 96.0) < 0.5)
        return std::nullopt;
    return dpi;
}

// The size in pixels of the largest image a PDF holds. Image streams are
// never inside object streams, so their dictionaries are plain text.
std::optional<QSize> largestPdfImage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    static const QRegularExpression width(QStringLiteral("/Width\\s+(\\d+)"));
    static const QRegularExpression height(QStringLiteral("/Height\\s+(\\d+)"));
    std::optional<QSize> best;
    for (qsizetype at = bytes.indexOf("/Image"); at >= 0; at = bytes.indexOf("/Image", at + 6)) {
        const qsizetype open = bytes.lastIndexOf("<<", at);
        const qsizetype close = bytes.indexOf("stream", at);
        if (open < 0 || close < 0)
            continue;
        const QString dictionary = QString::fromLatin1(bytes.mid(open, close - open));
        const auto w = width.match(dictionary);
        const auto h = height.match(dictionary);
        if (!w.hasMatch() || !h.hasMatch())
            continue;
        const QSize size(w.captured(1).toInt(), h.captured(1).toInt());
        if (!best || qint64(size.width()) * size.height() > qint64(best->width()) * best->height())
            best = size;
    }
    return best;
}

ScanLoad loadPdf(const QString& path)
{
    ScanLoad load;
    std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
    if (!document || document->isLocked() || document->numPages() < 1) {
        load.error = QStringLiteral("PDF-tiedostoa %1 ei voi lukea.").arg(path);
        return load;
    }
    std::unique_ptr<Poppler::Page> page = document->page(0);
    const std::optional<QSize> image = largestPdfImage(path);
    if (!page || !image) {
        load.error = QStringLiteral("PDF-tiedostossa %1 ei ole skannattua kuvaa. Tallenna skannaus PNG- tai "
                                    "TIFF-kuvana.")
                         .arg(path);
        return load;
    }
    // Rendered at the image's own resolution the page is the image, pixel
    // for pixel, provided the scale is a hair under 1: at exactly 1 poppler
    // interpolates the image by part of a pixel.
    const QSizeF points = page->pageSizeF();
    const double dpiX = image->width() / (points.width() / 72.0);
    const double dpiY = image->height() / (points.height() / 72.0);
    constexpr double kHairUnder = 1.0 - 2e-6;
    document->setRenderHint(Poppler::Document::Antialiasing, false);
    document->setRenderHint(Poppler::Document::TextAntialiasing, false);
    const QImage rendered = page->renderToImage(dpiX * kHairUnder, dpiY * kHairUnder);
    if (rendered.isNull()) {
        load.error = QStringLiteral("PDF-tiedoston %1 sivua ei voi piirtää.").arg(path);
        return load;
    }
    auto nearWhole = [](double dpi) { return std::fabs(dpi - std::round(dpi)) < 0.01 ? std::round(dpi) : dpi; };
    load.scan = Scan{measuredPlane(rendered), nearWhole(dpiX), nearWhole(dpiY)};
    load.resolutionFromFile = true;
    load.fileDpi = load.scan->dpiX;
    return load;
}

// Why Qt could not read an image, in Finnish: its own text is English.
QString unreadableReason(const QImageReader& reader, const QString& path)
{
    switch (reader.error()) {
    case QImageReader::FileNotFoundError:
        return QStringLiteral("tiedostoa ei löydy");
    case QImageReader::DeviceError:
        return QFileInfo(path).isReadable() ? QStringLiteral("tiedoston lukeminen keskeytyi")
                                            : QStringLiteral("tiedostoon ei ole lukuoikeutta");
    case QImageReader::UnsupportedFormatError:
        return QStringLiteral("tiedosto ei ole PNG-, TIFF- eikä JPEG-kuva");
    case QImageReader::InvalidDataError:
        return QStringLiteral("kuvan tiedot ovat viallisia tai tiedosto on katkennut");
    default:
        return QStringLiteral("kuvaa ei voi purkaa");
    }
}

} // namespace

QImage measuredPlane(const QImage& image)
{
    if (image.format() == QImage::Format_Grayscale8)
        return image;
    if (image.format() == QImage::Format_Grayscale16)
        return image.convertToFormat(QImage::Format_Grayscale8);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QImage plane(rgb.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* out = plane.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            out[x] = uchar(qRed(in[x]));
    }
    return plane;
}

std::optional<double> statedResolution(const QImage& image, bool fileHasResolution)
{
    if (!fileHasResolution)
        return std::nullopt;
    return meaningfulDpi(image.dotsPerMeterX());
}

ScanLoad loadScan(const QString& path, std::optional<double> dpi)
{
    ScanLoad load;
    if (!QFileInfo::exists(path)) {
        load.error = QStringLiteral("Skannattua tiedostoa %1 ei ole.").arg(path);
        return load;
    }
    if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
        load = loadPdf(path);
    } else {
        // Qt refuses images over 128 MB by default, counted at four bytes a
        // pixel: an A4 page scanned at 600 dpi already is. A scan is as large
        // as it is.
        const int limit = QImageReader::allocationLimit();
        QImageReader::setAllocationLimit(kScanAllocationLimitMb);
        QImageReader reader(path);
        const QImage image = reader.read();
        QImageReader::setAllocationLimit(limit);
        if (image.isNull()) {
            load.error = QStringLiteral("Kuvaa %1 ei voi lukea: %2. Tallenna skannaus PNG-, TIFF-, JPEG- tai "
                                        "PDF-tiedostona.")
                             .arg(path, unreadableReason(reader, path));
            return load;
        }
        const bool isPng = reader.format() == "png";
        const std::optional<double> stated = statedResolution(image, !isPng || pngHasPhys(path));
        load.scan = Scan{measuredPlane(image), 0.0, 0.0};
        if (stated) {
            load.resolutionFromFile = true;
            load.fileDpi = *stated;
            load.scan->dpiX = *stated;
            load.scan->dpiY = image.dotsPerMeterY() > 0 ? dpiFromDotsPerMetre(image.dotsPerMeterY()) : *stated;
        }
    }
    if (!load.scan)
        return load;
    if (dpi) {
        load.scan->dpiX = *dpi;
        load.scan->dpiY = *dpi;
    }
    if (load.scan->dpiX <= 0.0) {
        load.scan.reset();
        load.resolutionMissing = true;
        load.error = QStringLiteral("Tiedosto %1 ei kerro skannauksen tarkkuutta. Anna se valitsimella "
                                    "--scan-dpi, esimerkiksi --scan-dpi 600 (tarkkuus, jolla skannasit sivun).")
                         .arg(path);
    }
    return load;
}

std::optional<double> scanFileResolution(const QString& path)
{
    // A PNG says it in one chunk before its pixels: a page-sized scan need
    // not be decoded for it.
    if (QImageReader::imageFormat(path) == "png") {
        const std::optional<PngPhys> phys = pngPhys(path);
        return phys && phys->unit == 1 ? meaningfulDpi(int(phys->x)) : std::nullopt;
    }
    const ScanLoad load = loadScan(path, std::nullopt);
    return load.resolutionFromFile ? std::optional<double>(load.fileDpi) : std::nullopt;
}

} // namespace raitakone::grading
