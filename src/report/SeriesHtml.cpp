// The series report as one HTML file that stands alone: styles inline, the
// profiles as inline SVG, no scripts, nothing fetched. It is written through
// an XML writer, so it is well-formed and any XML parser reads it; each
// value's cell names the JSON field it shows (data-field), so the two can
// be compared.

#include "report/SeriesReport.h"

#include "grading/ActionAdvice.h"
#include "grading/GradeReport.h"
#include "report/ReportValues.h"

#include <QXmlStreamWriter>

#include <cmath>

namespace raitakone::report {
namespace {

using grading::reportNumber;
using grading::signedReportNumber;

const QString kDash = QStringLiteral("–");

// Printed on A4 portrait, tables across the page, rows never split.
const char* const kStyle = R"(
@page { size: A4; margin: 12mm; }
body { print-color-adjust: exact; -webkit-print-color-adjust: exact; font-family: Liberation Sans, Arial, sans-serif; font-size: 10pt; color: #111; margin: 0 auto; max-width: 186mm; }
h1 { font-size: 16pt; margin: 0 0 3mm; }
h2 { font-size: 12pt; margin: 6mm 0 2mm; }
table { border-collapse: collapse; width: 100%; }
th, td { border: 0.3mm solid #bbb; padding: 0.6mm 1.2mm; text-align: right; vertical-align: middle; }
th { background: #eee; font-weight: bold; }
td.text, th.text { text-align: left; }
tr { page-break-inside: avoid; break-inside: avoid; }
table.header { width: auto; }
table.header th { text-align: left; }
p.recommendation { font-size: 13pt; font-weight: bold; margin: 1mm 0 2mm; }
table.pages { font-size: 8.5pt; }
table.pages td { white-space: nowrap; }
table.pages td.text { white-space: normal; }
span.caption { font-weight: bold; }
span.letter { font-weight: bold; }
tr.recommended td { font-weight: bold; }
svg.profile { width: 34mm; height: 9mm; display: block; }
.small { font-size: 8pt; color: #444; }
)";

class HtmlWriter {
public:
    explicit HtmlWriter(QByteArray* out) : xml_(out) { xml_.setAutoFormatting(false); }

    void open(const QString& tag, const QString& cls = {})
    {
        xml_.writeStartElement(tag);
        if (!cls.isEmpty())
            xml_.writeAttribute("class", cls);
    }
    void close() { xml_.writeEndElement(); }
    void element(const QString& tag, const QString& text, const QString& cls = {})
    {
        open(tag, cls);
        xml_.writeCharacters(text);
        close();
    }
    // A cell, coloured by its grade (-1: plain).
    void cell(int grade = -1, bool textual = false)
    {
        open(QStringLiteral("td"), textual ? QStringLiteral("text") : QString());
        if (grade >= 0)
            xml_.writeAttribute("style", QStringLiteral("background:%1").arg(grading::gradeColourName(grade)));
    }
    // A value: the JSON field it shows, and its text.
    void field(const QString& name, const QString& text, const QString& cls = {})
    {
        open(QStringLiteral("span"), cls);
        xml_.writeAttribute("data-field", name);
        xml_.writeCharacters(text);
        close();
    }
    void lineBreak() { xml_.writeEmptyElement("br"); }
    // A cell holding one value.
    void value(const QString& name, const QString& text, int grade = -1, bool textual = false)
    {
        cell(grade, textual);
        field(name, text);
        close();
    }
    // Column headings; those of text columns aligned as their text.
    void headings(const QStringList& names, const QList<int>& textColumns = {})
    {
        open(QStringLiteral("tr"));
        for (int i = 0; i < names.size(); ++i)
            element(QStringLiteral("th"), names[i], textColumns.contains(i) ? QStringLiteral("text") : QString());
        close();
    }
    QXmlStreamWriter& xml() { return xml_; }

private:
    QXmlStreamWriter xml_;
};

QString optionalNumber(const std::optional<double>& value, int decimals, bool sign)
{
    if (!value)
        return kDash;
    return sign ? signedReportNumber(*value, decimals) : reportNumber(*value, decimals);
}

// The middle scan line, small: bars shaded, the profile, GT dashed.
void profileSvg(HtmlWriter& html, const grading::SymbolGrade& symbol)
{
    const ProfileTrace trace = middleProfile(symbol);
    constexpr double kWidth = 420.0, kHeight = 110.0;
    QXmlStreamWriter& xml = html.xml();
    xml.writeStartElement("svg");
    xml.writeDefaultNamespace("http://www.w3.org/2000/svg");
    xml.writeAttribute("class", "profile");
    xml.writeAttribute("viewBox", QStringLiteral("0 0 %1 %2").arg(kWidth).arg(kHeight));
    xml.writeAttribute("preserveAspectRatio", "none");
    xml.writeAttribute("role", "img");
    xml.writeTextElement("title", QStringLiteral("Keskimmäisen pyyhkäisyviivan heijastuvuusprofiili"));
    if (trace.reflectance.size() >= 2 && trace.lengthMm > 0.0) {
        const auto x = [&](double mm) { return kWidth * mm / trace.lengthMm; };
        const auto y = [&](double r) { return kHeight - kHeight * std::clamp(r, 0.0, 100.0) / 100.0; };
        xml.writeEmptyElement("rect");
        xml.writeAttribute("width", QString::number(kWidth));
        xml.writeAttribute("height", QString::number(kHeight));
        xml.writeAttribute("fill", "#ffffff");
        for (const auto& [from, to] : trace.barsMm) {
            xml.writeEmptyElement("rect");
            xml.writeAttribute("x", QString::number(x(from), 'f', 1));
            xml.writeAttribute("width", QString::number(std::max(0.1, x(to) - x(from)), 'f', 1));
            xml.writeAttribute("height", QString::number(kHeight));
            xml.writeAttribute("fill", "#dddddd");
        }
        xml.writeEmptyElement("line");
        xml.writeAttribute("x1", "0");
        xml.writeAttribute("x2", QString::number(kWidth));
        xml.writeAttribute("y1", QString::number(y(trace.gt), 'f', 1));
        xml.writeAttribute("y2", QString::number(y(trace.gt), 'f', 1));
        xml.writeAttribute("stroke", "#c80000");
        xml.writeAttribute("stroke-dasharray", "4 3");
        QString points;
        const double step = trace.lengthMm / double(trace.reflectance.size() - 1);
        for (size_t i = 0; i < trace.reflectance.size(); ++i)
            points += QStringLiteral("%1,%2 ").arg(x(double(i) * step), 0, 'f', 1).arg(y(trace.reflectance[i]), 0, 'f', 1);
        xml.writeEmptyElement("polyline");
        xml.writeAttribute("points", points.trimmed());
        xml.writeAttribute("fill", "none");
        xml.writeAttribute("stroke", "#000000");
        xml.writeAttribute("stroke-width", "1");
    }
    xml.writeEndElement();
}

const QStringList kPageColumns{QStringLiteral("n"),       QStringLiteral("Tekniikka"),   QStringLiteral("Laatu"),
                               QStringLiteral("SC %"),    QStringLiteral("MOD"),         QStringLiteral("Virheet"),
                               QStringLiteral("Dekoodattavuus"), QStringLiteral("Dekoodaus"),   QStringLiteral("Levenemä px / µm"),
                               QStringLiteral("Profiili")};

int letterGrade(char letter) { return int(QByteArrayView("FDCBA").indexOf(letter)); }

void pageRow(HtmlWriter& html, const QString& list, size_t index, const RankedPage& p, bool withReason)
{
    html.open(QStringLiteral("tr"));
    html.xml().writeAttribute("data-list", list);
    html.xml().writeAttribute("data-index", QString::number(index));
    html.value(QStringLiteral("n"), p.n.isEmpty() ? kDash : p.n);
    // The technique, its control, and the scan it was read from.
    html.cell(-1, true);
    html.field(QStringLiteral("caption"), p.caption.isEmpty() ? kDash : p.caption, QStringLiteral("caption"));
    if (p.pageSource == PageSource::User)
        html.element(QStringLiteral("span"), QStringLiteral(" (nimetty käsin)"), QStringLiteral("small"));
    else if (p.pageSource == PageSource::Suggested)
        html.element(QStringLiteral("span"), QStringLiteral(" (arvattu – tarkista)"), QStringLiteral("small"));
    html.lineBreak();
    // A page below B says what to do about it; the grade alone says the rest are fine.
    if (p.symbol && p.grade < 2.5) {
        html.field(QStringLiteral("advice"), grading::actionAdvice(*p.symbol), QStringLiteral("small"));
        html.lineBreak();
    }
    html.field(QStringLiteral("control"), p.control.isEmpty() ? kDash : p.control, QStringLiteral("small"));
    html.element(QStringLiteral("span"), QStringLiteral(" · "), QStringLiteral("small"));
    html.field(QStringLiteral("source"), p.source, QStringLiteral("small"));
    html.close();
    html.cell(letterGrade(p.letter));
    html.field(QStringLiteral("grade"), reportNumber(p.grade, 1));
    html.element(QStringLiteral("span"), QStringLiteral(" "));
    html.field(QStringLiteral("letter"), QString(QLatin1Char(p.letter)), QStringLiteral("letter"));
    html.close();
    html.value(QStringLiteral("sc"), reportNumber(p.worst.sc, 1), p.grades.sc);
    html.value(QStringLiteral("mod"), reportNumber(p.worst.mod, 2), p.grades.mod);
    html.value(QStringLiteral("defects"), reportNumber(p.worst.defects, 2), p.grades.defects);
    html.value(QStringLiteral("decodability"), reportNumber(p.worst.decodability, 2), p.grades.decodability);
    html.value(QStringLiteral("decode"), grading::passFailText(p.worst.decode), p.grades.decode);
    html.cell();
    html.field(QStringLiteral("gain_px"), optionalNumber(p.gainPx, 2, true));
    html.lineBreak();
    html.field(QStringLiteral("gain_um"), optionalNumber(p.gainUm, 1, true), QStringLiteral("small"));
    html.close();
    html.open(QStringLiteral("td"));
    profileSvg(html, *p.symbol);
    html.close();
    if (withReason)
        html.value(QStringLiteral("decode_failure"), p.decodeFailure, -1, true);
    html.close();
}

void pageTable(HtmlWriter& html, const QString& list, const std::vector<RankedPage>& pages, bool withReason)
{
    html.open(QStringLiteral("table"), QStringLiteral("pages"));
    QStringList columns = kPageColumns;
    if (withReason)
        columns << QStringLiteral("Syy");
    html.open(QStringLiteral("thead"));
    html.headings(columns, {1, int(kPageColumns.size())}); // the technique, and the reason
    html.close();
    html.open(QStringLiteral("tbody"));
    for (size_t i = 0; i < pages.size(); ++i)
        pageRow(html, list, i, pages[i], withReason);
    html.close();
    html.close();
}

void headerRow(HtmlWriter& html, const QString& name, const QString& field, const QString& text)
{
    html.open(QStringLiteral("tr"));
    html.element(QStringLiteral("th"), name);
    html.value(field, text, -1, true);
    html.close();
}

QString listed(const QStringList& values, const QString& unknown)
{
    return values.isEmpty() ? unknown : values.join(QStringLiteral(", "));
}

void ladderSection(HtmlWriter& html, const SeriesReport& report)
{
    const ladder::LadderGrade& l = *report.ladder;
    html.element(QStringLiteral("h2"), QStringLiteral("Kavennustikkaiden suositus"));
    html.open(QStringLiteral("p"), QStringLiteral("recommendation"));
    html.xml().writeAttribute("data-field", "recommendation");
    html.xml().writeCharacters(l.recommendation);
    html.close();
    if (l.spreadPx)
        html.element(QStringLiteral("p"),
                     QStringLiteral("Musteen leviäminen: %1 tulostimen pikseliä (%2 µm) (dekoodautuneiden askelmien "
                                    "mediaani). Skannaus: %3.")
                         .arg(signedReportNumber(*l.spreadPx, 2), signedReportNumber(*l.spreadUm, 1),
                              report.ladderPage->source));
    html.open(QStringLiteral("table"), QStringLiteral("rungs"));
    html.headings({QStringLiteral("Kavennus px"), QStringLiteral("Laatu"), QStringLiteral("Poikkeama µm"),
                   QStringLiteral("Poikkeama px"), QStringLiteral("Dekoodautui")});
    for (size_t i = 0; i < l.rungs.size(); ++i) {
        const ladder::RungGrade& r = l.rungs[i];
        const bool recommended = l.recommendedPx && r.reduction == *l.recommendedPx;
        html.open(QStringLiteral("tr"), recommended ? QStringLiteral("recommended") : QString());
        html.xml().writeAttribute("data-list", "rungs");
        html.xml().writeAttribute("data-index", QString::number(i));
        html.value(QStringLiteral("k"), reportNumber(r.reduction, 0));
        html.value(QStringLiteral("grade_text"), r.found ? r.gradeText : QStringLiteral("ei löytynyt"),
                   r.found ? letterGrade(r.letter) : -1);
        html.value(QStringLiteral("deviation_um"), optionalNumber(r.deviationUm, 1, true));
        html.value(QStringLiteral("deviation_px"), optionalNumber(r.deviationPx, 2, true));
        html.value(QStringLiteral("decoded"), r.decoded ? QStringLiteral("kyllä") : QStringLiteral("ei"));
        html.close();
    }
    html.close();
}

} // namespace

QByteArray seriesHtml(const SeriesReport& report)
{
    QByteArray out;
    HtmlWriter html(&out);
    QXmlStreamWriter& xml = html.xml();
    // No XML declaration: the DOCTYPE, then the root, as HTML5 wants it.
    xml.writeDTD("<!DOCTYPE html>");
    xml.writeStartElement("html");
    xml.writeDefaultNamespace("http://www.w3.org/1999/xhtml");
    xml.writeAttribute("lang", "fi");
    html.open(QStringLiteral("head"));
    xml.writeEmptyElement("meta");
    xml.writeAttribute("charset", "utf-8");
    const QString printers = listed(report.printers, QStringLiteral("ei tiedossa (sivuilla ei ole merkintää)"));
    html.element(QStringLiteral("title"), QStringLiteral("Viivakoodiraportti: %1").arg(printers));
    html.element(QStringLiteral("style"), QString::fromLatin1(kStyle));
    html.close();

    html.open(QStringLiteral("body"));
    html.element(QStringLiteral("h1"), QStringLiteral("Viivakoodin tulostusraportti"));
    html.open(QStringLiteral("table"), QStringLiteral("header"));
    headerRow(html, QStringLiteral("Tulostin"), QStringLiteral("printers"), printers);
    headerRow(html, QStringLiteral("Tarkkuus"), QStringLiteral("resolutions"),
              listed(report.resolutions, QStringLiteral("ei tiedossa")));
    headerRow(html, QStringLiteral("Paperi"), QStringLiteral("papers"), listed(report.papers, QStringLiteral("ei tiedossa")));
    headerRow(html, QStringLiteral("Päivämäärä"), QStringLiteral("date"),
              report.date.toString(QStringLiteral("d.M.yyyy")));
    headerRow(html, QStringLiteral("Skannauksia"), QStringLiteral("scans"), QString::number(report.scans));
    headerRow(html, QStringLiteral("Arvioitu"), QStringLiteral("graded"), QString::number(report.graded));
    html.close();
    if (report.printers.size() > 1 || report.resolutions.size() > 1 || report.papers.size() > 1)
        html.element(QStringLiteral("p"),
                     QStringLiteral("Huom: skannaukset ovat eri tulostimien, tarkkuuksien tai paperien sivuja, "
                                    "joten sijoitukset eivät ole keskenään vertailukelpoisia."));
    if (!report.untrustedScans.isEmpty())
        html.element(QStringLiteral("p"), untrustedText(report));

    if (report.ladder)
        ladderSection(html, report);

    html.element(QStringLiteral("h2"), QStringLiteral("Sivut parhaasta alkaen"));
    if (report.pages.empty())
        html.element(QStringLiteral("p"), QStringLiteral("Yksikään sivu ei dekoodautunut."));
    else
        pageTable(html, QStringLiteral("pages"), report.pages, false);

    if (!report.undecoded.empty()) {
        html.element(QStringLiteral("h2"), QStringLiteral("Sivut, jotka eivät dekoodautuneet"));
        pageTable(html, QStringLiteral("undecoded"), report.undecoded, true);
    }
    if (!report.unread.empty()) {
        html.element(QStringLiteral("h2"), QStringLiteral("Skannaukset ilman arviota"));
        html.open(QStringLiteral("table"), QStringLiteral("unread"));
        html.headings({QStringLiteral("Skannaus"), QStringLiteral("Syy")}, {0, 1});
        for (size_t i = 0; i < report.unread.size(); ++i) {
            html.open(QStringLiteral("tr"));
            xml.writeAttribute("data-list", "unread");
            xml.writeAttribute("data-index", QString::number(i));
            html.value(QStringLiteral("source"), report.unread[i].source, -1, true);
            html.value(QStringLiteral("message"), report.unread[i].message, -1, true);
            html.close();
        }
        html.close();
    }

    html.element(QStringLiteral("h2"), QStringLiteral("Menetelmä"));
    html.open(QStringLiteral("p"), QStringLiteral("small"));
    xml.writeAttribute("data-field", "methods");
    xml.writeCharacters(methodsText(report));
    html.close();
    html.close(); // body
    xml.writeEndDocument();
    return out;
}

} // namespace raitakone::report
