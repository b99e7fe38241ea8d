#include "grading/PageGrade.h"

#include "grading/GradeReport.h"
#include "ladder/LadderRecommendation.h"
#include "marking/MarkReader.h"

#include <algorithm>
#include <cmath>

namespace raitakone::grading {

GradeResult gradePage(const Scan& scan, GradeOptions options)
{
    const std::optional<marking::ReadMark> mark = marking::readMark(scan.plane, std::max(scan.dpiX, scan.dpiY));
    QString note;
    if (mark && !options.printerDpi) {
        options.printerDpi = mark->page.dpiX;
    } else if (mark && std::fabs(*options.printerDpi - mark->page.dpiX) > 0.5) {
        note = QStringLiteral("Tulostimen tarkkuudeksi on annettu %1 dpi, mutta sivun merkinnän mukaan se "
                              "tulostettiin tarkkuudella %2 dpi; tulostimen pikselit lasketaan annetusta.")
                   .arg(reportNumber(*options.printerDpi, 0), reportNumber(mark->page.dpiX, 0));
    }
    GradeResult result = gradeScan(scan, options);
    result.printerDpi = options.printerDpi;
    result.printerDpiNote = note;
    if (mark) {
        result.page = mark->page;
        if (!mark->page.rungs.empty() && result.status == GradeStatus::Graded)
            result.ladder = ladder::gradeLadder(result.symbols, mark->page);
    }
    return result;
}

} // namespace raitakone::grading
