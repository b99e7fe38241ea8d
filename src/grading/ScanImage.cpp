#include "grading/ScanImage.h"

#include "grading/JpegRows.h"
#include "grading/PdfScan.h"
#include "grading/PngRows.h"
#include "grading/TiffRows.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QScopeGuard>

#include <cstdio>
#include <cstring>
#include <QLocale>

#include <cmath>
#include <new>

namespace raitakone::grading {
namespace {

constexpr double kMetresPerInch = 0.0254;
// Rows converted at a time to the measured plane: a few megabytes of RGB32.
constexpr int kConversionRows = 64;

// Files keep dots per metre as whole numbers: 600 dpi comes back as
// 599.9988. A resolution that close to a whole number is that number.
double dpiFromDotsPerMetre(double dotsPerMetre)
{
    const double dpi = dotsPerMetre * kMetresPerInch;
    return std::fabs(dpi - std::round(dpi)) < 0.02 ? std::round(dpi) : dpi;
}

QString dpiText(double dpi) { return QLocale(QLocale::Finnish).toString(dpi, 'g', 6); }

quint32 bigEndian32(const char* at)
{
    const auto* b = reinterpret_cast<const uchar*>(at);
    return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
}

// A PNG's pHYs chunk, in dots per metre: Qt reports a default when there is
// none, and drops a zero, so the chunk is read as the file has it.
struct PngPhys {
    quint32 x = 0, y = 0;
};
std::optional<PngPhys> pngPhys(QIODevice& file)
{
    const qint64 start = file.pos();
    std::optional<PngPhys> found;
    // Only a PNG's chunks are walked: a file of zeros would be walked to its
    // end twelve bytes at a time.
    if (file.read(8) == QByteArray("\x89PNG\r\n\x1a\n", 8)) {
        for (;;) {
            const QByteArray chunk = file.read(8);
            if (chunk.size() < 8)
                break;
            const quint32 length = bigEndian32(chunk.constData());
            const QByteArray type = chunk.mid(4, 4);
            if (type == "pHYs") {
                const QByteArray data = file.read(9);
                if (data.size() == 9 && data[8] == 1) // unit: the metre; 0 gives only the aspect
                    found = PngPhys{bigEndian32(data.constData()), bigEndian32(data.constData() + 4)};
                break;
            }
            if (type == "IDAT" || type == "IEND" || !file.seek(file.pos() + qint64(length) + 4))
                break;
        }
    }
    file.seek(start);
    return found;
}

// A JPEG ends with its EOI marker. The entropy-coded data never holds one
// (a 0xFF there is followed by 0x00), so a file cut short has none after its
// last start-of-scan marker; Qt's decoder fills the missing rows with grey
// and says so only on stderr.
bool jpegIsWhole(QIODevice& file)
{
    constexpr qint64 kTail = 64 * 1024;
    const qint64 start = file.pos();
    const qint64 from = std::max<qint64>(0, file.size() - kTail);
    file.seek(from);
    const QByteArray tail = file.read(kTail);
    file.seek(start);
    const qsizetype scan = tail.lastIndexOf("\xFF\xDA");
    return tail.indexOf("\xFF\xD9", scan < 0 ? 0 : scan) >= 0;
}

ScanLoad failed(const QString& error)
{
    ScanLoad load;
    load.error = error;
    return load;
}

ScanLoad stoppedLoad()
{
    ScanLoad load;
    load.stopped = true;
    load.error = QStringLiteral("Skannauksen lukeminen keskeytettiin.");
    return load;
}

QString damagedError(const QString& path, const QString& why)
{
    return QStringLiteral("Kuvaa %1 ei voi lukea: tiedosto on vioittunut tai katkennut kesken (%2). Kopioi tai "
                          "tallenna skannaus uudelleen.")
        .arg(path, why);
}

// Why Qt's plugin could not decode an image, in Finnish: its own text is English.
QString readerFailure(const QImageReader& reader)
{
    switch (reader.error()) {
    case QImageReader::DeviceError:
        return QStringLiteral("tiedoston lukeminen keskeytyi");
    case QImageReader::UnsupportedFormatError:
        return QStringLiteral("kuvamuotoa ei tunnistettu");
    case QImageReader::InvalidDataError:
        return QStringLiteral("kuvan tiedot ovat viallisia");
    default:
        return QStringLiteral("kuvaa ei voi purkaa");
    }
}

// libjpeg reports corrupt data (a scan cut short and given a new end marker,
// a damaged segment) only as a warning, which Qt's plugin logs in English
// while it reads on and fills the rest with grey. A read on this thread
// collects those warnings here instead; every other message goes on as before.
thread_local QStringList* decoderWarnings = nullptr;
QtMessageHandler nextHandler = nullptr;

void collectDecoderWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (decoderWarnings && context.category && std::strncmp(context.category, "qt.gui.imageio", 14) == 0) {
        decoderWarnings->append(message);
        return;
    }
    if (nextHandler)
        nextHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

// The whole image through Qt's plugin, for what is not read a row at a time;
// null where the decoder found the data corrupt.
QImage readWhole(QImageReader& reader)
{
    static const bool installed = [] {
        nextHandler = qInstallMessageHandler(collectDecoderWarnings);
        return true;
    }();
    (void)installed;
    QStringList warnings;
    decoderWarnings = &warnings;
    const auto stopCollecting = qScopeGuard([] { decoderWarnings = nullptr; });
    // Qt refuses images over 128 MB by default, counted at the bytes a pixel
    // of the format it decodes to (four for colour): the size was checked
    // before, so the limit only has to let a scan that large through.
    const int limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(int(kMaxScanPixels * 4 / (1024 * 1024)) + 1);
    QImage image;
    try {
        image = reader.read();
    } catch (const std::bad_alloc&) {
        image = QImage();
    }
    QImageReader::setAllocationLimit(limit);
    return warnings.isEmpty() ? image : QImage();
}

ScanLoad loadRaster(StoppableFile& file, const QString& path, const StopRequest& stop)
{
    const std::optional<PngPhys> phys = pngPhys(file);
    QImageReader reader(&file);
    if (!reader.canRead())
        return failed(QStringLiteral("Tiedosto %1 ei ole PNG-, TIFF- eikä JPEG-kuva eikä PDF-tiedosto. Tallenna "
                                     "skannaus jossakin näistä muodoista.")
                          .arg(path));
    const QSize size = reader.size();
    if (!size.isValid())
        return failed(QStringLiteral("Kuvan %1 otsake on vioittunut: kuvan kokoa ei voi lukea. Kopioi tai tallenna "
                                     "skannaus uudelleen.")
                          .arg(path));
    if (qint64(size.width()) * size.height() > kMaxScanPixels)
        return failed(scanTooLargeError(path, size));
    const QByteArray format = reader.format();
    if (format == "jpeg" && !jpegIsWhole(file))
        return failed(QStringLiteral("JPEG-kuva %1 on katkennut kesken: sen loppu puuttuu, joten osa sivusta "
                                     "puuttuisi mittauksesta. Kopioi tai tallenna skannaus uudelleen kokonaisena.")
                          .arg(path));

    ScanLoad load;
    // Qt's TIFF plugin counts pages from wherever the file stands.
    const qint64 header = file.pos();
    file.seek(0);
    const int pages = reader.imageCount();
    file.seek(header);
    if (pages > 1)
        load.notice = QStringLiteral("Huom: tiedostossa %1 on %2 sivua; arvioitiin vain ensimmäinen sivu.")
                          .arg(path)
                          .arg(pages);

    std::optional<double> stated;
    double statedY = 0.0;
    QImage plane;
    StatedEncoding encoding;
    if (format == "png") {
        if (phys) {
            stated = dpiFromDotsPerMetre(phys->x);
            statedY = dpiFromDotsPerMetre(phys->y);
        }
        const PngRows rows = decodePngRows(file, stop);
        if (rows.stopped)
            return stoppedLoad();
        if (rows.outOfMemory)
            return failed(outOfMemoryError(path, size));
        if (!rows.interlaced && rows.plane.isNull())
            return failed(damagedError(path, rows.error));
        plane = rows.plane;
        encoding = rows.stated;
    } else if (format == "tiff" || format == "jpeg") {
        const DecodedRows rows = format == "tiff" ? decodeTiffRows(file, stop) : decodeJpegRows(file, stop);
        if (rows.stopped)
            return stoppedLoad();
        if (rows.outOfMemory)
            return failed(outOfMemoryError(path, size));
        if (!rows.notHere && rows.plane.isNull())
            return failed(damagedError(path, QStringLiteral("kuvan tiedot ovat viallisia")));
        if (rows.dpiX > 0 && rows.dpiY > 0) {
            stated = rows.dpiX;
            statedY = rows.dpiY;
        }
        plane = rows.plane;
        encoding = rows.stated;
    }
    if (plane.isNull()) {
        QImage image = readWhole(reader);
        if (stop && stop())
            return stoppedLoad();
        if (image.isNull()) {
            // Qt says no more than that the data could not be read; a decoder
            // out of memory looks the same, so the two are told apart here.
            if (QImage(size, QImage::Format_RGB32).isNull())
                return failed(outOfMemoryError(path, size));
            return failed(damagedError(path, readerFailure(reader)));
        }
        if (format != "png") {
            stated = statedResolution(image, true);
            statedY = stated && image.dotsPerMeterY() > 0 ? dpiFromDotsPerMetre(image.dotsPerMeterY()) : stated.value_or(0.0);
        }
        if (encoding.iccProfile.isEmpty())
            encoding.iccProfile = image.colorSpace().iccProfile();
        plane = measuredPlane(image);
        image = QImage();
        if (plane.isNull())
            return failed(outOfMemoryError(path, size));
    }
    // The 72 and 96 dpi that programs write when they do not know count as none.
    if (stated && statedY == *stated && (std::fabs(*stated - 72.0) < 0.5 || std::fabs(*stated - 96.0) < 0.5))
        stated.reset();

    load.scan = Scan{plane, 0.0, 0.0, encodingFromFile(encoding)};
    if (stated) {
        load.resolutionFromFile = true;
        load.fileDpi = *stated;
        load.scan->dpiX = *stated;
        load.scan->dpiY = statedY;
    }
    return load;
}

bool isPdf(QIODevice& file)
{
    const qint64 start = file.pos();
    const QByteArray head = file.read(1024);
    file.seek(start);
    return head.contains("%PDF-");
}

} // namespace

QString scanTooLargeError(const QString& path, QSize size)
{
    const QLocale finnish(QLocale::Finnish);
    return QStringLiteral("Kuva %1 on %2 × %3 pikseliä (%4 megapikseliä); suurin luettava skannaus on %5 "
                          "megapikseliä (A3-arkki 2400 dpi:n tarkkuudella). Skannaa sivu pienemmällä tarkkuudella, "
                          "esimerkiksi 600 dpi.")
        .arg(path, finnish.toString(size.width()), finnish.toString(size.height()),
             finnish.toString(qint64(size.width()) * size.height() / 1'000'000),
             finnish.toString(kMaxScanPixels / 1'000'000));
}

QString outOfMemoryError(const QString& path, QSize size)
{
    const QLocale finnish(QLocale::Finnish);
    return QStringLiteral("Muisti ei riitä %1 × %2 pikselin skannauksen %3 lukemiseen. Sulje muita ohjelmia tai "
                          "skannaa sivu pienemmällä tarkkuudella, esimerkiksi 600 dpi.")
        .arg(finnish.toString(size.width()), finnish.toString(size.height()), path);
}

QImage measuredPlane(const QImage& image)
{
    if (image.isNull() || image.format() == QImage::Format_Grayscale8)
        return image;
    // A band at a time through RGB32, whatever the format (1-bit, palette,
    // 16-bit grey, colour): the red of each pixel, which for grey is the grey.
    QImage plane(image.size(), QImage::Format_Grayscale8);
    if (plane.isNull())
        return plane;
    for (int y0 = 0; y0 < image.height(); y0 += kConversionRows) {
        const int rows = std::min(kConversionRows, image.height() - y0);
        const QImage band = image.copy(0, y0, image.width(), rows).convertToFormat(QImage::Format_RGB32);
        if (band.isNull())
            return QImage();
        for (int y = 0; y < rows; ++y) {
            const QRgb* in = reinterpret_cast<const QRgb*>(band.constScanLine(y));
            uchar* out = plane.scanLine(y0 + y);
            for (int x = 0; x < band.width(); ++x)
                out[x] = uchar(qRed(in[x]));
        }
    }
    return plane;
}

std::optional<double> statedResolution(const QImage& image, bool fileHasResolution)
{
    if (!fileHasResolution || image.dotsPerMeterX() <= 0)
        return std::nullopt;
    const double dpi = dpiFromDotsPerMetre(image.dotsPerMeterX());
    if (std::fabs(dpi - 72.0) < 0.5 || std::fabs(dpi - 96.0) < 0.5)
        return std::nullopt;
    return dpi;
}

ScanLoad loadScan(const QString& path, std::optional<double> dpi, const StopRequest& stop, int pdfPage)
{
    OpenedScanFile opened = openScanFile(path, stop);
    if (!opened.file)
        return failed(opened.error);
    ScanLoad load;
    try {
        load = isPdf(*opened.file) ? loadPdf(*opened.file, path, stop, pdfPage) : loadRaster(*opened.file, path, stop);
    } catch (const std::bad_alloc&) {
        // A decoder out of memory (a PDF page's operators, a JBIG2 image).
        return failed(QStringLiteral("Muisti ei riitä skannauksen %1 lukemiseen. Sulje muita ohjelmia tai tallenna "
                                     "skannaus pienemmällä tarkkuudella, esimerkiksi 600 dpi.")
                          .arg(path));
    }
    if (!load.scan)
        return load;
    if (dpi) {
        load.scan->dpiX = *dpi;
        load.scan->dpiY = *dpi;
        return load;
    }
    if (!load.resolutionFromFile) {
        load.scan.reset();
        load.resolutionMissing = true;
        load.error = QStringLiteral("Tiedosto %1 ei kerro skannauksen tarkkuutta. Anna se valitsimella "
                                    "--scan-dpi, esimerkiksi --scan-dpi 600 (tarkkuus, jolla skannasit sivun).")
                         .arg(path);
        return load;
    }
    const auto plausible = [](double v) { return v >= kMinScanDpi && v <= kMaxScanDpi; };
    if (!plausible(load.scan->dpiX) || !plausible(load.scan->dpiY)) {
        const QString stated = load.scan->dpiX == load.scan->dpiY
                                   ? dpiText(load.scan->dpiX)
                                   : QStringLiteral("%1 × %2").arg(dpiText(load.scan->dpiX), dpiText(load.scan->dpiY));
        load.scan.reset();
        load.error = QStringLiteral("Tiedosto %1 kertoo skannauksen tarkkuudeksi %2 dpi, mikä ei voi pitää paikkaansa "
                                    "(skannerit skannaavat %3–%4 dpi). Anna oikea tarkkuus valitsimella --scan-dpi, "
                                    "esimerkiksi --scan-dpi 600.")
                         .arg(path, stated, dpiText(kMinScanDpi), QLocale(QLocale::Finnish).toString(int(kMaxScanDpi)));
    }
    return load;
}

QString scanFileFormatProblem(const QString& path)
{
    const OpenedScanFile opened = openScanFile(path, {});
    if (!opened.file)
        return opened.error;
    const QByteArray head = opened.file->peek(1024);
    const bool known = head.startsWith("\x89PNG\r\n\x1a\n") || head.startsWith(QByteArray("II*\0", 4)) ||
                       head.startsWith(QByteArray("MM\0*", 4)) || head.startsWith("\xFF\xD8\xFF") ||
                       head.contains("%PDF-");
    if (known)
        return {};
    return QStringLiteral("Tiedosto %1 ei ole PNG-, TIFF- eikä JPEG-kuva eikä PDF-tiedosto. Tallenna skannaus "
                          "jossakin näistä muodoista.")
        .arg(path);
}

std::optional<double> scanFileResolution(const QString& path)
{
    // A PNG says it in one chunk before its pixels: a page-sized scan need
    // not be decoded for it.
    QFile file(path);
    if (QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) && file.peek(8).startsWith("\x89PNG")) {
        const std::optional<PngPhys> phys = pngPhys(file);
        if (!phys)
            return std::nullopt;
        const double dpi = dpiFromDotsPerMetre(phys->x);
        if (std::fabs(dpi - 72.0) < 0.5 || std::fabs(dpi - 96.0) < 0.5 || dpi < kMinScanDpi || dpi > kMaxScanDpi)
            return std::nullopt;
        return dpi;
    }
    const ScanLoad load = loadScan(path, std::nullopt);
    return load.resolutionFromFile ? std::optional<double>(load.fileDpi) : std::nullopt;
}

} // namespace raitakone::grading
