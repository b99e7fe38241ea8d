// Scanner optics: a blur lowers MOD to the grade, and decodability to the value, a one-dimensional model predicts; a turned or
// tall-pixel scan grades like a straight one.

#include "grading/Code128Reference.h"
#include "grading/Grading.h"
#include "pattern/BarPattern.h"
#include "support/SyntheticScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

using namespace raitakone;
using namespace raitakone::testing;

namespace {

constexpr double kDpi = 600; // printed and scanned: one scan pixel per printer pixel
constexpr int kSteps = 20;   // model samples a pixel
constexpr double kApertureMm = 0.250; // the reference aperture for a 7-pixel module at 600 dpi

grading::SymbolGrade gradeOnly(const QImage& image, double dpiDown = kDpi)
{
    const grading::GradeResult r = grading::gradeScan({grading::measuredPlane(image), kDpi, dpiDown, {}}, {});
    EXPECT_EQ(r.status, grading::GradeStatus::Graded) << r.message.toStdString();
    return r.symbols.empty() ? grading::SymbolGrade{} : r.symbols.front();
}

// The signal through the kernel k(i), i in -half..half, normalised; the ends held.
template <typename Kernel> std::vector<double> convolve(const std::vector<double>& signal, int half, Kernel k)
{
    std::vector<double> weights;
    for (int i = -half; i <= half; ++i)
        weights.push_back(k(double(i)));
    const double total = std::accumulate(weights.begin(), weights.end(), 0.0);
    const long last = long(signal.size()) - 1;
    std::vector<double> out(signal.size());
    for (long i = 0; i <= last; ++i)
        for (long j = -half; j <= half; ++j)
            out[size_t(i)] += weights[size_t(j + half)] / total * signal[size_t(std::clamp(i + j, 0L, last))];
    return out;
}

struct ModelParameters {
    double mod = 0.0;
    double decodability = 0.0;
};

// MOD and decodability of the pattern's ink profile (neither changes with paper and ink): the modules as pixels,
// a Gaussian of sigma, the pixels' linear interpolation (a one-pixel tent) and the circular aperture across the
// bars (chords). Decodability from edges where the profile crosses the midpoint of each two neighbours' extremes.
ModelParameters modelParameters(double sigmaMm)
{
    const int w = modulePixels(kDpi) * kSteps, quiet = 12 * w;
    std::vector<double> profile(size_t(kModuleCount * w + 2 * quiet), 0.0);
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i))
            std::fill_n(profile.begin() + quiet + (i - 1) * w, w, 1.0);
    const double stepsPerMm = kDpi / 25.4 * kSteps, sigma = sigmaMm * stepsPerMm, r = kApertureMm / 2 * stepsPerMm;
    profile = convolve(profile, int(4 * sigma), [&](double i) { return std::exp(-0.5 * i * i / (sigma * sigma)); });
    profile = convolve(profile, kSteps, [](double i) { return kSteps - std::fabs(i); });
    profile = convolve(profile, int(r), [&](double i) { return std::sqrt(r * r - i * i); });

    // Each element's extreme ink within its nominal extent and where it lies; the quiet zones are light elements.
    std::vector<std::pair<double, long>> extremes{{*std::min_element(profile.begin(), profile.begin() + quiet), 0}};
    for (int i = 1, j = 1; i <= kModuleCount; i = j) {
        while (j <= kModuleCount && isDark(j) == isDark(i))
            ++j;
        const auto from = profile.begin() + quiet;
        const auto [lo, hi] = std::minmax_element(from + (i - 1) * w, from + (j - 1) * w);
        const auto extreme = isDark(i) ? hi : lo;
        extremes.emplace_back(*extreme, extreme - profile.begin());
    }
    extremes.emplace_back(*std::min_element(profile.end() - quiet, profile.end()), long(profile.size()) - 1);
    ModelParameters result;
    double ecmin = 1.0;
    for (size_t k = 1; k < extremes.size(); ++k)
        ecmin = std::min(ecmin, std::fabs(extremes[k].first - extremes[k - 1].first));
    const auto [lo, hi] = std::minmax_element(profile.begin(), profile.end());
    result.mod = ecmin / (*hi - *lo);

    std::vector<double> edges;
    for (size_t k = 1; k < extremes.size(); ++k) {
        const double level = (extremes[k - 1].first + extremes[k].first) / 2;
        long i = extremes[k - 1].second;
        while ((profile[size_t(i + 1)] - level) * (profile[size_t(i)] - level) > 0)
            ++i;
        edges.push_back(double(i) + (level - profile[size_t(i)]) / (profile[size_t(i + 1)] - profile[size_t(i)]));
    }
    std::vector<double> widths;
    for (size_t k = 1; k < edges.size(); ++k)
        widths.push_back(edges[k] - edges[k - 1]);
    const grading::ReferenceDecode d =
        grading::referenceDecode(widths, edges.front(), double(profile.size()) - edges.back());
    result.decodability = d.decoded ? d.decodability : 0.0;
    return result;
}

double modelModulation(double sigmaMm) { return modelParameters(sigmaMm).mod; }

// The blur that gives the model the modulation wanted.
double sigmaFor(double modulation)
{
    double sharp = 0.0, blurred = 0.2;
    for (int i = 0; i < 30; ++i) {
        const double mid = (sharp + blurred) / 2;
        (modelModulation(mid) > modulation ? sharp : blurred) = mid;
    }
    return (sharp + blurred) / 2;
}

} // namespace

TEST(GradingOptics, ABlurLoweringModulationBetweenTwoThresholdsGivesThatGradeAndTheModelsDecodability)
{
    const Coverage page = printed(symbolPage(kDpi), kDpi, symbolRegion(kDpi));
    for (auto [modulation, expectedGrade] : {std::pair{0.65, 3}, {0.55, 2}, {0.45, 1}}) {
        SCOPED_TRACE(modulation);
        const grading::SymbolGrade s = gradeOnly(scan(page, {.blurSigmaMm = sigmaFor(modulation)}));
        EXPECT_DOUBLE_EQ(s.apertureMm, kApertureMm);
        EXPECT_NEAR(s.worst.mod, modulation, 0.03);
        EXPECT_EQ(s.worstGrades.mod, expectedGrade);
        EXPECT_NEAR(s.worst.decodability, modelParameters(sigmaFor(modulation)).decodability, 0.05);
    }
}

TEST(GradingOptics, AScanRotatedOrWithTallerPixelsGradesLikeAStraightOne)
{
    // Ink spread and a blur into B, so that the grade is not simply 4.
    ScanModel model{.blurSigmaMm = sigmaFor(0.64)};
    const Coverage page = printed(symbolPage(kDpi), kDpi, symbolRegion(kDpi), 1);
    const grading::SymbolGrade straight = gradeOnly(scan(page, model));
    ASSERT_LT(straight.grade, 4.0);
    for (double degrees : {4.0, -10.0, 15.0, 90.0}) {
        SCOPED_TRACE(degrees);
        model.rotationDegrees = degrees;
        const QImage turned = scan(page, model);
        const grading::SymbolGrade t = gradeOnly(turned);
        EXPECT_NEAR(std::fabs(std::remainder(t.angleDegrees - straight.angleDegrees, 360.0)), std::fabs(degrees), 0.1);
        // Every row twice: twice the resolution down the page as across.
        const grading::SymbolGrade tall = gradeOnly(turned.scaled(turned.width(), 2 * turned.height()), 2 * kDpi);
        for (const auto& [a, b] : {std::pair{&t, &straight}, {&tall, &t}}) {
            EXPECT_NEAR(a->grade, b->grade, 0.1);
            EXPECT_NEAR(a->worst.mod, b->worst.mod, 0.03);
            EXPECT_NEAR(a->worst.decodability, b->worst.decodability, 0.05);
            EXPECT_NEAR(a->worst.sc, b->worst.sc, 1.0);
            EXPECT_NEAR(a->barHeightMm, b->barHeightMm, 0.1);
            EXPECT_NEAR(a->moduleMm, b->moduleMm, 0.005 * b->moduleMm);
            EXPECT_NEAR(a->barGain.um, b->barGain.um, 0.05 * b->moduleMm * 1000.0);
        }
    }
}
