#include "grading/ScanFile.h"

#include "grading/FileErrorText.h"

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

QString decodeFileName(const QByteArray& bytes)
{
    QString name;
    const auto* b = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        // The length of a well-formed UTF-8 sequence starting here, or 0.
        int length = 0;
        if (b[i] < 0x80)
            length = 1;
        else if (b[i] >= 0xC2 && b[i] <= 0xDF)
            length = 2;
        else if (b[i] >= 0xE0 && b[i] <= 0xEF)
            length = 3;
        else if (b[i] >= 0xF0 && b[i] <= 0xF4)
            length = 4;
        for (int k = 1; k < length; ++k)
            if (i + k >= n || (b[i + k] & 0xC0) != 0x80)
                length = 0;
        const QString decoded = length ? QString::fromUtf8(bytes.constData() + i, length) : QString();
        // Overlong forms and encoded surrogates come back as U+FFFD.
        if (length && !decoded.contains(QChar::ReplacementCharacter)) {
            name += decoded;
            i += length;
        } else {
            name += QChar(0xDC00 + b[i]);
            ++i;
        }
    }
    return name;
}

QByteArray encodeFileName(const QString& name)
{
    QByteArray bytes;
    qsizetype from = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool kept = c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !name[i - 1].isHighSurrogate());
        if (!kept)
            continue;
        bytes += QStringView(name).sliced(from, i - from).toUtf8();
        bytes += char(c - 0xDC00);
        from = i + 1;
    }
    return bytes + QStringView(name).sliced(from).toUtf8();
}

QString shownFileName(const QString& text)
{
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool kept = c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text[i - 1].isHighSurrogate());
        if (kept)
            shown += QStringLiteral("\\x") + QString::number(int(c - 0xDC00), 16).toUpper();
        else
            shown += text[i];
    }
    return shown;
}

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
    const QByteArray name = encodeFileName(path);
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
                               .arg(path, systemErrorText(error));
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
