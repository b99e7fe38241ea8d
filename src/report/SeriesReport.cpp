#include "report/SeriesReport.h"

#include "grading/ActionAdvice.h"
#include "grading/GradeReport.h"
#include "grading/PageReport.h"
#include "grading/ScanFile.h"
#include "report/ReportValues.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace raitakone::report {
namespace {

void addOnce(QStringList& list, const QString& value)
{
    if (!value.isEmpty() && !list.contains(value))
        list << value;
}

void addOnce(std::vector<double>& list, double value)
{
    if (std::none_of(list.begin(), list.end(), [value](double v) { return std::fabs(v - value) < 1e-6; }))
        list.push_back(value);
}

// The page of one symbol of the scan; a scan holding several (two pages or
// labels on one bed) names which, counted in the order they were found.
RankedPage rankedPage(const ScannedPage& scan, int index, size_t symbolIndex, const ReportContext& context)
{
    const grading::GradeResult& result = *scan.result;
    const grading::SymbolGrade& symbol = result.symbols[symbolIndex];
    RankedPage page;
    page.scan = index;
    page.source = grading::shownFileName(scan.source);
    if (!result.ladder && result.symbols.size() > 1)
        page.source += QStringLiteral(", viivakoodi %1/%2").arg(symbolIndex + 1).arg(result.symbols.size());
    const std::optional<marking::PageIdentity>& identity = result.page ? result.page : scan.named;
    if (identity) {
        const std::optional<int> place = context.seriesPlace ? context.seriesPlace(identity->control) : std::nullopt;
        page.n = place ? QString::number(*place) : QString::fromStdString(identity->n);
        page.caption = QString::fromStdString(identity->caption);
        page.control = QString::fromStdString(identity->control);
        page.pageSource = result.page ? PageSource::Mark : scan.suggested ? PageSource::Suggested : PageSource::User;
    }
    page.grade = symbol.grade;
    page.letter = symbol.letter;
    page.reflectance = result.reflectance;
    page.worst = symbol.worst;
    page.grades = symbol.worstGrades;
    if (symbol.barGain.measured) {
        page.gainUm = symbol.barGain.um;
        page.gainPx = symbol.barGain.printerPixels;
    }
    const auto decoded = std::find_if(symbol.lines.begin(), symbol.lines.end(),
                                      [](const grading::ScanLine& l) { return l.values.decode; });
    if (decoded == symbol.lines.end() && !symbol.lines.empty())
        page.decodeFailure = symbol.lines[std::min<size_t>(grading::kMiddleScanLine, symbol.lines.size() - 1)]
                                 .decodeFailure;
    page.symbol = &symbol;
    return page;
}

// "3/21" sorts as 3; a page with no number goes after those with one.
int seriesNumber(const QString& n)
{
    bool ok = false;
    const int number = n.section(QLatin1Char('/'), 0, 0).toInt(&ok);
    return ok ? number : 1 << 30;
}

QJsonValue optional(const std::optional<double>& value) { return value ? QJsonValue(*value) : QJsonValue(); }

QJsonValue pageSourceName(PageSource source)
{
    switch (source) {
    case PageSource::Mark: return QStringLiteral("mark");
    case PageSource::User: return QStringLiteral("user");
    case PageSource::Suggested: return QStringLiteral("suggested");
    case PageSource::None: break;
    }
    return QJsonValue();
}

QJsonObject pageJson(const RankedPage& p)
{
    QJsonObject page{{"source", p.source},
                     {"n", p.n},
                     {"caption", p.caption},
                     {"control", p.control},
                     {"named_by_hand", p.pageSource == PageSource::User},
                     {"page_source", pageSourceName(p.pageSource)},
                     {"grade", p.grade},
                     {"letter", QString(QLatin1Char(p.letter))},
                     {"sc", p.worst.sc},
                     {"mod", p.worst.mod},
                     {"defects", p.worst.defects},
                     {"decodability", p.worst.decodability},
                     {"decode", p.worst.decode},
                     {"gain_px", optional(p.gainPx)},
                     {"gain_um", optional(p.gainUm)},
                     {"grades", QJsonObject{{"sc", p.grades.sc},
                                            {"mod", p.grades.mod},
                                            {"defects", p.grades.defects},
                                            {"decodability", p.grades.decodability},
                                            {"decode", p.grades.decode}}}};
    if (!p.decodeFailure.isEmpty())
        page.insert("decode_failure", p.decodeFailure);
    page.insert("advice", grading::actionAdvice(*p.symbol));
    page.insert("reflectance", grading::reflectanceJson(p.reflectance));
    const ProfileTrace trace = middleProfile(*p.symbol);
    QJsonArray reflectance;
    for (float r : trace.reflectance)
        reflectance.append(std::round(r * 10.0) / 10.0);
    page.insert("profile", QJsonObject{{"length_mm", trace.lengthMm}, {"gt", trace.gt}, {"reflectance", reflectance}});
    return page;
}

QJsonArray numbers(const std::vector<double>& values)
{
    QJsonArray array;
    for (double v : values)
        array.append(v);
    return array;
}

} // namespace

SeriesReport rankSeries(const std::vector<ScannedPage>& scans, const ReportContext& context)
{
    SeriesReport report;
    report.date = context.date;
    report.scans = int(scans.size());
    for (size_t i = 0; i < scans.size(); ++i) {
        const ScannedPage& scan = scans[i];
        const grading::GradeResult* result = scan.result ? &*scan.result : nullptr;
        if (!result || result->status != grading::GradeStatus::Graded || result->symbols.empty()) {
            report.unread.push_back({grading::shownFileName(scan.source),
                                     grading::shownFileName(result ? result->message : scan.error),
                                     !result || result->status == grading::GradeStatus::BadInput});
            continue;
        }
        ++report.graded;
        if (result->page) {
            addOnce(report.printers, QString::fromStdString(result->page->printer));
            addOnce(report.resolutions, resolutionText(result->page->dpiX, result->page->dpiY));
            addOnce(report.papers, paperText(result->page->paperWidthMm, result->page->paperHeightMm));
        } else if (result->printerDpi) {
            addOnce(report.resolutions, resolutionText(*result->printerDpi, *result->printerDpi));
        }
        for (const grading::SymbolGrade& s : result->symbols) {
            addOnce(report.aperturesMm, s.apertureMm);
            if (s.barGain.measured)
                addOnce(report.gainAperturesMm, s.barGain.apertureMm);
        }
        addOnce(report.scanResolutions, result->dpiX);
        addOnce(report.reflectanceMethods, grading::reflectanceMethodText(result->reflectance));
        if (!result->reflectance.trusted)
            report.untrustedScans << grading::shownFileName(scan.source);

        // A ladder is one page whatever its rungs; the first is the
        // recommendation, any other is ranked by its recommended rung.
        const bool theLadder = result->ladder && !report.ladder;
        const size_t first = result->ladder ? grading::shownSymbol(*result) : 0;
        const size_t end = result->ladder ? first + 1 : result->symbols.size();
        for (size_t k = first; k < end; ++k) {
            RankedPage page = rankedPage(scan, int(i), k, context);
            if (theLadder) {
                report.ladder = &*result->ladder;
                report.ladderPage = page;
                break;
            }
            (page.decodeFailure.isEmpty() ? report.pages : report.undecoded).push_back(page);
        }
    }
    if (report.resolutions.isEmpty() && context.printerDpi)
        report.resolutions << resolutionText(*context.printerDpi, *context.printerDpi);
    // Best grade first; equal grades in series order.
    const auto ranking = [](const RankedPage& a, const RankedPage& b) {
        if (std::fabs(a.grade - b.grade) > 1e-9)
            return a.grade > b.grade;
        return seriesNumber(a.n) < seriesNumber(b.n);
    };
    std::stable_sort(report.pages.begin(), report.pages.end(), ranking);
    std::stable_sort(report.undecoded.begin(), report.undecoded.end(), ranking);
    return report;
}

int seriesStatus(const SeriesReport& report)
{
    if (std::any_of(report.unread.begin(), report.unread.end(), [](const UnreadScan& u) { return u.badInput; }))
        return 2;
    return report.graded > 0 ? 0 : 1;
}

QByteArray seriesJson(const SeriesReport& report)
{
    QJsonArray pages, undecoded, unread;
    for (const RankedPage& p : report.pages)
        pages.append(pageJson(p));
    for (const RankedPage& p : report.undecoded)
        undecoded.append(pageJson(p));
    for (const UnreadScan& u : report.unread)
        unread.append(QJsonObject{{"source", u.source}, {"message", u.message}, {"bad_input", u.badInput}});
    QJsonObject top{{"standard", QString::fromLatin1(grading::kGradingStandard)},
                    {"date", report.date.toString(Qt::ISODate)},
                    {"printers", QJsonArray::fromStringList(report.printers)},
                    {"resolutions", QJsonArray::fromStringList(report.resolutions)},
                    {"papers", QJsonArray::fromStringList(report.papers)},
                    {"scans", report.scans},
                    {"graded", report.graded},
                    {"pages", pages},
                    {"undecoded", undecoded},
                    {"unread", unread},
                    {"methods", QJsonObject{{"aperture_mm", numbers(report.aperturesMm)},
                                            {"wavelength_nm", grading::kWavelengthNm},
                                            {"scan_dpi", numbers(report.scanResolutions)},
                                            {"gain_aperture_mm", numbers(report.gainAperturesMm)},
                                            {"reflectance", QJsonArray::fromStringList(report.reflectanceMethods)},
                                            {"text", methodsText(report)}}}};
    if (report.ladder) {
        QJsonObject ladderJson;
        grading::GradeResult ladderOnly;
        ladderOnly.ladder = *report.ladder;
        grading::addPageJson(ladderJson, ladderOnly);
        QJsonObject ladder = ladderJson.value("ladder").toObject();
        ladder.insert("source", report.ladderPage->source);
        ladder.insert("n", report.ladderPage->n);
        top.insert("ladder", ladder);
    }
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

} // namespace raitakone::report
