#pragma once

// The steps of a grey step target found in its scan: one row of equal
// patches, each measured as the mean value of its middle.

#include <QImage>
#include <QString>

#include <vector>

namespace raitakone::grading {

// Values at or beyond these are clipped by the scanner: they bound a tone
// curve, they are not points of it.
inline constexpr double kClippedDark = 0.5;
inline constexpr double kClippedLight = 254.5;

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

} // namespace raitakone::grading
