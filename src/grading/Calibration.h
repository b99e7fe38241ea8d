#pragma once

// A scanner's tone curve measured from a scan of a grey step target whose
// reflectances are known: the steps found in the scan (WedgeSteps) matched to
// the reference values (StepReference), and the monotone curve from the
// scan's value to reflectance that grading then uses instead of what the
// file says of itself. Saved as a small JSON file with its name and date.

#include "grading/ScanEncoding.h"
#include "grading/StepReference.h"
#include "grading/WedgeSteps.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>
#include <vector>

namespace raitakone::grading {

struct CalibrationStep {
    QString id;
    double reflectance = 0.0; // the reference, per cent
    double scanValue = 0.0;   // the scan's mean value, 0..255
    double residual = 0.0;    // the curve made without this step, at its value, less the reference (points)
    bool clipped = false;     // at 0 or 255: a bound, not a point of the curve
};

struct Calibration {
    QString name;
    QString created; // ISO 8601, UTC
    QString scanFile;
    QString referenceFile;
    std::vector<CalibrationStep> steps; // in the reference's order
    ReflectanceTable table{};
};

struct CalibrationMade {
    std::optional<Calibration> calibration;
    QString error; // in Finnish: why the target was refused
};

// Matches the steps to the reference in order (either end first) and makes
// the curve; refuses a count or an order that does not match and a curve
// that is not monotone.
CalibrationMade makeCalibration(const std::vector<double>& values, const StepReference& reference);

// The table from points (scan value, reflectance), sorted by value: a
// monotone cubic (Fritsch–Carlson) through them, carried on past the ends
// along the end slope. Empty when fewer than two points.
std::optional<ReflectanceTable> toneCurve(const std::vector<std::pair<double, double>>& points);

QByteArray calibrationJson(const Calibration& calibration);

struct CalibrationRead {
    std::optional<Calibration> calibration;
    QString error; // in Finnish
};
CalibrationRead readCalibration(const QString& path);
// The same from the file's bytes; where names the file in the messages.
CalibrationRead parseCalibration(const QByteArray& json, const QString& where);

} // namespace raitakone::grading
