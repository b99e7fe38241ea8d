#include "grading/ScanFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raitakone::grading {
namespace {

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("kansio");
    if (S_ISFIFO(mode))
        return QStringLiteral("nimetty putki (FIFO)");
    if (S_ISSOCK(mode))
        return QStringLiteral("pistoke (socket)");
    if (S_ISCHR(mode))
        return QStringLiteral("merkkilaite");
    if (S_ISBLK(mode))
        return QStringLiteral("lohkolaite");
    return QStringLiteral("erikoistiedosto");
}

} // namespace

qint64 StoppableFile::readData(char* data, qint64 maxSize)
{
    if (stop_ && stop_())
        return -1;
    return QFile::readData(data, maxSize);
}

OpenedScanFile openScanFile(const QString& path, StopRequest stop)
{
    OpenedScanFile opened;
    // Opened without waiting, then looked at: a FIFO opened this way does not
    // block, and what is read is what was looked at.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            opened.error = QStringLiteral("Skannattua tiedostoa %1 ei ole. Tarkista tiedoston nimi ja kansio.").arg(path);
        else if (error == EACCES || error == EPERM)
            opened.error = QStringLiteral("Skannattua tiedostoa %1 ei saa lukea (ei lukuoikeutta). Anna lukuoikeus "
                                          "(chmod u+r) tai kopioi tiedosto itsellesi.")
                               .arg(path);
        else
            opened.error = QStringLiteral("Skannattua tiedostoa %1 ei voi avata: %2.")
                               .arg(path, QString::fromLocal8Bit(std::strerror(error)));
        return opened;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const QString kind = kindOf(status.st_mode);
        ::close(fd);
        opened.error = QStringLiteral("%1 on %2, ei kuvatiedosto. Anna skannauksen PNG-, TIFF-, JPEG- tai "
                                      "PDF-tiedosto.")
                           .arg(path, kind);
        return opened;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    opened.file = std::make_unique<StoppableFile>(std::move(stop));
    if (!opened.file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        opened.error = QStringLiteral("Skannattua tiedostoa %1 ei voi avata: %2.").arg(path, opened.file->errorString());
        opened.file.reset();
    }
    return opened;
}

} // namespace raitakone::grading
