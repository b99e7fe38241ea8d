// The page mark: its payload reads back as written; on every page, at every
// resolution and paper, the mark changes only its own rectangle, which the
// unmarked page leaves blank, and reads back as the page it names; turned
// off, the page-file printer writes the same bytes as before.

#include "app/Controls.h"
#include "app/PageSeries.h"
#include "cli/CommandLine.h"
#include "marking/MarkReader.h"
#include "marking/PageMarker.h"
#include "printing/FilePrinter.h"
#include "support/MemoryPrinter.h"
#include "surface/PictureSurface.h"
#include "surface/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <ZXing/ReadBarcode.h>
#include <gtest/gtest.h>

#include <cstring>

namespace raitakone {
namespace {

using marking::PageIdentity;
using testing::TestPrinter;

PageIdentity sampleIdentity()
{
    return {"Command11:2", "Samsung 3",    "raitakone-pdf", 600, 1200, 210, 297, "2026-12-08T14:05:00+02:00",
            "8f3a0c1d",    "3/20",         {}};
}

TEST(MarkPayload, ReadsBackWhatItWrites)
{
    PageIdentity awkward = sampleIdentity();
    awkward.printer = "a;b=c%d · ä";
    PageIdentity ladder = sampleIdentity();
    ladder.control = "ladder";
    ladder.rungs = {-1, 0, 1, 2, 3};
    for (const PageIdentity& page : {sampleIdentity(), awkward, ladder}) {
        const std::string payload = marking::markPayload(page);
        EXPECT_EQ(payload.rfind("RK1;page=", 0), 0u) << payload;
        EXPECT_EQ(marking::parseMarkPayload(payload), page) << payload;
    }
    EXPECT_EQ(marking::markPayload(sampleIdentity()),
              "RK1;page=Command11:2;caption=Samsung 3;printer=raitakone-pdf;dpi=600x1200;paper=210x297;"
              "time=2026-12-08T14:05:00+02:00;series=8f3a0c1d;n=3/20");
}

// A code that is not our mark is passed over in silence; a mark of ours
// whose values the program never prints is refused, saying why; a sound
// mark's texts lose their control characters before any terminal sees them.
TEST(MarkPayload, RefusesWhatIsNotOurMarkAndSaysWhyOfAForgedOne)
{
    const std::string good = marking::markPayload(sampleIdentity());
    PageIdentity ladder = sampleIdentity();
    ladder.control = "ladder";
    ladder.rungs = {-1, 0, 1};
    const std::string rungs = marking::markPayload(ladder);
    const struct {
        std::string payload;
        const char* why; // empty: not a mark of ours
    } rows[] = {
        {"https://example.org", ""},
        {"RK2" + good.substr(3), ""},
        {good.substr(0, good.find(";time=")), "puuttuu kenttä time"},
        {good + ";junk", "nimi=arvo"},
        {good + ";dpi=0x600", "tarkkuus \"0x600\""},
        {good + ";dpi=1e9x600", "tarkkuus"},
        {rungs + ";dpi=600x1e49", "tarkkuus"},
        {good + ";paper=3e9x297", "paperi"},
        {good + ";n=-1", "sivunumero"},
        {good + ";k=1", "ei ole kavennustikkaat"},
        {rungs + ";k=1,x", "askelmat"},
        {rungs + ";k=2147483647", "askelmat"},
    };
    for (const auto& r : rows) {
        const marking::MarkCheck check = marking::checkMarkPayload(r.payload);
        EXPECT_FALSE(check.page) << r.payload;
        EXPECT_EQ(check.problem.empty(), *r.why == 0) << r.payload;
        EXPECT_NE(check.problem.find(r.why), std::string::npos) << check.problem;
    }
    PageIdentity controls = sampleIdentity();
    controls.printer = "tulostin\x1b]0;x\x07\xc2\x9b" "2J";
    EXPECT_EQ(marking::parseMarkPayload(marking::markPayload(controls))->printer, "tulostin]0;x2J");
}

// The code: level M, whole pixels a module and at least 0.5 mm a module.
TEST(MarkCode, IsLevelMWithModulesOfWholePixelsAndHalfAMillimetre)
{
    for (double dpi : {203.0, 300.0, 600.0, 1200.0}) {
        const PageGeometry g = testing::sheetGeometry(dpi, 210, 297);
        PageRaster page(g.sheetWidth, g.sheetHeight);
        const marking::MarkOutcome outcome = marking::drawMark(page, g, sampleIdentity(), {"Liberation Sans", 10});
        ASSERT_TRUE(outcome.placed) << outcome.notice;
        const PixelRect& r = outcome.placed->rect;
        const QImage grey = page.image()
                                .copy(r.left - 20, r.top - 20, r.right - r.left + 40, r.bottom - r.top + 40)
                                .convertToFormat(QImage::Format_Grayscale8);
        const ZXing::Result read = ZXing::ReadBarcode(
            {grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum, int(grey.bytesPerLine())},
            ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat::QRCode));
        ASSERT_TRUE(read.isValid()) << dpi;
        EXPECT_EQ(read.ecLevel(), "M");
        EXPECT_EQ(read.text(), marking::markPayload(sampleIdentity()));
        const PixelRect& code = outcome.placed->code;
        // The finder pattern's top row: 7 dark modules.
        int finder = 0;
        while (page.pixel(code.left + finder, code.top) == kBlack)
            ++finder;
        EXPECT_EQ(finder % 7, 0);
        EXPECT_GE(finder / 7 * 25.4 / dpi, 0.5);
        EXPECT_EQ((code.right - code.left) % (finder / 7), 0);
        EXPECT_LT(code.right, g.sheetWidth);
        EXPECT_LT(code.bottom, g.sheetHeight);
    }
}

struct Paper {
    const char* name;
    double widthMm, heightMm;
    bool markFits;          // the pages leave the mark its corner
    const char* crowded;    // but for this one
};
// On Letter the centimetre page's bars (25 to 26.1 cm from the top) stand
// where the mark's text would go.
const Paper kPapers[] = {{"A4", 210, 297, true, ""},
                         {"Letter", 215.9, 279.4, true, "Command4"},
                         {"label", 100, 150, false, ""}};

QImage greyOf(const PageRaster& page) { return page.image().convertToFormat(QImage::Format_Grayscale8); }

// Rows of the two pages equal outside the rectangle.
bool sameOutside(const PageRaster& a, const PageRaster& b, const PixelRect& r)
{
    for (int y = 0; y < a.height(); ++y) {
        if (y >= r.top && y < r.bottom) {
            for (int x = 0; x < a.width(); ++x)
                if ((x < r.left || x >= r.right) && a.pixel(x, y) != b.pixel(x, y))
                    return false;
        } else if (a.isBilevel() && b.isBilevel()) {
            if (std::memcmp(a.image().constScanLine(y), b.image().constScanLine(y), size_t(a.image().bytesPerLine())))
                return false;
        } else {
            for (int x = 0; x < a.width(); ++x)
                if (a.pixel(x, y) != b.pixel(x, y))
                    return false;
        }
    }
    return true;
}

bool blankInside(const PageRaster& page, const PixelRect& r)
{
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (page.pixel(x, y) != kWhite)
                return false;
    return true;
}

class MarkOnEveryPage : public ::testing::TestWithParam<int> {};

TEST_P(MarkOnEveryPage, ChangesOnlyItsOwnBlankRectangleAndReadsBackAsThePage)
{
    const double dpi = GetParam();
    for (const Paper& paper : kPapers) {
        const PageGeometry g = testing::sheetGeometry(dpi, paper.widthMm, paper.heightMm);
        std::vector<PrintPage> pages(allPrintPages().begin(), allPrintPages().end());
        pages.push_back(ladderPrintPage(0));
        for (const PrintPage& page : pages) {
            SCOPED_TRACE(paper.name + std::string(" ") + page.name());
            TestPrinter plain(g), marked(g);
            PictureSurface picture(kPictureWidth, kPictureHeight);
            marking::PageMarker marker("0123abcd");
            bool drawn = true;
            try {
                printPage(page, plain.printer, picture, [] {}, [](const std::string&) {});
                printMarkedPage(page, true, marker, "1/21", marked.printer, picture, [] {}, [](const std::string&) {});
            } catch (const RuntimeError&) {
                drawn = false; // the ladder does not fit every paper at every resolution
            }
            if (!drawn) {
                EXPECT_TRUE(page.control == kLadderControl && std::string(paper.name) == "label") << page.name();
                continue;
            }
            const PageRaster& a = plain.lastPage();
            const PageRaster& b = marked.lastPage();
            const std::optional<marking::MarkPlacement> placed = marker.lastPlacement();
            const std::optional<Delivery> delivered = marked.printer.takeLastDelivery();
            ASSERT_TRUE(delivered);
            EXPECT_EQ(delivered->notice.find("Merkintä jäi pois") != std::string::npos, !placed);
            if (!placed) {
                EXPECT_TRUE(!paper.markFits || page.control == paper.crowded);
                EXPECT_TRUE(sameOutside(a, b, {0, 0, 0, 0}));
                continue;
            }
            EXPECT_TRUE(blankInside(a, placed->rect));
            EXPECT_TRUE(sameOutside(a, b, placed->rect));
            EXPECT_FALSE(blankInside(b, placed->code));
            if (dpi == 300) {
                const std::optional<marking::ReadMark> read = marking::readMark(greyOf(b), dpi);
                ASSERT_TRUE(read);
                EXPECT_EQ(read->page.control, page.control == kLadderControl ? "ladder" : page.name());
                EXPECT_EQ(read->page.caption, page.caption);
                EXPECT_EQ(read->page.dpiX, dpi);
                EXPECT_EQ(read->page.paperWidthMm, int(std::lround(paper.widthMm)));
                EXPECT_EQ(read->page.series, "0123abcd");
                EXPECT_EQ(read->page.n, "1/21");
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Resolutions, MarkOnEveryPage, ::testing::Values(203, 300, 600, 1200),
                         [](const auto& info) { return std::to_string(info.param) + "dpi"; });

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Turned off, a series writes the very bytes that pages printed with no
// marking at all write; turned on, it does not.
TEST(MarkOff, PageFilesAreByteForByteThePagesWithoutMarking)
{
    QTemporaryDir before, off, on;
    const auto connect = [](const QString& dir) {
        return [dir]() -> std::unique_ptr<PrinterBackend> {
            return std::make_unique<FilePrinter>(dir.toStdString(), 300, 300);
        };
    };
    {
        PrinterSurface printer(connect(before.path()));
        PictureSurface picture(kPictureWidth, kPictureHeight);
        for (const PrintPage& page : allPrintPages())
            printPage(page, printer, picture, [] {}, [](const std::string&) {});
    }
    QString ignored;
    QTextStream out(&ignored), err(&ignored);
    const std::vector<PrintPage> pages(allPrintPages().begin(), allPrintPages().end());
    ASSERT_EQ(printSeries(pages, connect(off.path()), out, err, {}, nullptr, false), 0);
    ASSERT_EQ(printSeries(pages, connect(on.path()), out, err, {}, nullptr, true), 0);

    const QStringList names = QDir(before.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 2 * int(pages.size()));
    ASSERT_EQ(QDir(off.path()).entryList(QDir::Files, QDir::Name), names);
    int marked = 0;
    for (const QString& name : names) {
        const QByteArray bytes = fileBytes(before.path() + "/" + name);
        EXPECT_EQ(fileBytes(off.path() + "/" + name), bytes) << name.toStdString();
        marked += fileBytes(on.path() + "/" + name) != bytes;
    }
    EXPECT_EQ(marked, names.size());
}

} // namespace
} // namespace raitakone

namespace raitakone {

// A series stopped part way counts the ladder's sheets, not the names
// given: on A6 at 600 dpi the ladder takes two sheets.
TEST(Series, AStopCountsTheSheetsPrinted)
{
    auto record = std::make_shared<testing::MemoryPrinterRecord>();
    const PrinterSurface::Connector connector = [record] {
        return std::make_unique<testing::MemoryPrinter>(testing::sheetGeometry(600, 105, 148), record);
    };
    QString ignored;
    QTextStream out(&ignored), err(&ignored);
    int asked = 0;
    SeriesCount count;
    EXPECT_EQ(printSeries({ladderPrintPage(), *findPrintPage("Command3")}, connector, out, err,
                          [&asked] { return ++asked > 2; }, &count),
              1);
    EXPECT_EQ(count.total, 3);
    EXPECT_EQ(count.handled, 2);
    EXPECT_EQ(record->pages.size(), 2u);
}

} // namespace raitakone
