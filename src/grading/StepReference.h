#pragma once

// A grey step target's reference values, as target makers ship them in
// CGATS.17 text.

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace raitakone::grading {

// The fewest steps a calibration is made from.
inline constexpr int kMinSteps = 3;

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

} // namespace raitakone::grading
