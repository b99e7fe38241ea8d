#pragma once

// Why a file could not be written, in Finnish. Qt's own error strings are
// English ("Permission denied", "No such file or directory"), so the cause
// is worked out from the file and its folder instead.

#include <QFileDevice>
#include <QString>

namespace raitakone {

QString writeFailureReason(const QString& path, QFileDevice::FileError error);

// Replaces the file with bytes whole, or leaves it as it was: false with
// *reason set (writeFailureReason) when it cannot.
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* reason);

} // namespace raitakone
