// The CUPS back end. The real path (Printer, scheduler, filters, backend, the
// PDF that comes out) runs where scripts/cups-test-queue.sh start has set up
// RAITAKONE_CUPS_TEST_QUEUE (cups-pdf at 300 dpi) and RAITAKONE_CUPS_TEST_OUT.

#include "pattern/BarPattern.h"
#include "printing/CupsPrinter.h"
#include "surface/PrinterSurface.h"
#include "surface/RuntimeError.h"
#include "support/CupsJobs.h"
#include "support/ErrorText.h"
#include "support/Decode.h"
#include "support/PageProbe.h"

#include <cups/cups.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include <unistd.h>

namespace raitakone {
namespace {

using testing::cupsConnector;
using testing::darkRunsOnRow;
using testing::expectedPatternRuns;
using testing::inkBands;

std::vector<int> rect(const PixelRect& r) { return {r.left, r.top, r.right, r.bottom}; }

TEST(CupsMedia, SheetAndMarginsBecomeDevicePixels)
{
    // A4 as a PostScript driver states it (595 x 842 pt), no margins.
    const PageGeometry g = pageGeometryForMedia({20990, 29704, 0, 0, 0, 0}, 300, 300);
    EXPECT_EQ(g.dpiX, 300);
    EXPECT_EQ(rect(g.printable), (std::vector<int>{0, 0, 2479, 3508})); // 8.264 x 11.694 in
    EXPECT_EQ(std::make_pair(g.sheetWidth, g.sheetHeight), std::make_pair(2479, 3508));

    // Letter with laser margins of 1/6 in (423 hundredths of a mm) at 600 x 1200
    // dpi: each axis has its resolution, and a part-pixel of margin is not printable.
    const PageGeometry l = pageGeometryForMedia({21590, 27940, 423, 423, 423, 423}, 600, 1200);
    EXPECT_EQ(std::make_pair(l.sheetWidth, l.sheetHeight), std::make_pair(5100, 13200));
    EXPECT_EQ(rect(l.printable), (std::vector<int>{100, 200, 5000, 13000})); // 99.9 and 199.8 px of margin

    // The PDF's sheet: the paper's width, its height in whole points (A4 is
    // 841.89 pt, a 100 x 150 mm label 425.2 pt).
    const PageGeometry a4 = pageGeometryForMedia({21000, 29700, 0, 0, 0, 0}, 600, 600);
    EXPECT_NEAR(a4.sheetWidthPoints, 595.2756, 1e-4);
    EXPECT_EQ(a4.sheetHeightPoints, 842);
    const PageGeometry label = pageGeometryForMedia({10000, 15000, 0, 0, 0, 0}, 300, 300);
    EXPECT_NEAR(label.sheetWidthPoints, 283.4646, 1e-4);
    EXPECT_EQ(label.sheetHeightPoints, 425);
    EXPECT_EQ(std::make_pair(label.sheetWidth, label.sheetHeight), std::make_pair(1181, 1772));

    // Margins wider than the sheet leave nothing printable.
    const PageGeometry narrow = pageGeometryForMedia({2540, 2540, 1500, 0, 1500, 0}, 100, 100);
    EXPECT_EQ(narrow.sheetWidth, 100);
    EXPECT_TRUE(narrow.printable.empty());
}

TEST(CupsJobOptions, PrintQualityMapsToIppQualities)
{
    const std::pair<int16_t, int> mapping[] = {{-1, IPP_QUALITY_DRAFT}, {-2, IPP_QUALITY_DRAFT},
                                               {-3, IPP_QUALITY_NORMAL}, {-4, IPP_QUALITY_HIGH},
                                               {0, 0}, {-5, 0}, {1, 0}, {600, 0}};
    for (const auto& [quality, ipp] : mapping)
        EXPECT_EQ(ippPrintQuality(quality), ipp) << quality;
}

TEST(CupsDestination, AnUnknownNameIsAnErrorNamingIt)
{
    // Whether the scheduler runs or not, the message names the printer asked for.
    const std::string name = "raitakone-no-such-printer-" + std::to_string(::getpid());
    EXPECT_ERROR_NAMES(CupsPrinter printer(name), "\"" + name + "\"");
}

// ---- the real path through a CUPS queue -------------------------------------

// The test queue's name and output directory, when set up.
std::optional<std::pair<std::string, QString>> testQueue()
{
    const char* name = std::getenv("RAITAKONE_CUPS_TEST_QUEUE");
    const char* out = std::getenv("RAITAKONE_CUPS_TEST_OUT");
    if (!name || !*name || !out || !*out)
        return std::nullopt;
    return std::pair(std::string(name), QString::fromLocal8Bit(out));
}

#define REQUIRE_TEST_QUEUE(queue)                                                                   \
    const auto queue = testQueue();                                                                 \
    if (!queue)                                                                                     \
        GTEST_SKIP() << "no CUPS test queue: run scripts/cups-test-queue.sh start and export "      \
                        "RAITAKONE_CUPS_TEST_QUEUE and RAITAKONE_CUPS_TEST_OUT";

// The id of the job with this title on the queue, 0 when there is none.
int jobTitled(const std::string& queue, const std::string& title)
{
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
    int id = 0;
    for (int i = 0; i < count; ++i)
        if (title == jobs[i].title)
            id = jobs[i].id;
    cupsFreeJobs(count, jobs);
    return id;
}

// cups-pdf's A4 is 595 x 842 pt with no hardware margins: the drawing origin
// is the sheet's top-left corner. PrintQuality -1 .. -4 is all it takes.
TEST(CupsQueue, GeometryIsTheQueuesResolutionAndDefaultMediaAndQualitiesAreChecked)
{
    REQUIRE_TEST_QUEUE(queue);
    CupsPrinter printer(queue->first);
    const PageGeometry g = printer.geometry();
    EXPECT_EQ(std::make_pair(g.dpiX, g.dpiY), std::make_pair(300.0, 300.0));
    const int width = int(std::lround(595.0 / 72 * 300)), height = int(std::lround(842.0 / 72 * 300));
    EXPECT_EQ(std::make_pair(g.sheetWidth, g.sheetHeight), std::make_pair(width, height));
    EXPECT_EQ(rect(g.printable), (std::vector<int>{0, 0, width, height}));
    PrinterSurface surface(cupsConnector(queue->first));
    EXPECT_FLOAT_EQ(surface.TwipsPerPixelX(), 4.8f);
    EXPECT_FLOAT_EQ(surface.TwipsPerPixelY(), 4.8f);

    for (int16_t accepted : {-1, -2, -3, -4})
        EXPECT_NO_THROW(printer.checkPrintQuality(accepted)) << accepted;
    for (int16_t refused : {0, -5})
        EXPECT_ERROR_NAMES(printer.checkPrintQuality(refused), std::to_string(refused));
}

// The symbol as the line-form pages draw it (a zero-width box a dark module,
// the pen one module wide, in pixels) goes through the scheduler unscaled and
// in monochrome, and the PDF rendered at 300 dpi gives every module exactly 3
// pixels and decodes.
TEST(CupsQueue, PrintedSymbolKeepsEveryModuleThreeDevicePixelsWide)
{
    REQUIRE_TEST_QUEUE(queue);
    const auto& [queueName, outDir] = *queue;
    const QDir out(outDir);
    ASSERT_TRUE(out.exists()) << outDir.toStdString();

    PrinterSurface printer(cupsConnector(queueName));
    const std::string title = "raitakone-cups-test-" + std::to_string(::getpid()) + "-"
        + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    printer.setJobTitle(title);
    printer.setScaleMode(Scale::Pixels);
    const int w = int(moduleWidth(printer.TwipsPerPixelX()));
    ASSERT_EQ(w, 3);
    const int left = 240, top = 300, height = int(barHeightPixels(printer.TwipsPerPixelY()));
    printer.setDrawWidth(int16_t(w));
    for (int i = 1; i <= kModuleCount; ++i) {
        const float centre = float(left + (i - 1) * w + w / 2);
        if (isDark(i))
            printer.Line(LineFlag::Box | LineFlag::StartGiven, centre, float(top), centre, float(top + height), kBlack);
    }
    printer.EndDoc();

    int id = 0;
    for (int waited = 0; waited < 600 && !id; ++waited, QThread::msleep(100))
        id = jobTitled(queueName, title);
    ASSERT_NE(id, 0) << "no job titled " << title << " on " << queueName;
    const testing::JobRecord job = testing::finishedJob(id);
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << "job " << id << " did not complete";
    EXPECT_EQ(job.scaling, "none");
    EXPECT_EQ(job.colourMode, "monochrome") << "a black and white page asks for monochrome";
    EXPECT_EQ(std::make_pair(job.xres, job.yres), std::make_pair(300, 300));

    // The backend writes its PDF as the job ends; give the file a moment.
    const QString pdf = testing::cupsPdfOfJob(out, id);
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF for job " << id << " in " << outDir.toStdString();

    // pdftocairo, not pdftoppm: Debian 12's Splash renderer resamples an image
    // drawn 1:1 on a sheet that is not a whole number of pixels, making some
    // 3-pixel bars 2 or 4 wide even in a PDF CUPS never saw.
    QTemporaryDir work;
    QProcess pdftocairo;
    pdftocairo.start("pdftocairo", {"-png", "-gray", "-r", "300", "-singlefile", pdf, work.filePath("page")});
    ASSERT_TRUE(pdftocairo.waitForFinished(120000) && pdftocairo.exitCode() == 0)
        << "pdftocairo failed on " << pdf.toStdString();
    const QImage grey = QImage(work.filePath("page.png")).convertToFormat(QImage::Format_Grayscale8);
    ASSERT_FALSE(grey.isNull());
    PageRaster page(grey.width(), grey.height());
    long greyPixels = 0; // neither black nor white: a filter smoothed or resampled the page
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) {
            const uchar v = grey.constScanLine(y)[x];
            greyPixels += v != 0 && v != 255;
            if (v < 128)
                page.setPixel(x, y, kBlack);
        }
    EXPECT_EQ(greyPixels, 0);

    EXPECT_EQ(inkBands(page), (std::vector<testing::Run>{{top, top + height}})) << "bars start at the origin's row";
    for (int row : {top, top + height / 2, top + height - 1})
        EXPECT_EQ(darkRunsOnRow(page, row), expectedPatternRuns(left, w)) << "row " << row;
    const QImage symbol = page.image().copy(left - 60, top - 30, kModuleCount * w + 120, height + 60);
    EXPECT_EQ(testing::decodeCode128(symbol), testing::kPatternDigits);
}

} // namespace
} // namespace raitakone
