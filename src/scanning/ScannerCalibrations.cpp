#include "scanning/ScannerCalibrations.h"

#include <QSettings>
#include <QUrl>

namespace raitakone::scanning {
namespace {

// A device name holds ':' and may hold '/', which QSettings reads as a group.
QString keyOf(const QString& device, int dpi)
{
    return QStringLiteral("scannerCalibrations/%1@%2")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(device)))
        .arg(dpi);
}

} // namespace

std::optional<grading::Calibration> rememberedCalibration(QSettings& settings, const QString& device, int dpi)
{
    const QByteArray json = settings.value(keyOf(device, dpi)).toByteArray();
    if (json.isEmpty())
        return std::nullopt;
    return grading::parseCalibration(json, QStringLiteral("(asetukset)")).calibration;
}

void rememberCalibration(QSettings& settings, const QString& device, int dpi, const grading::Calibration& calibration)
{
    settings.setValue(keyOf(device, dpi), grading::calibrationJson(calibration));
}

void forgetCalibration(QSettings& settings, const QString& device, int dpi) { settings.remove(keyOf(device, dpi)); }

} // namespace raitakone::scanning
