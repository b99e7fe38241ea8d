#include "grading/FileErrorText.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/stat.h>

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

QString systemErrorText(int error)
{
    switch (error) {
    case ENAMETOOLONG:
        return QStringLiteral("nimi on liian pitkä");
    case ELOOP:
        return QStringLiteral("nimessä on kehä symbolisia linkkejä");
    case ENXIO:
    case ENODEV:
        return QStringLiteral("laitetta ei ole tai se ei ole käytettävissä");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("liian monta tiedostoa on auki");
    case EIO:
        return QStringLiteral("levyn lukeminen epäonnistui");
    case ENOMEM:
        return QStringLiteral("muisti ei riitä");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* reason)
{
    QString failed;
    return writeWholeFiles({{path, bytes}}, &failed, reason);
}

bool writeWholeFiles(const std::vector<std::pair<QString, QByteArray>>& files, QString* failed, QString* reason)
{
    // Unbuffered, so that a write the disk refuses is seen by the save file
    // itself and not lost in a flush that commit would not report.
    std::vector<std::unique_ptr<QSaveFile>> saves;
    for (const auto& [path, bytes] : files) {
        saves.push_back(std::make_unique<QSaveFile>(path));
        QSaveFile& file = *saves.back();
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(bytes) != bytes.size()) {
            *failed = path;
            *reason = writeFailureReason(path, file.error());
            for (auto& save : saves)
                save->cancelWriting();
            return false;
        }
    }
    for (size_t i = 0; i < saves.size(); ++i)
        if (!saves[i]->commit()) {
            *failed = files[i].first;
            *reason = writeFailureReason(files[i].first, saves[i]->error());
            for (size_t j = i + 1; j < saves.size(); ++j)
                saves[j]->cancelWriting();
            return false;
        }
    return true;
}

bool sameFile(const QString& a, const QString& b)
{
    struct stat first {}, second {};
    if (::stat(QFile::encodeName(a).constData(), &first) == 0 && ::stat(QFile::encodeName(b).constData(), &second) == 0)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

QString outputPathProblem(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("tiedostonimi on tyhjä");
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            return QStringLiteral("%1 on kansio").arg(path);
        if (!S_ISREG(status.st_mode))
            return QStringLiteral("%1 ei ole tavallinen tiedosto (se on laite tai putki)").arg(path);
        return {};
    }
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.exists())
        return QStringLiteral("kansiota %1 ei ole").arg(QDir::toNativeSeparators(folder.filePath()));
    if (!folder.isDir())
        return QStringLiteral("%1 ei ole kansio").arg(QDir::toNativeSeparators(folder.filePath()));
    return {};
}

} // namespace raitakone
