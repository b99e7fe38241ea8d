#include "grading/ActionAdvice.h"

#include "grading/GradeReport.h"

#include <cmath>

namespace raitakone::grading {
namespace {

// Bars this many printer pixels off their width are worth narrowing or
// widening: the ladder's rungs step by whole pixels.
constexpr double kWorthAPixel = 0.5;

QString gainPixels(const BarGain& gain) { return signedReportNumber(*gain.printerPixels, 1); }

// The cause and the next step, from the parameter that set the grade.
QString causeAndStep(const SymbolGrade& s)
{
    const BarGain& gain = s.barGain;
    const ParameterGrades& g = s.worstGrades;
    const int lowest = g.lowest();
    if (!gain.measured || g.decode < 2)
        return QStringLiteral("Syy on piirtotapa: tulostin ei toista tällä tekniikalla piirrettyä viivakoodia "
                              "luettavana. Käytä toista tekniikkaa, esimerkiksi sivua Valkea 1 (perus).");
    if (gain.printerPixels && std::fabs(*gain.printerPixels) >= kWorthAPixel && g.decodability <= lowest + 1)
        return QStringLiteral("Syy on tulostimen musteen %1 (palkit %2 pikseliä): tulosta Kavennustikkaat ja aseta "
                              "tarraohjelman palkkien kavennus (bar width reduction) sen suosituksen mukaan.")
            .arg(*gain.printerPixels > 0 ? QStringLiteral("leviäminen") : QStringLiteral("ohentuminen"),
                 gainPixels(gain));
    if (g.sc == lowest || g.rmin == lowest)
        return QStringLiteral("Syy on tulostin tai paperi: kontrasti on heikko. Tarkista väriaine tai nauha, "
                              "tummuusasetus ja paperi.");
    if (g.defects == lowest || g.mod == lowest || g.ecmin == lowest)
        return QStringLiteral("Syy on tulostimen jälki: palkit tai välit ovat epätasaisia. Puhdista tulostuspää ja "
                              "kokeile toista paperia tai tummuutta.");
    return QStringLiteral("Syy on tulostimen jälki: palkkien leveydet vaihtelevat. Tulosta Kavennustikkaat ja "
                          "aseta palkkien kavennus niiden suosituksen mukaan.");
}

} // namespace

QString actionAdvice(const SymbolGrade& s)
{
    const QString grade = QStringLiteral("%1 (%2)").arg(reportNumber(s.grade, 1)).arg(QLatin1Char(s.letter));
    if (s.grade >= 2.5) {
        QString text = QStringLiteral("Laatu %1 riittää käyttöön: kauppa ja logistiikka vaativat vähintään C:n (1,5).")
                           .arg(grade);
        if (s.barGain.measured && s.barGain.printerPixels && std::fabs(*s.barGain.printerPixels) >= kWorthAPixel)
            text += QStringLiteral(" Palkit muuttuvat %1 pikseliä; Kavennustikkailla saat varmuusvaraa.")
                        .arg(gainPixels(s.barGain));
        else
            text += QStringLiteral(" Tekniikka ja tulostin toistavat viivakoodin oikein; muuta ei tarvita.");
        return text;
    }
    const QString use = s.grade >= kLeastUsableGrade
        ? QStringLiteral("Laatu %1 täyttää juuri vähimmäisvaatimuksen C (1,5), jota kauppa ja logistiikka "
                         "vaativat, eikä varmuusvaraa ole.")
        : QStringLiteral("Laatu %1 ei riitä käyttöön: kauppa ja logistiikka vaativat vähintään C:n (1,5).");
    return use.arg(grade) + QLatin1Char(' ') + causeAndStep(s);
}

} // namespace raitakone::grading
