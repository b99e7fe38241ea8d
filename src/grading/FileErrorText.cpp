#include "grading/FileErrorText.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace raitakone {

QString writeFailureReason(const QString& path, QFileDevice::FileError error)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists())
        return QStringLiteral("kansiota %1 ei ole").arg(QDir::toNativeSeparators(folder.filePath()));
    if (!folder.isDir())
        return QStringLiteral("%1 ei ole kansio").arg(QDir::toNativeSeparators(folder.filePath()));
    if (file.isDir())
        return QStringLiteral("samanniminen kansio on jo olemassa");
    if (file.exists() && !file.isWritable())
        return QStringLiteral("tiedostoon ei ole kirjoitusoikeutta");
    if (!folder.isWritable())
        return QStringLiteral("kansioon ei ole kirjoitusoikeutta");
    if (error == QFileDevice::WriteError || error == QFileDevice::ResizeError)
        return QStringLiteral("kirjoitus keskeytyi, levy voi olla täynnä");
    return QStringLiteral("tiedostoa ei voi kirjoittaa");
}

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* reason)
{
    // Unbuffered, so that a write the disk refuses is seen by the save file
    // itself and not lost in a flush that commit would not report.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(bytes) != bytes.size() ||
        !file.commit()) {
        *reason = writeFailureReason(path, file.error());
        return false;
    }
    return true;
}

} // namespace raitakone
