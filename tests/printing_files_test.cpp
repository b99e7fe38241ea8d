#include "pattern/BarPattern.h"
#include "printing/FilePrinter.h"
#include "printing/PageEncoders.h"
#include "support/ErrorText.h"
#include "support/InkExtent.h"
#include "support/MemoryPrinter.h"
#include "surface/PrinterSurface.h"
#include "surface/RuntimeError.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include <sys/resource.h>

namespace raitakone {
namespace {

namespace fs = std::filesystem;
using testing::errorOf;
using testing::a4Geometry;

// The bar pattern at one module per dpi / 86 pixels, a patch of scattered
// pixels standing in for text, and single pixels at the corners and last column.
PageRaster testPage(const PageGeometry& g)
{
    PageRaster page(g.sheetWidth, g.sheetHeight);
    const int module = std::max(1, int(g.dpiX) / 86), left = int(g.dpiX / 2) + 3, top = int(g.dpiY);
    const int barHeight = int(g.dpiY / 2.3);
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i))
            page.fill({left + (i - 1) * module, top, left + i * module, top + barHeight}, kBlack);
    uint32_t seed = 12345;
    for (int y = top + barHeight + 20; y < top + barHeight + 80; ++y)
        for (int x = left; x < left + 211; ++x)
            if (((seed = seed * 1103515245u + 12345u) >> 16) & 1)
                page.setPixel(x, y, kBlack);
    page.setPixel(0, 0, kBlack);
    page.setPixel(g.sheetWidth - 1, 0, kBlack);
    page.setPixel(g.sheetWidth - 1, g.sheetHeight - 1, kBlack);
    page.fill({g.sheetWidth - 5, 40, g.sheetWidth, 45}, kBlack);
    return page;
}

QImage readImage(QIODevice&& device)
{
    QImageReader::setAllocationLimit(0);
    return QImageReader(&device).read();
}
QImage readImage(const QByteArray& data) { QBuffer b; b.setData(data); return readImage(std::move(b)); }
QImage readImageFile(const QString& path) { return readImage(QFile(path)); }

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

// Empty when the image holds exactly the page's pixels, else how they
// differ. A one-bit image is compared a byte at a time, whichever bit is black.
std::string pixelDifference(QImage image, const PageRaster& page)
{
    const QImage& expected = page.image();
    if (image.size() != expected.size())
        return "size differs";
    if (page.isBilevel() && image.depth() == 1) {
        image = image.convertToFormat(QImage::Format_Mono);
        if (qGray(image.color(1)) > 127)
            image.invertPixels();
        const long differing = testing::differingBits(image, expected);
        return differing ? std::to_string(differing) + " pixels differ" : "";
    }
    return image.convertToFormat(QImage::Format_RGB32) == expected.convertToFormat(QImage::Format_RGB32)
               ? ""
               : "colours differ";
}

// Empty when the image holds the page's pixels from its top-left corner and
// only paper beyond them: a PDF that is the whole sheet renders a part-pixel
// more than a page drawn on whole pixels of it.
std::string pixelDifferenceAtTopLeft(const QImage& image, const PageRaster& page)
{
    if (image.width() < page.width() || image.height() < page.height())
        return "smaller than the page";
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = y < page.height() ? page.width() : 0; x < grey.width(); ++x)
            if (grey.constScanLine(y)[x] != 255)
                return "ink beyond the page at " + std::to_string(x) + ", " + std::to_string(y);
    return pixelDifference(image.copy(0, 0, page.width(), page.height()), page);
}

// The page's MediaBox as written.
QByteArray mediaBox(const QByteArray& pdf)
{
    const qsizetype at = pdf.indexOf("/MediaBox [");
    return at < 0 ? QByteArray() : pdf.mid(at + 11, pdf.indexOf(']', at) - at - 11);
}

// The PDF rasterised by poppler's pdftoppm; errors holds its complaints.
QImage renderPdf(const QByteArray& pdf, double dpiX, double dpiY, bool mono, QString* errors = nullptr)
{
    QTemporaryDir dir;
    if (!writeFile(dir.filePath("page.pdf"), pdf))
        return {};
    QStringList arguments{"-rx", QString::number(dpiX), "-ry", QString::number(dpiY), "-singlefile"};
    if (mono)
        arguments << "-mono";
    QProcess process;
    process.start("pdftoppm", arguments << dir.filePath("page.pdf") << dir.filePath("out"));
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return {};
    if (errors)
        *errors = QString::fromLocal8Bit(process.readAllStandardError());
    return readImageFile(dir.filePath(mono ? "out.pbm" : "out.ppm"));
}

// At every resolution the PNG reads back with the page's pixels, one bit a
// pixel, its resolution and the job's settings; the PDF, rasterised at the
// page's resolution, gives the same pixels from its top-left corner and paper
// on the part-pixel of the sheet beyond them (A4 at 1200 dpi is left to the PNG:
// poppler takes seconds over it).
TEST(PageFiles, ReadBackWithTheSamePixelsResolutionAndSettings)
{
    for (const auto& [dpiX, dpiY] : {std::pair(203, 203), std::pair(300, 300), std::pair(600, 600),
                                    std::pair(1200, 1200), std::pair(600, 1200)}) {
        SCOPED_TRACE(std::to_string(dpiX) + "x" + std::to_string(dpiY));
        const PageGeometry g = a4Geometry(dpiX, dpiY);
        const PageRaster page = testPage(g);
        const JobSettings job{"Raitakone: Valkea 3 (bf) – äö", -3, 1};
        const QImage png = readImage(encodePng(page, g, job));
        EXPECT_EQ(png.depth(), 1) << "a bilevel page stays one bit a pixel";
        EXPECT_EQ(pixelDifference(png, page), "");
        EXPECT_EQ(std::lround(png.dotsPerMeterX() * 0.0254), dpiX);
        EXPECT_EQ(std::lround(png.dotsPerMeterY() * 0.0254), dpiY);
        EXPECT_EQ(png.text("Title").toStdString(), job.title);
        EXPECT_EQ(png.text("PrintQuality"), "-3");
        EXPECT_EQ(png.text("ColorMode"), "1");
        if (dpiX == 203 || dpiX == 1200)
            continue;
        QString errors;
        EXPECT_EQ(pixelDifferenceAtTopLeft(renderPdf(encodePdf(page, g), dpiX, dpiY, true, &errors), page), "");
        EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
    }
}

// Palette pages (RGB(1, 0, 0) is one step off black) and RGB pages keep every
// colour in both files; a Latin-1 title and the job's ColorMode reach the PNG.
TEST(PageFiles, ColourPagesKeepTheirColoursInPngAndPdf)
{
    PageRaster palette(61, 17);
    palette.fill({0, 0, 30, 17}, kBlack);
    palette.fill({3, 2, 9, 5}, 0x000001);
    palette.fill({40, 5, 50, 15}, 0x4D80C8);
    palette.setPixel(60, 16, 0x4D80C8);
    PageRaster rgb(61, 17, PageRaster::Storage::Colour);
    for (int i = 0; i < 61 * 17; ++i)
        rgb.setPixel(i % 61, i / 61, Colour(i * 2654435761u) & 0xFFFFFF);

    for (const PageRaster* page : {&palette, &rgb}) {
        const PageGeometry g{300, 300, page->width(), page->height(), page->bounds()};
        const QImage png = readImage(encodePng(*page, g, {"Kynä", 0, 2}));
        EXPECT_EQ(pixelDifference(png, *page), "") << "PNG";
        EXPECT_EQ(png.text("Title"), QString::fromUtf8("Kynä"));
        EXPECT_EQ(png.text("ColorMode"), "2");
        EXPECT_EQ(pixelDifference(renderPdf(encodePdf(*page, g), 300, 300, false), *page), "") << "PDF";
    }
}

// Rows that repeat, runs crossing the 258-byte match limit, widths that leave
// part of a byte, rows too wide to copy from the row above.
TEST(CompressedScanlines, ReadBackWhateverTheRunsAndWidths)
{
    std::vector<PageRaster> pages;
    for (int width : {1, 2, 3, 7, 8, 9, 2071})
        pages.push_back(testPage({300, 300, width, 5, {0, 0, width, 5}}));
    PageRaster& runs = pages.emplace_back(1100, 6);
    int x = 0;
    for (int length : {1, 2, 3, 4, 5, 257, 258, 259, 260, 261, 262}) {
        runs.fill({x, 0, x + length, 6}, x % 2 ? kBlack : 0x000001);
        x += length;
    }
    runs.fill({0, 3, 1100, 4}, 0x0000FF);
    pages.emplace_back(11001, 4, PageRaster::Storage::Colour).fill({5, 1, 9000, 3}, 0x123456); // 33003 bytes a row
    for (const PageRaster& page : pages) {
        const PageGeometry g{300, 300, page.width(), page.height(), page.bounds()};
        EXPECT_EQ(pixelDifference(readImage(encodePng(compressPage(page), g, {})), page), "") << page.width();
    }
}

// Poppler reports a wrong cross-reference offset but not a stream /Length
// longer or shorter than the data, which stricter readers trust.
TEST(PdfPage, StreamLengthAndCrossReferenceEntriesAreExact)
{
    const PageGeometry g{600, 600, 100, 50, {0, 0, 100, 50}};
    const QByteArray pdf = encodePdf(testPage(g), g);
    ASSERT_TRUE(pdf.startsWith("%PDF-1.4\n") && pdf.endsWith("%%EOF\n"));
    const qsizetype lengthAt = pdf.indexOf("/Length ", pdf.indexOf("/Subtype /Image")) + 8;
    const qsizetype length = pdf.mid(lengthAt, pdf.indexOf(' ', lengthAt) - lengthAt).toLongLong();
    EXPECT_EQ(pdf.mid(pdf.indexOf("stream\n", lengthAt) + 7 + length, 10), "\nendstream");
    const QList<QByteArray> entries = pdf.mid(pdf.lastIndexOf("xref\n0 6\n") + 9).split('\n').mid(0, 6);
    for (const QByteArray& entry : entries)
        EXPECT_EQ(entry.size(), 19) << "entries are 20 bytes with their line end: " << entry.toStdString();
}

// The PDF page is the sheet the geometry states, to the hundred-thousandth of
// a point, however the pixel grid rounds it; the image hangs from the sheet's
// top-left corner, one image pixel on one device pixel. Without a stated
// sheet, the page is the pixel grid.
TEST(PdfPage, IsTheStatedSheetWithTheImageFromItsTopLeftCorner)
{
    PageGeometry g{72, 72, 40, 30, {0, 0, 40, 30}};
    g.sheetWidthPoints = 42.4;
    g.sheetHeightPoints = 31.7;
    PageRaster page(40, 30);
    page.fill({0, 0, 40, 1}, kBlack);  // the top row
    page.fill({0, 29, 3, 30}, kBlack); // the bottom row's start
    page.fill({39, 5, 40, 9}, kBlack); // the last column
    const QByteArray pdf = encodePdf(page, g);
    EXPECT_EQ(mediaBox(pdf), "0 0 42.4 31.7");
    QString errors;
    EXPECT_EQ(pixelDifferenceAtTopLeft(renderPdf(pdf, 72, 72, true, &errors), page), "");
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
    EXPECT_EQ(mediaBox(encodePdf(page, {72, 72, 40, 30, {0, 0, 40, 30}})), "0 0 39.99999 29.99999");

    // A grid that rounds up past the sheet (39.6 pt is 40 pixels): the last
    // row and column still have their centres on the sheet and are printed.
    g.sheetWidthPoints = 39.6;
    g.sheetHeightPoints = 29.6;
    EXPECT_EQ(pixelDifferenceAtTopLeft(renderPdf(encodePdf(page, g), 72, 72, true), page), "");
}

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

TEST(FilePrinter, IsAnA4PrinterAcceptingNamedQualitiesAndItsOwnResolutionWithAnA4Pdf)
{
    QTemporaryDir dir;
    FilePrinter printer(dir.path().toStdString(), 600, 1200);
    const PageGeometry g = printer.geometry();
    EXPECT_EQ(std::vector<double>({g.dpiX, g.dpiY, double(g.sheetWidth), double(g.sheetHeight)}),
              std::vector<double>({600, 1200, 4961, 14031}));
    EXPECT_EQ(std::vector<int>({g.printable.left, g.printable.top, g.printable.right, g.printable.bottom}),
              std::vector<int>({0, 0, 4961, 14031}));
    EXPECT_EQ(FilePrinter(dir.path().toStdString(), 600, 600).geometry().sheetHeight, 7016);
    for (int16_t q : {-1, -2, -3, -4, 600})
        EXPECT_NO_THROW(printer.checkPrintQuality(q)) << q;
    for (int16_t q : {0, -5, 300, 1200, 601})
        EXPECT_ERROR_NAMES(printer.checkPrintQuality(q), std::to_string(q));

    // Its PDF is A4 (595.28 x 841.89 pt) at every resolution, even where A4
    // is 12 pixels tall (2400 x 1 dpi), which would be 864 pt.
    for (const auto& [dpiX, dpiY] : {std::pair(2400, 1), std::pair(600, 600), std::pair(203, 203)}) {
        FilePrinter sized(dir.path().toStdString(), dpiX, dpiY);
        const PageGeometry g = sized.geometry();
        const Delivery delivered = sized.deliver(PageRaster(g.sheetWidth, g.sheetHeight), {"A4", 0, 0});
        QString pdf = QString::fromStdString(delivered.file);
        pdf.replace(QRegularExpression("\\.png$"), ".pdf");
        EXPECT_EQ(mediaBox(readFile(pdf)), "0 0 595.27559 841.88976") << dpiX << "x" << dpiY;
    }
}

TEST(FilePrinter, NumbersDocumentsOnFromTheHighestPresentNeverReplacingAFile)
{
    QTemporaryDir dir;
    FilePrinter printer(dir.path().toStdString(), 300, 300);
    printer.deliver(smallPage(20), {"a", 0, 0});
    printer.deliver(smallPage(21), {"b", 0, 0});
    EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"0001.png", "0001.pdf", "0002.png", "0002.pdf"}));
    EXPECT_EQ(readImageFile(dir.filePath("0002.png")).text("Title"), "b");
    EXPECT_EQ(pixelDifferenceAtTopLeft(renderPdf(readFile(dir.filePath("0002.pdf")), 300, 300, true), smallPage(21)), "");

    ASSERT_TRUE(writeFile(dir.filePath("0007.png"), "not ours"));
    ASSERT_TRUE(writeFile(dir.filePath("0012.txt"), "other"));
    ASSERT_TRUE(writeFile(dir.filePath("notes.pdf"), "other"));
    printer.deliver(smallPage(22), {"c", 0, 0});
    EXPECT_TRUE(QFile::exists(dir.filePath("0008.png")) && QFile::exists(dir.filePath("0008.pdf")));
    EXPECT_EQ(readFile(dir.filePath("0007.png")), "not ours");

    ASSERT_TRUE(writeFile(dir.filePath("0011.pdf"), "only a pdf"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("0012.png")); // a directory under a page name
    printer.deliver(smallPage(23), {"d", 0, 0});
    EXPECT_TRUE(QFile::exists(dir.filePath("0013.png")) && QFile::exists(dir.filePath("0013.pdf")));
    EXPECT_EQ(readFile(dir.filePath("0011.pdf")), "only a pdf");
    EXPECT_EQ(filesIn(dir.path()).size(), 13u) << "temporary files left behind";
}

TEST(FilePrinter, ConcurrentPrintersNeverShareANumber)
{
    QTemporaryDir dir;
    constexpr int kThreads = 3, kPages = 4;
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
        EXPECT_TRUE(readFile(dir.filePath(name + ".pdf")).contains("/Width " + QByteArray::number(png.width()) + " "))
            << name.toStdString() << ".pdf holds another page than its PNG";
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
    EXPECT_ERROR_NAMES(FilePrinter(underAFile, 300, 300), underAFile);

    // The directory gives way to a file before the page comes.
    fs::remove_all(nested);
    ASSERT_TRUE(writeFile(QString::fromStdString(nested), "x"));
    EXPECT_ERROR_NAMES(printer.deliver(smallPage(20), {}), nested);
}

TEST(FilePrinter, AFailedWriteLeavesNoFileBehind)
{
    QTemporaryDir dir;
    FilePrinter printer(dir.path().toStdString(), 300, 300);
    const PageRaster page = testPage({300, 300, 400, 300, {0, 0, 400, 300}});
    const JobSettings job{"täysi levy", 0, 0};
    const qsizetype pngSize = encodePng(page, printer.geometry(), job).size();
    ASSERT_GT(encodePdf(page, printer.geometry()).size(), pngSize + 100);

    // The PNG cannot be written; then the PNG can but the PDF cannot. A file
    // size limit stands in for a full disk (it binds root too, unlike permissions).
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (rlim_t limit : {rlim_t(pngSize / 2), rlim_t(pngSize + 50)}) {
        rlimit limited = saved;
        limited.rlim_cur = limit;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        EXPECT_ERROR_NAMES(printer.deliver(page, job), dir.path().toStdString());
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_TRUE(filesIn(dir.path()).empty()) << limit << " left " << *filesIn(dir.path()).begin();
    }
    std::signal(SIGXFSZ, previousHandler);
    printer.deliver(page, job);
    EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"0001.png", "0001.pdf"}));
}

} // namespace
} // namespace raitakone
