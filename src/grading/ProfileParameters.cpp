#include "grading/ProfileParameters.h"

#include "grading/ProfileElements.h"

#include <algorithm>
#include <cmath>

namespace raitakone::grading {
namespace {

// A peak or valley inside an element counts when the profile turns by this
// share of the symbol contrast on both its sides: less is the scanner's noise.
constexpr double kTurnOfSc = 0.01;

} // namespace

LineMeasurement measureLine(const std::vector<float>& profile, double stepMm)
{
    LineMeasurement m;
    m.profile = profile;
    Parameters& v = m.line.values;
    const auto [lowest, highest] = std::minmax_element(profile.begin(), profile.end());
    v.rmin = *lowest;
    v.rmax = *highest;
    v.sc = v.rmax - v.rmin;
    m.line.gt = v.rmin + v.sc / 2.0;

    const ProfileElements found = profileElements(profile, m.line.gt);
    for (double edge : found.edges)
        m.edgesMm.push_back(edge * stepMm);

    // Edge contrast between neighbouring elements, the quiet zones included;
    // ERN inside every element and quiet zone, Defects = ERNmax / SC.
    double ecmin = v.sc;
    double ernMax = 0.0;
    const std::vector<Element>& elements = found.elements;
    for (size_t k = 0; k < elements.size(); ++k) {
        if (k > 0)
            ecmin = std::min(ecmin, double(std::fabs(elements[k].extreme - elements[k - 1].extreme)));
        ernMax = std::max(ernMax, elementNonUniformity(profile, elements[k].from, elements[k].to, kTurnOfSc * v.sc));
    }
    v.ecmin = ecmin;
    v.mod = v.sc > 0.0 ? v.ecmin / v.sc : 0.0;
    v.defects = v.sc > 0.0 ? ernMax / v.sc : 1.0;

    // The symbol: from the first falling edge to the last rising edge.
    const std::vector<double>& edges = m.edgesMm;
    const bool startsDark = !elements.empty() && elements.front().dark;
    if (!startsDark && edges.size() >= 2) {
        size_t last = edges.size() - 1;
        if (last % 2 == 0) // the profile ends dark: leave out the last bar's start
            --last;
        for (size_t k = 0; k < last; ++k)
            m.line.elementsMm.push_back(edges[k + 1] - edges[k]);
        const double leading = edges.front();
        const double trailing = double(profile.size() - 1) * stepMm - edges[last];
        m.decode = referenceDecode(m.line.elementsMm, leading, trailing);
    } else {
        m.decode.failure = "tummaa heti viivan alussa";
    }
    v.decode = m.decode.decoded;
    v.decodability = m.decode.decoded ? m.decode.decodability : 0.0;
    m.line.decodeFailure = QString::fromStdString(m.decode.failure);

    ParameterGrades& g = m.line.grades;
    g.rmin = v.rmin <= 0.5 * v.rmax ? 4 : 0;
    g.sc = gradeSc(v.sc);
    g.ecmin = v.ecmin >= 15.0 ? 4 : 0;
    g.mod = gradeMod(v.mod);
    g.defects = gradeDefects(v.defects);
    g.decodability = gradeDecodability(v.decodability);
    g.decode = v.decode ? 4 : 0;
    m.line.grade = g.lowest();
    return m;
}

} // namespace raitakone::grading
