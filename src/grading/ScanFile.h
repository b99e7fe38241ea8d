#pragma once

// Opening a scan file that somebody else made: only a regular file is read
// (a FIFO would block for ever, a device would never end), and every read
// can be cut short by a stop request, so that a decoder in the middle of a
// large file gives up at its next read.

#include <QFile>
#include <QString>

#include <functional>
#include <memory>

namespace raitakone::grading {

using StopRequest = std::function<bool()>;

class StoppableFile : public QFile {
public:
    explicit StoppableFile(StopRequest stop) : stop_(std::move(stop)) {}

protected:
    qint64 readData(char* data, qint64 maxSize) override;

private:
    StopRequest stop_;
};

// File names as the file system has them, bytes that need not be UTF-8:
// a byte that is not part of valid UTF-8 is kept as the lone surrogate
// U+DC80..U+DCFF, so that the name goes back to the same bytes.
QString decodeFileName(const QByteArray& bytes);
QByteArray encodeFileName(const QString& name);
// The text for people and documents: each byte kept as a lone surrogate is
// shown as \xNN, so that a report stays well-formed and still names the file.
QString shownFileName(const QString& text);

struct OpenedScanFile {
    std::unique_ptr<StoppableFile> file; // open for reading; null when refused
    QString error;                       // in Finnish: what the path is, and what to do
};

// Opens path for reading when it names a regular file (a symbolic link to
// one will do). The file name is passed to the file system as its own bytes.
OpenedScanFile openScanFile(const QString& path, StopRequest stop);

} // namespace raitakone::grading
