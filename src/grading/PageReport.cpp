#include "grading/PageReport.h"

#include "grading/GradeReport.h"
#include "marking/PageIdentity.h"

#include <QJsonArray>

namespace raitakone::grading {
namespace {

QJsonValue optional(const std::optional<double>& value) { return value ? QJsonValue(*value) : QJsonValue(); }

} // namespace

QString pageReport(const GradeResult& result)
{
    QString out;
    if (result.page) {
        QStringList parts;
        for (const std::string& part : marking::markTextParts(*result.page))
            parts << QString::fromStdString(part);
        out += QStringLiteral("Sivu: %1 (sarja %2)\n")
                   .arg(parts.join(QStringLiteral(" · ")), QString::fromStdString(result.page->series));
    }
    for (const QString& note : {result.printerDpiNote, result.markNotice})
        if (!note.isEmpty())
            out += QStringLiteral("Huom: ") + note + QStringLiteral("\n");
    return out;
}

size_t shownSymbol(const GradeResult& result)
{
    if (result.ladder && result.ladder->recommendedPx)
        for (const ladder::RungGrade& r : result.ladder->rungs)
            if (r.found && r.reduction == *result.ladder->recommendedPx && r.symbol >= 0)
                return size_t(r.symbol);
    return 0;
}

std::vector<QString> rungColumns(const ladder::RungGrade& r)
{
    const QString dash = QStringLiteral("–");
    if (!r.found)
        return {reportNumber(r.reduction, 0), QStringLiteral("ei löytynyt"), dash, dash, dash};
    return {reportNumber(r.reduction, 0),
            QStringLiteral("%1 (%2)").arg(r.gradeText).arg(QLatin1Char(r.letter)),
            r.deviationUm ? signedReportNumber(*r.deviationUm, 1) : dash,
            r.deviationPx ? signedReportNumber(*r.deviationPx, 2) : dash,
            r.decoded ? QStringLiteral("kyllä") : QStringLiteral("ei")};
}

QString ladderReport(const GradeResult& result)
{
    if (!result.ladder)
        return {};
    const ladder::LadderGrade& l = *result.ladder;
    QString out = QStringLiteral("\nKavennustikkaat: %1\n").arg(l.recommendation);
    if (l.spreadPx)
        out += QStringLiteral("Musteen leviäminen: %1 tulostimen pikseliä (%2 µm) (dekoodautuneiden askelmien "
                              "mediaani)\n")
                   .arg(signedReportNumber(*l.spreadPx, 2), signedReportNumber(*l.spreadUm, 1));
    out += QStringLiteral("\n  kavennus px   laatu          poikkeama µm   poikkeama px   dekoodautui\n");
    for (const ladder::RungGrade& r : l.rungs) {
        const std::vector<QString> c = rungColumns(r);
        out += QStringLiteral("  %1   %2 %3   %4   %5\n")
                   .arg(c[0], 11)
                   .arg(c[1], -14)
                   .arg(c[2], 12)
                   .arg(c[3], 12)
                   .arg(c[4]);
    }
    return out;
}

void addPageJson(QJsonObject& top, const GradeResult& result)
{
    if (result.page) {
        const marking::PageIdentity& p = *result.page;
        top.insert("page", QJsonObject{{"control", QString::fromStdString(p.control)},
                                       {"caption", QString::fromStdString(p.caption)},
                                       {"printer", QString::fromStdString(p.printer)},
                                       {"dpi", QString::fromStdString(marking::dpiField(p.dpiX, p.dpiY))},
                                       {"paper", QStringLiteral("%1x%2").arg(p.paperWidthMm).arg(p.paperHeightMm)},
                                       {"time", QString::fromStdString(p.time)},
                                       {"series", QString::fromStdString(p.series)},
                                       {"n", QString::fromStdString(p.n)}});
    }
    if (result.printerDpi)
        top.insert("printer_dpi", *result.printerDpi);
    if (!result.printerDpiNote.isEmpty())
        top.insert("printer_dpi_note", result.printerDpiNote);
    if (!result.markNotice.isEmpty())
        top.insert("mark_notice", result.markNotice);
    if (result.ladder) {
        const ladder::LadderGrade& l = *result.ladder;
        QJsonArray rungs;
        for (const ladder::RungGrade& r : l.rungs)
            rungs.append(QJsonObject{{"k", r.reduction},
                                     {"found", r.found},
                                     {"grade", r.found ? QJsonValue(r.grade) : QJsonValue()},
                                     {"grade_text", r.found ? QJsonValue(r.gradeText) : QJsonValue()},
                                     {"deviation_um", optional(r.deviationUm)},
                                     {"deviation_px", optional(r.deviationPx)},
                                     {"decoded", r.decoded}});
        top.insert("ladder", QJsonObject{{"rungs", rungs},
                                         {"spread_px", optional(l.spreadPx)},
                                         {"spread_um", optional(l.spreadUm)},
                                         {"recommended_px", l.recommendedPx ? QJsonValue(*l.recommendedPx) : QJsonValue()},
                                         {"recommended_um", optional(l.recommendedUm)},
                                         {"recommendation", l.recommendation}});
    }
}

} // namespace raitakone::grading
