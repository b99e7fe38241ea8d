#pragma once

// Calibrations made in the window for a SANE device at a resolution, kept in
// the program's settings, so that the device's scans at that resolution are
// read through them until the calibration is cleared.

#include "grading/Calibration.h"

#include <QString>

#include <optional>

class QSettings;

namespace raitakone::scanning {

std::optional<grading::Calibration> rememberedCalibration(QSettings& settings, const QString& device, int dpi);
void rememberCalibration(QSettings& settings, const QString& device, int dpi, const grading::Calibration& calibration);
void forgetCalibration(QSettings& settings, const QString& device, int dpi);

} // namespace raitakone::scanning
