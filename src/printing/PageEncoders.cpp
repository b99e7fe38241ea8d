#include "printing/PageEncoders.h"

#include "surface/NumberText.h"

#include <QString>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace raitakone {
namespace {

// ---------------------------------------------------------------------------
// Deflate with the fixed Huffman codes (RFC 1951, 3.2.6). A page is almost
// entirely rows that repeat the row above and runs of one byte; general
// purpose zlib spends ~70 ms hashing the 17 MB of a 1200-dpi A4 page to find
// exactly those matches. Here a row equal to the one above becomes copies at
// the distance of one row, and a run becomes copies at distance 1, so the
// cost is one memcmp a row.

uint32_t reversedBits(uint32_t code, int length)
{
    uint32_t reversed = 0;
    for (int i = 0; i < length; ++i)
        reversed |= ((code >> i) & 1u) << (length - 1 - i);
    return reversed;
}

struct FixedCodes {
    // Literal/length symbols 0 .. 287, bit-reversed for an LSB-first stream.
    std::array<uint16_t, 288> code{};
    std::array<uint8_t, 288> length{};
    // Match lengths 3 .. 258: symbol, extra bit count and value.
    std::array<uint16_t, 259> lengthSymbol{};
    std::array<uint8_t, 259> lengthExtraBits{};
    std::array<uint8_t, 259> lengthExtra{};

    FixedCodes()
    {
        for (int v = 0; v < 288; ++v) {
            uint32_t c;
            int n;
            if (v < 144) {
                c = 0x30 + v, n = 8;
            } else if (v < 256) {
                c = 0x190 + (v - 144), n = 9;
            } else if (v < 280) {
                c = uint32_t(v - 256), n = 7;
            } else {
                c = 0xC0 + (v - 280), n = 8;
            }
            code[size_t(v)] = uint16_t(reversedBits(c, n));
            length[size_t(v)] = uint8_t(n);
        }
        static constexpr int base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                         31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static constexpr int extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        for (int len = 3; len <= 258; ++len) {
            int i = 28;
            while (base[i] > len)
                --i;
            lengthSymbol[size_t(len)] = uint16_t(257 + i);
            lengthExtraBits[size_t(len)] = uint8_t(extra[i]);
            lengthExtra[size_t(len)] = uint8_t(len - base[i]);
        }
    }
};

const FixedCodes& fixedCodes()
{
    static const FixedCodes codes;
    return codes;
}

struct DistanceCode {
    uint32_t code = 0; // bit-reversed, 5 bits
    int extraBits = 0;
    uint32_t extra = 0;
};

DistanceCode distanceCode(int distance)
{
    static constexpr int base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                     193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    int i = 29;
    while (base[i] > distance)
        --i;
    const int extraBits = i < 4 ? 0 : i / 2 - 1;
    return {reversedBits(uint32_t(i), 5), extraBits, uint32_t(distance - base[i])};
}

constexpr int kMaxDistance = 32768;

class FixedDeflate {
public:
    explicit FixedDeflate(QByteArray& out) : out_(out)
    {
        out_.append(char(0x78)); // deflate, 32 KB window
        out_.append(char(0x01)); // fastest, no dictionary; 0x7801 % 31 == 0
        putBits(1, 1);           // final block
        putBits(1, 2);           // fixed Huffman codes
    }

    void literal(uint8_t byte) { putBits(codes_.code[byte], codes_.length[byte]); }

    // Emits `bytes` (n of them), which repeat the stream `distance` back.
    void copy(const uint8_t* bytes, int n, int distance)
    {
        if (n < 3) {
            for (int i = 0; i < n; ++i)
                literal(bytes[i]);
            return;
        }
        const DistanceCode d = distanceCode(distance);
        int done = 0;
        while (n - done >= 3) {
            int len = std::min(n - done, 258);
            const int rest = n - done - len;
            if (rest > 0 && rest < 3)
                len -= 3 - rest; // leave a tail a match can take
            putBits(codes_.code[codes_.lengthSymbol[size_t(len)]], codes_.length[codes_.lengthSymbol[size_t(len)]]);
            putBits(codes_.lengthExtra[size_t(len)], codes_.lengthExtraBits[size_t(len)]);
            putBits(d.code, 5);
            putBits(d.extra, d.extraBits);
            done += len;
        }
        for (; done < n; ++done)
            literal(bytes[done]);
    }

    // Literals, with every run of four or more equal bytes as a copy.
    void runs(const uint8_t* bytes, int n)
    {
        int i = 0;
        while (i < n) {
            const uint8_t b = bytes[i];
            int j = i + 1;
            while (j < n && bytes[j] == b)
                ++j;
            if (j - i >= 4) {
                literal(b);
                copy(bytes + i + 1, j - i - 1, 1);
            } else {
                for (int k = i; k < j; ++k)
                    literal(b);
            }
            i = j;
        }
    }

    // End of block, padding to a byte, and the zlib trailer.
    void end(uLong adler)
    {
        putBits(codes_.code[256], codes_.length[256]);
        if (bitCount_ > 0)
            putBits(0, 8 - bitCount_);
        for (int shift = 24; shift >= 0; shift -= 8)
            out_.append(char((adler >> shift) & 0xFF));
    }

private:
    void putBits(uint32_t value, int count)
    {
        bits_ |= uint64_t(value) << bitCount_;
        bitCount_ += count;
        while (bitCount_ >= 8) {
            out_.append(char(bits_ & 0xFF));
            bits_ >>= 8;
            bitCount_ -= 8;
        }
    }

    const FixedCodes& codes_ = fixedCodes();
    QByteArray& out_;
    uint64_t bits_ = 0;
    int bitCount_ = 0;
};

// ---------------------------------------------------------------------------

QImage pageImage(const PageRaster& page, CompressedPage::Pixels& pixels)
{
    const QImage& image = page.image();
    const QList<QRgb> bilevelTable{qRgb(255, 255, 255), qRgb(0, 0, 0)};
    if (image.format() == QImage::Format_Mono && image.colorTable() == bilevelTable) {
        pixels = CompressedPage::Pixels::Bilevel;
        return image;
    }
    if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB) {
        pixels = CompressedPage::Pixels::Palette;
        return image.convertToFormat(QImage::Format_Indexed8);
    }
    if (image.format() == QImage::Format_Indexed8) {
        pixels = CompressedPage::Pixels::Palette;
        return image;
    }
    pixels = CompressedPage::Pixels::Rgb;
    return image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
}

// Row y of the image as stored in the stream, after its filter byte.
void packRow(const QImage& image, CompressedPage::Pixels pixels, int y, uint8_t* out)
{
    const uchar* line = image.constScanLine(y);
    const int w = image.width();
    switch (pixels) {
    case CompressedPage::Pixels::Bilevel: {
        // Stored as 1-bit grey (0 black), the inverse of the raster's bits.
        const int bytes = (w + 7) / 8;
        for (int i = 0; i < bytes; ++i)
            out[i] = uint8_t(~line[i]);
        if (w % 8 != 0)
            out[bytes - 1] &= uint8_t(0xFF << (8 - w % 8));
        break;
    }
    case CompressedPage::Pixels::Palette:
        std::memcpy(out, line, size_t(w));
        break;
    case CompressedPage::Pixels::Rgb: {
        const auto* rgb = reinterpret_cast<const QRgb*>(line);
        for (int x = 0; x < w; ++x) {
            out[3 * x] = uint8_t(qRed(rgb[x]));
            out[3 * x + 1] = uint8_t(qGreen(rgb[x]));
            out[3 * x + 2] = uint8_t(qBlue(rgb[x]));
        }
        break;
    }
    }
}

void appendBE32(QByteArray& out, uint32_t v)
{
    out.append(char(v >> 24));
    out.append(char(v >> 16));
    out.append(char(v >> 8));
    out.append(char(v));
}

void appendChunk(QByteArray& png, const char type[4], const QByteArray& data)
{
    appendBE32(png, uint32_t(data.size()));
    const qsizetype start = png.size();
    png.append(type, 4);
    png.append(data);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + start), uInt(png.size() - start));
    appendBE32(png, uint32_t(crc));
}

// A text chunk: tEXt when the value is Latin-1, otherwise iTXt in UTF-8.
void appendText(QByteArray& png, const char* key, const std::string& utf8)
{
    const QString value = QString::fromStdString(utf8);
    const bool latin1 = std::all_of(value.begin(), value.end(), [](QChar c) { return c.unicode() < 256; });
    QByteArray data(key);
    data.append('\0');
    if (latin1) {
        data.append(value.toLatin1());
        appendChunk(png, "tEXt", data);
    } else {
        data.append('\0'); // uncompressed
        data.append('\0'); // method
        data.append('\0'); // no language tag
        data.append('\0'); // no translated keyword
        data.append(value.toUtf8());
        appendChunk(png, "iTXt", data);
    }
}

uint32_t pixelsPerMetre(double dpi) { return uint32_t(std::lround(dpi / 0.0254)); }

// The PDF's lengths are written to the hundred-thousandth of a point.
constexpr double kHair = 1e-5;

// The length of n pixels in points, two to three hairs short. Renderers span
// an image from floor(y0) to floor(y1) + 1 device pixels (poppler); an image
// that converts back to exactly n pixels (595.32 pt at 600 dpi) would come
// out one pixel larger and resample every row and column. It hangs one hair
// below the sheet's top edge (see encodePdf), so both ends stay inside its n
// pixels whatever the floating point makes of them. Hairs are far below any
// rasteriser's pixel-centre rule.
double gridPoints(int pixels, double dpi) { return (std::floor(pixels * 72.0 / dpi * 1e5) - 2) / 1e5; }

// A length rounded to the 1e-5 pt the PDF writes it with.
double pdfRounded(double points) { return std::round(points * 1e5) / 1e5; }

// PDF numbers are read in the C locale's form by every reader.
QByteArray pdfNumber(double value) { return QByteArray::fromStdString(plainDecimal(value, 5)); }

} // namespace

int CompressedPage::bytesPerRow() const
{
    switch (pixels) {
    case Pixels::Bilevel:
        return (width + 7) / 8;
    case Pixels::Palette:
        return width;
    case Pixels::Rgb:
        return 3 * width;
    }
    return 0;
}

CompressedPage compressPage(const PageRaster& page)
{
    CompressedPage result;
    const QImage image = pageImage(page, result.pixels);
    result.width = image.width();
    result.height = image.height();
    if (result.pixels == CompressedPage::Pixels::Palette)
        result.palette = image.colorTable();

    // Each stream row is a filter byte (0: none) and the packed pixels.
    const int stride = result.bytesPerRow() + 1;
    std::vector<uint8_t> current(size_t(stride), 0);
    std::vector<uint8_t> previous(size_t(stride), 0);
    uLong adler = adler32(0, nullptr, 0);
    uLong rowAdler = 0;

    // The bytes of a stored row that hold pixels; a row whose bytes equal the
    // row above packs to the same stream row.
    const size_t pixelBytes = size_t(image.width() * image.depth() + 7) / 8;

    FixedDeflate deflater(result.scanlines);
    for (int y = 0; y < result.height; ++y) {
        bool repeat = y > 0 && stride <= kMaxDistance &&
                      std::memcmp(image.constScanLine(y), image.constScanLine(y - 1), pixelBytes) == 0;
        if (!repeat) {
            packRow(image, result.pixels, y, current.data() + 1);
            repeat = y > 0 && stride <= kMaxDistance && current == previous;
            if (!repeat)
                current.swap(previous);
        }
        // `previous` now holds this row as it goes into the stream.
        if (repeat) {
            deflater.copy(previous.data(), stride, stride);
        } else {
            deflater.runs(previous.data(), stride);
            rowAdler = adler32(1, previous.data(), uInt(stride));
        }
        adler = adler32_combine(adler, rowAdler, stride);
    }
    deflater.end(adler);
    return result;
}

QByteArray encodePng(const CompressedPage& page, const PageGeometry& g, const JobSettings& job)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);

    QByteArray header;
    appendBE32(header, uint32_t(page.width));
    appendBE32(header, uint32_t(page.height));
    switch (page.pixels) {
    case CompressedPage::Pixels::Bilevel:
        header.append(char(1)).append(char(0)); // 1-bit grey
        break;
    case CompressedPage::Pixels::Palette:
        header.append(char(8)).append(char(3)); // 8-bit palette
        break;
    case CompressedPage::Pixels::Rgb:
        header.append(char(8)).append(char(2)); // 8-bit RGB
        break;
    }
    header.append(3, '\0'); // deflate, adaptive filtering, no interlace
    appendChunk(png, "IHDR", header);

    QByteArray physical;
    appendBE32(physical, pixelsPerMetre(g.dpiX));
    appendBE32(physical, pixelsPerMetre(g.dpiY));
    physical.append(char(1)); // unit: metre
    appendChunk(png, "pHYs", physical);

    if (page.pixels == CompressedPage::Pixels::Palette) {
        QByteArray palette;
        for (QRgb c : page.palette)
            palette.append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
        appendChunk(png, "PLTE", palette);
    }

    appendText(png, "Title", job.title);
    appendText(png, "PrintQuality", std::to_string(job.printQuality));
    appendText(png, "ColorMode", std::to_string(job.colorMode));
    if (g.paper.stated())
        appendText(png, "Paper", g.paper.optionText());

    constexpr qsizetype kChunk = 1 << 20;
    for (qsizetype at = 0; at < page.scanlines.size(); at += kChunk)
        appendChunk(png, "IDAT", page.scanlines.mid(at, kChunk));
    appendChunk(png, "IEND", {});
    return png;
}

QByteArray encodePng(const PageRaster& page, const PageGeometry& g, const JobSettings& job)
{
    return encodePng(compressPage(page), g, job);
}

QByteArray encodePdf(const CompressedPage& page, const PageGeometry& g)
{
    // The page is the sheet as the printer states it, whatever the rounding
    // of the pixel grid; without a stated size, the grid's own. The image is
    // the grid, one image pixel to one device pixel, hung from the sheet's
    // top-left corner where the drawing origin is: a rasteriser that lays the
    // page on the sheet by its top edge or by its bottom edge puts every image
    // row on a device row, as long as the page is the sheet it rasterises.
    const double imageWidth = gridPoints(page.width, g.dpiX);
    const double imageHeight = gridPoints(page.height, g.dpiY);
    const double sheetWidth = pdfRounded(g.sheetWidthPoints > 0 ? g.sheetWidthPoints : imageWidth + kHair);
    const double sheetHeight = pdfRounded(g.sheetHeightPoints > 0 ? g.sheetHeightPoints : imageHeight + kHair);
    const QByteArray width = pdfNumber(sheetWidth);
    const QByteArray height = pdfNumber(sheetHeight);

    QByteArray colourSpace;
    int colours = 1;
    switch (page.pixels) {
    case CompressedPage::Pixels::Bilevel:
        colourSpace = "/DeviceGray /BitsPerComponent 1";
        break;
    case CompressedPage::Pixels::Palette: {
        QByteArray table;
        for (QRgb c : page.palette) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%02X%02X%02X", qRed(c), qGreen(c), qBlue(c));
            table.append(hex);
        }
        colourSpace = "[/Indexed /DeviceRGB " + QByteArray::number(page.palette.size() - 1) + " <" + table +
                      ">] /BitsPerComponent 8";
        break;
    }
    case CompressedPage::Pixels::Rgb:
        colourSpace = "/DeviceRGB /BitsPerComponent 8";
        colours = 3;
        break;
    }
    const int bitsPerComponent = page.pixels == CompressedPage::Pixels::Bilevel ? 1 : 8;

    const QByteArray content = "q " + pdfNumber(imageWidth) + " 0 0 " + pdfNumber(imageHeight) + " 0 "
        + pdfNumber(sheetHeight - kHair - imageHeight) + " cm /Im0 Do Q\n";

    QByteArray pdf("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    std::vector<qsizetype> offsets;
    auto object = [&](const QByteArray& body) {
        offsets.push_back(pdf.size());
        pdf.append(QByteArray::number(qsizetype(offsets.size())) + " 0 obj\n" + body + "\nendobj\n");
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + width + " " + height +
           "] /Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>");

    offsets.push_back(pdf.size());
    pdf.append("4 0 obj\n<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(page.width) +
               " /Height " + QByteArray::number(page.height) + " /ColorSpace " + colourSpace +
               " /Interpolate false /Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors " +
               QByteArray::number(colours) + " /BitsPerComponent " + QByteArray::number(bitsPerComponent) +
               " /Columns " + QByteArray::number(page.width) + " >> /Length " +
               QByteArray::number(page.scanlines.size()) + " >>\nstream\n");
    pdf.append(page.scanlines);
    pdf.append("\nendstream\nendobj\n");

    object("<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream");

    const qsizetype xref = pdf.size();
    pdf.append("xref\n0 " + QByteArray::number(qsizetype(offsets.size() + 1)) + "\n");
    pdf.append("0000000000 65535 f\r\n");
    for (qsizetype offset : offsets) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010lld 00000 n\r\n", static_cast<long long>(offset));
        pdf.append(entry);
    }
    pdf.append("trailer\n<< /Size " + QByteArray::number(qsizetype(offsets.size() + 1)) +
               " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n");
    return pdf;
}

QByteArray encodePdf(const PageRaster& page, const PageGeometry& g)
{
    return encodePdf(compressPage(page), g);
}

} // namespace raitakone
