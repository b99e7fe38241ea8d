#include "printing/FilePrinter.h"

#include "printing/PageEncoders.h"
#include "surface/RuntimeError.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <stdio.h> // renameat2
#include <sys/stat.h>
#include <unistd.h>

namespace raitakone {
namespace {

namespace fs = std::filesystem;

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

[[noreturn]] void failDirectory(const std::string& dir, const std::string& reason)
{
    throw RuntimeError("Sivutiedostojen hakemistoa " + quoted(dir) + " ei voi käyttää: " + reason);
}

[[noreturn]] void failWrite(const std::string& dir, int error)
{
    throw RuntimeError("Sivua ei voitu tallentaa hakemistoon " + quoted(dir) + ": " + std::strerror(error));
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

// The highest page number among the directory's NNNN.png and NNNN.pdf files.
long long highestPageNumber(const std::string& dir)
{
    long long highest = 0;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const fs::path name = it->path().filename();
        const std::string extension = name.extension().string();
        const std::string stem = name.stem().string();
        if (extension != ".png" && extension != ".pdf")
            continue;
        if (stem.empty() || stem.size() > 15 ||
            stem.find_first_not_of("0123456789") != std::string::npos)
            continue;
        highest = std::max(highest, std::stoll(stem));
    }
    if (error)
        failDirectory(dir, error.message());
    return highest;
}

// A fully written and synced file under a temporary name in the directory,
// removed again unless it has been published under its final name.
class TempFile {
public:
    TempFile(const std::string& dir, const QByteArray& data) : dir_(dir)
    {
        std::string name = dir + "/.raitakone-XXXXXX";
        const int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            failWrite(dir, errno);
        path_ = name;
        int error = 0;
        const char* at = data.constData();
        qsizetype left = data.size();
        while (left > 0 && error == 0) {
            const ssize_t written = ::write(fd, at, size_t(left));
            if (written > 0) {
                at += written;
                left -= written;
            } else if (written < 0 && errno != EINTR) {
                error = errno;
            } else if (written == 0) {
                error = EIO;
            }
        }
        if (error == 0 && ::fchmod(fd, 0644) != 0)
            error = errno;
        if (error == 0 && ::fsync(fd) != 0)
            error = errno;
        if (::close(fd) != 0 && error == 0)
            error = errno;
        if (error != 0) {
            ::unlink(path_.c_str()); // no destructor runs for a throwing constructor
            failWrite(dir, error);
        }
    }

    ~TempFile()
    {
        if (!path_.empty() && movedTo_.empty())
            ::unlink(path_.c_str());
    }

    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Gives the file its final name unless that name is taken (then false).
    // The temporary name stays valid, so a taken name can be retried.
    bool publish(const std::string& finalPath)
    {
        if (::link(path_.c_str(), finalPath.c_str()) == 0)
            return true;
        if (errno == EEXIST)
            return false;
        if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
            failWrite(dir_, errno);
        // No hard links here (FAT, some network file systems): move the file
        // instead, still refusing to replace anything.
        if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, finalPath.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                return false;
            failWrite(dir_, errno);
        }
        movedTo_ = finalPath;
        return true;
    }

    // Takes a published name back, after its partner could not be published.
    void withdraw(const std::string& finalPath)
    {
        if (movedTo_ == finalPath) {
            if (::rename(finalPath.c_str(), path_.c_str()) != 0)
                failWrite(dir_, errno);
            movedTo_.clear();
        } else {
            ::unlink(finalPath.c_str());
        }
    }

private:
    std::string dir_;
    std::string path_;
    std::string movedTo_;
};

void syncDirectory(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string pageFileName(const std::string& dir, long long number, const char* extension)
{
    char name[32];
    std::snprintf(name, sizeof name, "/%04lld.%s", number, extension);
    return dir + name;
}

} // namespace

FilePrinter::FilePrinter(std::string directory, double dpiX, double dpiY)
    : directory_(std::move(directory)), dpiX_(dpiX), dpiY_(dpiY)
{
    ensureDirectory(directory_);
}

PageGeometry FilePrinter::geometry()
{
    const int width = int(std::lround(210.0 / 25.4 * dpiX_));
    const int height = int(std::lround(297.0 / 25.4 * dpiY_));
    return {dpiX_, dpiY_, width, height, PixelRect{0, 0, width, height}};
}

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
    TempFile png(directory_, encodePng(compressed, g, job));
    TempFile pdf(directory_, encodePdf(compressed, g));

    std::string pngPath;
    for (long long number = highestPageNumber(directory_) + 1;; ++number) {
        pngPath = pageFileName(directory_, number, "png");
        const std::string pdfPath = pageFileName(directory_, number, "pdf");
        if (!png.publish(pngPath))
            continue;
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
    return {{}, 0, pngPath, {}};
}

} // namespace raitakone
