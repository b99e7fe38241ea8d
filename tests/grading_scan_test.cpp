// Grading synthetic scans of pages our own surface prints: the print and
// scan model (support/SyntheticScan.h) fixes every true value in advance.

#include "grading/Grading.h"
#include "grading/GradeReport.h"
#include "pattern/BarPattern.h"
#include "printtests/PrintTests.h"
#include "support/Decode.h"
#include "support/MemoryPrinter.h"
#include "support/SyntheticScan.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

using namespace raitakone;
using namespace raitakone::testing;
using grading::GradeOptions;
using grading::GradeResult;
using grading::GradeStatus;
using grading::SymbolGrade;

namespace {

constexpr double kMmPerInch = 25.4;

GradeResult grade(const QImage& image, const GradeOptions& options = {})
{
    const double dpi = image.dotsPerMeterX() * 0.0254;
    return grading::gradeScan({grading::measuredPlane(image), dpi, dpi}, options);
}

// The one symbol of a graded scan.
const SymbolGrade& symbolOf(const GradeResult& result)
{
    EXPECT_EQ(result.status, GradeStatus::Graded) << result.message.toStdString();
    EXPECT_EQ(result.symbols.size(), 1u);
    static const SymbolGrade none;
    return result.symbols.empty() ? none : result.symbols.front();
}

QImage scanOfSymbolPage(double printDpi, const ScanModel& model, int gain = 0)
{
    return scan(printed(symbolPage(printDpi), printDpi, symbolRegion(printDpi), gain), model);
}

double moduleMm(double printDpi) { return modulePixels(printDpi) * kMmPerInch / printDpi; }

} // namespace

TEST(GradingScans, APerfectPageAt1200DpiGradesFourWithNoBarGain)
{
    ScanModel model;
    model.dpi = 1200;
    const GradeResult result = grade(scanOfSymbolPage(1200, model));
    const SymbolGrade& s = symbolOf(result);
    const double x = moduleMm(1200);

    EXPECT_EQ(s.text, kPatternDigits);
    EXPECT_TRUE(s.textIsPattern);
    EXPECT_DOUBLE_EQ(s.grade, 4.0);
    EXPECT_EQ(s.letter, 'A');
    EXPECT_EQ(s.gradeText, QStringLiteral("4.0/10/660")); // 0.8 X = 0.24 mm: the 0.250 mm aperture
    EXPECT_GE(s.worst.decodability, 0.95);
    EXPECT_TRUE(s.worst.decode);
    EXPECT_NEAR(s.moduleMm, x, 0.002 * x);
    EXPECT_NEAR(s.worst.sc, model.paper - model.ink, 1.0);
    EXPECT_NEAR(s.worst.rmin, model.ink, 0.5);
    EXPECT_NEAR(s.worst.rmax, model.paper, 0.5);
    EXPECT_LT(s.worst.defects, 0.02);
    ASSERT_TRUE(s.barGain.measured);
    EXPECT_NEAR(s.barGain.um / 1000.0, 0.0, 0.05 * x);
    EXPECT_LT(std::fabs(s.barGain.worstDeviationUm) / 1000.0, 0.1 * x);
    EXPECT_FALSE(s.barGain.printerPixels);
    EXPECT_NEAR(s.angleDegrees, 0.0, 0.05);

    // Ten scan lines evenly over the middle 80 % of the 1.1 cm bars.
    const double height = barHeightPixels(float(kTwipsPerInch / 1200)) * kMmPerInch / 1200;
    EXPECT_NEAR(s.barHeightMm, height, 0.1);
    ASSERT_EQ(s.lines.size(), 10u);
    EXPECT_NEAR(s.lines.front().offsetMm, -0.4 * height, 0.1);
    EXPECT_NEAR(s.lines.back().offsetMm, 0.4 * height, 0.1);
    for (const grading::ScanLine& line : s.lines) {
        EXPECT_EQ(line.grade, 4);
        ASSERT_EQ(line.elementsMm.size(), 181u);
        const double width = std::accumulate(line.elementsMm.begin(), line.elementsMm.end(), 0.0);
        EXPECT_NEAR(width, kModuleCount * x, 0.3 * x);
    }
}

TEST(GradingScans, BarGainAt300DpiIsTheWideningInPrinterPixels)
{
    // A 300-dpi print scanned at 1200 dpi through the smallest reference
    // aperture, which still resolves the one-pixel spaces of g = +2.
    ScanModel model;
    model.dpi = 1200;
    GradeOptions options;
    options.apertureMm = 0.075;
    options.printerDpi = 300;
    const double x = moduleMm(300);
    const double printerPixelMm = kMmPerInch / 300;
    for (int g : {-1, 1, 2}) {
        SCOPED_TRACE(g);
        const SymbolGrade s = symbolOf(grade(scanOfSymbolPage(300, model, g), options));
        ASSERT_TRUE(s.barGain.measured);
        ASSERT_TRUE(s.barGain.printerPixels);
        EXPECT_NEAR(*s.barGain.printerPixels, g, 0.1 * x / printerPixelMm);
        EXPECT_NEAR(s.barGain.um / 1000.0, g * printerPixelMm, 0.1 * x);
        EXPECT_NEAR(s.barGain.percentX, 100.0 * g * printerPixelMm / x, 10.0);
        EXPECT_NEAR(s.moduleMm, x, 0.005 * x); // leading edges move alike
        EXPECT_EQ(s.gradeText.section(QLatin1Char('/'), 1), QStringLiteral("03/660"));
        if (g == 2) {
            // Every bar 2/3 module wide of its nominal: each rounds one module
            // up and the bars of a character total an odd number.
            EXPECT_FALSE(s.worst.decode);
            EXPECT_DOUBLE_EQ(s.grade, 0.0);
            EXPECT_NE(s.lines.front().decodeFailure.indexOf(QStringLiteral("pariton")), -1);
        } else {
            // Edge-to-similar-edge measurements do not see a uniform gain.
            EXPECT_TRUE(s.worst.decode);
            EXPECT_GE(s.worst.decodability, 0.9);
        }
    }
}

TEST(GradingScans, SymbolContrastIsPaperLessInkInLinearLight)
{
    // The scanner's optics blur in linear light, before the encoding.
    ScanModel model;
    model.paper = 80;
    model.ink = 10;
    model.blurSigmaMm = 0.04;
    const QImage encoded = scanOfSymbolPage(600, model);
    const SymbolGrade s = symbolOf(grade(encoded));
    EXPECT_NEAR(s.worst.sc, 70.0, 1.0);
    EXPECT_NEAR(s.worst.rmin, 10.0, 0.5);
    EXPECT_NEAR(s.worst.rmax, 80.0, 0.5);

    // The same page saved as linear values and read as linear.
    model.srgb = false;
    GradeOptions linear;
    linear.linear = true;
    const SymbolGrade l = symbolOf(grade(scanOfSymbolPage(600, model), linear));
    EXPECT_NEAR(l.worst.sc, s.worst.sc, 0.5);
    EXPECT_NEAR(l.worst.rmin, s.worst.rmin, 0.5);
    EXPECT_NEAR(l.worst.mod, s.worst.mod, 0.02);
    EXPECT_NEAR(l.barGain.um, s.barGain.um, 5.0);
    EXPECT_EQ(l.gradeText, s.gradeText);

    // Encoded values taken as reflectance: the 10 % ink reads as 35 %, and
    // GT moves along every edge, which shows as a bar gain that is not there.
    const SymbolGrade wrong = symbolOf(grade(encoded, linear));
    EXPECT_GT(wrong.worst.rmin, 30.0);
    EXPECT_GT(std::fabs(wrong.barGain.um - s.barGain.um) / 1000.0, 0.05 * moduleMm(600));

    // A colour scan is read through its red channel.
    const SymbolGrade red = symbolOf(grade(asColourScan(encoded)));
    EXPECT_DOUBLE_EQ(red.worst.sc, s.worst.sc);
    EXPECT_DOUBLE_EQ(red.worst.decodability, s.worst.decodability);
}

TEST(GradingScans, AVoidInABarGivesDefectsOfItsDepthOverTheContrast)
{
    // The middle module of the first three-module bar printed lighter over
    // the whole bar height, wide enough for the aperture to see its floor.
    const double dpi = 600;
    const size_t start = kBarPattern.find("01110") + 1;
    ASSERT_NE(start, std::string_view::npos);
    const int w = modulePixels(dpi);
    const int from = moduleColumn(dpi, int(start) + 2);
    const PageRaster page = symbolPage(dpi);
    ScanModel model;
    model.dpi = 1200;
    const double contrast = model.paper - model.ink;
    for (auto [depth, expectedGrade] : {std::pair{10.0, 4}, {22.0, 1}, {28.0, 0}}) {
        SCOPED_TRACE(depth);
        Coverage c = printed(page, dpi, symbolRegion(dpi));
        for (int y = 0; y < c.height; ++y)
            for (int x = from; x < from + w; ++x)
                if (c.at(x, y) > 0.5f)
                    c.at(x, y) = float(1.0 - depth / contrast);
        const SymbolGrade s = symbolOf(grade(scan(c, model)));
        EXPECT_NEAR(s.worst.defects, depth / s.worst.sc, 0.02);
        EXPECT_EQ(s.worstGrades.defects, expectedGrade);
        EXPECT_TRUE(s.worst.decode);
    }
}

TEST(GradingScans, EverySymbolIsGradedAndAForeignTextIsSaid)
{
    // The page's symbol, and below it another Code 128 symbol of the same
    // module made by ZXing's writer.
    const double dpi = 600;
    const int w = modulePixels(dpi);
    const Coverage page = printed(symbolPage(dpi), dpi, symbolRegion(dpi));
    const std::string foreign = "Raitakone 11";
    const ZXing::BitMatrix modules =
        ZXing::MultiFormatWriter(ZXing::BarcodeFormat::Code128).setMargin(0).encode(foreign, 0, 1);
    const int top = page.height + 100, height = 236; // 10 mm bars
    Coverage both{page.width, top + height + 100, dpi, {}};
    both.ink.assign(size_t(both.width) * size_t(both.height), 0.0f);
    std::copy(page.ink.begin(), page.ink.end(), both.ink.begin());
    for (int m = 0; m < modules.width(); ++m)
        if (modules.get(m, 0))
            for (int y = top; y < top + height; ++y)
                for (int x = (12 + m) * w; x < (13 + m) * w; ++x)
                    both.at(x, y) = 1.0f;

    const GradeResult result = grade(scan(both, ScanModel{}));
    ASSERT_EQ(result.status, GradeStatus::Graded);
    ASSERT_EQ(result.symbols.size(), 2u);
    int pages = 0;
    for (const SymbolGrade& s : result.symbols) {
        SCOPED_TRACE(s.text);
        pages += s.textIsPattern;
        EXPECT_EQ(s.text, s.textIsPattern ? std::string(kPatternDigits) : foreign);
        EXPECT_TRUE(s.worst.decode);
        EXPECT_DOUBLE_EQ(s.grade, 4.0);
        EXPECT_NEAR(s.moduleMm, w * kMmPerInch / dpi, 0.002);
    }
    EXPECT_EQ(pages, 1);
    const QString report = grading::gradeReport(result);
    EXPECT_NE(report.indexOf(QStringLiteral("Symboli 2")), -1);
    EXPECT_EQ(report.count(QStringLiteral("teksti ei ole sivujen 54 numeroa")), 1) << report.toStdString();
}

TEST(GradingScans, NeitherThePageTextNorOtherStripesAreSymbols)
{
    // "twips 1": the symbol, then lines of numbers in Times New Roman 16,
    // whose letters cross a row as many dark runs as bars do; below them a
    // run of 60 even stripes, which no reader reads and which has no start
    // or stop character.
    const double dpi = 600;
    TestPrinter test(dpi);
    Command13_Click(test.printer);
    const QRect top(0, 0, test.lastPage().width(), int(std::lround(8.0 / 2.54 * dpi)));
    Coverage c = printed(test.lastPage(), dpi, top);
    ASSERT_GT(std::count(c.ink.begin() + long(c.ink.size() / 2), c.ink.end(), 1.0f), 1000); // text below the bars
    const int w = modulePixels(dpi);
    for (int y = c.height - 300; y < c.height - 60; ++y)
        for (int stripe = 0; stripe < 60; ++stripe)
            std::fill_n(&c.at(200 + 3 * w * stripe, y), 2 * w, 1.0f);
    const GradeResult result = grade(scan(c, ScanModel{}));
    const SymbolGrade& s = symbolOf(result);
    EXPECT_TRUE(s.textIsPattern);
}

TEST(GradingScans, OneBarRemovedFailsTheDecodeOnEveryScanLine)
{
    const double dpi = 600;
    Coverage c = printed(symbolPage(dpi), dpi, symbolRegion(dpi));
    // The first bar from the middle of the symbol on, all of its modules.
    int first = kModuleCount / 2;
    while (!isDark(first))
        ++first;
    int last = first;
    while (isDark(last + 1))
        ++last;
    for (int x = moduleColumn(dpi, first); x < moduleColumn(dpi, last + 1); ++x)
        for (int y = 0; y < c.height; ++y)
            c.at(x, y) = 0.0f;
    const GradeResult result = grade(scan(c, ScanModel{}));
    const SymbolGrade& s = symbolOf(result);
    // Found as a run of bars; upside down it is still read from its start.
    ScanModel turned;
    turned.rotationDegrees = 180;
    const SymbolGrade upsideDown = symbolOf(grade(scan(c, turned)));
    ASSERT_FALSE(s.lines.empty());
    ASSERT_FALSE(upsideDown.lines.empty());
    const std::vector<double>& straightElements = s.lines.front().elementsMm;
    const std::vector<double>& turnedElements = upsideDown.lines.back().elementsMm;
    ASSERT_EQ(turnedElements.size(), straightElements.size());
    for (size_t k = 0; k < 6; ++k)
        EXPECT_NEAR(turnedElements[k], straightElements[k], 0.1 * moduleMm(dpi)) << k;
    EXPECT_FALSE(s.read);
    EXPECT_TRUE(s.text.empty());
    EXPECT_FALSE(s.textIsPattern);
    EXPECT_FALSE(s.worst.decode);
    for (const grading::ScanLine& line : s.lines) {
        EXPECT_FALSE(line.values.decode);
        EXPECT_EQ(line.grade, 0);
    }
    EXPECT_EQ(s.letter, 'F');
    EXPECT_NE(grading::gradeReport(result).indexOf(QStringLiteral("ei luettavissa")), -1);
}

TEST(GradingScans, AModuleUnderFourScanPixelsIsRefusedNamingTheResolution)
{
    ScanModel model;
    model.dpi = 200; // a 300-dpi module of 3 printer pixels is 2 scan pixels
    const GradeResult result = grade(scanOfSymbolPage(300, model));
    EXPECT_EQ(result.status, GradeStatus::BadInput);
    EXPECT_TRUE(result.symbols.empty());
    EXPECT_NE(result.message.indexOf(QStringLiteral("600 dpi")), -1) << result.message.toStdString();
}

TEST(GradingScans, ALineFormPageShowsItsClippedFirstBarAsTheWorstBar)
{
    // "Valkea 1": the first bar's pen is centred at 5 twips, so at 1200 dpi
    // three of its fourteen columns fall left of the printable area. Ink
    // spread cannot reach there either: with a gain the bar comes nearer its
    // nominal width and still stands out from the others.
    const double dpi = 1200;
    TestPrinter test(dpi);
    Command10_Click(test.printer, 0);
    ScanModel model;
    model.dpi = 1200;
    GradeOptions options;
    options.printerDpi = dpi;
    const int middleRow = int(std::lround(1.65 / 2.54 * dpi));
    for (int g : {0, 2}) {
        SCOPED_TRACE(g);
        const Coverage c = printed(test.lastPage(), dpi, symbolRegion(dpi, 0), g);
        int firstRun = 0;
        while (c.at(firstRun, middleRow) > 0.5f)
            ++firstRun;
        const int nominal = 2 * modulePixels(dpi); // the start character's first bar
        ASSERT_LT(firstRun - nominal, g);
        const SymbolGrade s = symbolOf(grade(scan(c, model), options));
        EXPECT_EQ(s.barGain.worstIndex, 1);
        EXPECT_EQ(s.barGain.worstModules, 2);
        const double pixelUm = 1000.0 * kMmPerInch / dpi;
        const double tolerance = 100.0 * moduleMm(dpi);
        EXPECT_NEAR(s.barGain.worstDeviationUm, (firstRun - nominal) * pixelUm, tolerance);
        EXPECT_NEAR(s.barGain.worstFromMeanUm, (firstRun - nominal - g) * pixelUm, tolerance);
        EXPECT_NEAR(*s.barGain.printerPixels, g, 0.1 * modulePixels(dpi));
    }
}
