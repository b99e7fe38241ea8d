#include "report/ReportValues.h"

#include "grading/GradeReport.h"
#include "report/SeriesReport.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace raitakone::report {

using grading::reportNumber;

QString resolutionText(double dpiX, double dpiY)
{
    if (std::fabs(dpiX - dpiY) < 0.5)
        return QStringLiteral("%1 dpi").arg(reportNumber(dpiX, 0));
    return QStringLiteral("%1 × %2 dpi").arg(reportNumber(dpiX, 0), reportNumber(dpiY, 0));
}

QString paperText(int widthMm, int heightMm) { return QStringLiteral("%1 × %2 mm").arg(widthMm).arg(heightMm); }

ProfileTrace middleProfile(const grading::SymbolGrade& symbol)
{
    ProfileTrace trace;
    if (symbol.lines.empty())
        return trace;
    const grading::Profile& p = symbol.lines[std::min<size_t>(grading::kMiddleScanLine, symbol.lines.size() - 1)].profile;
    const size_t samples = p.reflectance.size();
    if (samples == 0)
        return trace;
    trace.lengthMm = double(samples - 1) * p.stepMm;
    trace.gt = p.gt;
    trace.barsMm = p.barsMm;
    const size_t points = std::min(samples, kTracePoints);
    trace.reflectance.reserve(points);
    for (size_t k = 0; k < points; ++k) {
        const size_t from = k * samples / points, to = std::max(from + 1, (k + 1) * samples / points);
        double sum = 0.0;
        for (size_t i = from; i < to; ++i)
            sum += p.reflectance[i];
        trace.reflectance.push_back(float(sum / double(to - from)));
    }
    return trace;
}

namespace {

QString joinedNumbers(const std::vector<double>& values, int decimals, const QString& unit)
{
    QStringList texts;
    for (double v : values)
        texts << reportNumber(v, decimals) + unit;
    return texts.isEmpty() ? QStringLiteral("–") : texts.join(QStringLiteral(", "));
}

} // namespace

QString methodsText(const SeriesReport& report)
{
    return QStringLiteral(
               "Jokainen skannaus on arvioitu standardin %1 mukaan: kymmenen pyyhkäisyviivaa palkkien korkeudelta, "
               "heijastuvuusprofiili ympyränmuotoisen mittausaukon läpi (halkaisija %2, lähin vertailuaukko 0,8 × "
               "moduuli), aallonpituus %3 nm (värikuvasta punainen kanava), skannauksen tarkkuus %4. Parametrien "
               "arvosanat ovat kokonaislukuja, viivan arvosana on sen heikoin parametri ja symbolin arvosana viivojen "
               "keskiarvo. Palkin levenemä on palkkien mitatun leveyden ja nimellisen leveyden (n × X) erotus "
               "keskimäärin; reunat ovat kohdissa, joissa profiili ylittää viereisten elementtien heijastuvuuksien "
               "puolivälin, mitattuna hienoimmalla vertailuaukolla, joka kattaa vähintään kolme skannauspikseliä (%5). "
               "Tulostimen pikseleinä levenemä on laskettu sivun merkinnän tai annetun tulostimen tarkkuuden mukaan.")
        .arg(QString::fromLatin1(grading::kGradingStandard), joinedNumbers(report.aperturesMm, 3, QStringLiteral(" mm")))
        .arg(grading::kWavelengthNm)
        .arg(joinedNumbers(report.scanResolutions, 0, QStringLiteral(" dpi")),
             joinedNumbers(report.gainAperturesMm, 3, QStringLiteral(" mm"))) +
           (report.reflectanceMethods.isEmpty() ? QString() : QStringLiteral(" ") + report.reflectanceMethods.join(u' ')) +
           (report.untrustedScans.isEmpty() ? QString() : QStringLiteral(" ") + untrustedText(report));
}

QString untrustedText(const SeriesReport& report)
{
    if (report.untrustedScans.isEmpty())
        return {};
    return QStringLiteral("VAROITUS: skannausten %1 tasot näyttävät venytetyiltä, joten niiden SC, Rmin, Rmax ja "
                          "niihin perustuvat arvosanat kertovat skannerin asetuksista eivätkä tulosteesta. Kalibroi "
                          "skanneri harmaalla askelkiilalla (raitakone --calibrate) ja käytä kalibrointia "
                          "(--calibration) tai skannaa ilman automaattista tasojen säätöä. Palkkien levenemä, "
                          "dekoodaus ja dekoodattavuus on mitattu silti.")
        .arg(report.untrustedScans.join(QStringLiteral(", ")));
}

} // namespace raitakone::report
