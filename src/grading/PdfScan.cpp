#include "grading/PdfScan.h"

#include <Error.h>
#include <GfxState.h>
#include <GlobalParams.h>
#include <OutputDev.h>
#include <PDFDoc.h>
#include <Page.h>
#include <Stream.h>
#include <goo/gfile.h>

#include <QFile>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <cmath>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace raitakone::grading {
namespace {

// poppler's complaints about a damaged file would go to stderr; the
// loader says what is wrong in its own words.
void quietly(ErrorCategory, Goffset, const char*) {}

bool abortRequested(void* stop)
{
    const auto* request = static_cast<const StopRequest*>(stop);
    return *request && (*request)();
}

struct DrawnImage {
    QSize pixels;
    double a = 0, b = 0, c = 0, d = 0; // where the page draws it: the unit square's matrix at 72 dpi, y down
    qint64 codedPixels = 0;            // a JPEG 2000 or JBIG2 image's size by its own data; 0 when not known
    bool jpeg2000 = false;
};

// openjpeg holds four bytes a sample of the whole image while it decodes:
// a JPEG 2000 scan is read up to about an A4 page at 850 dpi.
constexpr qint64 kMaxJpeg2000Pixels = 70'000'000;

quint32 bigEndian(const QByteArray& bytes, qsizetype at)
{
    return quint32(uchar(bytes[at])) << 24 | quint32(uchar(bytes[at + 1])) << 16 | quint32(uchar(bytes[at + 2])) << 8 |
           quint32(uchar(bytes[at + 3]));
}

// The pixels a JPEG 2000 or JBIG2 image has by its own data: poppler decodes
// those whole at that size, whatever the image's dictionary says. JPEG 2000:
// the codestream's SIZ marker; JBIG2: the page information segment. 0 where
// the stream is neither or does not say.
qint64 codedPixels(Stream* str)
{
    const StreamKind kind = str->getKind();
    Stream* raw = kind == strJPX || kind == strJBIG2 ? str->getNextStream() : nullptr;
    if (!raw)
        return 0;
    QByteArray head;
    raw->reset();
    for (int c; head.size() < 4096 && (c = raw->getChar()) != EOF;)
        head += char(c);
    raw->close();
    if (kind == strJPX) {
        const qsizetype siz = head.indexOf(QByteArray("\xFF\x4F\xFF\x51", 4));
        if (siz < 0 || head.size() < siz + 24)
            return 0;
        const qint64 width = qint64(bigEndian(head, siz + 8)) - bigEndian(head, siz + 16);
        const qint64 height = qint64(bigEndian(head, siz + 12)) - bigEndian(head, siz + 20);
        return std::max<qint64>(0, width) * std::max<qint64>(0, height);
    }
    // JBIG2 segment headers: number, flags, referred-to segments, page, data length.
    for (qsizetype at = 0; at + 11 <= head.size();) {
        const quint32 number = bigEndian(head, at);
        const uchar flags = uchar(head[at + 4]);
        const int referred = uchar(head[at + 5]) >> 5;
        if (referred > 4)
            return 0;
        const int numberBytes = number <= 256 ? 1 : number <= 65536 ? 2 : 4;
        const qsizetype length = at + 6 + referred * numberBytes + ((flags & 0x40) ? 4 : 1);
        if (length + 12 > head.size())
            return 0;
        const quint32 dataLength = bigEndian(head, length);
        if ((flags & 0x3F) == 48) { // page information: width, height
            const quint32 width = bigEndian(head, length + 4), height = bigEndian(head, length + 8);
            return height == 0xFFFFFFFFu ? 0 : qint64(width) * height;
        }
        at = length + 4 + qsizetype(dataLength);
    }
    return 0;
}

// Sees the images a page draws, in drawing order, and reads the one asked
// for into a plane: its red channel (the grey of a grey image), one row at
// a time, turned upright as the page draws it.
class ImageReader : public OutputDev {
public:
    explicit ImageReader(const StopRequest& stop) : stop_(stop) {}

    bool upsideDown() override { return true; }
    bool useDrawChar() override { return false; }
    bool interpretType3Chars() override { return false; }

    void drawImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                   const int*, bool) override
    {
        take(state, str, width, height, colorMap);
    }
    void drawMaskedImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                         bool, Stream*, int, int, bool, bool) override
    {
        take(state, str, width, height, colorMap);
    }
    void drawSoftMaskedImage(GfxState* state, Object*, Stream* str, int width, int height,
                             GfxImageColorMap* colorMap, bool, Stream*, int, int, GfxImageColorMap*, bool) override
    {
        take(state, str, width, height, colorMap);
    }

    std::vector<DrawnImage> drawn;
    int readIndex = -1; // the drawn image to read
    QImage plane;       // its size; filled when read
    bool stopped = false;
    bool damaged = false;
    // The image's colour space is ICCBased: poppler's colour management has
    // turned its values into sRGB through the profile.
    bool iccBased = false;

private:
    void take(GfxState* state, Stream* str, int width, int height, GfxImageColorMap* colorMap)
    {
        const double* m = state->getCTM();
        const int index = int(drawn.size());
        drawn.push_back({QSize(width, height), m[0], m[1], m[2], m[3], readIndex < 0 ? codedPixels(str) : 0,
                         str->getKind() == strJPX});
        if (index == readIndex && colorMap && colorMap->isOk()) {
            iccBased = colorMap->getColorSpace() && colorMap->getColorSpace()->getMode() == csICCBased;
            read(drawn.back(), str, colorMap);
        }
    }

    void read(const DrawnImage& image, Stream* str, GfxImageColorMap* colorMap)
    {
        const int width = image.pixels.width(), height = image.pixels.height();
        // Image row 0 is the top of the unit square; the page may mirror it.
        const bool flipX = image.a < 0, flipY = image.d > 0;
        const int comps = colorMap->getNumPixelComps(), bits = colorMap->getBits();
        const size_t samples = size_t(width) * size_t(comps);
        const size_t rowBytes = (samples * size_t(bits) + 7) / 8;
        std::vector<unsigned char> raw(rowBytes), unpacked(samples), rgb(size_t(width) * 3);
        // Read here rather than through poppler's ImageStream, which pads a
        // stream that ends early and so would grade a page of made-up rows.
        str->reset();
        for (int y = 0; y < height; ++y) {
            if ((y & 63) == 0 && stop_ && stop_()) {
                stopped = true;
                break;
            }
            if (str->doGetChars(int(rowBytes), raw.data()) != int(rowBytes)) {
                damaged = true;
                break;
            }
            unpack(raw, bits, unpacked);
            colorMap->getRGBLine(unpacked.data(), rgb.data(), width);
            uchar* out = plane.scanLine(flipY ? height - 1 - y : y);
            for (int x = 0; x < width; ++x)
                out[flipX ? width - 1 - x : x] = rgb[size_t(x) * 3];
        }
        str->close();
    }

    // One byte a sample, as the colour map takes them; 16-bit samples by
    // their high byte, as poppler's colour maps read them.
    static void unpack(const std::vector<unsigned char>& raw, int bits, std::vector<unsigned char>& samples)
    {
        if (bits == 8) {
            std::copy_n(raw.begin(), samples.size(), samples.begin());
            return;
        }
        if (bits == 16) {
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = raw[2 * i];
            return;
        }
        const unsigned mask = (1u << bits) - 1;
        for (size_t i = 0; i < samples.size(); ++i) {
            const size_t bit = i * size_t(bits);
            samples[i] = (raw[bit >> 3] >> (8 - bits - int(bit & 7))) & mask;
        }
    }

    const StopRequest& stop_;
};

// A PDF ends by giving the offset of its cross-reference (startxref N
// %%EOF). Where that does not point at one inside the file, poppler rebuilds
// it by reading the whole file, which takes minutes on a large damaged one.
bool endsWithItsCrossReference(QFile& file)
{
    const qint64 start = file.pos(), size = file.size();
    file.seek(std::max<qint64>(0, size - 2048));
    const QByteArray tail = file.read(2048);
    const qsizetype at = tail.lastIndexOf("startxref");
    bool ok = false;
    const qint64 offset = at < 0 ? -1 : tail.mid(at + 9).trimmed().split('\n').value(0).trimmed().toLongLong(&ok);
    // Writers that miscount by a few bytes are common, and poppler finds
    // their cross-reference nearby: a table or an object within 1 KB will do.
    bool found = false;
    if (ok && offset >= 0 && offset < size && file.seek(std::max<qint64>(0, offset - 1024))) {
        const QByteArray around = file.read(2048);
        found = around.contains("xref") || around.contains(" obj");
    }
    file.seek(start);
    return found;
}

ScanLoad failed(const QString& error)
{
    ScanLoad load;
    load.error = error;
    return load;
}

// The last PDF this thread opened, kept open: a report reads a PDF's pages
// one after another, and poppler reads the whole cross-reference of the file
// to open it, so opening it again for each page makes a long PDF quadratic.
// A file is the same one while its inode, size and time of change are.
struct OpenDocument {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec changed{};
    std::unique_ptr<GlobalParamsIniter> params;
    std::unique_ptr<GooFile> file;
    std::unique_ptr<PDFDoc> document;
};
thread_local OpenDocument openDocument;

// The document of the open file, opened or the one kept; null when poppler
// cannot have the file.
PDFDoc* documentOf(QFile& file)
{
    struct stat status {};
    if (::fstat(file.handle(), &status) != 0)
        return nullptr;
    OpenDocument& kept = openDocument;
    if (kept.document && kept.device == status.st_dev && kept.inode == status.st_ino && kept.size == status.st_size &&
        kept.changed.tv_sec == status.st_ctim.tv_sec && kept.changed.tv_nsec == status.st_ctim.tv_nsec)
        return kept.document.get();
    kept = OpenDocument{};
    kept.params = std::make_unique<GlobalParamsIniter>(quietly);
    // poppler reads the file already opened and checked, through a handle of its own.
    const int fd = ::dup(file.handle());
    kept.file = fd < 0 ? nullptr : GooFile::open(fd);
    if (!kept.file)
        return nullptr;
    kept.document = std::make_unique<PDFDoc>(new FileStream(kept.file.get(), 0, false, kept.file->size(), Object(objNull)));
    kept.device = status.st_dev;
    kept.inode = status.st_ino;
    kept.size = status.st_size;
    kept.changed = status.st_ctim;
    return kept.document.get();
}

// poppler keeps a copy of the whole graphics state for each q that is not
// yet closed by its Q: a page of a million would take gigabytes. A scan's
// page nests one or two.
constexpr int kMaxSavedStates = 1000;

bool savesTooDeep(PDFDoc& document, int pageNumber)
{
    Page* page = document.getPage(pageNumber);
    if (!page)
        return false;
    const Object contents = page->getContents();
    std::vector<Object> streams;
    if (contents.isArray())
        for (int i = 0; i < contents.arrayGetLength(); ++i)
            streams.push_back(contents.arrayGet(i));
    else if (contents.isStream())
        streams.push_back(contents.copy());
    int depth = 0;
    std::string token;
    const auto endToken = [&] {
        if (token == "q")
            ++depth;
        else if (token == "Q")
            depth = std::max(0, depth - 1);
        token.clear();
        return depth > kMaxSavedStates;
    };
    for (Object& object : streams) {
        if (!object.isStream())
            continue;
        Stream* str = object.getStream();
        str->reset();
        bool deep = false;
        for (int c; !deep && (c = str->getChar()) != EOF;) {
            if (std::isspace(c) || std::strchr("()<>[]{}/%", c))
                deep = endToken();
            else if (token.size() < 8)
                token += char(c);
        }
        deep = deep || endToken();
        str->close();
        if (deep)
            return true;
    }
    return false;
}

} // namespace

ScanLoad loadPdf(QFile& file, const QString& path, const StopRequest& stop, int page)
{
    if (!endsWithItsCrossReference(file))
        return failed(QStringLiteral("PDF-tiedostoa %1 ei voi lukea: se on vioittunut tai katkennut kesken (sen "
                                     "lopusta puuttuu hakemisto). Kopioi tai tallenna skannaus uudelleen.")
                          .arg(path));
    PDFDoc* opened = documentOf(file);
    if (!opened)
        return failed(QStringLiteral("PDF-tiedostoa %1 ei voi avata.").arg(path));
    PDFDoc& document = *opened;
    if (!document.isOk() && document.getErrorCode() == errEncrypted)
        return failed(QStringLiteral("PDF-tiedosto %1 on suojattu salasanalla, joten sitä ei voi lukea. Tallenna "
                                     "skannaus uudelleen ilman salasanaa (tai PNG- tai TIFF-kuvana).")
                          .arg(path));
    if (!document.isOk() || document.getNumPages() < 1)
        return failed(QStringLiteral("PDF-tiedostoa %1 ei voi lukea: se on vioittunut tai katkennut kesken. Kopioi "
                                     "tai tallenna skannaus uudelleen.")
                          .arg(path));

    if (page < 1 || page > document.getNumPages())
        return failed(QStringLiteral("PDF-tiedostossa %1 ei ole sivua %2 (sivuja on %3).")
                          .arg(path)
                          .arg(page)
                          .arg(document.getNumPages()));

    if (savesTooDeep(document, page))
        return failed(QStringLiteral("PDF-tiedoston %1 sivulla on yli %2 sisäkkäistä tallennettua grafiikkatilaa "
                                     "(q). Skannerin tekemä sivu ei sellaista sisällä; tallenna skannaus uudelleen.")
                          .arg(path)
                          .arg(kMaxSavedStates));

    // First the images the page draws, none of them read.
    ImageReader reader(stop);
    document.displayPage(&reader, page, 72, 72, 0, true, false, false, abortRequested,
                         const_cast<StopRequest*>(&stop));
    ScanLoad load;
    if (stop && stop()) {
        load.stopped = true;
        return load;
    }
    if (reader.drawn.empty())
        return failed(QStringLiteral("PDF-tiedoston %1 sivu %2 ei näytä skannattua kuvaa. Tallenna skannaus "
                                     "PNG- tai TIFF-kuvana.")
                          .arg(path)
                          .arg(page));
    // The scan is the largest image the page draws.
    const auto chosen = std::max_element(reader.drawn.begin(), reader.drawn.end(), [](const auto& p, const auto& q) {
        return qint64(p.pixels.width()) * p.pixels.height() < qint64(q.pixels.width()) * q.pixels.height();
    });
    const DrawnImage image = *chosen;
    if (qint64(image.pixels.width()) * image.pixels.height() > kMaxScanPixels)
        return failed(scanTooLargeError(path, image.pixels));
    const qint64 statedPixels = qint64(image.pixels.width()) * image.pixels.height();
    if (image.codedPixels > statedPixels)
        return failed(QStringLiteral("PDF-tiedoston %1 kuvan pakatut tiedot lupaavat %2 megapikseliä, vaikka kuva "
                                     "on %3 × %4 pikseliä. Tiedosto on vioittunut; tallenna skannaus uudelleen.")
                          .arg(path)
                          .arg(image.codedPixels / 1000000)
                          .arg(image.pixels.width())
                          .arg(image.pixels.height()));
    if (image.jpeg2000 && statedPixels > kMaxJpeg2000Pixels)
        return failed(QStringLiteral("PDF-tiedoston %1 kuva on JPEG 2000 -muodossa ja %2 megapikseliä; sellainen "
                                     "luetaan enintään %3 megapikselin kokoisena. Tallenna skannaus PNG- tai "
                                     "TIFF-kuvana tai pienemmällä tarkkuudella.")
                          .arg(path)
                          .arg(statedPixels / 1000000)
                          .arg(kMaxJpeg2000Pixels / 1000000));
    const bool upright = std::fabs(image.b) + std::fabs(image.c) < 1e-6 * (std::fabs(image.a) + std::fabs(image.d));
    if (!upright || image.a == 0.0 || image.d == 0.0)
        return failed(QStringLiteral("PDF-tiedoston %1 sivu näyttää skannatun kuvan kierrettynä. Tallenna skannaus "
                                     "PNG- tai TIFF-kuvana tai suoraan skannerilta PDF:ksi kiertämättä.")
                          .arg(path));

    reader.plane = QImage(image.pixels, QImage::Format_Grayscale8);
    if (reader.plane.isNull())
        return failed(outOfMemoryError(path, image.pixels));
    reader.readIndex = int(chosen - reader.drawn.begin());
    reader.drawn.clear();
    document.displayPage(&reader, page, 72, 72, 0, true, false, false, abortRequested,
                         const_cast<StopRequest*>(&stop));
    if (reader.stopped || (stop && stop())) {
        load.stopped = true;
        return load;
    }
    if (reader.damaged)
        return failed(QStringLiteral("PDF-tiedoston %1 kuva on vioittunut tai katkennut kesken. Kopioi tai tallenna "
                                     "skannaus uudelleen.")
                          .arg(path));
    load.pages = document.getNumPages();
    if (load.pages > 1 && page == 1)
        load.notice = QStringLiteral("Huom: PDF-tiedostossa %1 on %2 sivua; arvioitiin vain ensimmäinen sivu.")
                          .arg(path)
                          .arg(document.getNumPages());
    // Drawn w points wide, an image of n pixels is n / (w / 72) dpi.
    const auto nearWhole = [](double dpi) { return std::fabs(dpi - std::round(dpi)) < 0.01 ? std::round(dpi) : dpi; };
    const double dpiX = nearWhole(image.pixels.width() / (std::fabs(image.a) / 72.0));
    const double dpiY = nearWhole(image.pixels.height() / (std::fabs(image.d) / 72.0));
    ScanEncoding encoding;
    if (reader.iccBased) {
        encoding.source = ReflectanceSource::Icc;
        encoding.description = QStringLiteral("PDF-kuvan ICC-profiili, muunnettu sRGB:ksi");
    }
    load.scan = Scan{reader.plane, dpiX, dpiY, encoding};
    load.resolutionFromFile = true;
    load.fileDpi = dpiX;
    return load;
}

} // namespace raitakone::grading
