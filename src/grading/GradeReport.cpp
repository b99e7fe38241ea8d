#include "grading/GradeReport.h"

#include "grading/ActionAdvice.h"
#include "grading/PageReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace raitakone::grading {
namespace {

const QLocale& finnish()
{
    static const QLocale locale(QLocale::Finnish, QLocale::Finland);
    return locale;
}

QString parameterRow(const QString& name, const QString& value, int grade)
{
    return QStringLiteral("  %1 %2  %3\n").arg(name, -26).arg(value, 12).arg(gradeLetterOf(grade));
}

QJsonObject parametersJson(const Parameters& p)
{
    return QJsonObject{{"rmin", p.rmin},       {"rmax", p.rmax},   {"sc", p.sc},
                       {"ecmin", p.ecmin},     {"mod", p.mod},     {"defects", p.defects},
                       {"decodability", p.decodability}, {"decode", p.decode}};
}

QJsonObject gradesJson(const ParameterGrades& g)
{
    return QJsonObject{{"rmin", g.rmin}, {"sc", g.sc},           {"ecmin", g.ecmin},
                       {"mod", g.mod},   {"defects", g.defects}, {"decodability", g.decodability},
                       {"decode", g.decode}};
}

} // namespace

// A value that rounds to zero is written as zero, never "−0,00".
double withoutNegativeZero(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) == 0.0 ? 0.0 : value;
}

QString reportNumber(double value, int decimals)
{
    return finnish().toString(withoutNegativeZero(value, decimals), 'f', decimals);
}

QString signedReportNumber(double value, int decimals)
{
    const double shown = withoutNegativeZero(value, decimals);
    return (shown >= 0.0 ? QStringLiteral("+") : QString()) + reportNumber(shown, decimals);
}

QString printerPixelsText(const GradeResult& result, double printerPixels, bool withSign)
{
    QString text = QStringLiteral("%1 tulostimen pikseliä")
                       .arg(withSign ? signedReportNumber(printerPixels, 2) : reportNumber(std::fabs(printerPixels), 2));
    if (result.printerDpi)
        text += QStringLiteral(" (tulostin %1 dpi)").arg(reportNumber(*result.printerDpi, 0));
    return text;
}

QChar gradeLetterOf(int grade) { return grade < 0 ? QChar(0x2013) : QLatin1Char("FDCBA"[std::min(grade, 4)]); }

QString gradeColourName(int grade)
{
    static const char* const colours[] = {"#f09696", "#f5be82", "#f5e68c", "#c8e896", "#96d796"};
    return QString::fromLatin1(colours[std::clamp(grade, 0, 4)]);
}

QString passFailText(bool passed) { return passed ? QStringLiteral("hyväksytty") : QStringLiteral("hylätty"); }

std::vector<std::pair<QString, ShownValue>> parameterRows(const SymbolGrade& symbol)
{
    const Parameters& w = symbol.worst;
    const ParameterGrades& g = symbol.worstGrades;
    const QString percent = QStringLiteral(" %");
    return {{QStringLiteral("Rmin (≤ 0,5 × Rmax)"), {reportNumber(w.rmin, 1) + percent, g.rmin}},
            {QStringLiteral("Rmax"), {reportNumber(w.rmax, 1) + percent, -1}},
            {QStringLiteral("Symbolikontrasti SC"), {reportNumber(w.sc, 1) + percent, g.sc}},
            {QStringLiteral("Reunakontrasti ECmin"), {reportNumber(w.ecmin, 1) + percent, g.ecmin}},
            {QStringLiteral("Modulaatio MOD"), {reportNumber(w.mod, 2), g.mod}},
            {QStringLiteral("Virheet"), {reportNumber(w.defects, 2), g.defects}},
            {QStringLiteral("Dekoodattavuus"), {reportNumber(w.decodability, 2), g.decodability}},
            {QStringLiteral("Dekoodaus"), {passFailText(w.decode), g.decode}}};
}

std::vector<ShownValue> lineColumns(const ScanLine& line)
{
    const Parameters& v = line.values;
    const ParameterGrades& g = line.grades;
    return {{signedReportNumber(line.offsetMm, 2), -1},
            {reportNumber(v.rmin, 1), g.rmin},
            {reportNumber(v.rmax, 1), -1},
            {reportNumber(v.sc, 1), g.sc},
            {reportNumber(v.ecmin, 1), g.ecmin},
            {reportNumber(v.mod, 2), g.mod},
            {reportNumber(v.defects, 2), g.defects},
            {reportNumber(v.decodability, 2), g.decodability},
            {passFailText(v.decode), g.decode},
            {QStringLiteral("%1 (%2)").arg(line.grade).arg(gradeLetterOf(line.grade)), line.grade}};
}

QString gradeReport(const GradeResult& result)
{
    QString out;
    out += QStringLiteral("Skannauksen tarkkuus: %1 dpi").arg(reportNumber(result.dpiX, 0));
    if (std::fabs(result.dpiX - result.dpiY) > 0.5)
        out += QStringLiteral(" × %1 dpi").arg(reportNumber(result.dpiY, 0));
    out += QStringLiteral("\n");
    out += reflectanceMethodText(result.reflectance) + QStringLiteral("\n");
    if (!result.reflectance.scannerSettings.isEmpty())
        out += QStringLiteral("Skannerille asetettiin: %1\n").arg(result.reflectance.scannerSettings.join(u", "));
    if (!result.reflectance.trusted)
        out += QStringLiteral("VAROITUS: ") + result.reflectance.warning + QStringLiteral("\n");
    out += pageReport(result) + ladderReport(result);
    int index = 0;
    for (const SymbolGrade& s : result.symbols) {
        ++index;
        out += QStringLiteral("\nSymboli %1: laatu %2 (%3)\n").arg(index).arg(s.gradeText).arg(QLatin1Char(s.letter));
        if (!result.ladder)
            out += actionAdvice(s) + QLatin1Char('\n');
        if (s.text.empty())
            out += QStringLiteral("Teksti: ei luettavissa (symboli löytyi palkkeina, mutta mikään lukija ei tulkinnut "
                                  "sitä)\n");
        else
            out += QStringLiteral("Teksti: %1\n").arg(QString::fromStdString(s.text));
        if (!s.textIsPattern)
            out += QStringLiteral("  Huom: teksti ei ole sivujen 54 numeroa (%1); symboli arvioidaan silti.\n")
                       .arg(QString::fromStdString(patternText()));
        out += QStringLiteral("Moduuli X: %1 mm (%2 skannauspikseliä), mittausaukko %3 mm (%4), aallonpituus %5 nm\n")
                   .arg(reportNumber(s.moduleMm, 4), reportNumber(s.modulePixels, 1), reportNumber(s.apertureMm, 3))
                   .arg(s.apertureReference, 2, 10, QLatin1Char('0'))
                   .arg(kWavelengthNm);
        out += QStringLiteral("Symbolin kulma %1°, palkkien korkeus %2 mm\n")
                   .arg(reportNumber(s.angleDegrees, 2), reportNumber(s.barHeightMm, 2));

        out += QStringLiteral("\nParametrit (huonoin pyyhkäisyviiva):\n");
        for (const auto& [name, value] : parameterRows(s))
            out += parameterRow(name, value.text, value.grade);

        out += QStringLiteral("\nPyyhkäisyviivat (kohta (mm) palkkien keskeltä):\n");
        out += QStringLiteral("  nro  kohta   Rmin   Rmax     SC  ECmin   MOD  Virheet  Dekoodattavuus  Dekoodaus  arvosana\n");
        int n = 0;
        for (const ScanLine& l : s.lines) {
            // Numbers right-aligned under their headings, decode and grade after two spaces.
            static constexpr int kWidths[] = {7, 6, 6, 6, 6, 5, 8, 15};
            const std::vector<ShownValue> columns = lineColumns(l);
            out += QStringLiteral("  %1").arg(++n, 3);
            for (size_t k = 0; k < std::size(kWidths); ++k)
                out += QLatin1Char(' ') + columns[k].text.rightJustified(kWidths[k]);
            out += QStringLiteral("  %1  %2\n").arg(columns[8].text, -9).arg(columns[9].text);
            if (!l.values.decode)
                out += QStringLiteral("       dekoodaus: %1\n").arg(l.decodeFailure);
        }

        const BarGain& b = s.barGain;
        out += QStringLiteral("\nPalkin levenemä: ");
        if (!b.measured) {
            out += QStringLiteral("ei mitattavissa (minkään pyyhkäisyviivan elementit eivät vastanneet symbolia)\n");
            continue;
        }
        out += QStringLiteral("%1 µm (%2 % moduulista)").arg(signedReportNumber(b.um, 1), signedReportNumber(b.percentX, 1));
        if (b.printerPixels)
            out += QStringLiteral(", ") + printerPixelsText(result, *b.printerPixels, true);
        out += QStringLiteral(", mitattu %1 mm:n mittausaukolla").arg(reportNumber(b.apertureMm, 3));
        out += QStringLiteral("\nPoikkeavin palkki: %1. palkki vasemmalta (%2 moduulia): leveys nimellisestä %3 µm "
                              "(%4 % moduulista), muiden palkkien levenemästä %5 µm\n")
                   .arg(b.worstIndex)
                   .arg(b.worstModules)
                   .arg(signedReportNumber(b.worstDeviationUm, 1))
                   .arg(signedReportNumber(b.worstDeviationUm / 10.0 / s.moduleMm, 1))
                   .arg(signedReportNumber(b.worstFromMeanUm, 1));
    }
    return out;
}

QByteArray gradeJson(const GradeResult& result)
{
    QJsonArray symbols;
    for (const SymbolGrade& s : result.symbols) {
        QJsonArray lines;
        for (const ScanLine& l : s.lines) {
            QJsonObject line = parametersJson(l.values);
            QJsonArray elements;
            for (double e : l.elementsMm)
                elements.append(e);
            line.insert("offset_mm", l.offsetMm);
            line.insert("gt", l.gt);
            line.insert("grade", l.grade);
            line.insert("grades", gradesJson(l.grades));
            line.insert("elements", elements);
            if (!l.values.decode)
                line.insert("decode_failure", l.decodeFailure);
            lines.append(line);
        }
        const BarGain& b = s.barGain;
        QJsonObject gain{{"um", b.measured ? QJsonValue(b.um) : QJsonValue()},
                         {"percent_x", b.measured ? QJsonValue(b.percentX) : QJsonValue()},
                         {"printer_pixels", b.printerPixels ? QJsonValue(*b.printerPixels) : QJsonValue()},
                         {"printer_dpi", result.printerDpi ? QJsonValue(*result.printerDpi) : QJsonValue()},
                         {"bars", b.bars},
                         {"aperture_mm", b.measured ? QJsonValue(b.apertureMm) : QJsonValue()}};
        QJsonObject worstBar{{"index", b.measured ? QJsonValue(b.worstIndex) : QJsonValue()},
                             {"deviation_um", b.measured ? QJsonValue(b.worstDeviationUm) : QJsonValue()},
                             {"from_mean_um", b.measured ? QJsonValue(b.worstFromMeanUm) : QJsonValue()},
                             {"modules", b.worstModules}};
        symbols.append(QJsonObject{{"text", QString::fromStdString(s.text)},
                                   {"text_is_pattern", s.textIsPattern},
                                   {"read_by_zxing", s.read},
                                   {"grade", s.grade},
                                   {"letter", QString(QLatin1Char(s.letter))},
                                   {"grade_text", s.gradeText},
                                   {"aperture_mm", s.apertureMm},
                                   {"aperture_reference", s.apertureReference},
                                   {"wavelength_nm", kWavelengthNm},
                                   {"module_mm", s.moduleMm},
                                   {"module_pixels", s.modulePixels},
                                   {"angle_degrees", s.angleDegrees},
                                   {"bar_height_mm", s.barHeightMm},
                                   {"parameters", parametersJson(s.worst)},
                                   {"parameter_grades", gradesJson(s.worstGrades)},
                                   {"scan_lines", lines},
                                   {"bar_gain", gain},
                                   {"worst_bar", worstBar}});
    }
    QJsonObject top{{"standard", QString::fromLatin1(kGradingStandard)}, {"scan_dpi", result.dpiX}, {"symbols", symbols}};
    if (std::fabs(result.dpiX - result.dpiY) > 0.5)
        top.insert("scan_dpi_y", result.dpiY);
    addPageJson(top, result);
    top.insert("reflectance", reflectanceJson(result.reflectance));
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

QString reflectanceMethodText(const ReflectanceUse& use)
{
    const QString detail = use.description.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(use.description);
    switch (use.source) {
    case ReflectanceSource::Icc:
        return QStringLiteral("Heijastavuus: skannauksen arvot muunnettiin tiedoston oman koodauksen mukaan%1.")
            .arg(detail);
    case ReflectanceSource::Calibration:
        return QStringLiteral("Heijastavuus: skannauksen arvot muunnettiin skannerin kalibroinnilla »%1«, tehty %2.")
            .arg(use.description, use.calibrationCreated);
    case ReflectanceSource::Linear:
        return QStringLiteral("Heijastavuus: skannauksen arvot luettiin lineaarisina (valitsin --linear).");
    case ReflectanceSource::Srgb:
        break;
    }
    return QStringLiteral("Heijastavuus: skannauksen arvot luettiin sRGB-koodattuina%1.")
        .arg(use.description.isEmpty() ? QStringLiteral(" (tiedosto ei kerro koodaustaan)") : detail);
}

QJsonObject reflectanceJson(const ReflectanceUse& use)
{
    QJsonObject object{{"source", QString::fromLatin1(reflectanceSourceName(use.source))}, {"trusted", use.trusted}};
    if (use.source == ReflectanceSource::Calibration) {
        object.insert("calibration_name", use.description);
        object.insert("calibration_date", use.calibrationCreated);
    } else if (!use.description.isEmpty()) {
        object.insert("description", use.description);
    }
    if (!use.trusted)
        object.insert("warning", use.warning);
    if (!use.scannerSettings.isEmpty())
        object.insert("scanner_settings", QJsonArray::fromStringList(use.scannerSettings));
    return object;
}

QString gainMeaning(const SymbolGrade& symbol)
{
    const BarGain& b = symbol.barGain;
    if (!b.measured)
        return QStringLiteral("Palkkien levenemää ei voitu mitata, koska minkään pyyhkäisyviivan elementit "
                              "eivät vastanneet symbolia: tulostin ei toista tällä tavalla piirrettyä viivakoodia "
                              "luettavana.");
    // Within a quarter of a printer pixel, or 5 % of the module when the
    // printer's pixel is not known, the bars are as drawn.
    const bool asDrawn = b.printerPixels ? std::fabs(*b.printerPixels) < 0.25 : std::fabs(b.percentX) < 5.0;
    const QString amount = b.printerPixels
                               ? QStringLiteral("%1 tulostimen pikseliä").arg(reportNumber(std::fabs(*b.printerPixels), 2))
                               : QStringLiteral("%1 µm (%2 % moduulista)")
                                     .arg(reportNumber(std::fabs(b.um), 1), reportNumber(std::fabs(b.percentX), 1));
    if (asDrawn)
        return QStringLiteral("Palkit tulostuvat oikean levyisinä (ero %1), joten tämä tulostin toistaa sivun "
                              "palkit sellaisinaan.")
            .arg(amount);
    if (b.um > 0.0)
        return QStringLiteral("Palkit tulostuvat %1 liian leveinä, joten tämä tulostin tarvitsee kapeammat "
                              "palkit kuin sivu piirtää.")
            .arg(amount);
    return QStringLiteral("Palkit tulostuvat %1 liian kapeina, joten tämä tulostin tarvitsee leveämmät palkit "
                          "kuin sivu piirtää.")
        .arg(amount);
}

} // namespace raitakone::grading
