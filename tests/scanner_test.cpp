// Scanning through SANE's test backend, configured in a private folder: the
// page as the backend sends it in each of its ways, the resolution it used,
// its failures, a cancelled scan and the saved page.

#include "process/TerminationSignals.h"
#include "grading/ScanImage.h"
#include "scanning/Scanner.h"
#include "support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>

#include <unistd.h>

using namespace raitakone;
using namespace raitakone::scanning;

namespace {

// A flatbed 40 mm square whose configured area is smaller, so that a scan
// of the whole bed shows that the area was widened.
const char* const kBaseConfig = "number_of_devices 2\n"
                                "mode Gray\n"
                                "depth 8\n"
                                "resolution_min 1.0\n"
                                "resolution_max 1200.0\n"
                                "resolution_quant 1.0\n"
                                "resolution 50.0\n"
                                "test-picture \"Solid white\"\n"
                                "geometry_min 0.0\n"
                                "geometry_max 40.0\n"
                                "geometry_quant 1.0\n"
                                "tl_x 5.0\ntl_y 5.0\nbr_x 20.0\nbr_y 30.0\n";

// The one configuration folder SANE reads in this process, rewritten for
// each case.
void configure(const char* backends, const QString& extra = {})
{
    static QTemporaryDir folder;
    qputenv("SANE_CONFIG_DIR", QFile::encodeName(folder.path()));
    const auto write = [](const QString& path, const QByteArray& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    write(folder.filePath("dll.conf"), backends);
    write(folder.filePath("test.conf"), QByteArray(kBaseConfig) + extra.toUtf8());
}

Acquisition acquire(const ScanRequest& request)
{
    const std::atomic<bool> cancel{false};
    return acquireScan(request, cancel);
}

int pixelsAcross(double mm, double dpi) { return int(std::lround(mm / 25.4 * dpi)); }

struct Way {
    const char* name;
    QString config;
    ScanRequest request;
    double dpi;          // what the backend then uses
    double widthMm;      // the scanned width
    double heightMm;     // and height; 0 when the scanner does not know it beforehand
    QImage::Format format;
};

} // namespace

// The page in each way the backend sends it: whole bed, measured plane the
// size of the image, the resolution the backend used in scan and image.
TEST(Scanner, AcquiresTheWholeBedAtTheScannersResolution)
{
    const Way ways[] = {
        {"grey, capped resolution", "resolution_max 150.0\n", {{}, 600}, 150, 40, 40, QImage::Format_Grayscale8},
        {"grey, quantised resolution", "resolution_min 50.0\nresolution_quant 25.0\n", {"test:1", 310}, 300, 40, 40,
         QImage::Format_Grayscale8},
        {"colour", "test-picture \"Color pattern\"\n", {{}, 100, true}, 100, 40, 40, QImage::Format_RGB888},
        {"hand scanner", "hand-scanner true\n", {{}, 100}, 100, 110, 0, QImage::Format_Grayscale8},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        configure("test\n", way.config);
        const Acquisition a = acquire(way.request);
        ASSERT_EQ(a.problem, ScanProblem::None) << a.error.toStdString();
        ASSERT_TRUE(a.scan);
        EXPECT_EQ(a.device, way.request.device.isEmpty() ? QString("test:0") : way.request.device);
        EXPECT_EQ(a.image.format(), way.format);
        EXPECT_NEAR(a.image.width(), pixelsAcross(way.widthMm, way.dpi), 1);
        if (way.heightMm > 0) {
            EXPECT_NEAR(a.image.height(), pixelsAcross(way.heightMm, way.dpi), 1);
        } else {
            EXPECT_GT(a.image.height(), 0);
        }
        EXPECT_EQ(a.scan->plane.size(), a.image.size());
        EXPECT_EQ(a.scan->dpiX, way.dpi);
        EXPECT_EQ(a.scan->dpiY, way.dpi);
        EXPECT_NEAR(a.image.dotsPerMeterX() * 0.0254, way.dpi, 0.05);
        EXPECT_EQ(a.scan->plane, grading::measuredPlane(a.image));
        // What was set is kept with the scan, as the device holds it (the test backend has no gamma to turn off).
        const QStringList& set = a.scan->encoding.scannerSettings;
        EXPECT_TRUE(set.contains(QString("resolution=%1").arg(way.dpi))) << set.join(", ").toStdString();
        EXPECT_TRUE(set.contains(way.format == QImage::Format_RGB888 ? "mode=Color" : "mode=Gray"))
            << set.join(", ").toStdString();
        EXPECT_TRUE(set.contains("depth=8")) << set.join(", ").toStdString();
    }
}

// Three passes, one colour each and in any order, make the page one pass makes.
TEST(Scanner, ThreePassesMakeTheOnePassPage)
{
    configure("test\n", "test-picture \"Color pattern\"\n");
    const Acquisition onePass = acquire({{}, 100, true});
    configure("test\n", "test-picture \"Color pattern\"\nthree-pass true\nthree-pass-order BRG\n");
    const Acquisition threePass = acquire({{}, 100, true});
    ASSERT_EQ(threePass.problem, ScanProblem::None) << threePass.error.toStdString();
    ASSERT_FALSE(onePass.image.isNull());
    QSet<QRgb> colours;
    for (int y = 0; y < onePass.image.height(); ++y)
        colours.insert(onePass.image.pixel(y, y));
    EXPECT_GE(colours.size(), 4);
    EXPECT_EQ(threePass.image, onePass.image);
}

// Each failure is named, with a message, and the scanner is left usable.
TEST(Scanner, FailuresAreNamed)
{
    struct Case {
        const char* name;
        const char* backends;
        QString config;
        QString device;
        ScanProblem problem;
    } const cases[] = {
        {"no scanner", "", {}, {}, ScanProblem::NoScanner},
        {"unknown name", "test\n", {}, "test:7", ScanProblem::NoScanner},
        {"busy", "test\n", "read-status-code \"SANE_STATUS_DEVICE_BUSY\"\n", {}, ScanProblem::Busy},
        {"unplugged", "test\n", "read-status-code \"SANE_STATUS_IO_ERROR\"\n", {}, ScanProblem::Gone},
        {"jammed", "test\n", "read-status-code \"SANE_STATUS_JAMMED\"\n", {}, ScanProblem::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        configure(c.backends, c.config);
        const Acquisition a = acquire({c.device, 50});
        EXPECT_EQ(a.problem, c.problem);
        EXPECT_FALSE(a.scan);
        EXPECT_FALSE(a.error.isEmpty());
        EXPECT_TRUE(a.error.contains(c.device)) << a.error.toStdString();
    }
    configure("", {});
    QString error;
    EXPECT_TRUE(listScanners(&error).empty());
    EXPECT_TRUE(error.isEmpty());
    configure("test\n", {});
    const std::vector<ScannerDevice> devices = listScanners(&error);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[1].name, "test:1");
    EXPECT_EQ(acquire({}).problem, ScanProblem::None);
}

// A slow scan stopped after its first block ends as cancelled, and the next
// scan goes through.
TEST(Scanner, CancelledScanLeavesTheScannerReady)
{
    configure("test\n", "read-limit true\nread-limit-size 2048\nread-delay true\nread-delay-duration 50000\n");
    std::atomic<bool> cancel{false};
    double seen = -1.0;
    const Acquisition stopped = acquireScan({{}, 100}, cancel, [&](double fraction) {
        seen = fraction;
        cancel = true;
    });
    EXPECT_EQ(stopped.problem, ScanProblem::Cancelled);
    EXPECT_FALSE(stopped.scan);
    EXPECT_GT(seen, 0.0);
    EXPECT_LT(seen, 0.5);

    std::atomic<bool> keepGoing{false};
    double last = 0.0;
    const Acquisition next = acquireScan({{}, 100}, keepGoing, [&](double fraction) {
        EXPECT_GE(fraction, last);
        last = fraction;
    });
    EXPECT_EQ(next.problem, ScanProblem::None) << next.error.toStdString();
    EXPECT_EQ(last, 1.0);
}

// Pages one after another: the feeder until it runs empty (the test
// backend's after ten), the flatbed as long as another page is wanted.
TEST(Scanner, PagesComeUntilTheFeederIsEmptyOrNoMoreAreWanted)
{
    configure("test\n");
    const std::atomic<bool> cancel{false};
    const struct {
        PaperSource source;
        int wanted; // times another() answers yes
        int pages;
        bool feeder;
    } cases[] = {{PaperSource::Feeder, 0, 10, true}, {PaperSource::FeederWhenPresent, 0, 10, true},
                 {PaperSource::AsSet, 2, 3, false}};
    for (const auto& c : cases) {
        int delivered = 0, asked = 0;
        const ScanRun run = acquirePages({{}, 50, false, c.source}, cancel,
                                         [&](Acquisition&& page) {
                                             ++delivered;
                                             EXPECT_TRUE(page.scan && page.scan->dpiX == 50.0);
                                         },
                                         [&] { return asked++ < c.wanted; });
        EXPECT_EQ(run.problem, ScanProblem::None) << run.error.toStdString();
        EXPECT_EQ(run.pages, c.pages);
        EXPECT_EQ(delivered, c.pages);
        EXPECT_EQ(run.feeder, c.feeder);
    }
}

// The saved page reads back at the scanner's resolution; a file that cannot
// be written is refused with a message and leaves nothing behind.
TEST(Scanner, SavedPageKeepsItsResolution)
{
    configure("test\n", "resolution_max 150.0\n");
    const Acquisition a = acquire({{}, 600});
    ASSERT_TRUE(a.scan);
    QTemporaryDir work;
    const QString path = work.filePath("sivu.png");
    QString error;
    ASSERT_TRUE(saveScan(a.image, path, &error)) << error.toStdString();
    const grading::ScanLoad load = grading::loadScan(path, std::nullopt);
    ASSERT_TRUE(load.scan) << load.error.toStdString();
    EXPECT_EQ(load.scan->dpiX, 150.0);
    EXPECT_EQ(load.scan->plane, a.scan->plane);

    const QString nowhere = work.filePath("ei-ole/sivu.png");
    EXPECT_FALSE(saveScan(a.image, nowhere, &error));
    EXPECT_TRUE(error.contains(nowhere)) << error.toStdString();
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList{"sivu.png"});
}

// The test backend's reader thread sets SIGTERM back to its default for the
// whole process. After a scan the signal must still be a request to stop
// (so that the window closes as Poistu does), not sudden death.
int scanThenTerminate(const std::vector<std::string>&)
{
    ::alarm(30);
    installTerminationHandlers();
    configure("test\n");
    const Acquisition a = acquire({{}, 100});
    std::printf("scanned %d\n", a.scan ? 1 : 0);
    std::fflush(stdout);
    ::kill(::getpid(), SIGTERM);
    std::printf("requested %d\n", terminationSignal());
    return 0;
}
const raitakone::testing::ChildRole scanThenTerminateRole("scan-then-terminate", scanThenTerminate);

TEST(Scanner, AStopSignalAfterAScanIsStillARequest)
{
    raitakone::testing::Child child("scan-then-terminate", {});
    std::vector<std::string> lines;
    while (const auto line = child.readLine())
        lines.push_back(*line);
    EXPECT_EQ(child.wait(), "exit 0");
    EXPECT_EQ(lines, (std::vector<std::string>{"scanned 1", "requested " + std::to_string(SIGTERM)}));
}
