// A page of the page-file printer is a pair or nothing, whatever stops the
// program: signals wait for the pair, and opening the folder puts right what
// a killed program left there.

#include "app/TerminationSignals.h"
#include "pattern/BarPattern.h"
#include "printing/FilePrinter.h"
#include "printing/PageEncoders.h"
#include "printing/PageFolder.h"
#include "printing/PngPage.h"
#include "support/ChildProcess.h"
#include "support/MemoryPrinter.h"

#include <QImage>
#include <QBuffer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace raitakone {
namespace {

namespace fs = std::filesystem;
using testing::Child;
using testing::a4Geometry;
using testing::describeStatus;

constexpr double kDpi = 150;

// An A4 page at kDpi with the bar pattern, different for each number.
PageRaster a4Page(int number)
{
    const PageGeometry g = a4Geometry(kDpi);
    PageRaster page(g.sheetWidth, g.sheetHeight);
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i))
            page.fill({100 + 2 * (i - 1), 200, 100 + 2 * i, 300}, kBlack);
    page.fill({100, 320, 100 + 10 * number, 330}, kBlack);
    return page;
}

std::set<std::string> filesIn(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

std::set<std::string> pairs(int count)
{
    std::set<std::string> names;
    for (int n = 1; n <= count; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%04d", n);
        names.insert(std::string(name) + ".png");
        names.insert(std::string(name) + ".pdf");
    }
    return names;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

std::string pdfOf(int number)
{
    const QByteArray pdf = encodePdf(a4Page(number), a4Geometry(kDpi));
    return pdf.toStdString();
}

// ---- the child: a program delivering pages ---------------------------------

// deliver-pages DIR HANDLERS PAGES SIGNAL: delivers pages a4Page(1), (2) ...
// into DIR at kDpi, writing "page N" after each; PAGES of them, or until a
// termination is requested when PAGES is 0. HANDLERS "yes" installs the
// program's handlers; SIGNAL (a number, 0 for none) is sent to the program
// itself between the halves of each page. Exits 3 when it stopped on request.
int deliverPages(const std::vector<std::string>& args)
{
    const std::string dir = args.at(0);
    const bool handlers = args.at(1) == "yes";
    const int pages = std::stoi(args.at(2));
    const int signal = std::stoi(args.at(3));
    if (handlers)
        installTerminationHandlers();
    FilePrinter printer(dir, kDpi, kDpi);
    if (signal != 0)
        printer.setBetweenHalvesHook([signal] { ::kill(::getpid(), signal); });
    for (int n = 1; pages == 0 || n <= pages; ++n) {
        if (terminationRequested())
            return 3;
        printer.deliver(a4Page(n), {"sivu " + std::to_string(n), 0, 0});
        std::printf("page %d\n", n);
        std::fflush(stdout);
    }
    return terminationRequested() ? 3 : 0;
}
const testing::ChildRole deliverPagesRole("deliver-pages", deliverPages);

int runChild(const std::string& dir, bool handlers, int pages, int signal)
{
    Child child("deliver-pages", {dir, handlers ? "yes" : "no", std::to_string(pages), std::to_string(signal)});
    return child.wait();
}

// ---- signals ----------------------------------------------------------------

// The fault this guards against: a signal between the two hard links left
// NNNN.png without NNNN.pdf. With their default action the signals end the
// program after the pair and its temporary files are done; with the
// program's handlers a signal is a request: the page in hand is finished and
// the loop stops before the next.
TEST(PagePairsUnderSignals, ASignalBetweenTheHalvesStopsTheProgramOnlyAfterThePair)
{
    for (bool handlers : {false, true})
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
            SCOPED_TRACE(std::string(strsignal(signal)) + (handlers ? ", handlers" : ", default action"));
            QTemporaryDir dir;
            const int status = runChild(dir.path().toStdString(), handlers, handlers ? 0 : 2, signal);
            if (handlers)
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << describeStatus(status);
            else
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << describeStatus(status);
            EXPECT_EQ(filesIn(dir.path().toStdString()), pairs(1));
            EXPECT_TRUE(readFile(dir.filePath("0001.pdf").toStdString()) == pdfOf(1)) << "0001.pdf is not page 1";
        }
}

// A SIGTERM from outside, wherever in the loop it lands: the folder holds
// every page the program reported, each a pair, and nothing else.
TEST(PagePairsUnderSignals, ASigtermFromOutsideLeavesOnlyWholePairs)
{
    for (bool handlers : {true, false}) {
        SCOPED_TRACE(handlers ? "handlers" : "default action");
        QTemporaryDir dir;
        Child child("deliver-pages", {dir.path().toStdString(), handlers ? "yes" : "no", "0", "0"});
        int reported = 0;
        while (reported < 3 && child.readLine())
            ++reported;
        ASSERT_EQ(reported, 3);
        ::kill(child.pid(), SIGTERM);
        while (child.readLine())
            ++reported;
        const int status = child.wait();
        if (handlers)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << describeStatus(status);
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << describeStatus(status);
        // Without handlers the program may end after a pair it had no time to report.
        const std::set<std::string> files = filesIn(dir.path().toStdString());
        EXPECT_TRUE(files == pairs(reported) || (!handlers && files == pairs(reported + 1)))
            << reported << " reported, " << files.size() << " files";
    }
}

// ---- putting right what a killed program left --------------------------------

void age(const std::string& path, int seconds)
{
    const timespec times[2] = {{std::time(nullptr) - seconds, 0}, {std::time(nullptr) - seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::vector<std::string> tempFilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const std::string& name : filesIn(dir))
        if (name.rfind(kTempFilePrefix, 0) == 0)
            names.push_back(name);
    return names;
}

// A SIGKILL between the halves: the PDF is made again, byte for byte, when
// the folder is next opened, and the user is told once; the killed program's
// temporary files go once they are a minute old.
TEST(PageFolderRecovery, AKillBetweenTheHalvesIsCompletedWhenTheFolderIsOpened)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    ASSERT_EQ(runChild(dir, false, 1, 0), 0);
    const int status = runChild(dir, false, 1, SIGKILL);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << describeStatus(status);
    std::set<std::string> left = pairs(1);
    left.insert("0002.png");
    const std::vector<std::string> temps = tempFilesIn(dir);
    ASSERT_EQ(temps.size(), 2u) << "the killed program's PNG and PDF under their temporary names";
    left.insert(temps.begin(), temps.end());
    ASSERT_EQ(filesIn(dir), left);

    FilePrinter printer(dir, 600, 600);
    EXPECT_TRUE(readFile(dir + "/0002.pdf") == pdfOf(1)) << "0002.pdf is not the killed program's page 1";
    ASSERT_EQ(printer.recoveryNotices().size(), 1u);
    const std::string notice = printer.recoveryNotices()[0];
    EXPECT_NE(notice.find(dir + "/0002.pdf"), std::string::npos) << notice;
    EXPECT_NE(notice.find("0002.png"), std::string::npos) << notice;
    EXPECT_EQ(tempFilesIn(dir), temps) << "not a minute old yet";

    EXPECT_EQ(printer.deliver(a4Page(3), {}).notice, notice);
    EXPECT_EQ(printer.deliver(a4Page(4), {}).notice, "");
    EXPECT_EQ(printer.recoveryNotices().size(), 1u);

    for (const std::string& temp : temps)
        age(dir + "/" + temp, 61);
    const FilePrinter reopened(dir, 600, 600);
    EXPECT_TRUE(reopened.recoveryNotices().empty());
    EXPECT_EQ(filesIn(dir), pairs(4));
}

// Halves that cannot be completed are moved aside under their own numbers,
// which no later page takes; what is not a half of a pair stays as it was.
TEST(PageFolderRecovery, OtherHalvesAreMovedAsideAndKeepTheirNumbers)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    const PageGeometry small{kDpi, kDpi, 40, 30, {0, 0, 40, 30}};
    const std::map<std::string, std::string> halves{
        {"0004.pdf", pdfOf(4)},                                               // a PNG cannot be made from it
        {"0005.png", encodePng(PageRaster(40, 30), small, {}).toStdString()}, // not an A4 page
        {"0009.png", "not a page"},                                           // the highest number
    };
    const std::map<std::string, std::string> others{
        {"0001.png", "a pair"}, {"0001.pdf", "a pair"}, {"7.png", "not a page name"},
        {"0002.txt", "other"},  {"notes.pdf", "other"},  {"0006.png.incomplete", "moved aside before"},
    };
    for (const auto& files : {halves, others})
        for (const auto& [name, data] : files)
            writeFile(dir + "/" + name, data);
    fs::create_directory(dir + "/0003.png");        // a directory under a page name
    fs::create_symlink("0001.png", dir + "/0008.png"); // a symlink under a page name

    FilePrinter printer(dir, kDpi, kDpi);
    std::set<std::string> expected{"0003.png", "0008.png"};
    for (const auto& [name, data] : others) {
        EXPECT_EQ(readFile(dir + "/" + name), data) << name;
        expected.insert(name);
    }
    ASSERT_EQ(printer.recoveryNotices().size(), halves.size());
    for (const auto& [name, data] : halves) {
        EXPECT_TRUE(readFile(dir + "/" + name + ".incomplete") == data) << name << " moved aside changed";
        expected.insert(name + ".incomplete");
        const auto said = std::count_if(printer.recoveryNotices().begin(), printer.recoveryNotices().end(),
                                        [&](const std::string& notice) {
                                            return notice.find(dir + "/" + name) != std::string::npos &&
                                                   notice.find(name + ".incomplete") != std::string::npos;
                                        });
        EXPECT_EQ(said, 1) << name;
    }
    EXPECT_EQ(filesIn(dir), expected);

    EXPECT_EQ(printer.deliver(PageRaster(40, 30), {}).file, dir + "/0010.png");
    EXPECT_TRUE(FilePrinter(dir, kDpi, kDpi).recoveryNotices().empty()) << "nothing left to put right";
}

// Only the program's own temporary files go, and only those a minute old
// that no running instance holds.
TEST(PageFolderRecovery, StaleTemporaryFilesGoAndNothingElse)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    const std::string stale = ".raitakone-a1B2c3", fresh = ".raitakone-FRESH0", held = ".raitakone-held00";
    const std::vector<std::string> kept{".raitakone-toolong", ".raitakone-short", "raitakone-a1B2c3",
                                        ".raitakone-a1B2c.", "0001.png.tmp"};
    for (const std::string& name : std::vector<std::string>{stale, fresh, held})
        writeFile(dir + "/" + name, "x");
    for (const std::string& name : kept) {
        writeFile(dir + "/" + name, "x");
        age(dir + "/" + name, 3600);
    }
    fs::create_directory(dir + "/.raitakone-dir000");
    fs::create_symlink(stale, dir + "/.raitakone-link00");
    for (const std::string& name : {stale, held, std::string(".raitakone-dir000"), std::string(".raitakone-link00")})
        age(dir + "/" + name, 3600);
    age(dir + "/" + fresh, 50);
    const int holder = ::open((dir + "/" + held).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    std::set<std::string> expected = filesIn(dir);
    expected.erase(stale);
    FilePrinter first(dir, kDpi, kDpi);
    EXPECT_EQ(filesIn(dir), expected);

    ::close(holder);
    expected.erase(held);
    EXPECT_EQ(removeStaleTempFiles(dir), 1);
    EXPECT_EQ(filesIn(dir), expected);
}

// Another instance opening the folder while a page is between its halves
// finds the lone PNG in use and leaves it be.
TEST(PageFolderRecovery, AHalfPairInTheMakingIsLeftAlone)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    FilePrinter writer(dir, kDpi, kDpi);
    std::vector<std::string> seen;
    std::vector<std::string> noticesThen;
    writer.setBetweenHalvesHook([&] {
        seen = tempFilesIn(dir);
        for (const std::string& temp : tempFilesIn(dir))
            age(dir + "/" + temp, 3600);
        std::set<std::string> files = filesIn(dir);
        const FilePrinter other(dir, kDpi, kDpi);
        noticesThen = other.recoveryNotices();
        EXPECT_EQ(filesIn(dir), files) << "nothing moved, completed or removed";
    });
    writer.deliver(a4Page(1), {});
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_TRUE(noticesThen.empty());
    EXPECT_EQ(filesIn(dir), pairs(1));
    EXPECT_TRUE(readFile(dir + "/0001.pdf") == pdfOf(1)) << "0001.pdf is not page 1";
}

// ---- the PNG read back --------------------------------------------------------

TEST(PngPage, ReadsBackWhatTheEncoderWroteAndNothingElse)
{
    PageRaster palette(61, 17);
    palette.fill({3, 2, 9, 5}, 0x000001);
    palette.fill({40, 5, 50, 15}, 0x4D80C8);
    PageRaster rgb(33, 9, PageRaster::Storage::Colour);
    for (int i = 0; i < 33 * 9; ++i)
        rgb.setPixel(i % 33, i / 33, Colour(i * 2654435761u) & 0xFFFFFF);
    for (const auto& [page, dpiX, dpiY] : {std::tuple{a4Page(1), 150.0, 150.0}, std::tuple{palette, 203.0, 203.0},
                                          std::tuple{rgb, 600.0, 1200.0}}) {
        SCOPED_TRACE(std::to_string(page.width()) + " at " + std::to_string(dpiX));
        const PageGeometry g{dpiX, dpiY, page.width(), page.height(), page.bounds()};
        const std::optional<PngPage> read = readPngPage(encodePng(page, g, {"otsikko", -2, 1}));
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(std::make_pair(read->dpiX, read->dpiY), std::make_pair(dpiX, dpiY));
        EXPECT_TRUE(encodePdf(read->page, g) == encodePdf(page, g)) << "the PDF differs";
    }

    const QByteArray png = encodePng(palette, {300, 300, 61, 17, palette.bounds()}, {});
    QByteArray damaged = png;
    damaged[damaged.indexOf("IDAT") + 10] = char(damaged[damaged.indexOf("IDAT") + 10] ^ 1);
    QByteArray qtPng;
    QBuffer buffer(&qtPng);
    buffer.open(QIODevice::WriteOnly);
    QImage(10, 10, QImage::Format_ARGB32).save(&buffer, "PNG");
    for (const QByteArray& bad : {damaged, png.left(png.size() - 12), png.left(40), QByteArray("not a png"), qtPng})
        EXPECT_FALSE(readPngPage(bad).has_value()) << bad.size() << " bytes";
}

} // namespace
} // namespace raitakone
