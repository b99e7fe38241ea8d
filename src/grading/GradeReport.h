#pragma once

// The grading result as text: the readable report in Finnish and the JSON
// that scripts read.

#include "grading/Grading.h"

#include <QByteArray>
#include <QString>

namespace raitakone::grading {

QString gradeReport(const GradeResult& result);

// A number as the report writes it: Finnish decimal comma, signed with + or -.
QString reportNumber(double value, int decimals);
QString signedReportNumber(double value, int decimals);
// F, D, C, B or A for a grade 0..4; a dash for none.
QChar gradeLetterOf(int grade);
QString passFailText(bool passed);
QByteArray gradeJson(const GradeResult& result);

// What the bar gain means for the printer, in one plain Finnish sentence.
QString gainMeaning(const SymbolGrade& symbol);

} // namespace raitakone::grading
