#pragma once

// Why a file could not be written, in Finnish. Qt's own error strings are
// English ("Permission denied", "No such file or directory"), so the cause
// is worked out from the file and its folder instead.

#include <QFileDevice>
#include <QString>

#include <utility>
#include <vector>

namespace raitakone {

QString writeFailureReason(const QString& path, QFileDevice::FileError error);

// The system's error number in Finnish words, for the errors a path given by
// a person meets; others as the C library words them.
QString systemErrorText(int error);

// Replaces the file with bytes whole, or leaves it as it was: false with
// *reason set (writeFailureReason) when it cannot.
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* reason);

// Replaces the files together: every one is written out before any is put
// in place, so a full disk leaves them all as they were. False with *failed
// naming the file and *reason why, when one cannot be written.
bool writeWholeFiles(const std::vector<std::pair<QString, QByteArray>>& files, QString* failed, QString* reason);

// Whether two paths name one file: the same inode, through any links, when
// both exist; else the same absolute path.
bool sameFile(const QString& a, const QString& b);

// Why an output cannot be written to the path, in Finnish, before anything is
// done: an empty name, a missing folder, or something there that is not a
// regular file (a folder, a device, a pipe). Empty when it can.
QString outputPathProblem(const QString& path);

} // namespace raitakone
