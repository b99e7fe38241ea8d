#pragma once

// A scanner's tone curve measured from a scan of a grey step target whose
// reflectances are known: the reference values in CGATS.17 text, the steps
// found in the scan as one row of equal patches, and the monotone curve from
// the scan's value to reflectance that grading then uses instead of what the
// file says of itself. Saved as a small JSON file with its name and date.

#include "grading/ScanEncoding.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>
#include <vector>

namespace raitakone::grading {

// The reference values of a step target, in the file's order.
struct StepReference {
    QString name; // DESCRIPTOR, else ORIGINATOR, else empty
    struct Step {
        QString id;
        double reflectance = 0.0; // per cent
    };
    std::vector<Step> steps;
};

struct ReferenceRead {
    std::optional<StepReference> reference;
    QString error; // in Finnish
};

// CGATS.17: keywords, BEGIN_DATA_FORMAT … END_DATA_FORMAT naming the fields,
// BEGIN_DATA … END_DATA the sets. The steps need SAMPLE_ID and either XYZ_Y
// (reflectance in per cent) or a density, D_RED first (the 660 nm the grading
// reads), then D_VIS; a density D is the reflectance 100 · 10^-D.
ReferenceRead readStepReference(const QByteArray& text);

// The steps found along one row of the scan, first to last, as the mean
// value of each step's middle.
struct WedgeSteps {
    std::vector<double> values;
    QString error; // in Finnish, when no row of steps was found
};

// Finds a row of equal patches at equal pitch (touching or apart, across or
// down the scan) and measures each. expected: the reference's count; steps
// that ran together (dark ones clipped at 0 or too alike to part, light ones
// clipped at 255) are counted back in up to that number, where the row's
// pitch places them.
WedgeSteps findWedgeSteps(const QImage& plane, int expected);

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
