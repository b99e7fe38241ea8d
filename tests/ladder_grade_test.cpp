// Grading scans of marked pages: the mark names the page and gives the
// printer's resolution; a scan of the ladder, printed by a printer that
// widens every bar by g pixels, recommends drawing them g pixels narrower.

#include "app/PageSeries.h"
#include "grading/Calibration.h"
#include "grading/GradeReport.h"
#include "page/PageGrade.h"
#include "ladder/LadderPage.h"
#include "ladder/LadderRecommendation.h"
#include "support/MemoryPrinter.h"
#include "support/SyntheticScan.h"
#include "surface/PictureSurface.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <gtest/gtest.h>

namespace raitakone {
namespace {

using namespace raitakone::testing;

// A ladder on a sheet just large enough for one sheet of rungs.
PageGeometry ladderPaper(double dpi) { return testing::sheetGeometry(dpi, 120, dpi >= 600 ? 170 : 125); }

grading::Scan scanOf(const QImage& image) { return {grading::measuredPlane(image), image.dotsPerMeterX() * 0.0254, image.dotsPerMeterY() * 0.0254, {}}; }

// The ladder printed with every bar widened by gain printer pixels and
// scanned at 600 dpi.
QImage ladderScan(double dpi, int gain, double blurMm = 0.02, double scanDpi = 600,
                  std::function<double(double)> tone = {})
{
    TestPrinter printer(ladderPaper(dpi));
    PictureSurface picture(kPictureWidth, kPictureHeight);
    marking::PageMarker marker("5eed5eed");
    printMarkedPage(ladderPrintPage(0), false, marker, "1/1", printer.printer, picture, [] {},
                    [](const std::string&) {});
    const PageRaster& page = printer.lastPage();
    return scan(printed(page, dpi, QRect(0, 0, page.width(), page.height()), gain),
                {.dpi = scanDpi, .blurSigmaMm = blurMm, .tone = std::move(tone)});
}

TEST(LadderGrading, RecommendsTheReductionThatUndoesThePrintersSpread)
{
    const struct {
        double dpi;
        int gain;
    } cases[] = {{600, 0}, {600, 1}, {600, 2}, {300, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(int(c.dpi)) + " dpi, g = " + std::to_string(c.gain));
        const grading::GradeResult result = grading::gradePage(scanOf(ladderScan(c.dpi, c.gain)), {});
        ASSERT_EQ(result.status, grading::GradeStatus::Graded) << result.message.toStdString();
        ASSERT_TRUE(result.page);
        EXPECT_EQ(result.page->control, "ladder");
        ASSERT_TRUE(result.printerDpi);
        EXPECT_EQ(*result.printerDpi, c.dpi); // from the mark
        ASSERT_TRUE(result.ladder);
        const ladder::LadderGrade& l = *result.ladder;
        EXPECT_EQ(l.rungs.size(), ladder::ladderReductions(c.dpi).size());
        for (const ladder::RungGrade& r : l.rungs)
            EXPECT_TRUE(r.found) << "k " << r.reduction;
        ASSERT_TRUE(l.recommendedPx);
        EXPECT_EQ(*l.recommendedPx, c.gain) << grading::gradeReport(result).toStdString();
        ASSERT_TRUE(l.spreadPx);
        EXPECT_NEAR(*l.spreadPx, c.gain, 0.3);
        EXPECT_NEAR(*l.spreadUm, *l.spreadPx * 25400 / c.dpi, 1e-6);
        EXPECT_FALSE(l.recommendation.isEmpty());

        const QJsonObject json = QJsonDocument::fromJson(grading::gradeJson(result)).object();
        EXPECT_EQ(json["page"]["control"].toString(), "ladder");
        EXPECT_EQ(json["page"]["series"].toString(), "5eed5eed");
        EXPECT_EQ(json["ladder"]["recommended_px"].toInt(), c.gain);
        EXPECT_EQ(json["ladder"]["rungs"].toArray().size(), qsizetype(l.rungs.size()));
    }
}

// A scanner that is not sRGB, calibrated from a 20-step wedge (densities 0.05 to 1.95) it scanned through the
// same curve: the ladder still recommends the reduction that undoes the spread, scanned at 1200 dpi through a
// flatbed's blur.
TEST(LadderGrading, ThroughACalibratedScannerRecommendsTheSameReduction)
{
    const auto srgb = [](double r) { return r <= 0.0031308 ? 12.92 * r : 1.055 * std::pow(r, 1.0 / 2.4) - 0.055; };
    const struct {
        const char* what;
        std::function<double(double)> tone;
    } curves[] = {
        {"linear", [](double r) { return r; }},
        {"gamma 1.8", [](double r) { return std::pow(r, 1.0 / 1.8); }},
        {"levels stretched", [srgb](double r) { return (srgb(r) - srgb(0.05)) / (srgb(0.85) - srgb(0.05)); }},
    };
    for (const auto& c : curves) {
        SCOPED_TRACE(c.what);
        grading::StepReference reference;
        std::vector<double> reflectances;
        for (int i = 0; i < 20; ++i) {
            reflectances.push_back(100.0 * std::pow(10.0, -(0.05 + 0.1 * i)));
            reference.steps.push_back({QString::number(i + 1), reflectances.back()});
        }
        const QImage wedge = stepWedgeScan(reflectances, {.dpi = 600, .tone = c.tone}, false);
        const grading::WedgeSteps steps = grading::findWedgeSteps(grading::measuredPlane(wedge), 20);
        const grading::CalibrationMade made = grading::makeCalibration(steps.values, reference);
        ASSERT_TRUE(made.calibration) << steps.error.toStdString() << made.error.toStdString();
        grading::GradeOptions options;
        options.calibration = std::make_shared<const grading::Calibration>(*made.calibration);
        const grading::GradeResult result =
            grading::gradePage(scanOf(ladderScan(600, 2, 0.07, 1200, c.tone)), options);
        ASSERT_TRUE(result.ladder) << result.message.toStdString();
        ASSERT_TRUE(result.ladder->recommendedPx);
        EXPECT_EQ(*result.ladder->recommendedPx, 2) << grading::gradeReport(result).toStdString();
        EXPECT_EQ(result.reflectance.source, grading::ReflectanceSource::Calibration);
    }
}

// Smears the rows of one rung along them, past any reader.
void smearRung(QImage& scan, double dpi, int rung)
{
    const ladder::LadderLayout layout = ladder::ladderLayout(ladderPaper(dpi));
    const double toScan = 600.0 / dpi;
    const int margin = int(std::lround(6.0 / 25.4 * 600));
    const int top = margin + int((layout.firstRungTop + rung * layout.pitch) * toScan);
    const int bottom = top + int(layout.barHeight * toScan);
    const int radius = int(layout.modulePixels * toScan * 1.5);
    for (int y = top; y < bottom; ++y) {
        uchar* row = scan.scanLine(y);
        const std::vector<uchar> source(row, row + scan.width());
        for (int x = radius; x < scan.width() - radius; ++x) {
            int sum = 0;
            for (int d = -radius; d <= radius; ++d)
                sum += source[size_t(x + d)];
            row[x] = uchar(sum / (2 * radius + 1));
        }
    }
}

TEST(LadderGrading, ARungBlurredPastDecodingLeavesTheRecommendationToTheOthers)
{
    QImage image = ladderScan(600, 1);
    smearRung(image, 600, 3); // k = 2
    const grading::GradeResult result = grading::gradePage(scanOf(image), {});
    ASSERT_TRUE(result.ladder) << result.message.toStdString();
    const ladder::LadderGrade& l = *result.ladder;
    EXPECT_FALSE(l.rungs[3].decoded);
    ASSERT_TRUE(l.recommendedPx);
    EXPECT_EQ(*l.recommendedPx, 1);
    ASSERT_TRUE(l.spreadPx);
    EXPECT_NEAR(*l.spreadPx, 1.0, 0.3);
}

// The best grade decides, and only among the rungs within a tie of it do
// the bars nearest their ideal width win: here the rung whose bars are ideal
// (k = 1 of a printer that spreads 1 px) grades C and loses to k = 0.
TEST(LadderGrading, TheBestGradeComesBeforeTheWidthNearestIdeal)
{
    marking::PageIdentity page;
    page.control = "ladder";
    page.dpiX = page.dpiY = 600;
    page.rungs = {-1, 0, 1, 2, 3};
    const double grades[] = {3.0, 4.0, 2.0, 3.0, 2.0};
    std::vector<grading::SymbolGrade> symbols;
    for (size_t i = 0; i < page.rungs.size(); ++i) {
        grading::SymbolGrade s;
        s.textIsPattern = true;
        s.grade = grades[i];
        s.centreXMm = 50;
        s.centreYMm = 20 + double(i) * ladder::rungPitchMm(600, 600);
        s.barGain.measured = true;
        s.barGain.printerPixels = 1.0 - page.rungs[i];
        s.barGain.um = *s.barGain.printerPixels * 25400 / 600;
        symbols.push_back(s);
    }
    const ladder::LadderGrade l = ladder::gradeLadder(symbols, page);
    ASSERT_TRUE(l.recommendedPx && l.spreadPx);
    EXPECT_EQ(*l.recommendedPx, 0);
    EXPECT_DOUBLE_EQ(*l.spreadPx, 1.0);
}

// A page printed at 300 x 600 dpi and scanned at 600 dpi: the bar gain's
// printer pixels are the resolution across the bars, the mark's first.
TEST(MarkedGrading, ThePrinterResolutionIsTheMarksAcrossTheBars)
{
    TestPrinter printer(a4Geometry(300, 600));
    PictureSurface picture(kPictureWidth, kPictureHeight);
    marking::PageMarker marker("5eed5eed");
    printMarkedPage(*findPrintPage("Command10:0"), true, marker, "1/1", printer.printer, picture, [] {},
                    [](const std::string&) {});
    const QImage page = printer.lastPage().image().convertToFormat(QImage::Format_Grayscale8);
    // Each printer pixel two scan pixels across, on paper 5 mm wider all round.
    QImage scanned(2 * page.width() + 240, page.height() + 240, QImage::Format_Grayscale8);
    scanned.fill(255);
    QPainter(&scanned).drawImage(120, 120, page.scaled(2 * page.width(), page.height()));
    scanned.setDotsPerMeterX(std::lround(600 / 0.0254));
    scanned.setDotsPerMeterY(std::lround(600 / 0.0254));
    const grading::GradeResult result = grading::gradePage(scanOf(scanned), {});
    ASSERT_EQ(result.status, grading::GradeStatus::Graded) << result.message.toStdString();
    ASSERT_TRUE(result.page && result.printerDpi);
    EXPECT_EQ(result.page->dpiY, 600);
    EXPECT_EQ(*result.printerDpi, 300);
}

TEST(MarkedGrading, AnUnmarkedPageGradesAsBeforeAndAGivenResolutionWinsOverTheMark)
{
    const QImage plain = scan(printed(symbolPage(600), 600, symbolRegion(600), 1), {.dpi = 1200});
    grading::GradeResult before = grading::gradeScan(scanOf(plain), {.apertureMm = {}, .printerDpi = 600});
    before.printerDpi = 600; // the resolution the bar gain's printer pixels assume
    const grading::GradeResult now = grading::gradePage(scanOf(plain), {.apertureMm = {}, .printerDpi = 600});
    EXPECT_FALSE(now.page);
    EXPECT_FALSE(now.ladder);
    EXPECT_TRUE(now.printerDpiNote.isEmpty());
    QJsonObject nowJson = QJsonDocument::fromJson(grading::gradeJson(now)).object();
    EXPECT_EQ(nowJson.take("printer_dpi").toDouble(), 600);
    QJsonObject beforeJson = QJsonDocument::fromJson(grading::gradeJson(before)).object();
    beforeJson.remove("printer_dpi");
    EXPECT_EQ(nowJson, beforeJson);

    const grading::GradeResult marked = grading::gradePage(scanOf(ladderScan(600, 0)), {.apertureMm = {}, .printerDpi = 300});
    ASSERT_TRUE(marked.page);
    EXPECT_EQ(*marked.printerDpi, 300);
    EXPECT_FALSE(marked.printerDpiNote.isEmpty());
    EXPECT_TRUE(grading::gradeReport(marked).contains(marked.printerDpiNote));
}

} // namespace
} // namespace raitakone
