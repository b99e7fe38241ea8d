#include "pattern/BarPattern.h"
#include "printing/FilePrinter.h"
#include "printing/PageEncoders.h"
#include "printing/PrinterSelection.h"
#include "surface/PrinterSurface.h"
#include "surface/RuntimeError.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zlib.h>

#include <bit>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include <sys/resource.h>

namespace raitakone {
namespace {

namespace fs = std::filesystem;

// ---- helpers ----------------------------------------------------------------

PageGeometry geometryAt(double dpiX, double dpiY)
{
    const int width = int(std::lround(210.0 / 25.4 * dpiX));
    const int height = int(std::lround(297.0 / 25.4 * dpiY));
    return {dpiX, dpiY, width, height, PixelRect{0, 0, width, height}};
}

// A page like a print test's: the bar pattern one module per dpi / 86 pixels
// (7 at 600 dpi), a patch of scattered pixels standing in for text, and
// single pixels in the corners and the last column.
PageRaster testPage(const PageGeometry& g)
{
    PageRaster page(g.sheetWidth, g.sheetHeight);
    const int module = std::max(1, int(g.dpiX) / 86);
    const int left = int(g.dpiX / 2) + 3;
    const int top = int(g.dpiY);
    const int barHeight = int(g.dpiY / 2.3);
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i))
            page.fill({left + (i - 1) * module, top, left + i * module, top + barHeight}, kBlack);
    uint32_t seed = 12345;
    for (int y = top + barHeight + 20; y < top + barHeight + 80; ++y)
        for (int x = left; x < left + 211; ++x) {
            seed = seed * 1103515245u + 12345u;
            if ((seed >> 16) & 1)
                page.setPixel(x, y, kBlack);
        }
    page.setPixel(0, 0, kBlack);
    page.setPixel(g.sheetWidth - 1, 0, kBlack);
    page.setPixel(g.sheetWidth - 1, g.sheetHeight - 1, kBlack);
    page.fill({g.sheetWidth - 5, 40, g.sheetWidth, 45}, kBlack);
    return page;
}

QImage readImage(const QByteArray& data)
{
    QImageReader::setAllocationLimit(0);
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return reader.read();
}

QImage readImageFile(const QString& path)
{
    QImageReader::setAllocationLimit(0);
    return QImageReader(path).read();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The number of pixels in which the image differs from the page, and the
// first of them. A one-bit image is compared a byte at a time, whichever
// bit value it uses for black.
long differingPixels(const QImage& image, const PageRaster& page, QPoint* first = nullptr)
{
    const QImage& expected = page.image();
    if (image.size() != expected.size())
        return -1;
    long count = 0;
    auto note = [&](int x, int y) {
        if (count++ == 0 && first)
            *first = QPoint(x, y);
    };
    if (page.isBilevel() && image.depth() == 1) {
        const QImage mono = image.format() == QImage::Format_Mono ? image : image.convertToFormat(QImage::Format_Mono);
        const uchar invert = qGray(mono.color(1)) > 127 ? 0xFF : 0x00;
        const int bytes = (image.width() + 7) / 8;
        for (int y = 0; y < image.height(); ++y) {
            const uchar* a = mono.constScanLine(y);
            const uchar* b = expected.constScanLine(y);
            for (int i = 0; i < bytes; ++i) {
                uchar diff = uchar(a[i] ^ invert ^ b[i]);
                if (i == bytes - 1 && image.width() % 8 != 0)
                    diff &= uchar(0xFF << (8 - image.width() % 8));
                if (diff != 0) {
                    note(i * 8 + std::countl_zero(diff), y);
                    count += std::popcount(diff) - 1;
                }
            }
        }
        return count;
    }
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != (expected.pixel(x, y) & 0xFFFFFF))
                note(x, y);
    return count;
}

struct Rendered {
    QImage image;
    QString errors;
    int exitCode = -1;
};

// The PDF rasterised by poppler's pdftoppm at the given resolution.
Rendered renderPdf(const QByteArray& pdf, double dpiX, double dpiY, bool mono)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("page.pdf");
    if (!writeFile(input, pdf))
        return {};
    QStringList arguments{"-rx", QString::number(dpiX), "-ry", QString::number(dpiY), "-singlefile"};
    if (mono)
        arguments << "-mono";
    arguments << input << dir.filePath("out");
    QProcess process;
    process.start("pdftoppm", arguments);
    if (!process.waitForFinished(120000))
        return {};
    Rendered rendered;
    rendered.exitCode = process.exitCode();
    rendered.errors = QString::fromLocal8Bit(process.readAllStandardError());
    rendered.image = readImageFile(dir.filePath(mono ? "out.pbm" : "out.ppm"));
    return rendered;
}

// ---- PNG --------------------------------------------------------------------

struct Resolution {
    double x;
    double y;
};

class PngPage : public ::testing::TestWithParam<Resolution> {};

TEST_P(PngPage, ReadsBackWithTheSamePixelsResolutionAndSettings)
{
    const auto [dpiX, dpiY] = GetParam();
    const PageGeometry g = geometryAt(dpiX, dpiY);
    const PageRaster page = testPage(g);
    const JobSettings job{"Raitakone: Valkea 3 (bf) – äö", -3, 1};

    const QImage image = readImage(encodePng(page, g, job));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.depth(), 1) << "a bilevel page stays one bit a pixel";
    QPoint first;
    EXPECT_EQ(differingPixels(image, page, &first), 0) << "first at " << first.x() << "," << first.y();
    EXPECT_EQ(std::lround(image.dotsPerMeterX() * 0.0254), std::lround(dpiX));
    EXPECT_EQ(std::lround(image.dotsPerMeterY() * 0.0254), std::lround(dpiY));
    EXPECT_EQ(image.text("Title").toStdString(), job.title);
    EXPECT_EQ(image.text("PrintQuality"), "-3");
    EXPECT_EQ(image.text("ColorMode"), "1");
}

INSTANTIATE_TEST_SUITE_P(Resolutions, PngPage,
                         ::testing::Values(Resolution{203, 203}, Resolution{300, 300}, Resolution{600, 600},
                                           Resolution{1200, 1200}, Resolution{600, 1200}),
                         [](const auto& info) {
                             return std::to_string(int(info.param.x)) + "x" + std::to_string(int(info.param.y));
                         });

TEST(PngPage, KeepsColoursExactlyAndLatinTitles)
{
    const PageGeometry g{300, 300, 61, 17, {0, 0, 61, 17}};
    PageRaster palette(61, 17);
    palette.fill({0, 0, 30, 17}, kBlack);
    palette.fill({3, 2, 9, 5}, 0x000001); // RGB(1, 0, 0), one step off black
    palette.setPixel(60, 16, 0x4D80C8);

    PageRaster rgb(61, 17, PageRaster::Storage::Colour);
    for (int i = 0; i < 61 * 17; ++i)
        rgb.setPixel(i % 61, i / 61, Colour(i * 2654435761u) & 0xFFFFFF);

    for (const PageRaster* page : {&palette, &rgb}) {
        const QImage image = readImage(encodePng(*page, g, {"Kynä", 0, 2}));
        QPoint first;
        EXPECT_EQ(differingPixels(image, *page, &first), 0) << "first at " << first.x() << "," << first.y();
        EXPECT_EQ(image.text("Title"), QString::fromUtf8("Kynä"));
        EXPECT_EQ(image.text("ColorMode"), "2");
    }
}

// ---- the compressed stream ---------------------------------------------------

// Rows that repeat, runs that cross the 258-byte match limit by 0, 1 and 2,
// widths that leave part of a byte, rows too wide to copy from the row above.
TEST(CompressedScanlines, InflateToEveryRowWhateverTheRunsAndWidths)
{
    std::vector<PageRaster> pages;
    for (int width : {1, 2, 3, 7, 8, 9, 2071})
        pages.push_back(testPage({300, 300, width, 5, {0, 0, width, 5}}));
    PageRaster runs(1100, 6);
    int x = 0;
    for (int length : {1, 2, 3, 4, 5, 257, 258, 259, 260, 261, 262}) {
        runs.fill({x, 0, x + length, 6}, x % 2 ? kBlack : 0x000001);
        x += length;
    }
    runs.fill({0, 3, 1100, 4}, 0x0000FF);
    pages.push_back(runs);
    PageRaster wide(11001, 4, PageRaster::Storage::Colour); // 33003 bytes a row
    wide.fill({5, 1, 9000, 3}, 0x123456);
    pages.push_back(wide);

    for (const PageRaster& page : pages) {
        SCOPED_TRACE(std::to_string(page.width()) + " wide");
        const CompressedPage compressed = compressPage(page);
        const uLongf expectedSize = uLongf(page.height()) * uLongf(compressed.bytesPerRow() + 1);
        std::vector<Bytef> rows(expectedSize + 16);
        uLongf size = rows.size();
        ASSERT_EQ(uncompress(rows.data(), &size, reinterpret_cast<const Bytef*>(compressed.scanlines.constData()),
                             uLong(compressed.scanlines.size())),
                  Z_OK)
            << "zlib rejects the stream (or its checksum)";
        EXPECT_EQ(size, expectedSize);
        for (int y = 0; y < page.height(); ++y)
            EXPECT_EQ(rows[size_t(y) * (compressed.bytesPerRow() + 1)], 0) << "filter byte of row " << y;

        const PageGeometry g{300, 300, page.width(), page.height(), page.bounds()};
        QPoint first;
        EXPECT_EQ(differingPixels(readImage(encodePng(compressed, g, {})), page, &first), 0)
            << "first at " << first.x() << "," << first.y();
    }
}

// ---- PDF --------------------------------------------------------------------

TEST(PdfPage, RasterisedAtThePageResolutionGivesTheSamePixels)
{
    for (const Resolution r : {Resolution{600, 600}, Resolution{300, 300}, Resolution{600, 1200}}) {
        SCOPED_TRACE(std::to_string(int(r.x)) + "x" + std::to_string(int(r.y)));
        const PageGeometry g = geometryAt(r.x, r.y);
        const PageRaster page = testPage(g);
        const Rendered rendered = renderPdf(encodePdf(page, g), r.x, r.y, true);
        ASSERT_EQ(rendered.exitCode, 0) << rendered.errors.toStdString();
        EXPECT_TRUE(rendered.errors.isEmpty()) << rendered.errors.toStdString();
        ASSERT_EQ(rendered.image.size(), page.image().size()) << "MediaBox is not the sheet";
        QPoint first;
        EXPECT_EQ(differingPixels(rendered.image, page, &first), 0) << "first at " << first.x() << "," << first.y();
    }
}

TEST(PdfPage, ColourPagesKeepTheirColours)
{
    PageRaster palette(90, 40);
    palette.fill({10, 5, 20, 35}, kBlack);
    palette.fill({30, 5, 40, 35}, 0x000001);
    palette.fill({50, 5, 60, 35}, 0x4D80C8);
    PageRaster rgb(90, 40, PageRaster::Storage::Colour);
    for (int i = 0; i < 90 * 40; ++i)
        rgb.setPixel(i % 90, i / 90, Colour(i * 2654435761u) & 0xFFFFFF);

    for (const PageRaster* page : {&palette, &rgb}) {
        const PageGeometry g{300, 300, page->width(), page->height(), page->bounds()};
        const Rendered rendered = renderPdf(encodePdf(*page, g), 300, 300, false);
        ASSERT_EQ(rendered.exitCode, 0) << rendered.errors.toStdString();
        QPoint first;
        EXPECT_EQ(differingPixels(rendered.image, *page, &first), 0) << "first at " << first.x() << "," << first.y();
    }
}

TEST(PdfPage, CrossReferencePointsAtEveryObject)
{
    const PageGeometry g{600, 600, 100, 50, {0, 0, 100, 50}};
    const QByteArray pdf = encodePdf(testPage(g), g);
    ASSERT_TRUE(pdf.startsWith("%PDF-1.4\n"));
    ASSERT_TRUE(pdf.endsWith("%%EOF\n"));

    const qsizetype startxref = pdf.lastIndexOf("startxref\n");
    ASSERT_GE(startxref, 0);
    const qsizetype xref = pdf.mid(startxref + 10).split('\n').first().toLongLong();
    ASSERT_TRUE(pdf.mid(xref).startsWith("xref\n0 6\n"));
    const QList<QByteArray> lines = pdf.mid(xref).split('\n');
    for (int object = 1; object <= 5; ++object) {
        const QByteArray entry = lines[2 + object];
        ASSERT_EQ(entry.size(), 19) << "entries are 20 bytes with their line end";
        const qsizetype offset = entry.left(10).toLongLong();
        EXPECT_TRUE(pdf.mid(offset).startsWith(QByteArray::number(object) + " 0 obj\n")) << "object " << object;
    }

    // The image stream is as long as its /Length says.
    const qsizetype image = pdf.indexOf("/Subtype /Image");
    const qsizetype lengthAt = pdf.indexOf("/Length ", image) + 8;
    const qsizetype length = pdf.mid(lengthAt, pdf.indexOf(' ', lengthAt) - lengthAt).toLongLong();
    const qsizetype data = pdf.indexOf("stream\n", image) + 7;
    EXPECT_EQ(pdf.mid(data + length, 10), "\nendstream");
}

// ---- the page-file printer ----------------------------------------------------

std::set<std::string> filesIn(const QString& dir)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.toStdString()))
        names.insert(entry.path().filename().string());
    return names;
}

PageRaster smallPage(int width)
{
    PageRaster page(width, 30);
    page.fill({2, 3, width / 2, 27}, kBlack);
    return page;
}

TEST(FilePrinter, IsAnA4PrinterAtItsResolution)
{
    QTemporaryDir dir;
    FilePrinter at600(dir.path().toStdString(), 600, 600);
    const PageGeometry g = at600.geometry();
    EXPECT_EQ(g.sheetWidth, 4961);
    EXPECT_EQ(g.sheetHeight, 7016);
    EXPECT_EQ(g.dpiX, 600);
    EXPECT_EQ(g.printable.left, 0);
    EXPECT_EQ(g.printable.top, 0);
    EXPECT_EQ(g.printable.right, g.sheetWidth);
    EXPECT_EQ(g.printable.bottom, g.sheetHeight);

    FilePrinter mixed(dir.path().toStdString(), 600, 1200);
    EXPECT_EQ(mixed.geometry().sheetWidth, 4961);
    EXPECT_EQ(mixed.geometry().sheetHeight, 14031);
    EXPECT_EQ(mixed.geometry().dpiY, 1200);
}

TEST(FilePrinter, AcceptsNamedQualitiesAndItsOwnResolution)
{
    QTemporaryDir dir;
    FilePrinter printer(dir.path().toStdString(), 600, 1200);
    for (int16_t q : {-1, -2, -3, -4, 600})
        EXPECT_NO_THROW(printer.checkPrintQuality(q)) << q;
    for (int16_t q : {0, -5, 300, 1200, 601}) {
        try {
            printer.checkPrintQuality(q);
            ADD_FAILURE() << q << " accepted";
        } catch (const RuntimeError& e) {
            EXPECT_NE(std::string(e.what()).find(std::to_string(q)), std::string::npos) << e.what();
        }
    }
}

TEST(FilePrinter, NumbersDocumentsOnFromTheHighestPresent)
{
    QTemporaryDir dir;
    FilePrinter printer(dir.path().toStdString(), 300, 300);
    printer.deliver(smallPage(20), {"a", 0, 0});
    printer.deliver(smallPage(21), {"b", 0, 0});
    EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"0001.png", "0001.pdf", "0002.png", "0002.pdf"}));
    EXPECT_EQ(readImageFile(dir.filePath("0002.png")).text("Title"), "b");

    ASSERT_TRUE(writeFile(dir.filePath("0007.png"), "not ours"));
    ASSERT_TRUE(writeFile(dir.filePath("0012.txt"), "other"));
    ASSERT_TRUE(writeFile(dir.filePath("notes.pdf"), "other"));
    printer.deliver(smallPage(22), {"c", 0, 0});
    EXPECT_TRUE(QFile::exists(dir.filePath("0008.png")));
    EXPECT_TRUE(QFile::exists(dir.filePath("0008.pdf")));
    EXPECT_EQ(readFile(dir.filePath("0007.png")), "not ours") << "an existing file was replaced";

    ASSERT_TRUE(writeFile(dir.filePath("0011.pdf"), "only a pdf"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("0012.png")); // a directory under a page name
    printer.deliver(smallPage(23), {"d", 0, 0});
    EXPECT_TRUE(QFile::exists(dir.filePath("0013.png")));
    EXPECT_TRUE(QFile::exists(dir.filePath("0013.pdf")));
    EXPECT_EQ(readFile(dir.filePath("0011.pdf")), "only a pdf");
    EXPECT_EQ(filesIn(dir.path()).size(), 13u) << "temporary files left behind";
}

TEST(FilePrinter, ConcurrentPrintersNeverShareANumber)
{
    QTemporaryDir dir;
    constexpr int kThreads = 3;
    constexpr int kPages = 4;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            FilePrinter printer(dir.path().toStdString(), 300, 300);
            for (int p = 0; p < kPages; ++p)
                printer.deliver(smallPage(40 + t * kPages + p), {std::to_string(t * kPages + p), 0, 0});
        });
    for (std::thread& t : threads)
        t.join();

    std::set<QString> titles;
    for (int n = 1; n <= kThreads * kPages; ++n) {
        const QString name = QString::asprintf("%04d", n);
        const QImage png = readImageFile(dir.filePath(name + ".png"));
        ASSERT_FALSE(png.isNull()) << name.toStdString();
        titles.insert(png.text("Title"));
        // The PDF of the same number holds the same page.
        const QByteArray pdf = readFile(dir.filePath(name + ".pdf"));
        EXPECT_TRUE(pdf.contains("/Width " + QByteArray::number(png.width()) + " ")) << name.toStdString();
    }
    EXPECT_EQ(titles.size(), size_t(kThreads * kPages));
    EXPECT_EQ(filesIn(dir.path()).size(), size_t(2 * kThreads * kPages));
}

TEST(FilePrinter, CreatesAMissingDirectoryAndNamesOneItCannotUse)
{
    QTemporaryDir dir;
    const std::string nested = dir.filePath("sivut/uudet").toStdString();
    FilePrinter printer(nested, 300, 300);
    EXPECT_TRUE(fs::is_directory(nested));

    ASSERT_TRUE(writeFile(dir.filePath("tiedosto"), "x"));
    const std::string underAFile = dir.filePath("tiedosto/sivut").toStdString();
    try {
        FilePrinter refused(underAFile, 300, 300);
        ADD_FAILURE() << "a directory under a file was accepted";
    } catch (const RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find(underAFile), std::string::npos) << e.what();
    }

    // The directory disappears and a file takes its place before the page.
    fs::remove_all(nested);
    ASSERT_TRUE(writeFile(QString::fromStdString(nested), "x"));
    try {
        printer.deliver(smallPage(20), {});
        ADD_FAILURE() << "delivered into a file";
    } catch (const RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find(nested), std::string::npos) << e.what();
    }
}

// Runs the body with writes limited to `bytes` a file, as on a full disk
// (the limit binds root too, unlike permissions).
template <typename Body>
void withFileSizeLimit(rlim_t bytes, Body body)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    body();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
}

TEST(FilePrinter, AFailedWriteLeavesNoFileBehind)
{
    QTemporaryDir dir;
    FilePrinter printer(dir.path().toStdString(), 300, 300);
    const PageGeometry g = printer.geometry();
    const PageRaster page = testPage({300, 300, 400, 300, {0, 0, 400, 300}});
    const JobSettings job{"täysi levy", 0, 0};
    const qsizetype pngSize = encodePng(page, g, job).size();
    ASSERT_GT(encodePdf(page, g).size(), pngSize + 100);

    // The PNG cannot be written; then the PNG can but the PDF cannot.
    for (rlim_t limit : {rlim_t(pngSize / 2), rlim_t(pngSize + 50)}) {
        SCOPED_TRACE(limit);
        bool threw = false;
        withFileSizeLimit(limit, [&] {
            try {
                printer.deliver(page, job);
            } catch (const RuntimeError& e) {
                threw = true;
                EXPECT_NE(std::string(e.what()).find(dir.path().toStdString()), std::string::npos) << e.what();
            }
        });
        EXPECT_TRUE(threw);
        EXPECT_TRUE(filesIn(dir.path()).empty()) << "left: " << *filesIn(dir.path()).begin();
    }

    printer.deliver(page, job);
    EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"0001.png", "0001.pdf"}));
}

TEST(FilePrinter, ADocumentEndedOnThePrinterLandsAsAMatchingPair)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    PrinterSurface printer([path] { return std::make_unique<FilePrinter>(path, 300, 300); });
    printer.setJobTitle("Raitakone – tiedostotulostin");
    printer.setScaleMode(Scale::Pixels);
    printer.setDrawWidth(3);
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i))
            printer.Line(LineFlag::Box | LineFlag::StartGiven, float(150 + 3 * i), 300, float(150 + 3 * i), 430,
                         kBlack);
    printer.Print({"Valkea 3 (bf)"});
    printer.EndDoc();

    const QImage png = readImageFile(dir.filePath("0001.png"));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.text("Title"), QString::fromUtf8("Raitakone – tiedostotulostin"));
    const Rendered pdf = renderPdf(readFile(dir.filePath("0001.pdf")), 300, 300, true);
    ASSERT_EQ(pdf.image.size(), png.size());
    EXPECT_EQ(pdf.image.convertToFormat(QImage::Format_Grayscale8), png.convertToFormat(QImage::Format_Grayscale8));
    EXPECT_EQ(png.convertToFormat(QImage::Format_Grayscale8).pixelColor(150 + 3 * 1, 350), QColor(Qt::black))
        << "the first bar is not on the page";
}

// ---- printer selection from the environment -----------------------------------

using Kind = PrinterChoice::Kind;

TEST(PrinterSelection, ChoosesCupsOrFilesFromThePrinterVariable)
{
    EXPECT_EQ(choosePrinter(std::nullopt, std::nullopt).kind, Kind::DefaultCups);

    const PrinterChoice named = choosePrinter("Toimisto_laser", "abc");
    EXPECT_EQ(named.kind, Kind::NamedCups);
    EXPECT_EQ(named.name, "Toimisto_laser");

    const PrinterChoice files = choosePrinter("file:/tmp/sivut", std::nullopt);
    EXPECT_EQ(files.kind, Kind::Files);
    EXPECT_EQ(files.name, "/tmp/sivut");
    EXPECT_EQ(files.dpiX, 600);
    EXPECT_EQ(files.dpiY, 600);

    const PrinterChoice at300 = choosePrinter("file:sivut", "300");
    EXPECT_EQ(at300.dpiX, 300);
    EXPECT_EQ(at300.dpiY, 300);
    const PrinterChoice mixed = choosePrinter("file:sivut", "600x1200");
    EXPECT_EQ(mixed.dpiX, 600);
    EXPECT_EQ(mixed.dpiY, 1200);
}

TEST(PrinterSelection, BadValuesAreErrorsNamingVariableAndValue)
{
    auto expectRefused = [](const std::optional<std::string>& printer, const std::optional<std::string>& dpi,
                            const std::string& variable, const std::string& value) {
        try {
            choosePrinter(printer, dpi);
            ADD_FAILURE() << variable << "=\"" << value << "\" accepted";
        } catch (const RuntimeError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(variable), std::string::npos) << message;
            EXPECT_NE(message.find("\"" + value + "\""), std::string::npos) << message;
        }
    };
    expectRefused("", std::nullopt, "RAITAKONE_PRINTER", "");
    expectRefused("file:", std::nullopt, "RAITAKONE_PRINTER", "file:");
    for (const char* dpi : {"", "0", "-600", "abc", "600dpi", "600 ", " 600", "600x", "x600", "600x0", "600x-1",
                            "600x1200x300", "1.5", "99999999999", "600X1200"})
        expectRefused("file:/tmp/sivut", dpi, "RAITAKONE_DPI", dpi);
}

// Sets an environment variable for the scope, restoring the old value after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(PrinterSelection, ConnectsThePageFilePrinterTheEnvironmentNames)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("sivut").toStdString();
    const std::string value = "file:" + path;
    {
        ScopedEnv printer("RAITAKONE_PRINTER", value.c_str());
        ScopedEnv dpi("RAITAKONE_DPI", "300x600");
        const std::unique_ptr<PrinterBackend> backend = connectConfiguredPrinter();
        const auto* files = dynamic_cast<const FilePrinter*>(backend.get());
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(files->directory(), path);
        EXPECT_EQ(backend->geometry().dpiX, 300);
        EXPECT_EQ(backend->geometry().dpiY, 600);
        EXPECT_TRUE(fs::is_directory(path));
    }
    {
        ScopedEnv printer("RAITAKONE_PRINTER", value.c_str());
        ScopedEnv dpi("RAITAKONE_DPI", "600;");
        EXPECT_THROW(connectConfiguredPrinter(), RuntimeError);
    }
}

} // namespace
} // namespace raitakone
