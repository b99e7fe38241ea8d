#pragma once

// The grading result as text: the readable report in Finnish and the JSON
// that scripts read.

#include "grading/Grading.h"

#include <QByteArray>
#include <QString>

namespace raitakone::grading {

QString gradeReport(const GradeResult& result);
QByteArray gradeJson(const GradeResult& result);

} // namespace raitakone::grading
