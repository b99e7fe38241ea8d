// Pages through CUPS's own rasteriser, on a private scheduler that
// scripts/cups-private-scheduler.sh start sets up (RAITAKONE_CUPS_RASTER_SERVER,
// RAITAKONE_CUPS_RASTER_OUT): queues of the generic PWG raster driver whose
// device is a file, so the raster the driver receives is read back here with
// libcups and compared with the page we drew, pixel for pixel.

#include "pattern/BarPattern.h"
#include "printing/CupsPrinter.h"
#include "printing/FilePrinter.h"
#include "printtests/PrintTests.h"
#include "support/Decode.h"
#include "support/CupsJobs.h"
#include "support/ErrorText.h"
#include "support/InkExtent.h"
#include "support/MemoryPrinter.h"
#include "support/PageProbe.h"
#include "surface/PrinterSurface.h"

#include <cups/cups.h>
#include <cups/raster.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>
#include <optional>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace raitakone {
namespace {

using testing::cupsConnector;
using testing::darkRunsOnRow;
using testing::expectedPatternRuns;
using testing::finishedJob;
using testing::jobRecord;
using testing::JobRecord;

// The private scheduler, when set up.
struct RasterScheduler {
    std::string server;
    QString out;
};

std::optional<RasterScheduler> rasterScheduler()
{
    const char* server = std::getenv("RAITAKONE_CUPS_RASTER_SERVER");
    const char* out = std::getenv("RAITAKONE_CUPS_RASTER_OUT");
    if (!server || !*server || !out || !*out)
        return std::nullopt;
    return RasterScheduler{server, QString::fromLocal8Bit(out)};
}

#define REQUIRE_RASTER_SCHEDULER(scheduler)                                                            \
    const auto scheduler = rasterScheduler();                                                          \
    if (!scheduler)                                                                                    \
        GTEST_SKIP() << "no private CUPS scheduler: run scripts/cups-private-scheduler.sh start and "  \
                        "export RAITAKONE_CUPS_RASTER_SERVER and RAITAKONE_CUPS_RASTER_OUT";           \
    const ServerScope scope_(scheduler->server);

// Points this thread's libcups at another scheduler for the scope's life;
// the other CUPS tests go on using the system's.
class ServerScope {
public:
    explicit ServerScope(const std::string& server)
    {
        const char* current = cupsServer();
        previous_ = current ? current : "";
        cupsSetServer(server.c_str());
    }
    ~ServerScope() { cupsSetServer(previous_.empty() ? nullptr : previous_.c_str()); }
    ServerScope(const ServerScope&) = delete;
    ServerScope& operator=(const ServerScope&) = delete;

private:
    std::string previous_;
};

// Jobs the queue holds or has held.
int jobCount(const std::string& queue)
{
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
    cupsFreeJobs(count, jobs);
    return count;
}

// cupsaccept or cupsreject, as the scheduler's administrator.
bool setAccepting(const std::string& queue, bool accepting)
{
    ipp_t* request = ippNewRequest(accepting ? IPP_OP_CUPS_ACCEPT_JOBS : IPP_OP_CUPS_REJECT_JOBS);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     queue.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/admin/"));
    return cupsLastError() < IPP_STATUS_REDIRECTION_OTHER_SITE;
}

// The first page of a PWG (or CUPS) raster file as the driver got it: its
// header, the page as one bit a pixel (set = black, as a bilevel page
// raster holds it), and how many pixels were neither black nor white.
struct DriverPage {
    cups_page_header2_t header{};
    QImage page;
    long otherPixels = 0;
    std::string error;
};

DriverPage readDriverRaster(const QString& path)
{
    DriverPage result;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = "cannot open " + path.toStdString();
        return result;
    }
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (!raster || !cupsRasterReadHeader2(raster, &result.header)) {
        result.error = "no raster header in " + path.toStdString();
    } else {
        const cups_page_header2_t& h = result.header;
        QImage page(int(h.cupsWidth), int(h.cupsHeight), QImage::Format_Mono);
        page.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        page.fill(0);
        std::vector<unsigned char> line(h.cupsBytesPerLine);
        // Black (K) counts ink, so 0 is paper; grey and RGB count light.
        const bool countsInk = h.cupsColorSpace == CUPS_CSPACE_K;
        const unsigned bits = h.cupsBitsPerPixel;
        if (bits != 1 && bits != 8 && bits != 24)
            result.error = "unexpected " + std::to_string(bits) + " bits a pixel";
        const auto rgbLight = [](const unsigned char* p) { return p[0] == p[1] && p[1] == p[2] ? int(p[0]) : 128; };
        for (unsigned y = 0; y < h.cupsHeight && result.error.empty(); ++y) {
            if (cupsRasterReadPixels(raster, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine) {
                result.error = "raster ends at row " + std::to_string(y);
                break;
            }
            uchar* out = page.scanLine(int(y));
            for (unsigned x = 0; x < h.cupsWidth; ++x) {
                // The pixel as light, 0 (black) .. 255 (white); an RGB pixel is grey
                // only when its channels agree.
                const int light = bits == 1 ? (bool(line[x / 8] & (0x80u >> (x % 8))) == countsInk ? 0 : 255)
                                  : bits == 8 ? (countsInk ? 255 - line[x] : line[x])
                                              : rgbLight(&line[3 * x]);
                if (light == 0)
                    out[x / 8] |= uchar(0x80u >> (x % 8));
                result.otherPixels += light != 0 && light != 255;
            }
        }
        if (result.error.empty())
            result.page = page;
    }
    if (raster)
        cupsRasterClose(raster);
    ::close(fd);
    return result;
}

// When a small vertical shift explains the difference, which.
std::string shiftNote(const QImage& ours, const QImage& driver)
{
    for (int shift = -3; shift <= 3; ++shift)
        if (shift != 0 && testing::differingBits(ours, driver, shift) == 0)
            return "the driver's page is ours moved " + std::to_string(shift) + " rows down";
    return "no shift of up to 3 rows explains the difference";
}

// The page "Valkea 1 (perus)" draws on a printer of this geometry.
QImage drawnPage(const PageGeometry& g)
{
    testing::TestPrinter printer(g);
    Command10_Click(printer.printer, 0);
    return printer.lastPage().image();
}

// The same page from the page-file printer (A4 only): its PNG, one bit a
// pixel, as a bilevel page holds it (bit set = black).
QImage pageFilePrinterPage(double dpi)
{
    QTemporaryDir dir;
    PrinterSurface printer([&] { return std::make_unique<FilePrinter>(dir.path().toStdString(), dpi, dpi); });
    Command10_Click(printer, 0);
    const std::optional<Delivery> delivered = printer.takeLastDelivery();
    if (!delivered)
        return {};
    QImageReader::setAllocationLimit(0);
    QImage png = QImageReader(QString::fromStdString(delivered->file)).read();
    png = png.convertToFormat(QImage::Format_Mono);
    if (qGray(png.color(1)) > 127)
        png.invertPixels();
    png.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    return png;
}

// Prints "Valkea 1 (perus)" on the queue and gives the finished job's id.
int printValkea1(const std::string& queue, std::string* notice = nullptr)
{
    PrinterSurface printer(cupsConnector(queue));
    printer.setJobTitle("Raitakone: Valkea 1 (perus)");
    Command10_Click(printer, 0);
    const std::optional<Delivery> delivered = printer.takeLastDelivery();
    if (!delivered)
        return 0;
    if (notice)
        *notice = delivered->notice;
    return delivered->job;
}

// "Valkea 1 (perus)" through the PWG raster driver's queues at 300, 600 and
// 1200 dpi on A4, Letter and a 100 x 150 mm label: the raster the driver
// receives from CUPS's rasteriser is the page we drew, pixel for pixel, in
// black and white only. On A4 the page we drew is the page-file printer's
// PNG of the same button at the same resolution.
TEST(CupsRasteriser, DriverReceivesOurPagePixelForPixel)
{
    REQUIRE_RASTER_SCHEDULER(scheduler);
    for (const char* media : {"a4", "letter", "label"}) {
        for (int dpi : {300, 600, 1200}) {
            const std::string queue = std::string("raitakone-") + media + "-" + std::to_string(dpi);
            SCOPED_TRACE(queue);
            const QString rasterFile = QDir(scheduler->out).filePath(QString::fromStdString(queue) + ".pwg");
            QFile::remove(rasterFile);

            const int jobId = printValkea1(queue);
            ASSERT_GT(jobId, 0);
            const JobRecord job = finishedJob(jobId);
            ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << "job " << jobId << ": " << job.stateReasons;
            EXPECT_EQ(job.format, "application/pdf") << "this queue takes PWG raster at 150 dpi only";

            const DriverPage driver = readDriverRaster(rasterFile);
            ASSERT_EQ(driver.error, "");
            EXPECT_EQ(std::make_pair(driver.header.HWResolution[0], driver.header.HWResolution[1]),
                      std::make_pair(unsigned(dpi), unsigned(dpi)));
            EXPECT_EQ(driver.otherPixels, 0) << "grey or colour pixels: something smoothed the page";

            const QImage ours = std::string(media) == "a4" ? pageFilePrinterPage(dpi)
                                                            : drawnPage(CupsPrinter(queue).geometry());
            ASSERT_EQ(ours.format(), QImage::Format_Mono);
            ASSERT_EQ(driver.page.size(), ours.size());
            const long differing = testing::differingBits(ours, driver.page);
            EXPECT_EQ(differing, 0) << (differing ? shiftNote(ours, driver.page) : "");
        }
    }
}

// A queue that takes PWG raster at its own resolution (150 dpi) gets the page
// as PWG raster, untouched by any filter: the job's document format says so,
// the raster has the queue's resolution and default media in pixels, every
// module is its whole number of pixels, and the page decodes.
TEST(CupsRasteriser, PwgRasterQueueGetsOurRasterAsItStands)
{
    REQUIRE_RASTER_SCHEDULER(scheduler);
    const std::string queue = "raitakone-pwg-150";
    const QString rasterFile = QDir(scheduler->out).filePath(QString::fromStdString(queue) + ".pwg");
    QFile::remove(rasterFile);

    const PageGeometry g = CupsPrinter(queue).geometry();
    EXPECT_EQ(std::make_pair(g.dpiX, g.dpiY), std::make_pair(150.0, 150.0));
    EXPECT_EQ(std::make_pair(g.sheetWidth, g.sheetHeight), std::make_pair(1240, 1754)) << "A4 at 150 dpi";

    const int jobId = printValkea1(queue);
    ASSERT_GT(jobId, 0);
    const JobRecord job = finishedJob(jobId);
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << "job " << jobId << ": " << job.stateReasons;
    EXPECT_EQ(job.format, "image/pwg-raster");

    const DriverPage driver = readDriverRaster(rasterFile);
    ASSERT_EQ(driver.error, "");
    const cups_page_header2_t& h = driver.header;
    EXPECT_EQ(std::make_pair(h.HWResolution[0], h.HWResolution[1]), std::make_pair(150u, 150u));
    EXPECT_EQ(std::make_pair(h.cupsWidth, h.cupsHeight), std::make_pair(unsigned(g.sheetWidth), unsigned(g.sheetHeight)));
    EXPECT_EQ(std::make_pair(h.cupsColorSpace, h.cupsBitsPerPixel), std::make_pair(CUPS_CSPACE_K, 1u))
        << "a black and white page goes one bit a pixel";
    EXPECT_EQ(driver.otherPixels, 0);

    const QImage ours = drawnPage(g);
    EXPECT_EQ(testing::differingBits(ours, driver.page), 0);

    // Every module its whole width in pixels (at 9.6 twips a pixel), on every
    // row of the bars, 1.1 cm tall.
    PageRaster received(driver.page.width(), driver.page.height());
    for (int y = 0; y < driver.page.height(); ++y)
        for (int x = 0; x < driver.page.width(); ++x)
            if (driver.page.pixelIndex(x, y))
                received.setPixel(x, y, kBlack);
    const int w = int(moduleWidth(1440.0f / 150));
    const std::vector<testing::Run> bands = testing::inkBands(received);
    ASSERT_FALSE(bands.empty());
    const testing::Run bars = bands.front();
    EXPECT_EQ(bars.length(), int(std::lround(1.1 / 2.54 * 150)));
    const std::vector<testing::Run> firstRow = darkRunsOnRow(received, bars.start);
    ASSERT_FALSE(firstRow.empty());
    for (int row = bars.start; row < bars.end; ++row)
        ASSERT_EQ(darkRunsOnRow(received, row), expectedPatternRuns(firstRow.front().start, w)) << "row " << row;
    EXPECT_EQ(testing::decodeCode128(received), testing::kPatternDigits);
}

// A queue that holds the job says so: stopped, paused, or held by a printer
// error; a printing queue, or one with only reports and warnings, says nothing.
TEST(CupsQueueState, HeldJobNoticeForStoppedPausedOrFailingPrintersOnly)
{
    const std::string stopped = heldJobNotice("toimisto", 42, IPP_PSTATE_STOPPED, "paused", "Paused by root");
    for (const char* part : {"42", "\"toimisto\"", "pysäytetty", "Paused by root", "cupsenable toimisto"})
        EXPECT_NE(stopped.find(part), std::string::npos) << part << " in " << stopped;
    const std::string jammed = heldJobNotice("toimisto", 7, IPP_PSTATE_PROCESSING, "media-jam-error,toner-low-report", "");
    for (const char* part : {"7", "virheestä", "media-jam-error", "cupsenable toimisto"})
        EXPECT_NE(jammed.find(part), std::string::npos) << part << " in " << jammed;
    EXPECT_NE(heldJobNotice("q", 1, IPP_PSTATE_IDLE, "moving-to-paused", ""), "");
    EXPECT_EQ(heldJobNotice("q", 1, IPP_PSTATE_IDLE, "none", ""), "");
    EXPECT_EQ(heldJobNotice("q", 1, IPP_PSTATE_PROCESSING, "toner-low-report,media-low-warning", "Printing"), "");
}

// A queue that rejects jobs (cupsreject) refuses the page with a message that
// names the queue and the way out, and no job is left behind; once the queue
// accepts again, the same printer prints.
TEST(CupsQueueState, ARejectingQueueRefusesThePageAndSaysHowToAcceptAgain)
{
    REQUIRE_RASTER_SCHEDULER(scheduler);
    const std::string queue = "raitakone-rejecting";
    const int jobsBefore = jobCount(queue);

    PrinterSurface printer(cupsConnector(queue));
    printer.setJobTitle("Raitakone: Valkea 1 (perus)");
    const std::string message = testing::errorOf([&] { Command10_Click(printer, 0); });
    EXPECT_NE(message.find("\"" + queue + "\""), std::string::npos) << message;
    EXPECT_NE(message.find("cupsaccept " + queue), std::string::npos) << message;
    EXPECT_FALSE(printer.documentOpen()) << "the refused page is discarded";
    EXPECT_EQ(jobCount(queue), jobsBefore) << "a refused page leaves no job";

    ASSERT_TRUE(setAccepting(queue, true));
    Command10_Click(printer, 0);
    const std::optional<Delivery> delivered = printer.takeLastDelivery();
    ASSERT_TRUE(delivered);
    EXPECT_EQ(finishedJob(delivered->job).state, IPP_JSTATE_COMPLETED);
    EXPECT_TRUE(setAccepting(queue, false));
}

// A stopped queue (cupsdisable) takes the job and holds it; the delivery
// says so, with the job number and how to resume the queue. A queue that
// prints says nothing.
TEST(CupsQueueState, AStoppedQueueIsSaidOutLoud)
{
    REQUIRE_RASTER_SCHEDULER(scheduler);
    std::string notice;
    const int held = printValkea1("raitakone-stopped", &notice);
    ASSERT_GT(held, 0);
    EXPECT_EQ(jobRecord(held).state, IPP_JSTATE_PENDING) << "the stopped queue holds the job";
    EXPECT_NE(notice.find(std::to_string(held)), std::string::npos) << notice;
    EXPECT_NE(notice.find("pysäytetty"), std::string::npos) << notice;
    EXPECT_NE(notice.find("cupsenable raitakone-stopped"), std::string::npos) << notice;
    EXPECT_NE(notice.find("paused by the Raitakone tests"), std::string::npos) << "the reason cupsdisable gave";
    cupsCancelJob2(CUPS_HTTP_DEFAULT, "raitakone-stopped", held, 1);

    const int printed = printValkea1("raitakone-pwg-150", &notice);
    ASSERT_GT(printed, 0);
    EXPECT_EQ(notice, "");
    finishedJob(printed);
}

} // namespace
} // namespace raitakone
