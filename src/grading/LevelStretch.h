#pragma once

// Signs that a scan's levels were stretched by the scanner or a program
// (white point set on the paper, black point on the ink): the reflectances
// then say more about the scanner's settings than about the print.

#include "grading/ScanEncoding.h"

#include <QImage>
#include <QString>

namespace raitakone::grading {

// What looks stretched, in Finnish, as a list of short clauses joined with
// "; "; empty when nothing does. table gives the reflectance of each value.
QString stretchedLevels(const QImage& plane, const ReflectanceTable& table);

} // namespace raitakone::grading
