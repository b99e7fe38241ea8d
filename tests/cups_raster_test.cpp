// Pages through CUPS's own rasteriser on the private scheduler of
// scripts/cups-private-scheduler.sh: each queue NAME writes the raster its
// driver receives to $RAITAKONE_CUPS_RASTER_OUT/NAME.pwg, read back here.

#include "app/Controls.h"
#include "printing/FilePrinter.h"
#include "printtests/PrintTests.h"
#include "support/BarChecks.h"
#include "support/CupsJobs.h"
#include "support/DriverOutput.h"
#include "support/InkExtent.h"
#include "support/MemoryPrinter.h"
#include "surface/PictureSurface.h"

#include <cups/raster.h>

#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace raitakone {
namespace {

// Points libcups at the private scheduler; the other CUPS tests use the system's.
class CupsRasteriser : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("RAITAKONE_CUPS_RASTER_SERVER") ||
            qEnvironmentVariableIsEmpty("RAITAKONE_CUPS_RASTER_OUT"))
            GTEST_SKIP() << "no private CUPS scheduler (scripts/cups-private-scheduler.sh start)";
        cupsSetServer(std::getenv("RAITAKONE_CUPS_RASTER_SERVER"));
    }
    void TearDown() override { cupsSetServer(nullptr); }
};

std::string rasterFile(const std::string& queue)
{
    return std::getenv("RAITAKONE_CUPS_RASTER_OUT") + ("/" + queue) + ".pwg";
}

int jobCount(const char* queue)
{
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue, 0, CUPS_WHICHJOBS_ALL);
    cupsFreeJobs(count, jobs);
    return count;
}

// The first page the driver received: black where it got black, and how many
// pixels were neither black nor white.
struct DriverPage {
    cups_page_header2_t header{};
    PageRaster page{0, 0};
    long otherPixels = 0;
};

DriverPage readDriverRaster(const std::string& path)
{
    DriverPage result;
    cups_page_header2_t& h = result.header;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    cups_raster_t* raster = fd < 0 ? nullptr : cupsRasterOpen(fd, CUPS_RASTER_READ);
    const unsigned bits = raster && cupsRasterReadHeader2(raster, &h) ? h.cupsBitsPerPixel : 0;
    if (bits != 1 && bits != 8) // black (K) or grey: the queues' drivers take no colour
        ADD_FAILURE() << "no raster of 1 or 8 bits a pixel in " << path;
    else
        result.page = PageRaster(int(h.cupsWidth), int(h.cupsHeight));
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    const bool countsInk = h.cupsColorSpace == CUPS_CSPACE_K; // grey counts light
    for (unsigned y = 0; y < unsigned(result.page.height()); ++y) {
        if (cupsRasterReadPixels(raster, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine) {
            ADD_FAILURE() << "raster ends at row " << y;
            break;
        }
        for (unsigned x = 0; x < h.cupsWidth; ++x) {
            const int light = bits == 1 ? (bool(line[x / 8] & (0x80u >> (x % 8))) == countsInk ? 0 : 255)
                                        : (countsInk ? 255 - line[x] : line[x]); // 0 (black) .. 255
            if (light == 0)
                result.page.setPixel(int(x), int(y), kBlack);
            result.otherPixels += light != 0 && light != 255;
        }
    }
    if (raster)
        cupsRasterClose(raster);
    if (fd >= 0)
        ::close(fd);
    return result;
}

// Prints "Valkea 1 (perus)" as the window does.
Delivery printValkea1(PrinterSurface::Connector connector)
{
    PrinterSurface printer(std::move(connector));
    printer.setJobTitle("Raitakone: Valkea 1 (perus)");
    Command10_Click(printer, 0);
    return printer.takeLastDelivery().value_or(Delivery{});
}

// The page as drawn for a printer of this geometry.
QImage drawnPage(const PageGeometry& g)
{
    auto record = std::make_shared<testing::MemoryPrinterRecord>();
    printValkea1([&] { return std::make_unique<testing::MemoryPrinter>(g, record); });
    return record->pages.at(0).raster.image();
}

// The page from the page-file printer (A4), one bit a pixel, set = black.
QImage pageFilePrinterPage(double dpi)
{
    QTemporaryDir dir;
    const std::string file =
        printValkea1([&] { return std::make_unique<FilePrinter>(dir.path().toStdString(), dpi, dpi); }).file;
    QImageReader::setAllocationLimit(0);
    QImage png = QImageReader(QString::fromStdString(file)).read().convertToFormat(QImage::Format_Mono);
    if (qGray(png.color(1)) > 127)
        png.invertPixels();
    return png;
}

void expectParts(const std::string& text, std::initializer_list<std::string> parts)
{
    for (const std::string& part : parts)
        EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
}

// The driver receives our page pixel for pixel in black and white: through
// CUPS's rasteriser at 300, 600 and 1200 dpi on A4 (the page-file printer's
// page), Letter and a 100 x 150 mm label, and as it stands from a queue that
// takes PWG raster at 150 dpi.
TEST_F(CupsRasteriser, DriverReceivesOurPagePixelForPixel)
{
    std::vector<std::pair<std::string, int>> queues{{"raitakone-pwg-150", 150}};
    for (const char* media : {"a4", "letter", "label"})
        for (int dpi : {300, 600, 1200})
            queues.emplace_back(std::string("raitakone-") + media + "-" + std::to_string(dpi), dpi);
    for (const auto& [queue, dpi] : queues) {
        SCOPED_TRACE(queue);
        const PageGeometry g = CupsPrinter(queue).geometry();
        EXPECT_EQ(std::make_pair(g.dpiX, g.dpiY), std::make_pair(double(dpi), double(dpi)));
        std::remove(rasterFile(queue).c_str());
        const Delivery delivered = printValkea1(testing::cupsConnector(queue));
        ASSERT_GT(delivered.job, 0);
        // A queue that prints says nothing more than that the first bar lies
        // at the edge, where a driver may clip; at 600 and 1200 dpi it reaches
        // a pixel or so past the printable area, which is kept for the record.
        EXPECT_TRUE(delivered.notice.starts_with("Sivun piirros ulottuu alle 1 mm")) << delivered.notice;
        EXPECT_TRUE(delivered.notice.ends_with("voivat jäädä tulostumatta.")) << delivered.notice;
        EXPECT_EQ(delivered.minorNotice.starts_with("Sivun piirroksesta jäi 0,0"), dpi >= 600) << delivered.minorNotice;
        const testing::JobRecord job = testing::finishedJob(delivered.job);
        ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << "job " << delivered.job << ": " << job.stateReasons;
        EXPECT_EQ(job.format, dpi == 150 ? "image/pwg-raster" : "application/pdf");

        const DriverPage driver = readDriverRaster(rasterFile(queue));
        const cups_page_header2_t& h = driver.header;
        EXPECT_EQ(std::vector<int>({int(h.HWResolution[0]), int(h.HWResolution[1]), int(h.cupsWidth), int(h.cupsHeight)}),
                  std::vector<int>({dpi, dpi, g.sheetWidth, g.sheetHeight}));
        EXPECT_EQ(driver.otherPixels, 0) << "grey pixels: something smoothed the page";
        const QImage ours = queue.starts_with("raitakone-a4") ? pageFilePrinterPage(dpi) : drawnPage(g);
        ASSERT_EQ(driver.page.image().size(), ours.size());
        EXPECT_EQ(testing::differingBits(ours, driver.page.image()), 0);
        if (dpi == 150) { // every module its whole width (9.6 twips a pixel) over the 1.1 cm bars
            const testing::Run bars = testing::inkBands(driver.page).at(0);
            EXPECT_EQ(bars.length(), std::lround(1.1 / 2.54 * 150));
            testing::expectModuleBars(driver.page, testing::darkRunsOnRow(driver.page, bars.start).at(0).start,
                                      int(moduleWidth(1440.0f / 150)), bars.start, bars.end - 1);
        }
    }
}

// The centimetre-box page on a 100 x 150 mm label queue: the job prints a
// blank label, as drawn, and the delivery says the page printed no symbol.
TEST_F(CupsRasteriser, APageThatMissesTheLabelSaysSo)
{
    const std::string queue = "raitakone-label-300";
    std::remove(rasterFile(queue).c_str());
    PrinterSurface printer(testing::cupsConnector(queue));
    bool ended = false;
    Command4_Click(printer, [&] { ended = true; });
    const Delivery delivered = printer.takeLastDelivery().value_or(Delivery{});
    ASSERT_GT(delivered.job, 0);
    EXPECT_TRUE(ended);
    expectParts(delivered.notice, {"tulostusalueen alapuolelle", "Sivu ei tulostanut viivakoodia"});
    const testing::JobRecord job = testing::finishedJob(delivered.job);
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.stateReasons;
    const DriverPage driver = readDriverRaster(rasterFile(queue));
    EXPECT_EQ(std::make_pair(int(driver.header.cupsWidth), int(driver.header.cupsHeight)),
              std::make_pair(1181, 1772)) << "100 x 150 mm at 300 dpi";
    EXPECT_EQ(testing::inkPixelCount(driver.page), 0);
}

// A label queue on CUPS's own Zebra ZPL driver whose default label, 4 x 5
// in, libcups names custom_…: the page is that label, not another size.
TEST_F(CupsRasteriser, ACustomLabelSizeIsTheLabelsOwnSize)
{
    PrinterSurface printer(testing::cupsConnector("raitakone-zebra-4x5"));
    const PageGeometry g = printer.pageGeometry();
    EXPECT_EQ(std::make_pair(g.sheetWidth, g.sheetHeight), std::make_pair(812, 1015));
    EXPECT_EQ(g.paper.description(), "4x5, 101,6 × 127 mm");
}

// The page as drawn for the printer, black where it is dark: a driver that
// halftones grey still prints a near-black pixel black.
QImage darkPixels(const PageRaster& page)
{
    const QImage grey = page.image().convertToFormat(QImage::Format_Grayscale8);
    QImage mono(grey.size(), QImage::Format_Mono);
    mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mono.fill(0);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x)
            if (grey.constScanLine(y)[x] < 128)
                mono.setPixel(x, y, 1);
    return mono;
}

// What the driver of queue wrote for its last job, decoded, and where its
// first row lies on the sheet.
struct DriverBitmap {
    QImage rows;
    QPoint onSheet;
    int dpi = 0;
};

DriverBitmap driverBitmap(const std::string& queue, int dpi)
{
    QFile file(QString::fromStdString(std::getenv("RAITAKONE_CUPS_RASTER_OUT") + ("/" + queue)));
    const bool zpl = QFile::exists(file.fileName() + ".zpl");
    file.setFileName(file.fileName() + (zpl ? ".zpl" : ".pcl"));
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (zpl) // ^FO0,0 on ^LH0,0: the label's own top-left
        return {testing::zplGraphic(bytes), {0, 0}, dpi};
    // PCL places the raster on a logical page that a LaserJet starts ¼ in
    // from the sheet's left edge in portrait.
    const testing::PclPage pcl = testing::pclRaster(bytes);
    return {pcl.rows, pcl.origin + QPoint(pcl.dpi / 4, 0), pcl.dpi};
}

// Every page of the series through CUPS's Zebra ZPL driver on a 4 x 5 in
// label, Gutenprint's LaserJet 4 at 600 dpi and hpcups's LaserJet 1320, each
// in its default quality: what the driver sends the printer, decoded, is the
// page we drew, pixel for pixel. Each driver puts it a little off where its
// PPD's printable area says, the same for every page: Gutenprint 5 pixels
// (0.2 mm) right, hpcups a row higher, and hpcups leaves the first three rows
// of the printable area blank but for one stray dot. A page that asks for a
// print quality the driver rasterises at another resolution says so instead.
TEST_F(CupsRasteriser, RealDriversPrintEveryPageAsDrawn)
{
    struct Queue {
        std::string name;
        int dpi;
        std::string driver; // what the printer row says of the driver's mode
        QPoint shift;       // where the driver puts our page against the printable area
        int blankTopRows;   // rows the driver leaves blank
        std::string otherQuality; // the page whose print quality the driver rasterises at another resolution
    };
    const std::vector<Queue> queues{
        {"raitakone-zebra-4x5", 203, "", {0, 0}, 0, ""},
        {"raitakone-gutenprint-lj4", 600, "ajurille StpQuality=High", {5, 0}, 0, "Command11:4"},
        {"raitakone-hpcups-lj1320", 600, "ajurin tila OutputMode=Normal", {0, -1}, 3, ""}};
    for (const Queue& queue : queues) {
        SCOPED_TRACE(queue.name);
        CupsPrinter probe(queue.name);
        const PageGeometry g = probe.geometry();
        ASSERT_EQ(std::make_pair(g.dpiX, g.dpiY), std::make_pair(double(queue.dpi), double(queue.dpi)));
        EXPECT_EQ(probe.driverText(), queue.driver);
        for (const PrintPage& page : allPrintPages()) {
            SCOPED_TRACE(page.name());
            for (const char* suffix : {".zpl", ".pcl"})
                std::remove((std::getenv("RAITAKONE_CUPS_RASTER_OUT") + ("/" + queue.name) + suffix).c_str());
            PictureSurface preview(kPictureWidth, kPictureHeight);
            PrinterSurface printer(testing::cupsConnector(queue.name));
            printPage(page, printer, preview, [] {}, [](const std::string&) {});
            const Delivery delivered = printer.takeLastDelivery().value_or(Delivery{});
            ASSERT_GT(delivered.job, 0);
            const testing::JobRecord job = testing::finishedJob(delivered.job);
            ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.stateReasons;
            if (page.name() == queue.otherQuality) {
                expectParts(delivered.notice, {"Tulostuslaadulla normaali", "300 dpi:n tarkkuudella"});
                continue;
            }
            EXPECT_EQ(delivered.notice.find("Tulostuslaadulla"), std::string::npos) << delivered.notice;

            testing::TestPrinter drawn(g);
            PictureSurface drawnPreview(kPictureWidth, kPictureHeight);
            printPage(page, drawn.printer, drawnPreview, [] {}, [](const std::string&) {});
            const DriverBitmap driver = driverBitmap(queue.name, queue.dpi);
            ASSERT_FALSE(driver.rows.isNull()) << "no raster the decoder reads";
            EXPECT_EQ(driver.dpi, queue.dpi);
            const int width = driver.rows.width(), height = driver.rows.height() - queue.blankTopRows;
            const QImage expected = darkPixels(drawn.lastPage())
                .copy(QRect(driver.onSheet - queue.shift + QPoint(0, queue.blankTopRows), QSize(width, height)));
            EXPECT_EQ(testing::differingBits(expected, driver.rows.copy(0, queue.blankTopRows, width, height)), 0);
            QImage paper(width, queue.blankTopRows, QImage::Format_Mono);
            paper.fill(0);
            EXPECT_LE(testing::differingBits(paper, driver.rows.copy(0, 0, width, queue.blankTopRows)), 1)
                << "a stray dot at most";
        }
    }
}

// Only a queue that is stopped, pausing or held by an error holds the job;
// reports and warnings alone do not.
TEST(CupsQueueState, HeldJobNoticeForStoppedPausedOrFailingPrintersOnly)
{
    expectParts(heldJobNotice("toimisto", 42, IPP_PSTATE_STOPPED, "paused", "Paused by root"),
                {"42", "\"toimisto\"", "pysäytetty", "Paused by root", "cupsenable toimisto"});
    expectParts(heldJobNotice("toimisto", 7, IPP_PSTATE_PROCESSING, "media-jam-error,toner-low-report", ""),
                {"7", "virheestä", "media-jam-error", "cupsenable toimisto"});
    EXPECT_NE(heldJobNotice("q", 1, IPP_PSTATE_IDLE, "moving-to-paused", ""), "");
    EXPECT_EQ(heldJobNotice("q", 1, IPP_PSTATE_IDLE, "none", ""), "");
    EXPECT_EQ(heldJobNotice("q", 1, IPP_PSTATE_PROCESSING, "toner-low-report,media-low-warning", "Printing"), "");
}

// A rejecting queue (cupsreject) refuses the page, says how to accept again
// and keeps no job; a stopped one (cupsdisable) holds the job and says so.
TEST_F(CupsRasteriser, RejectingAndStoppedQueuesAreSaidOutLoud)
{
    const int jobsBefore = jobCount("raitakone-rejecting");
    PrinterSurface printer(testing::cupsConnector("raitakone-rejecting"));
    expectParts(testing::errorOf([&] { Command10_Click(printer, 0); }),
                {"\"raitakone-rejecting\"", "cupsaccept raitakone-rejecting"});
    EXPECT_FALSE(printer.documentOpen()) << "the refused page is discarded";
    EXPECT_EQ(jobCount("raitakone-rejecting"), jobsBefore);

    const Delivery held = printValkea1(testing::cupsConnector("raitakone-stopped"));
    ASSERT_GT(held.job, 0);
    expectParts(held.notice, {std::to_string(held.job), "cupsenable raitakone-stopped", "paused by the Raitakone tests"});
    cupsCancelJob2(CUPS_HTTP_DEFAULT, "raitakone-stopped", held.job, 1);
}

} // namespace
} // namespace raitakone
