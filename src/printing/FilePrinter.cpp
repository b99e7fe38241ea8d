#include "printing/FilePrinter.h"

#include "printing/PageEncoders.h"
#include "printing/PageFolder.h"
#include "printing/PngPage.h"
#include "surface/RuntimeError.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h> // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raitakone {
namespace {

namespace fs = std::filesystem;

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

[[noreturn]] void failDirectory(const std::string& dir, const std::string& reason)
{
    throw RuntimeError("Sivutiedostojen kansiota " + quoted(dir) + " ei voi käyttää: " + reason);
}

void ensureDirectory(const std::string& dir)
{
    std::error_code error;
    fs::create_directories(dir, error);
    if (error)
        failDirectory(dir, error.message());
    if (!fs::is_directory(dir, error))
        failDirectory(dir, error ? error.message() : std::strerror(ENOTDIR));
}

// Holds SIGTERM, SIGINT and SIGHUP back on this thread while it lives, so
// that one of them, left to its default action, ends the program only after
// a page is written and published whole. (With the program's own handlers
// installed they end nothing; this matters where those are not installed.)
class TerminationSignalsHeld {
public:
    TerminationSignalsHeld()
    {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            sigaddset(&held, signal);
        pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~TerminationSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
    TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

private:
    sigset_t previous_;
};

std::string fileName(const std::string& path) { return fs::path(path).filename().string(); }

// The whole content of an open file, or nothing when it cannot be read.
std::optional<QByteArray> readAll(int fd)
{
    QByteArray data;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return data;
        if (got < 0 && errno != EINTR)
            return std::nullopt;
        if (got > 0)
            data.append(buffer, got);
    }
}

// A page file whose partner is missing: what a program killed between
// publishing the PNG and the PDF leaves. A PNG that holds a whole page of
// the paper it names (A4 when it names none, as older pages) gets its PDF
// made again; anything else is renamed
// NNNN.ext.incomplete. Returns what was done, for the user; nothing when the
// file turns out to be in use or whole after all.
std::optional<std::string> completeHalfPair(const std::string& dir, long long number, const std::string& extension)
{
    const std::string path = pageFilePath(dir, number, extension.c_str());
    const std::string partner = pageFilePath(dir, number, extension == "png" ? "pdf" : "png");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};

    // A running instance holds the lock from before it publishes the first
    // half until it has published the second. Once the lock is ours, the
    // partner's absence is final.
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return std::nullopt;
    if (::lstat(partner.c_str(), &named) == 0 || errno != ENOENT)
        return std::nullopt;
    if (::lstat(path.c_str(), &named) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev)
        return std::nullopt;

    char number4[24];
    std::snprintf(number4, sizeof number4, "%04lld", number);
    const std::string intro = std::string("Sivu ") + number4 + " oli jäänyt kesken (" +
                              (extension == "png" ? "PDF" : "PNG") + "-tiedosto puuttui): ";
    if (extension == "png") {
        if (const std::optional<QByteArray> png = readAll(fd)) {
            if (const std::optional<PngPage> read = readPngPage(*png)) {
                const PageGeometry g = paperSheet(read->paper.value_or(kA4Paper), read->dpiX, read->dpiY);
                if (read->page.width == g.sheetWidth && read->page.height == g.sheetHeight) {
                    try {
                        TempFile pdf(dir, encodePdf(read->page, g));
                        if (!pdf.publish(partner))
                            return std::nullopt; // it has a partner after all
                        syncDirectory(dir);
                        return intro + "tiedosto " + partner + " tehtiin uudelleen tiedostosta " + fileName(path) + ".";
                    } catch (const RuntimeError&) {
                        // No room for the PDF: move the PNG aside instead.
                    }
                }
            }
        }
    }
    const std::string aside = path + ".incomplete";
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0)
        return intro + "tiedostoa " + path + " ei voitu siirtää sivuun (" + std::strerror(errno) + ").";
    syncDirectory(dir);
    return intro + path + " siirrettiin nimelle " + fileName(aside) + ".";
}

std::vector<std::string> completeHalfPairs(const std::string& dir)
{
    struct Halves {
        bool png = false;
        bool pdf = false;
    };
    std::map<long long, Halves> pages;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const std::optional<PageFileName> page = parsePageFileName(name);
        if (!page || page->incomplete || name != fileName(pageFilePath(dir, page->number, page->extension.c_str())))
            continue;
        (page->extension == "png" ? pages[page->number].png : pages[page->number].pdf) = true;
    }
    std::vector<std::string> notices;
    for (const auto& [number, halves] : pages)
        if (halves.png != halves.pdf)
            if (auto notice = completeHalfPair(dir, number, halves.png ? "png" : "pdf"))
                notices.push_back(std::move(*notice));
    return notices;
}

} // namespace

FilePrinter::FilePrinter(std::string directory, double dpiX, double dpiY, Paper paper)
    : directory_(std::move(directory)), dpiX_(dpiX), dpiY_(dpiY), paper_(std::move(paper))
{
    ensureDirectory(directory_);
    removeStaleTempFiles(directory_);
    recoveryNotices_ = completeHalfPairs(directory_);
}

PageGeometry FilePrinter::geometry() { return paperSheet(paper_, dpiX_, dpiY_); }

void FilePrinter::checkPrintQuality(int16_t quality)
{
    const bool named = quality >= -4 && quality <= -1;
    const bool resolution = quality > 0 && double(quality) == dpiX_;
    if (!named && !resolution)
        throw RuntimeError("Tulostin ei hyväksy PrintQuality-arvoa " + std::to_string(quality));
}

Delivery FilePrinter::deliver(const PageRaster& page, const JobSettings& job)
{
    const PageGeometry g = geometry();
    const CompressedPage compressed = compressPage(page);

    ensureDirectory(directory_);
    const TerminationSignalsHeld held; // from the first file written to the last one named
    TempFile png(directory_, encodePng(compressed, g, job));
    TempFile pdf(directory_, encodePdf(compressed, g));

    std::string pngPath;
    for (long long number = highestPageNumber(directory_) + 1;; ++number) {
        pngPath = pageFilePath(directory_, number, "png");
        const std::string pdfPath = pageFilePath(directory_, number, "pdf");
        if (!png.publish(pngPath))
            continue;
        if (betweenHalves_)
            betweenHalves_();
        bool published = false;
        try {
            published = pdf.publish(pdfPath);
        } catch (...) {
            png.withdraw(pngPath);
            throw;
        }
        if (published)
            break;
        png.withdraw(pngPath);
    }
    syncDirectory(directory_);

    Delivery delivery{{}, 0, pngPath, {}};
    if (!noticesDelivered_) {
        delivery.notice = openingNotice();
        noticesDelivered_ = true;
    }
    return delivery;
}

std::string FilePrinter::openingNotice() const
{
    std::string text;
    for (const std::string& notice : recoveryNotices_)
        text += (text.empty() ? "" : " ") + notice;
    return text;
}

} // namespace raitakone
