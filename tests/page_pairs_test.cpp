// A page-file page is a pair or nothing: signals wait for the pair, and
// opening the folder puts right what a killed program left there.

#include "process/TerminationSignals.h"
#include "printing/FilePrinter.h"
#include "printing/PageEncoders.h"
#include "printing/PageFolder.h"
#include "printing/PngPage.h"
#include "support/ChildProcess.h"
#include "support/MemoryPrinter.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raitakone {
namespace {

namespace fs = std::filesystem;
using testing::a4Geometry;
using testing::Child;
using Names = std::set<std::string>;

constexpr double kDpi = 150;

// An A4 page at kDpi with a bar as long as its number.
PageRaster a4Page(int number)
{
    PageRaster page(a4Geometry(kDpi).sheetWidth, a4Geometry(kDpi).sheetHeight);
    page.fill({100, 320, 100 + 10 * number, 330}, kBlack);
    return page;
}

std::string pdfOf(int number) { return encodePdf(a4Page(number), a4Geometry(kDpi)).toStdString(); }

// The names in dir; with a prefix, only those that start with it.
Names filesIn(const std::string& dir, const std::string& prefix = "")
{
    Names names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            names.insert(entry.path().filename().string());
    return names;
}

Names pairs(int count)
{
    Names names;
    for (int n = 1; n <= count; ++n)
        names.insert({pageFilePath("", n, "png").substr(1), pageFilePath("", n, "pdf").substr(1)});
    return names;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void age(const std::string& path, int seconds)
{
    const timespec times[2] = {{std::time(nullptr) - seconds, 0}, {std::time(nullptr) - seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void writeFile(const std::string& path, const std::string& data, int seconds = 0)
{
    std::ofstream(path, std::ios::binary) << data;
    age(path, seconds);
}

// deliver-pages DIR HANDLERS(yes/no) SIGNAL: delivers pages, a line after each, until asked
// to stop (exit 3), raising SIGNAL (0: none) between the halves of each.
int deliverPages(const std::vector<std::string>& args)
{
    ::alarm(10); // a stop never made fails the test instead of hanging it
    if (args.at(1) == "yes")
        installTerminationHandlers();
    FilePrinter printer(args.at(0), kDpi, kDpi);
    if (const int signal = std::stoi(args.at(2)))
        printer.setBetweenHalvesHook([signal] { ::kill(::getpid(), signal); });
    for (int n = 1; !terminationRequested(); ++n) {
        printer.deliver(a4Page(n), {"sivu " + std::to_string(n), 0, 0});
        std::printf("page %d\n", n);
        std::fflush(stdout);
    }
    return 3;
}
const testing::ChildRole deliverPagesRole("deliver-pages", deliverPages);

Child delivering(const std::string& dir, bool handlers, int signal)
{
    return Child("deliver-pages", {dir, handlers ? "yes" : "no", std::to_string(signal)});
}

// The fault guarded against: a signal between the two links left NNNN.png
// without NNNN.pdf. With the handlers a signal is a request (exit 3).
TEST(PagePairsUnderSignals, ASignalLeavesOnlyWholePairs)
{
    for (bool handlers : {false, true})
        for (int signal : {SIGTERM, SIGINT, SIGHUP, 0}) { // 0: a SIGTERM from outside after three pages
            SCOPED_TRACE(std::string(signal ? strsignal(signal) : "from outside") + (handlers ? ", handlers" : ""));
            QTemporaryDir tmp;
            const std::string dir = tmp.path().toStdString();
            Child child = delivering(dir, handlers, signal);
            int reported = 0;
            while (signal == 0 && reported < 3 && child.readLine())
                ++reported;
            if (signal == 0)
                ::kill(child.pid, SIGTERM);
            while (child.readLine())
                ++reported;
            EXPECT_EQ(child.wait(), handlers ? "exit 3" : "signal " + std::to_string(signal ? signal : SIGTERM));
            // Without handlers the program may end after a pair it had no time to report.
            const Names files = filesIn(dir);
            EXPECT_TRUE(files == pairs(signal ? 1 : std::max(reported, 3)) || (!handlers && files == pairs(reported + 1)))
                << reported << " reported, " << files.size() << " files";
            EXPECT_TRUE(readFile(dir + "/0001.pdf") == pdfOf(1)) << "0001.pdf is not page 1";
        }
}

class PageFolderRecovery : public ::testing::Test {
    QTemporaryDir tmp_;

protected:
    const std::string dir = tmp_.path().toStdString();
};

// A SIGKILL between the halves: the next opening makes the PDF again, byte
// for byte, and tells once; the temporary files go once a minute old.
TEST_F(PageFolderRecovery, AKillBetweenTheHalvesIsCompletedWhenTheFolderIsOpened)
{
    FilePrinter(dir, kDpi, kDpi).deliver(a4Page(1), {});
    ASSERT_EQ(delivering(dir, false, SIGKILL).wait(), "signal 9");
    const Names temps = filesIn(dir, kTempFilePrefix);
    ASSERT_EQ(temps.size(), 2u) << "the killed program's PNG and PDF under their temporary names";

    FilePrinter printer(dir, 600, 600);
    EXPECT_TRUE(readFile(dir + "/0002.pdf") == pdfOf(1)) << "0002.pdf is not the killed program's page 1";
    ASSERT_EQ(printer.recoveryNotices().size(), 1u);
    const std::string notice = printer.recoveryNotices()[0];
    EXPECT_NE(notice.find(dir + "/0002.pdf"), std::string::npos) << notice;
    EXPECT_EQ(printer.deliver(a4Page(3), {}).notice, notice);
    EXPECT_EQ(printer.deliver(a4Page(4), {}).notice, "");

    for (const std::string& temp : temps)
        age(dir + "/" + temp, 61);
    EXPECT_TRUE(FilePrinter(dir, 600, 600).recoveryNotices().empty());
    EXPECT_EQ(filesIn(dir), pairs(4));
}

// A half pair of a page on another paper than A4 gets the PDF of the paper
// its PNG names, whatever paper the printer that opens the folder has.
TEST_F(PageFolderRecovery, AHalfPairGetsThePdfOfThePaperItsPngNames)
{
    const PageGeometry label = paperSheet({{}, 100, 150}, kDpi, kDpi);
    PageRaster page(label.sheetWidth, label.sheetHeight);
    page.fill({10, 20, 200, 40}, kBlack);
    writeFile(dir + "/0001.png", encodePng(page, label, {}).toStdString());
    FilePrinter printer(dir, 600, 600);
    EXPECT_EQ(printer.recoveryNotices().size(), 1u);
    EXPECT_TRUE(readFile(dir + "/0001.pdf") == encodePdf(page, label).toStdString()) << "not the label's PDF";
}

// Halves that cannot be completed move aside under their own numbers, which
// no later page takes; what is not a half of a pair stays as it was.
TEST_F(PageFolderRecovery, OtherHalvesAreMovedAsideAndKeepTheirNumbers)
{
    const PageGeometry small{kDpi, kDpi, 40, 30, {0, 0, 40, 30}};
    const std::map<std::string, std::string> halves{
        {"0004.pdf", pdfOf(4)},                                               // a PNG cannot be made from it
        {"0005.png", encodePng(PageRaster(40, 30), small, {}).toStdString()}, // not an A4 page
        {"0009.png", "not a page"},                                           // the highest number
    };
    for (const auto& [name, data] : halves)
        writeFile(dir + "/" + name, data);
    for (const char* name : {"0001.png", "0001.pdf", "7.png", "0006.png.incomplete"})
        writeFile(dir + "/" + name, "not a half");
    fs::create_directory(dir + "/0003.png");           // a directory under a page name
    fs::create_symlink("0001.png", dir + "/0008.png"); // a symlink under a page name
    Names expected = filesIn(dir);

    FilePrinter printer(dir, kDpi, kDpi);
    ASSERT_EQ(printer.recoveryNotices().size(), halves.size());
    for (const auto& [name, data] : halves) {
        EXPECT_TRUE(readFile(dir + "/" + name + ".incomplete") == data) << name << " moved aside changed";
        expected.erase(name);
        expected.insert(name + ".incomplete");
        EXPECT_NE(printer.openingNotice().find(dir + "/" + name + " siirrettiin nimelle " + name + ".incomplete"),
                  std::string::npos) << printer.openingNotice();
    }
    EXPECT_EQ(filesIn(dir), expected);
    EXPECT_EQ(printer.deliver(PageRaster(40, 30), {}).file, dir + "/0010.png");
}

// A page's file never takes a name that is there, whoever put it there:
// publishing onto it fails and leaves that file as it was.
TEST_F(PageFolderRecovery, PublishingOntoATakenNameLeavesThatFileAlone)
{
    writeFile(dir + "/0001.png", "theirs");
    TempFile page(dir, "ours");
    EXPECT_FALSE(page.publish(dir + "/0001.png"));
    EXPECT_EQ(readFile(dir + "/0001.png"), "theirs");
    EXPECT_TRUE(page.publish(dir + "/0002.png"));
    EXPECT_EQ(readFile(dir + "/0002.png"), "ours");
}

// Only the program's own temporary files go, and only a minute old (held ones: below).
TEST_F(PageFolderRecovery, StaleTemporaryFilesGoAndNothingElse)
{
    for (const char* name : {".raitakone-a1B2c3", ".raitakone-toolong", "raitakone-a1B2c3"})
        writeFile(dir + "/" + name, "x", 3600);
    writeFile(dir + "/.raitakone-FRESH0", "x", 50);
    fs::create_symlink(".raitakone-a1B2c3", dir + "/.raitakone-link00");
    Names expected = filesIn(dir);
    expected.erase(".raitakone-a1B2c3");
    EXPECT_EQ(removeStaleTempFiles(dir), 1);
    EXPECT_EQ(filesIn(dir), expected);
}

// Another instance opening the folder while a page is between its halves
// touches nothing, though the page's temporary files are aged past a minute.
TEST_F(PageFolderRecovery, AHalfPairInTheMakingIsLeftAlone)
{
    FilePrinter writer(dir, kDpi, kDpi);
    Names then;
    writer.setBetweenHalvesHook([&] {
        for (const std::string& temp : filesIn(dir, kTempFilePrefix))
            age(dir + "/" + temp, 3600);
        then = filesIn(dir);
        EXPECT_TRUE(FilePrinter(dir, kDpi, kDpi).recoveryNotices().empty());
        EXPECT_EQ(filesIn(dir), then) << "nothing moved, completed or removed";
    });
    writer.deliver(a4Page(1), {});
    EXPECT_EQ(then.count("0001.png"), 1u) << "the hook ran between the halves";
}

// The palette PNG of an A4 page is read back above; here the colour one, and damaged ones refused.
TEST(PngPage, ReadsBackWhatTheEncoderWroteAndNothingElse)
{
    PageRaster rgb(33, 9, PageRaster::Storage::Colour);
    for (int i = 0; i < 33 * 9; ++i)
        rgb.setPixel(i % 33, i / 33, Colour(i * 2654435761u) & 0xFFFFFF);
    const PageGeometry g{600, 1200, 33, 9, rgb.bounds()};
    const QByteArray png = encodePng(rgb, g, {"otsikko", -2, 1});
    const std::optional<PngPage> read = readPngPage(png);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(std::make_pair(read->dpiX, read->dpiY), std::make_pair(600.0, 1200.0));
    EXPECT_TRUE(encodePdf(read->page, g) == encodePdf(rgb, g)) << "the PDF differs";
    QByteArray damaged = png, qtPng;
    damaged[damaged.indexOf("IDAT") + 10] ^= 1;
    QBuffer buffer(&qtPng);
    buffer.open(QIODevice::WriteOnly);
    QImage(10, 10, QImage::Format_ARGB32).save(&buffer, "PNG");
    for (const QByteArray& bad : {damaged, png.left(png.size() - 12), png.left(40), QByteArray("not a png"), qtPng})
        EXPECT_FALSE(readPngPage(bad).has_value()) << bad.size() << " bytes";
}

} // namespace
} // namespace raitakone
