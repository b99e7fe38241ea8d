// Grading synthetic scans of pages our own surface prints: the print and scan model fixes every true value.

#include "grading/ActionAdvice.h"
#include "grading/Grading.h"
#include "grading/GradeReport.h"
#include "pattern/BarPattern.h"
#include "printtests/PrintTests.h"
#include "support/Decode.h"
#include "support/MemoryPrinter.h"
#include "support/SyntheticScan.h"

#include <QPainter>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

using namespace raitakone;
using namespace raitakone::testing;
using grading::GradeOptions;
using grading::GradeResult;
using grading::SymbolGrade;

namespace {

GradeResult grade(const QImage& image, const GradeOptions& options = {})
{
    const double dpi = image.dotsPerMeterX() * 0.0254;
    return grading::gradeScan({grading::measuredPlane(image), dpi, dpi, {}}, options);
}

// The one symbol of a graded scan.
SymbolGrade symbolOf(const GradeResult& result)
{
    EXPECT_EQ(result.status, grading::GradeStatus::Graded) << result.message.toStdString();
    EXPECT_EQ(result.symbols.size(), 1u);
    return result.symbols.empty() ? SymbolGrade{} : result.symbols.front();
}

SymbolGrade gradeOf(const Coverage& printedPage, const ScanModel& model, const GradeOptions& options = {})
{
    return symbolOf(grade(scan(printedPage, model), options));
}

Coverage printedSymbolPage(double dpi, int gain = 0) { return printed(symbolPage(dpi), dpi, symbolRegion(dpi), gain); }

double moduleMm(double printDpi) { return modulePixels(printDpi) * 25.4 / printDpi; }

} // namespace

TEST(GradingScans, APerfectPageAt1200DpiGradesFourWithNoBarGain)
{
    const SymbolGrade s = gradeOf(printedSymbolPage(1200), {.dpi = 1200});
    const double x = moduleMm(1200);
    EXPECT_EQ(s.text, kPatternDigits);
    EXPECT_DOUBLE_EQ(s.grade, 4.0);
    EXPECT_GE(s.worst.decodability, 0.95);
    EXPECT_NEAR(s.moduleMm, x, 0.002 * x);
    ASSERT_TRUE(s.barGain.measured);
    EXPECT_NEAR(s.barGain.um / 1000.0, 0.0, 0.05 * x);
    ASSERT_EQ(s.lines.size(), 10u);
    for (const grading::ScanLine& line : s.lines)
        EXPECT_EQ(line.elementsMm.size(), 181u);
}

TEST(GradingScans, BarGainIsTheWideningInPrinterPixelsUnderSpreadUnevenPaperAndMottledInk)
{
    // Scanned at 1200 dpi, graded through the default aperture; the gain is measured through the finest
    // one the scan resolves (0.075 mm), whose profile still parts the one-pixel spaces of +2 px at 300 dpi.
    const struct {
        const char* what;
        double printDpi;
        int gain;
        ScanModel model;
        bool decodes;
        double toleranceX = 0.1; // of the bar gain, in modules
    } cases[] = {
        {"300 dpi -1 px", 300, -1, {.dpi = 1200}, true},
        {"300 dpi +1 px", 300, 1, {.dpi = 1200}, true},
        // Three bars 2/3 module wider each: 2 modules over their sum, past the 1.75 the decode allows.
        {"300 dpi +2 px", 300, 2, {.dpi = 1200}, false},
        // Half a module a bar: every bar rounds up, yet each character's bars stay within 1.75 of their sum.
        {"1200 dpi +7 px", 1200, 7, {.dpi = 1200}, true},
        {"1200 dpi +5 px", 1200, 5, {.dpi = 1200}, true},
        {"paper falling by 35 %, ink mottled", 600, 0, {.dpi = 1200, .paperFall = 35, .inkMottle = 8}, true, 0.05},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SymbolGrade s = gradeOf(printedSymbolPage(c.printDpi, c.gain), c.model, {.apertureMm = {}, .printerDpi = c.printDpi});
        const double modulePx = modulePixels(c.printDpi);
        ASSERT_TRUE(s.barGain.printerPixels);
        EXPECT_NEAR(*s.barGain.printerPixels, c.gain, c.toleranceX * modulePx);
        EXPECT_DOUBLE_EQ(s.barGain.apertureMm, 0.075);
        EXPECT_NEAR(s.moduleMm, moduleMm(c.printDpi), 0.01 * moduleMm(c.printDpi));
        EXPECT_EQ(s.worst.decode, c.decodes) << s.lines.front().decodeFailure.toStdString();
    }
    // Spread that still decodes grades as a verifier grades it: through a flatbed's blur the straight symbol
    // grades A, the spread one B, its narrow spaces' modulation lowered.
    const ScanModel flatbed{.dpi = 1200, .blurSigmaMm = 0.07};
    EXPECT_DOUBLE_EQ(gradeOf(printedSymbolPage(1200), flatbed).grade, 4.0);
    const SymbolGrade spread = gradeOf(printedSymbolPage(1200, 5), flatbed);
    EXPECT_TRUE(spread.worst.decode);
    EXPECT_NEAR(spread.grade, 3.0, 0.5);
}

TEST(GradingScans, SymbolContrastIsPaperLessInkInLinearLight)
{
    // The scanner's optics blur in linear light, before the encoding.
    ScanModel model{.blurSigmaMm = 0.04, .paper = 80, .ink = 10};
    const QImage encoded = scan(printedSymbolPage(600), model);
    const SymbolGrade s = symbolOf(grade(encoded));
    EXPECT_NEAR(s.worst.sc, 70.0, 1.0);
    EXPECT_NEAR(s.worst.rmin, 10.0, 0.5);
    // The same page saved as linear values and read with --linear; a colour scan through its red channel.
    model.srgb = false;
    const SymbolGrade l = gradeOf(printedSymbolPage(600), model, {.apertureMm = {}, .printerDpi = {}, .linear = true});
    EXPECT_NEAR(l.worst.sc, s.worst.sc, 0.5);
    EXPECT_NEAR(l.worst.mod, s.worst.mod, 0.02);
    EXPECT_NEAR(l.barGain.um, s.barGain.um, 5.0);
    EXPECT_DOUBLE_EQ(symbolOf(grade(asColourScan(encoded))).worst.sc, s.worst.sc);
}

TEST(GradingScans, AVoidInABarGivesDefectsOfItsDepthOverTheContrast)
{
    // The middle module of the first three-module bar printed lighter by depth over the bar's height, and its
    // last module by lastLighter: Defects is the highest peak less the lowest valley, over the contrast.
    const size_t start = kBarPattern.find("01110") + 1;
    const int w = modulePixels(600), from = moduleColumn(600, int(start) + 2);
    const ScanModel model{.dpi = 1200};
    for (auto [depth, lastLighter, expectedGrade] : {std::tuple{10.0, 0.0, 4}, {22.0, 0.0, 1}, {28.0, 0.0, 0},
                                                     {22.0, 10.0, 1}}) {
        SCOPED_TRACE(std::to_string(depth) + " " + std::to_string(lastLighter));
        Coverage c = printedSymbolPage(600);
        for (int y = 0; y < c.height; ++y)
            for (int x = from; x < from + 2 * w; ++x)
                c.at(x, y) = float(1.0 - (x < from + w ? depth : lastLighter) / (model.paper - model.ink));
        const SymbolGrade s = gradeOf(c, model);
        EXPECT_NEAR(s.worst.defects, depth / s.worst.sc, 0.02);
        EXPECT_EQ(s.worstGrades.defects, expectedGrade);
    }
}

TEST(GradingScans, EverySymbolIsGradedAndAForeignTextIsSaid)
{
    // Below the page's symbol another Code 128 symbol of the same module, made by ZXing's writer.
    const int w = modulePixels(600);
    const Coverage page = printedSymbolPage(600);
    const std::string foreign = "Raitakone 11";
    const ZXing::BitMatrix modules =
        ZXing::MultiFormatWriter(ZXing::BarcodeFormat::Code128).setMargin(0).encode(foreign, 0, 1);
    const int top = page.height + 100, height = 236; // 10 mm bars
    Coverage both{page.width, top + height + 100, 600, page.ink};
    both.ink.resize(size_t(both.width) * size_t(both.height));
    for (int m = 0; m < modules.width(); ++m)
        for (int y = top; y < top + height && modules.get(m, 0); ++y)
            std::fill_n(&both.at((12 + m) * w, y), w, 1.0f);

    const GradeResult result = grade(scan(both, {}));
    ASSERT_EQ(result.symbols.size(), 2u);
    for (const SymbolGrade& s : result.symbols) {
        EXPECT_EQ(s.text, s.textIsPattern ? std::string(kPatternDigits) : foreign);
        EXPECT_DOUBLE_EQ(s.grade, 4.0) << s.text;
    }
    EXPECT_NE(result.symbols[0].textIsPattern, result.symbols[1].textIsPattern);
    EXPECT_EQ(grading::gradeReport(result).count(QStringLiteral("teksti ei ole sivujen 54 numeroa")), 1);
}

// Pages or labels scanned together on one bed, side by side, one above the
// other, or six at once: every symbol is found and graded on its own.
TEST(GradingScans, PagesScannedTogetherAreEachGraded)
{
    const QImage one = scan(printedSymbolPage(600), {.dpi = 600});
    for (auto [across, down] : {std::pair{2, 1}, {1, 2}, {3, 2}}) {
        SCOPED_TRACE(std::to_string(across) + " × " + std::to_string(down));
        QImage bed(across * one.width(), down * one.height(), QImage::Format_Grayscale8);
        bed.fill(one.pixelColor(0, 0));
        bed.setDotsPerMeterX(one.dotsPerMeterX());
        bed.setDotsPerMeterY(one.dotsPerMeterY());
        QPainter painter(&bed);
        for (int i = 0; i < across; ++i)
            for (int j = 0; j < down; ++j)
                painter.drawImage(i * one.width(), j * one.height(), one);
        painter.end();
        const GradeResult result = grade(bed);
        ASSERT_EQ(result.symbols.size(), size_t(across * down)) << result.message.toStdString();
        for (const SymbolGrade& s : result.symbols) {
            EXPECT_TRUE(s.textIsPattern);
            EXPECT_DOUBLE_EQ(s.grade, 4.0);
        }
    }
}

TEST(GradingScans, NeitherThePageTextNorOtherStripesAreSymbols)
{
    // "twips 1": the symbol, then lines of Times New Roman 16, whose letters cross a row in as many dark
    // runs as bars do; below them 60 even stripes with no start or stop character.
    TestPrinter test(600);
    Command13_Click(test.printer);
    const QRect top(0, 0, test.lastPage().width(), int(std::lround(8.0 / 2.54 * 600)));
    Coverage c = printed(test.lastPage(), 600, top);
    ASSERT_GT(std::count(c.ink.begin() + long(c.ink.size() / 2), c.ink.end(), 1.0f), 1000); // text below the bars
    for (int y = c.height - 300; y < c.height - 60; ++y)
        for (int stripe = 0; stripe < 60; ++stripe)
            std::fill_n(&c.at(200 + 3 * modulePixels(600) * stripe, y), 2 * modulePixels(600), 1.0f);
    EXPECT_TRUE(gradeOf(c, {}).textIsPattern);
}

TEST(GradingScans, OneBarRemovedFailsTheDecodeOnEveryScanLine)
{
    // The first bar from the middle of the symbol on, all of its modules.
    int first = kModuleCount / 2, last;
    while (!isDark(first))
        ++first;
    for (last = first; isDark(last + 1);)
        ++last;
    Coverage c = printedSymbolPage(600);
    for (int y = 0; y < c.height; ++y)
        std::fill(&c.at(moduleColumn(600, first), y), &c.at(moduleColumn(600, last + 1), y), 0.0f);
    const SymbolGrade s = gradeOf(c, {});
    EXPECT_FALSE(s.read);
    EXPECT_EQ(s.letter, 'F');
    for (const grading::ScanLine& line : s.lines)
        EXPECT_FALSE(line.values.decode);
    // Found as a run of bars; upside down it is still read from its start.
    const SymbolGrade upsideDown = gradeOf(c, {.rotationDegrees = 180});
    ASSERT_FALSE(s.lines.empty());
    ASSERT_EQ(upsideDown.lines.size(), s.lines.size());
    for (size_t k = 0; k < 6; ++k)
        EXPECT_NEAR(upsideDown.lines.back().elementsMm.at(k), s.lines.front().elementsMm.at(k), 0.1 * moduleMm(600));
}

TEST(GradingScans, ALineFormPageShowsItsClippedFirstBarAsTheWorstBar)
{
    // "Valkea 1": the first bar's pen is centred at 5 twips, so at 1200 dpi three of its fourteen columns fall
    // off the printable area, where ink spread cannot reach either.
    TestPrinter test(1200);
    Command10_Click(test.printer, 0);
    const int middleRow = int(std::lround(1.65 / 2.54 * 1200));
    const double pixelUm = 25400.0 / 1200, tolerance = 100.0 * moduleMm(1200);
    for (int g : {0, 2}) {
        SCOPED_TRACE(g);
        const Coverage c = printed(test.lastPage(), 1200, symbolRegion(1200, 0), g);
        int shortBy = 2 * modulePixels(1200); // the start character's first bar
        for (int x = 0; c.at(x, middleRow) > 0.5f; ++x)
            --shortBy;
        ASSERT_GT(shortBy, -g);
        const SymbolGrade s = gradeOf(c, {.dpi = 1200}, {.apertureMm = {}, .printerDpi = 1200});
        EXPECT_EQ(s.barGain.worstIndex, 1);
        EXPECT_NEAR(s.barGain.worstDeviationUm, -shortBy * pixelUm, tolerance);
        EXPECT_NEAR(s.barGain.worstFromMeanUm, (-shortBy - g) * pixelUm, tolerance);
    }
}

// Numbers as the report and the window write them: a decimal comma, a sign
// where asked, and a value that rounds to zero never shown as minus zero.
TEST(GradeReportNumbers, DecimalCommaAndNoMinusZero)
{
    struct Case { double value; int decimals; const char* plain; const char* sign; };
    const Case cases[] = {{-0.004, 2, "0,00", "+0,00"}, {-0.04, 1, "0,0", "+0,0"}, {0.0, 2, "0,00", "+0,00"},
                          {1.99, 2, "1,99", "+1,99"},   {-0.06, 1, "−0,1", "−0,1"}, {-3.98, 2, "−3,98", "−3,98"}};
    for (const Case& c : cases) {
        EXPECT_EQ(grading::reportNumber(c.value, c.decimals), QString::fromUtf8(c.plain)) << c.value;
        EXPECT_EQ(grading::signedReportNumber(c.value, c.decimals), QString::fromUtf8(c.sign)) << c.value;
    }
}

// ISO/IEC 15416's grade thresholds for each scan-line parameter (grades 4 to
// 0 for A to F): each boundary value takes the higher grade, a step past it
// the lower.
TEST(GradeThresholds, EachParameterChangesGradeAtItsBoundaries)
{
    const struct {
        const char* parameter;
        int (*grade)(double);
        double boundary, step; // step: towards the worse side
        int at;
    } rows[] = {
        {"SC", grading::gradeSc, 70, -0.1, 4},   {"SC", grading::gradeSc, 55, -0.1, 3},
        {"SC", grading::gradeSc, 40, -0.1, 2},   {"SC", grading::gradeSc, 20, -0.1, 1},
        {"MOD", grading::gradeMod, 0.70, -0.001, 4}, {"MOD", grading::gradeMod, 0.60, -0.001, 3},
        {"MOD", grading::gradeMod, 0.50, -0.001, 2}, {"MOD", grading::gradeMod, 0.40, -0.001, 1},
        {"Defects", grading::gradeDefects, 0.15, 0.001, 4}, {"Defects", grading::gradeDefects, 0.20, 0.001, 3},
        {"Defects", grading::gradeDefects, 0.25, 0.001, 2}, {"Defects", grading::gradeDefects, 0.30, 0.001, 1},
        {"V", grading::gradeDecodability, 0.62, -0.001, 4}, {"V", grading::gradeDecodability, 0.50, -0.001, 3},
        {"V", grading::gradeDecodability, 0.37, -0.001, 2}, {"V", grading::gradeDecodability, 0.25, -0.001, 1},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.grade(r.boundary), r.at) << r.parameter << " " << r.boundary;
        EXPECT_EQ(r.grade(r.boundary + r.step), r.at - 1) << r.parameter << " past " << r.boundary;
    }
}

// Two scans otherwise grade 4 whose symbol grade is set by one parameter:
// paper 75 % and ink 8 % (SC 67, B); and one bar printed 1.5 printer pixels
// wider at 600 dpi, which moves two edge-to-similar-edge measurements by
// 1.5/7 of a module, leaving 1 - 2 * 1.5/7 of the decoder's half-module margin.
TEST(GradeThresholds, AScanGradesByItsSymbolContrastOrItsDecodability)
{
    const SymbolGrade dim = gradeOf(printedSymbolPage(1200), {.dpi = 1200, .paper = 75, .ink = 8});
    EXPECT_NEAR(dim.worst.sc, 67.0, 0.5);
    EXPECT_EQ(dim.worstGrades.sc, 3);
    EXPECT_DOUBLE_EQ(dim.grade, 3.0);

    Coverage wide = printedSymbolPage(600);
    const int after = moduleColumn(600, int(kBarPattern.find("01110")) + 5); // the space after a 3-module bar
    for (int y = 0; y < wide.height; ++y) {
        wide.at(after, y) = 1.0f;
        wide.at(after + 1, y) = 0.5f;
    }
    const SymbolGrade off = gradeOf(wide, {.dpi = 1200});
    EXPECT_NEAR(off.worst.decodability, 1 - 2 * 1.5 / 7, 0.02);
    EXPECT_EQ(off.worstGrades.decodability, 3);
    EXPECT_EQ(off.worstGrades.sc, 4);
    EXPECT_EQ(off.worstGrades.mod, 4);
    EXPECT_DOUBLE_EQ(off.grade, 3.0);
}

// A blank sheet with a scanner's noise holds no symbol: the noise's two
// halves are no ink and paper, whatever the paper's shade.
TEST(GradingScans, ABlankSheetWithScannerNoiseHasNoSymbol)
{
    std::mt19937 random(7);
    for (const auto& [paper, sigma] : {std::pair{235, 0.0}, {235, 1.0}, {200, 3.0}, {245, 6.0}}) {
        SCOPED_TRACE(std::to_string(paper) + " sigma " + std::to_string(sigma));
        QImage sheet(1748, 2480, QImage::Format_Grayscale8); // A5 at 300 dpi
        std::normal_distribution<double> noise(paper, sigma);
        for (int y = 0; y < sheet.height(); ++y)
            for (int x = 0; x < sheet.width(); ++x)
                sheet.scanLine(y)[x] = uchar(std::clamp(int(std::lround(noise(random))), 0, 255));
        sheet.setDotsPerMeterX(11811);
        sheet.setDotsPerMeterY(11811);
        const GradeResult result = grade(sheet);
        EXPECT_EQ(result.status, grading::GradeStatus::NoSymbol) << result.message.toStdString();
    }
}

// The sentence of action: whether the grade will do, and what to do next,
// from the parameter that set it.
TEST(ActionAdvice, SaysWhatTheGradeMeansAndWhatToDo)
{
    const struct {
        double grade;
        grading::ParameterGrades grades; // rmin, sc, ecmin, mod, defects, decodability, decode
        std::optional<double> gainPx;
        std::vector<const char*> says;
    } cases[] = {
        {4.0, {4, 4, 4, 4, 4, 4, 4}, 0.1, {"Laatu 4,0 (A) riittää", "muuta ei tarvita"}},
        {3.0, {4, 4, 4, 4, 4, 3, 4}, 1.2, {"Laatu 3,0 (B) riittää", "+1,2 pikseliä", "Kavennustikkailla"}},
        {2.0, {4, 2, 4, 4, 4, 4, 4}, 0.2, {"täyttää juuri", "kontrasti"}},
        {1.0, {4, 4, 4, 4, 4, 1, 4}, 2.0, {"ei riitä", "leviäminen (palkit +2,0", "Kavennustikkaat"}},
        {0.0, {4, 4, 4, 0, 4, 4, 0}, std::nullopt, {"ei riitä", "piirtotapa", "Valkea 1 (perus)"}},
        {1.0, {4, 4, 4, 4, 1, 4, 4}, 0.1, {"ei riitä", "epätasaisia"}},
    };
    for (const auto& c : cases) {
        SymbolGrade s;
        s.grade = c.grade;
        s.letter = "FDCBA"[std::clamp(int(c.grade + 0.5), 0, 4)];
        s.worstGrades = c.grades;
        s.barGain.measured = c.gainPx.has_value();
        s.barGain.printerPixels = c.gainPx;
        const std::string advice = grading::actionAdvice(s).toStdString();
        for (const char* part : c.says)
            EXPECT_NE(advice.find(part), std::string::npos) << part << " in " << advice;
    }
}
