// Scanner optics: a blur lowers the modulation to a grade a one-dimensional
// model of the same print, scan and aperture predicts; a rotated scan, or
// one with taller pixels, grades like a straight one.

#include "grading/Grading.h"
#include "pattern/BarPattern.h"
#include "support/SyntheticScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace raitakone;
using namespace raitakone::testing;

namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kDpi = 600; // printed and scanned: one scan pixel per printer pixel
constexpr int kSteps = 20;   // model samples a pixel

grading::SymbolGrade gradeOnly(const QImage& image)
{
    const grading::GradeResult r = grading::gradeScan({grading::measuredPlane(image), kDpi, kDpi}, {});
    EXPECT_EQ(r.status, grading::GradeStatus::Graded) << r.message.toStdString();
    return r.symbols.empty() ? grading::SymbolGrade{} : r.symbols.front();
}

std::vector<double> convolve(const std::vector<double>& signal, const std::vector<double>& kernel)
{
    const int half = int(kernel.size()) / 2;
    std::vector<double> out(signal.size());
    for (size_t i = 0; i < signal.size(); ++i) {
        double sum = 0.0;
        for (size_t k = 0; k < kernel.size(); ++k) {
            const long at = std::clamp(long(i) + long(k) - half, 0L, long(signal.size()) - 1);
            sum += kernel[k] * signal[size_t(at)];
        }
        out[i] = sum;
    }
    return out;
}

std::vector<double> normalised(std::vector<double> kernel)
{
    double total = 0.0;
    for (double k : kernel)
        total += k;
    for (double& k : kernel)
        k /= total;
    return kernel;
}

// MOD of the pattern's profile in one dimension: the modules as pixels, a
// Gaussian of sigma, the pixels' linear interpolation (a one-pixel tent) and
// the circular aperture seen across the bars (weights the chord length).
double modelModulation(double sigmaMm, double apertureMm, double paper, double ink)
{
    const int w = modulePixels(kDpi);
    const int quiet = 12 * w * kSteps;
    std::vector<double> inkCover(size_t(kModuleCount * w * kSteps + 2 * quiet), 0.0);
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i))
            std::fill_n(inkCover.begin() + quiet + (i - 1) * w * kSteps, w * kSteps, 1.0);

    const double pixelsPerMm = kDpi / kMmPerInch;
    const double sigma = sigmaMm * pixelsPerMm * kSteps;
    std::vector<double> profile = inkCover;
    if (sigma > 0.0) {
        std::vector<double> gauss;
        for (int i = -int(4 * sigma); i <= int(4 * sigma); ++i)
            gauss.push_back(std::exp(-0.5 * i * i / (sigma * sigma)));
        profile = convolve(profile, normalised(gauss));
    }
    std::vector<double> tent;
    for (int i = -kSteps; i <= kSteps; ++i)
        tent.push_back(kSteps - std::abs(i));
    profile = convolve(profile, normalised(tent));
    const double r = apertureMm / 2.0 * pixelsPerMm * kSteps;
    std::vector<double> chord;
    for (int i = -int(r); i <= int(r); ++i)
        chord.push_back(std::sqrt(r * r - double(i) * i));
    profile = convolve(profile, normalised(chord));
    for (double& p : profile)
        p = paper + (ink - paper) * p;

    // Each element's extreme within its nominal extent; the quiet zones are
    // light elements.
    std::vector<double> extremes{*std::max_element(profile.begin(), profile.begin() + quiet)};
    for (int i = 1; i <= kModuleCount;) {
        int j = i;
        while (j <= kModuleCount && isDark(j) == isDark(i))
            ++j;
        const auto from = profile.begin() + quiet + (i - 1) * w * kSteps;
        const auto to = profile.begin() + quiet + (j - 1) * w * kSteps;
        extremes.push_back(isDark(i) ? *std::min_element(from, to) : *std::max_element(from, to));
        i = j;
    }
    extremes.push_back(*std::max_element(profile.end() - quiet, profile.end()));
    double ecmin = 100.0;
    for (size_t k = 1; k < extremes.size(); ++k)
        ecmin = std::min(ecmin, std::fabs(extremes[k] - extremes[k - 1]));
    const auto [lo, hi] = std::minmax_element(profile.begin(), profile.end());
    return ecmin / (*hi - *lo);
}

// The blur that gives the model the modulation wanted.
double sigmaFor(double modulation, double apertureMm, const ScanModel& model)
{
    double sharp = 0.0, blurred = 0.2;
    for (int i = 0; i < 30; ++i) {
        const double mid = (sharp + blurred) / 2;
        (modelModulation(mid, apertureMm, model.paper, model.ink) > modulation ? sharp : blurred) = mid;
    }
    return (sharp + blurred) / 2;
}

} // namespace

TEST(GradingOptics, ABlurLoweringModulationBetweenTwoThresholdsGivesThatGrade)
{
    const PageRaster page = symbolPage(kDpi);
    const Coverage printedPage = printed(page, kDpi, symbolRegion(kDpi));
    const double aperture = 0.250; // the reference aperture for a 7-pixel module at 600 dpi
    for (auto [modulation, expectedGrade] : {std::pair{0.65, 3}, {0.55, 2}, {0.45, 1}}) {
        SCOPED_TRACE(modulation);
        ScanModel model;
        model.dpi = kDpi;
        model.blurSigmaMm = sigmaFor(modulation, aperture, model);
        const grading::SymbolGrade s = gradeOnly(scan(printedPage, model));
        EXPECT_DOUBLE_EQ(s.apertureMm, aperture);
        EXPECT_NEAR(s.worst.mod, modulation, 0.03);
        EXPECT_EQ(s.worstGrades.mod, expectedGrade);
        EXPECT_LE(s.grade, expectedGrade);
        for (const grading::ScanLine& line : s.lines)
            EXPECT_EQ(line.grades.mod, expectedGrade);
    }
}

namespace {

// The same grade and measurements within what resampling the scan moves.
void expectGradedAlike(const grading::SymbolGrade& a, const grading::SymbolGrade& b)
{
    EXPECT_NEAR(a.grade, b.grade, 0.1);
    EXPECT_NEAR(a.worst.mod, b.worst.mod, 0.03);
    EXPECT_NEAR(a.worst.decodability, b.worst.decodability, 0.05);
    EXPECT_NEAR(a.worst.sc, b.worst.sc, 1.0);
    EXPECT_NEAR(a.moduleMm, b.moduleMm, 0.005 * b.moduleMm);
    EXPECT_NEAR(a.barGain.um, b.barGain.um, 0.05 * b.moduleMm * 1000.0);
    EXPECT_NEAR(a.barHeightMm, b.barHeightMm, 0.2);
}

} // namespace

TEST(GradingOptics, AScanRotatedOrWithTallerPixelsGradesLikeAStraightOne)
{
    // A page with ink spread and a blur that takes the modulation into B,
    // so that the grade is not simply 4.
    ScanModel model;
    model.dpi = kDpi;
    model.blurSigmaMm = sigmaFor(0.64, 0.250, model);
    const Coverage printedPage = printed(symbolPage(kDpi), kDpi, symbolRegion(kDpi), 1);
    const grading::SymbolGrade straight = gradeOnly(scan(printedPage, model));
    ASSERT_LT(straight.grade, 4.0);
    for (double degrees : {4.0, -4.0, 90.0}) {
        SCOPED_TRACE(degrees);
        model.rotationDegrees = degrees;
        const QImage turned = scan(printedPage, model);
        const grading::SymbolGrade t = gradeOnly(turned);
        expectGradedAlike(t, straight);
        EXPECT_NEAR(std::fabs(std::remainder(t.angleDegrees - straight.angleDegrees, 360.0)), std::fabs(degrees), 0.1);

        // Every row twice: twice the resolution down the page as across.
        const QImage tall = turned.scaled(turned.width(), 2 * turned.height(), Qt::IgnoreAspectRatio);
        expectGradedAlike(grading::gradeScan({tall, kDpi, 2 * kDpi}, {}).symbols.at(0), t);
    }
}
