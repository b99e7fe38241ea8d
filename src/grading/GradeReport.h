#pragma once

// The grading result as text: the readable report in Finnish and the JSON
// that scripts read.

#include "grading/Grading.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <utility>
#include <vector>

namespace raitakone::grading {

QString gradeReport(const GradeResult& result);

// A number as the report writes it: Finnish decimal comma, signed with + or -.
QString reportNumber(double value, int decimals);
QString signedReportNumber(double value, int decimals);
// "+1,99 tulostimen pikseliä (tulostin 600 dpi)": the bar gain in printer
// pixels and the printer resolution it assumes.
QString printerPixelsText(const GradeResult& result, double printerPixels, bool withSign);
// F, D, C, B or A for a grade 0..4; a dash for none.
QChar gradeLetterOf(int grade);
// The colour that shows grade 0..4, red for F through green for A, as
// "#rrggbb".
QString gradeColourName(int grade);
QString passFailText(bool passed);
QByteArray gradeJson(const GradeResult& result);

// How the scan's values became reflectance, in one Finnish sentence for the
// report's method; and as the JSON's "reflectance" object.
QString reflectanceMethodText(const ReflectanceUse& use);
QJsonObject reflectanceJson(const ReflectanceUse& use);

// A value as the report and the window show it, with its grade (-1 for a
// value with no grade of its own).
struct ShownValue {
    QString text;
    int grade = -1;
};

// The worst value of each parameter over the scan lines, Rmin to Decode:
// its name and the value shown.
std::vector<std::pair<QString, ShownValue>> parameterRows(const SymbolGrade& symbol);

// One scan line's columns: offset, Rmin, Rmax, SC, ECmin, MOD, Defects,
// decodability, decode and the line's grade.
std::vector<ShownValue> lineColumns(const ScanLine& line);

// What the bar gain means for the printer, in one plain Finnish sentence.
QString gainMeaning(const SymbolGrade& symbol);

} // namespace raitakone::grading
