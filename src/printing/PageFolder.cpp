#include "printing/PageFolder.h"

#include "surface/RuntimeError.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <stdio.h> // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raitakone {
namespace {

namespace fs = std::filesystem;

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The cause of a failed write in Finnish, and what to do about it.
std::string writeFailure(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "levy on täynnä. Vapauta levytilaa tai valitse toinen kansio.";
    case EACCES:
    case EPERM:
        return "kansioon ei ole kirjoitusoikeutta. Valitse kansio, johon saat kirjoittaa.";
    case EROFS:
        return "kansio on vain luettavissa. Valitse toinen kansio.";
    case ENOENT: // the folder exists, yet no file can be made in it
    case EINVAL:
    case EOPNOTSUPP:
        return "kansioon ei voi luoda tiedostoja (järjestelmän erikoiskansio, kuten /proc). Valitse tavallinen "
               "kansio.";
    default:
        return std::string(std::strerror(error)) + ". Valitse toinen kansio.";
    }
}

[[noreturn]] void failWrite(const std::string& dir, int error)
{
    throw RuntimeError("Sivua ei voitu tallentaa kansioon " + quoted(dir) + ": " + writeFailure(error));
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool isTempFileName(const std::string& name)
{
    const std::string prefix = kTempFilePrefix;
    return name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(name.begin() + long(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

} // namespace

std::optional<PageFileName> parsePageFileName(const std::string& name)
{
    PageFileName result;
    std::string rest = name;
    if (endsWith(rest, ".incomplete")) {
        result.incomplete = true;
        rest.resize(rest.size() - std::strlen(".incomplete"));
    }
    if (!endsWith(rest, ".png") && !endsWith(rest, ".pdf"))
        return std::nullopt;
    result.extension = rest.substr(rest.size() - 3);
    rest.resize(rest.size() - 4);
    if (rest.empty() || rest.size() > 15 || rest.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    result.number = std::stoll(rest);
    return result;
}

std::string pageFilePath(const std::string& dir, long long number, const char* extension)
{
    char name[32];
    std::snprintf(name, sizeof name, "/%04lld.%s", number, extension);
    return dir + name;
}

long long highestPageNumber(const std::string& dir)
{
    long long highest = 0;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
        if (const auto page = parsePageFileName(it->path().filename().string()))
            highest = std::max(highest, page->number);
    if (error)
        throw RuntimeError("Sivutiedostojen kansiota " + quoted(dir) + " ei voi käyttää: " + error.message());
    return highest;
}

TempFile::TempFile(const std::string& dir, const QByteArray& data) : dir_(dir)
{
    std::string name = dir + "/" + kTempFilePrefix + "XXXXXX";
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0)
        failWrite(dir, errno);
    path_ = name;
    // Held until the destructor: the file is in use, not left behind. (Until
    // the lock is taken the file is new, which keeps it from cleaners too.)
    // Where the file system has no locks the page is still written; the
    // cleaners then find no lock to take and leave the file alone.
    ::flock(fd_, LOCK_EX | LOCK_NB);
    int error = 0;
    const char* at = data.constData();
    qsizetype left = data.size();
    while (left > 0 && error == 0) {
        const ssize_t written = ::write(fd_, at, size_t(left));
        if (written > 0) {
            at += written;
            left -= written;
        } else if (written < 0 && errno != EINTR) {
            error = errno;
        } else if (written == 0) {
            error = EIO;
        }
    }
    if (error == 0 && ::fchmod(fd_, 0644) != 0)
        error = errno;
    if (error == 0 && ::fsync(fd_) != 0)
        error = errno;
    if (error != 0) {
        // No destructor runs for a throwing constructor.
        ::unlink(path_.c_str());
        ::close(fd_);
        failWrite(dir, error);
    }
}

TempFile::~TempFile()
{
    if (movedTo_.empty())
        ::unlink(path_.c_str());
    ::close(fd_); // releases the lock, after the name is gone
}

bool TempFile::publish(const std::string& finalPath)
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

void TempFile::withdraw(const std::string& finalPath)
{
    if (movedTo_ == finalPath) {
        if (::rename(finalPath.c_str(), path_.c_str()) != 0)
            failWrite(dir_, errno);
        movedTo_.clear();
    } else {
        ::unlink(finalPath.c_str());
    }
}

void syncDirectory(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int removeStaleTempFiles(const std::string& dir, std::chrono::seconds minimumAge)
{
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!isTempFileName(name))
            continue;
        const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        // Ours only if it is a regular file still under that name, old enough,
        // and its writer's lock is free: then no instance will write it again.
        const bool stale = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                           std::time(nullptr) - opened.st_mtime >= minimumAge.count() &&
                           ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                           ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                           named.st_ino == opened.st_ino && named.st_dev == opened.st_dev;
        if (stale && ::unlinkat(dirFd, name.c_str(), 0) == 0)
            ++removed;
        ::close(fd);
    }
    ::close(dirFd);
    return removed;
}

} // namespace raitakone
