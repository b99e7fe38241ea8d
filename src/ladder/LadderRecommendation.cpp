#include "ladder/LadderRecommendation.h"

#include "grading/GradeReport.h"
#include "ladder/LadderPage.h"

#include <algorithm>
#include <cmath>

namespace raitakone::ladder {
namespace {

constexpr double kUmPerInch = 25400.0;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// Each symbol's place down the page: along the perpendicular to the
// symbols' common axis, pointing from the first rung to the last.
std::vector<double> placesDownThePage(const std::vector<grading::SymbolGrade>& symbols)
{
    double sx = 0.0, sy = 0.0;
    for (const grading::SymbolGrade& s : symbols) {
        sx += std::cos(s.angleDegrees * M_PI / 180.0);
        sy += std::sin(s.angleDegrees * M_PI / 180.0);
    }
    const double angle = std::atan2(sy, sx);
    const double downX = -std::sin(angle), downY = std::cos(angle);
    std::vector<double> places;
    for (const grading::SymbolGrade& s : symbols)
        places.push_back(s.centreXMm * downX + s.centreYMm * downY);
    return places;
}

RungGrade rungOf(int reduction, const grading::SymbolGrade& s, int index)
{
    RungGrade rung;
    rung.reduction = reduction;
    rung.symbol = index;
    rung.found = true;
    rung.grade = s.grade;
    rung.letter = s.letter;
    rung.gradeText = s.gradeText;
    rung.decoded = s.textIsPattern;
    if (s.barGain.measured) {
        rung.deviationUm = s.barGain.um;
        rung.deviationPx = s.barGain.printerPixels;
    }
    return rung;
}

} // namespace

LadderGrade gradeLadder(const std::vector<grading::SymbolGrade>& symbols, const marking::PageIdentity& page)
{
    LadderGrade ladder;
    for (int k : page.rungs) {
        RungGrade rung;
        rung.reduction = k;
        ladder.rungs.push_back(rung);
    }
    if (symbols.empty() || page.rungs.empty())
        return ladder;

    const std::vector<double> places = placesDownThePage(symbols);
    const double top = *std::min_element(places.begin(), places.end());
    const double pitch = rungPitchMm(page.dpiX, page.dpiY);
    for (size_t i = 0; i < symbols.size(); ++i) {
        const long slot = std::lround((places[i] - top) / pitch);
        if (slot >= 0 && slot < long(ladder.rungs.size()) && !ladder.rungs[size_t(slot)].found)
            ladder.rungs[size_t(slot)] = rungOf(page.rungs[size_t(slot)], symbols[i], int(i));
    }

    std::vector<double> spreads;
    for (const RungGrade& r : ladder.rungs)
        if (r.decoded && r.deviationPx)
            spreads.push_back(*r.deviationPx + r.reduction);
    if (!spreads.empty()) {
        ladder.spreadPx = median(spreads);
        ladder.spreadUm = *ladder.spreadPx * kUmPerInch / page.dpiX;
    }

    // The best grade wins; rungs within the tie of it go to the bars
    // nearest their ideal width.
    const auto offIdeal = [](const RungGrade& r) { return r.deviationPx ? std::fabs(*r.deviationPx) : 1e9; };
    double topGrade = -1.0;
    for (const RungGrade& r : ladder.rungs)
        if (r.found)
            topGrade = std::max(topGrade, r.grade);
    const RungGrade* best = nullptr;
    for (const RungGrade& r : ladder.rungs)
        if (r.found && r.grade >= topGrade - kGradeTie &&
            (best == nullptr || offIdeal(r) < offIdeal(*best) ||
             (offIdeal(r) == offIdeal(*best) && r.grade > best->grade)))
            best = &r;
    if (best != nullptr) {
        ladder.recommendedPx = best->reduction;
        ladder.recommendedUm = best->reduction * kUmPerInch / page.dpiX;
    }
    ladder.recommendation = recommendationSentence(ladder);
    return ladder;
}

QString recommendationSentence(const LadderGrade& ladder)
{
    if (!ladder.recommendedPx)
        return QStringLiteral("Tikkaista ei löytynyt yhtään askelmaa, joten suositusta ei voi antaa. Skannaa sivu "
                              "uudelleen niin, että kaikki askelmat ja merkintä näkyvät.");
    const RungGrade& best = *std::find_if(ladder.rungs.begin(), ladder.rungs.end(), [&](const RungGrade& r) {
        return r.found && r.reduction == *ladder.recommendedPx;
    });
    const int k = *ladder.recommendedPx;
    const QString grade =
        QStringLiteral("laatu %1 (%2).").arg(grading::reportNumber(best.grade, 1)).arg(QLatin1Char(best.letter));
    QString text;
    if (k == 0)
        text = QStringLiteral("Älä kavenna palkkeja: ") + grade;
    else
        text = QStringLiteral("%1 palkkeja %2 tulostimen pikselillä (%3 µm): ")
                   .arg(k > 0 ? QStringLiteral("Kavenna") : QStringLiteral("Levennä"))
                   .arg(std::abs(k))
                   .arg(grading::reportNumber(std::fabs(*ladder.recommendedUm), 0)) +
               grade +
               QStringLiteral(" Aseta tarraohjelman palkkien kavennus (bar width reduction) %1 pikseliin.")
                   .arg(grading::signedReportNumber(k, 0).remove(QLatin1Char('+')));
    // A narrowing that only adds margin says so, lest it read as a fault.
    const auto unnarrowed = std::find_if(ladder.rungs.begin(), ladder.rungs.end(),
                                         [](const RungGrade& r) { return r.found && r.reduction == 0; });
    if (k > 0 && unnarrowed != ladder.rungs.end() && unnarrowed->letter == 'A')
        text += QStringLiteral(" Kaventamatonkin askelma saa laadun A, joten kavennus on varmuusvaraa.");
    if (ladder.spreadPx) {
        const double s = *ladder.spreadPx;
        const QString amount = grading::reportNumber(std::fabs(s), 1);
        if (amount == grading::reportNumber(0.0, 1))
            text += QStringLiteral(" Tulostin toistaa palkit leveyttä muuttamatta.");
        else
            text += QStringLiteral(" Tulostin %1 palkkeja noin %2 pikseliä.")
                        .arg(s > 0 ? QStringLiteral("leventää") : QStringLiteral("kaventaa"), amount);
    }
    return text;
}

} // namespace raitakone::ladder
