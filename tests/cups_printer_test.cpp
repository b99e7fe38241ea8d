// The CUPS back end. The conversions are checked everywhere; the real path
// (a page drawn on the Printer, sent through the scheduler, filters and
// backend, and read back off the PDF that comes out) runs where a test queue
// is set up: scripts/cups-test-queue.sh start prints the two variables,
// RAITAKONE_CUPS_TEST_QUEUE (a cups-pdf queue at 300 dpi) and
// RAITAKONE_CUPS_TEST_OUT (the directory it writes its PDFs to).

#include "pattern/BarPattern.h"
#include "printing/CupsPrinter.h"
#include "surface/PrinterSurface.h"
#include "surface/RuntimeError.h"
#include "support/Decode.h"
#include "support/PageProbe.h"

#include <cups/cups.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSet>
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

using testing::darkRunsOnRow;
using testing::expectedPatternRuns;
using testing::inkBands;

// ---- conversions that need no printer ---------------------------------------

TEST(CupsMedia, SheetAndMarginsBecomeDevicePixels)
{
    // A4 as a PostScript driver states it (595 x 842 pt), no margins.
    const MediaSize a4pt{20990, 29704, 0, 0, 0, 0};
    const PageGeometry g = pageGeometryForMedia(a4pt, 300, 300);
    EXPECT_EQ(g.dpiX, 300);
    EXPECT_EQ(g.sheetWidth, 2479);  // 8.264 in at 300 dpi
    EXPECT_EQ(g.sheetHeight, 3508); // 11.694 in
    EXPECT_EQ(g.printable.left, 0);
    EXPECT_EQ(g.printable.top, 0);
    EXPECT_EQ(g.printable.right, g.sheetWidth);
    EXPECT_EQ(g.printable.bottom, g.sheetHeight);

    // Letter with the usual laser margins of 1/6 in (423 hundredths of a mm)
    // at 600 x 1200 dpi: each axis uses its own resolution.
    const MediaSize letter{21590, 27940, 423, 423, 423, 423};
    const PageGeometry l = pageGeometryForMedia(letter, 600, 1200);
    EXPECT_EQ(l.sheetWidth, 5100);
    EXPECT_EQ(l.sheetHeight, 13200);
    EXPECT_EQ(l.printable.left, 100);  // 99.9 px: a part-pixel of margin is not printable
    EXPECT_EQ(l.printable.top, 200);   // 199.8 px
    EXPECT_EQ(l.printable.right, 5000);
    EXPECT_EQ(l.printable.bottom, 13000);
}

TEST(CupsMedia, MarginsWiderThanTheSheetLeaveNoPrintableArea)
{
    const PageGeometry g = pageGeometryForMedia({2540, 2540, 1500, 0, 1500, 0}, 100, 100);
    EXPECT_EQ(g.sheetWidth, 100);
    EXPECT_TRUE(g.printable.empty());
}

TEST(CupsJobOptions, PrintQualityMapsToIppQualities)
{
    EXPECT_EQ(ippPrintQuality(-1), IPP_QUALITY_DRAFT);
    EXPECT_EQ(ippPrintQuality(-2), IPP_QUALITY_DRAFT);
    EXPECT_EQ(ippPrintQuality(-3), IPP_QUALITY_NORMAL);
    EXPECT_EQ(ippPrintQuality(-4), IPP_QUALITY_HIGH);
    for (int16_t outside : {int16_t(0), int16_t(-5), int16_t(1), int16_t(600)})
        EXPECT_EQ(ippPrintQuality(outside), 0) << outside;
}

TEST(CupsDestination, AnUnknownNameIsAnErrorNamingIt)
{
    // Whether the scheduler runs or not, the message names the printer asked for.
    const std::string name = "raitakone-no-such-printer-" + std::to_string(::getpid());
    try {
        CupsPrinter printer(name);
        FAIL() << "a printer that does not exist was accepted";
    } catch (const RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find("\"" + name + "\""), std::string::npos) << e.what();
    }
}

// ---- the real path through a CUPS queue -------------------------------------

struct TestQueue {
    std::string name;
    QString outDir;
};

std::optional<TestQueue> testQueue()
{
    const char* name = std::getenv("RAITAKONE_CUPS_TEST_QUEUE");
    const char* out = std::getenv("RAITAKONE_CUPS_TEST_OUT");
    if (!name || !*name || !out || !*out)
        return std::nullopt;
    return TestQueue{name, QString::fromLocal8Bit(out)};
}

#define REQUIRE_TEST_QUEUE(queue)                                                                   \
    const std::optional<TestQueue> queue = testQueue();                                             \
    if (!queue)                                                                                     \
        GTEST_SKIP() << "no CUPS test queue: run scripts/cups-test-queue.sh start and export "      \
                        "RAITAKONE_CUPS_TEST_QUEUE and RAITAKONE_CUPS_TEST_OUT";

PrinterSurface::Connector cupsConnector(const std::string& name)
{
    return [name] { return std::make_unique<CupsPrinter>(name); };
}

// A job's attributes as the scheduler keeps them, found by its title.
struct JobRecord {
    int id = 0;
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    std::string scaling, colourMode;
    int xres = 0, yres = 0;
};

std::optional<JobRecord> findJob(const std::string& queue, const std::string& title)
{
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
    std::optional<JobRecord> found;
    for (int i = 0; i < count; ++i)
        if (title == jobs[i].title)
            found = JobRecord{jobs[i].id, jobs[i].state, {}, {}, 0, 0};
    cupsFreeJobs(count, jobs);
    if (!found)
        return found;

    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const std::string uri = "ipp://localhost/jobs/" + std::to_string(found->id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/jobs/");
    if (ipp_attribute_t* a = ippFindAttribute(response, "print-scaling", IPP_TAG_KEYWORD))
        found->scaling = ippGetString(a, 0, nullptr);
    if (ipp_attribute_t* a = ippFindAttribute(response, "print-color-mode", IPP_TAG_KEYWORD))
        found->colourMode = ippGetString(a, 0, nullptr);
    if (ipp_attribute_t* a = ippFindAttribute(response, "printer-resolution", IPP_TAG_RESOLUTION)) {
        ipp_res_t units;
        found->xres = ippGetResolution(a, 0, &found->yres, &units);
    }
    ippDelete(response);
    return found;
}

// The tool's standard output, or nothing when it could not run or failed.
std::optional<QString> runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// The rendered sheet as a page of black and white; any pixel that is neither
// (the trace of a filter that resampled or smoothed the page) is counted.
PageRaster toPage(const QImage& rendered, long& greyPixels)
{
    const QImage grey = rendered.convertToFormat(QImage::Format_Grayscale8);
    PageRaster page(grey.width(), grey.height());
    greyPixels = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x) {
            if (line[x] != 0 && line[x] != 255)
                ++greyPixels;
            if (line[x] < 128)
                page.setPixel(x, y, kBlack);
        }
    }
    return page;
}

TEST(CupsQueue, GeometryIsTheQueuesResolutionAndDefaultMedia)
{
    REQUIRE_TEST_QUEUE(queue);
    CupsPrinter printer(queue->name);
    const PageGeometry g = printer.geometry();
    EXPECT_EQ(g.dpiX, 300);
    EXPECT_EQ(g.dpiY, 300);
    // The cups-pdf driver's A4 is 595 x 842 pt with no hardware margins: the
    // drawing origin is the sheet's top-left corner.
    EXPECT_EQ(g.sheetWidth, std::lround(595.0 / 72 * 300));
    EXPECT_EQ(g.sheetHeight, std::lround(842.0 / 72 * 300));
    EXPECT_EQ(g.printable.left, 0);
    EXPECT_EQ(g.printable.top, 0);
    EXPECT_EQ(g.printable.right, g.sheetWidth);
    EXPECT_EQ(g.printable.bottom, g.sheetHeight);

    PrinterSurface surface(cupsConnector(queue->name));
    EXPECT_FLOAT_EQ(surface.TwipsPerPixelX(), 4.8f);
    EXPECT_FLOAT_EQ(surface.TwipsPerPixelY(), 4.8f);
}

TEST(CupsQueue, PrintQualityOutsideMinusOneToMinusFourIsRefused)
{
    REQUIRE_TEST_QUEUE(queue);
    CupsPrinter printer(queue->name);
    for (int16_t accepted : {-1, -2, -3, -4})
        EXPECT_NO_THROW(printer.checkPrintQuality(accepted)) << accepted;
    for (int16_t refused : {0, -5}) {
        try {
            printer.checkPrintQuality(refused);
            ADD_FAILURE() << "PrintQuality " << refused << " was accepted";
        } catch (const RuntimeError& e) {
            EXPECT_NE(std::string(e.what()).find(std::to_string(refused)), std::string::npos) << e.what();
        }
    }
}

TEST(CupsQueue, PrintedSymbolKeepsEveryModuleThreeDevicePixelsWide)
{
    REQUIRE_TEST_QUEUE(queue);
    const QDir out(queue->outDir);
    ASSERT_TRUE(out.exists()) << queue->outDir.toStdString();
    const QStringList existing = out.entryList({"*.pdf"}, QDir::Files);
    const QSet<QString> before(existing.begin(), existing.end());

    // The symbol as the line-form tests draw it: one zero-width box a dark
    // module, the pen one module wide, in device pixels.
    PrinterSurface printer(cupsConnector(queue->name));
    const std::string title = "raitakone-cups-test-" + std::to_string(::getpid()) + "-"
        + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    printer.setJobTitle(title);
    printer.setScaleMode(Scale::Pixels);
    const int w = int(moduleWidth(printer.TwipsPerPixelX()));
    ASSERT_EQ(w, 3);
    const int left = 240, top = 300, height = int(barHeightPixels(printer.TwipsPerPixelY()));
    printer.setDrawWidth(int16_t(w));
    int bars = 0;
    for (int i = 1; i <= kModuleCount; ++i) {
        if (!isDark(i))
            continue;
        const float centre = float(left + (i - 1) * w + w / 2);
        printer.Line(LineFlag::Box | LineFlag::StartGiven, centre, float(top), centre, float(top + height), kBlack);
        ++bars;
    }
    ASSERT_EQ(bars, 166);
    printer.EndDoc();

    // The scheduler has the job with the options that keep it unscaled.
    std::optional<JobRecord> job;
    for (int waited = 0; waited < 600; ++waited) {
        job = findJob(queue->name, title);
        if (job && job->state >= IPP_JSTATE_STOPPED)
            break;
        QThread::msleep(100);
    }
    ASSERT_TRUE(job) << "no job titled " << title << " on " << queue->name;
    ASSERT_EQ(job->state, IPP_JSTATE_COMPLETED) << "job " << job->id << " did not complete";
    EXPECT_EQ(job->scaling, "none");
    EXPECT_EQ(job->colourMode, "monochrome") << "a black and white page asks for monochrome";
    EXPECT_EQ(job->xres, 300);
    EXPECT_EQ(job->yres, 300);

    // The backend writes its PDF as the job ends; give the file a moment.
    QString pdf;
    for (int waited = 0; waited < 600 && pdf.isEmpty(); ++waited) {
        for (const QString& name : out.entryList({"*.pdf"}, QDir::Files)) {
            QFile file(out.filePath(name));
            if (before.contains(name) || !file.open(QIODevice::ReadOnly))
                continue;
            if (file.size() > 6 && (file.seek(file.size() - 6), file.readAll().contains("%%EOF")))
                pdf = file.fileName();
        }
        if (pdf.isEmpty())
            QThread::msleep(100);
    }
    ASSERT_FALSE(pdf.isEmpty()) << "no new PDF in " << queue->outDir.toStdString();

    // The page reaches the PDF as one image of the sheet at 300 pixels an inch:
    // no filter on the way rasterised or scaled it.
    const std::optional<QString> listed = runTool("pdfimages", {"-list", pdf});
    ASSERT_TRUE(listed) << "pdfimages -list failed on " << pdf.toStdString();
    const QString images = *listed;
    const QStringList imageRows = images.split('\n', Qt::SkipEmptyParts).mid(2);
    ASSERT_EQ(imageRows.size(), 1) << images.toStdString();
    const QStringList cols = imageRows.front().simplified().split(' ');
    ASSERT_GE(cols.size(), 14) << images.toStdString();
    EXPECT_EQ(cols[3].toInt(), std::lround(595.0 / 72 * 300)) << "image width";
    EXPECT_EQ(cols[12].toInt(), 300) << "x-ppi";
    EXPECT_EQ(cols[13].toInt(), 300) << "y-ppi";

    // Rendered at the queue's resolution the bars are exact. (pdftocairo, not
    // pdftoppm: poppler's Splash renderer of Debian 12 resamples an image
    // drawn 1:1 on a sheet whose size is not a whole number of pixels, and
    // makes some 3-pixel bars 2 or 4 wide even in a PDF CUPS never saw.)
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString stem = work.filePath("page");
    ASSERT_TRUE(runTool("pdftocairo", {"-png", "-gray", "-r", "300", "-singlefile", pdf, stem}))
        << "pdftocairo failed on " << pdf.toStdString();
    const QImage rendered(stem + ".png");
    ASSERT_FALSE(rendered.isNull());
    long greyPixels = 0;
    const PageRaster page = toPage(rendered, greyPixels);
    EXPECT_EQ(greyPixels, 0) << "the page came back smoothed or resampled";

    const std::vector<testing::Run> bands = inkBands(page);
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0], (testing::Run{top, top + height})) << "bars start at the printable origin's row " << top;
    for (int row : {top, top + height / 2, top + height - 1})
        EXPECT_EQ(darkRunsOnRow(page, row), expectedPatternRuns(left, w)) << "row " << row;

    const QImage symbol = page.image().copy(left - 60, top - 30, kModuleCount * w + 120, height + 60);
    EXPECT_EQ(testing::decodeCode128(symbol), testing::kPatternDigits);
}

} // namespace
} // namespace raitakone
