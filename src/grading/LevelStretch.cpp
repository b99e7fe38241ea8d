#include "grading/LevelStretch.h"

#include "grading/GradeReport.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace raitakone::grading {
namespace {

// About two million values are enough for the histogram (every 17th row of
// a 600-dpi A4 page) and keep the check a small part of the grading.
constexpr qint64 kSampledValues = 2'000'000;
// Printing paper reflects 75–92 % at 660 nm; a paper level this high is the
// scanner's white point, not the paper.
constexpr double kPaperAtWhite = 97.0;
// Neighbours this full on both sides leave no natural reason for an empty
// value between them: a levels stretch spreads the values and skips some.
// A stretch by k leaves about 1 - 1/k of the values empty all along the
// range; a few empty values are only a sparse histogram.
constexpr qint64 kFullNeighbour = 8;
constexpr int kGapsForStretch = 4;
constexpr double kGapShareForStretch = 0.15;

} // namespace

QString stretchedLevels(const QImage& plane, const ReflectanceTable& table)
{
    const int rowStep = int(std::max<qint64>(1, qint64(plane.width()) * plane.height() / kSampledValues));
    // Four histograms summed at the end: counting into one stalls on the
    // same value met twice in a row.
    std::array<std::array<quint32, 256>, 4> counts{};
    qint64 total = 0;
    for (int y = 0; y < plane.height(); y += rowStep) {
        const uchar* row = plane.constScanLine(y);
        int x = 0;
        for (; x + 4 <= plane.width(); x += 4) {
            ++counts[0][row[x]];
            ++counts[1][row[x + 1]];
            ++counts[2][row[x + 2]];
            ++counts[3][row[x + 3]];
        }
        for (; x < plane.width(); ++x)
            ++counts[0][row[x]];
        total += plane.width();
    }
    std::array<qint64, 256> count{};
    for (const auto& part : counts)
        for (size_t v = 0; v < 256; ++v)
            count[v] += part[v];
    if (total == 0)
        return {};
    QStringList signs;

    // The paper: the commonest value among the light half.
    int paper = -1;
    for (int v = 0; v < 256; ++v)
        if (table[size_t(v)] > 50.0f && (paper < 0 || count[size_t(v)] > count[size_t(paper)]))
            paper = v;
    if (paper >= 0 && count[size_t(paper)] > 0 && table[size_t(paper)] >= kPaperAtWhite)
        signs << QStringLiteral("paperin heijastavuus on %1 %, vaikka paperi heijastaa 75–92 %")
                     .arg(reportNumber(table[size_t(paper)], 1));

    // The ink clipped: the darkest value piled up, its neighbours nearly empty.
    if (count[0] * 1000 >= total && count[0] > 2 * std::max(count[1], count[2]))
        signs << QStringLiteral("tummimmat kohdat on leikattu nollaan");

    // Values skipped between full neighbours, between the 0.5 and 99.5 percentiles.
    qint64 seen = 0;
    int low = 0, high = 255;
    for (int v = 0; v < 256; ++v) {
        seen += count[size_t(v)];
        if (seen * 200 <= total)
            low = v;
        if (seen * 200 < total * 199)
            high = v + 1;
    }
    int gaps = 0;
    for (int v = std::max(low, 1); v < std::min(high, 255); ++v)
        if (count[size_t(v)] == 0 && count[size_t(v) - 1] >= kFullNeighbour && count[size_t(v) + 1] >= kFullNeighbour)
            ++gaps;
    if (gaps >= kGapsForStretch && gaps >= kGapShareForStretch * (high - low))
        signs << QStringLiteral("sävyjakaumasta puuttuu %1 sävyä kuin tasoja olisi venytetty").arg(gaps);
    return signs.join(QStringLiteral("; "));
}

} // namespace raitakone::grading
