#pragma once

// The parts of the report that the page's mark and a ladder add: what the
// page is, and the rungs with their recommendation.

#include "grading/Grading.h"

#include <QJsonObject>
#include <QString>

namespace raitakone::grading {

// "Sivu: …" lines, and the note when the given printer resolution is not
// the mark's; empty for an unmarked scan.
QString pageReport(const GradeResult& result);
// The recommendation and the rungs as a table; empty when not a ladder.
QString ladderReport(const GradeResult& result);
// Adds "page" and "ladder" to the JSON's top level where the result has them.
void addPageJson(QJsonObject& top, const GradeResult& result);

// The symbol a view shows of the result: on a ladder the recommended
// rung's, else the first.
size_t shownSymbol(const GradeResult& result);

// One rung's columns as the report and the window show them: k, grade,
// deviation in µm, in printer pixels, and whether it decoded.
std::vector<QString> rungColumns(const ladder::RungGrade& rung);

} // namespace raitakone::grading
