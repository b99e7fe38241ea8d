// The two print tests that end the program: the centimetre boxes of
// "Viivakodi PK DrawWidth" and the preview-plus-stacked-lines page of
// "Command3". Both must hand their page over in full before ending.

#include "pattern/BarPattern.h"
#include "printtests/PrintTests.h"
#include "surface/PictureSurface.h"
#include "surface/RuntimeError.h"
#include "support/Decode.h"
#include "support/MemoryPrinter.h"
#include "support/PageProbe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace raitakone {
namespace {

using PixelRun = testing::Run;
using testing::TestPrinter;

int pixelOf(double v) { return int(std::floor(v + 0.5)); }

// Records when the program was ended: how many events the printer had seen
// and how many pages it had delivered at that moment.
struct EndRecorder {
    const TestPrinter& printer;
    int calls = 0;
    size_t eventsAtEnd = 0;
    size_t pagesAtEnd = 0;
    EndProgram action()
    {
        return [this] {
            ++calls;
            eventsAtEnd = printer.events.size();
            pagesAtEnd = printer.record->pages.size();
        };
    }
};

// ---------------------------------------------------------------- Command4

// The left edges of modules 1 .. 333 as the running single-precision sum
// starting at 5 cm with the Single nearest 10 / 332.
std::vector<float> runningEdges()
{
    const float step = float(10.0 / 332.0);
    std::vector<float> edges{5.0f};
    for (int i = 1; i <= kModuleCount; ++i)
        edges.push_back(edges.back() + step);
    return edges;
}

TEST(CentimetreBoxes, MakesOneFilledBoxPerDarkModuleOnARunningSum)
{
    TestPrinter t(600);
    EndRecorder end{t};
    Command4_Click(t.printer, end.action());

    ASSERT_GE(t.events.size(), 2u);
    EXPECT_EQ(t.events[0].what, "ScaleMode");
    EXPECT_EQ(t.events[0].values, std::vector<double>{7});
    EXPECT_EQ(t.events[1].what, "DrawWidth");
    EXPECT_EQ(t.events[1].values, std::vector<double>{1});

    const auto lines = t.eventsNamed("Line");
    ASSERT_EQ(lines.size(), 166u);
    for (const SurfaceEvent& line : lines) {
        EXPECT_EQ(line.values[0], 36);
        EXPECT_EQ(float(line.values[2]), 25.0f);
        EXPECT_EQ(float(line.values[4]), float(25 + 1.1));
        EXPECT_EQ(float(line.values[4]), 26.1f);
        EXPECT_EQ(line.values[5], 0);
    }
    EXPECT_EQ(float(lines.front().values[1]), 5.0f);
    EXPECT_EQ(float(lines.front().values[3]), 5.0301204f);
    EXPECT_EQ(float(lines.back().values[1]), 14.969954f);
    EXPECT_EQ(float(lines.back().values[3]), 15.000074f);

    // Every box sits on the edges of its own module: module 3 is light and
    // gets no box, but x still moves on past it.
    const std::vector<float> edges = runningEdges();
    size_t k = 0;
    for (int i = 1; i <= kModuleCount; ++i) {
        if (!isDark(i))
            continue;
        ASSERT_LT(k, lines.size());
        EXPECT_EQ(float(lines[k].values[1]), edges[size_t(i - 1)]) << "module " << i;
        EXPECT_EQ(float(lines[k].values[3]), edges[size_t(i)]) << "module " << i;
        ++k;
    }
    EXPECT_EQ(float(lines[2].values[1]), edges[3]); // the third box is module 4

    EXPECT_EQ(t.events.back().what, "EndDoc");
    EXPECT_EQ(t.eventsNamed("Print").size(), 0u);
}

TEST(CentimetreBoxes, EndsTheProgramOnlyAfterThePageWasDelivered)
{
    TestPrinter t(600);
    EndRecorder end{t};
    Command4_Click(t.printer, end.action());
    EXPECT_EQ(end.calls, 1);
    EXPECT_EQ(end.eventsAtEnd, t.events.size());
    EXPECT_EQ(end.pagesAtEnd, 1u);
    EXPECT_EQ(t.record->pages.size(), 1u);
}

TEST(CentimetreBoxes, DoesNotEndTheProgramWhenThePageCannotBeDelivered)
{
    TestPrinter t(600);
    t.record->failDeliveries = 1;
    EndRecorder end{t};
    EXPECT_THROW(Command4_Click(t.printer, end.action()), RuntimeError);
    EXPECT_EQ(end.calls, 0);
    EXPECT_TRUE(t.record->pages.empty());
}

class CentimetreBoxPage : public ::testing::TestWithParam<double> {};

TEST_P(CentimetreBoxPage, HoldsTheSymbolFromFiveToFifteenCentimetres)
{
    const double dpi = GetParam();
    TestPrinter t(dpi);
    Command4_Click(t.printer, [] {});
    ASSERT_EQ(t.record->pages.size(), 1u);
    const PageRaster& page = t.lastPage();

    const double pixelsPerCm = kTwipsPerCm * dpi / kTwipsPerInch; // 567 twips a centimetre
    const int top = pixelOf(25 * pixelsPerCm);
    const int bottom = pixelOf(double(26.1f) * pixelsPerCm);
    EXPECT_EQ(testing::inkBands(page), (std::vector<PixelRun>{{top, bottom}}));

    // Each dark module covers the pixels from its left edge up to the next
    // module's left edge: neighbouring boxes meet without gap or overlap.
    const std::vector<float> edges = runningEdges();
    std::vector<PixelRun> expected;
    for (int i = 1; i <= kModuleCount; ++i) {
        if (!isDark(i))
            continue;
        const PixelRun module{pixelOf(edges[size_t(i - 1)] * pixelsPerCm), pixelOf(edges[size_t(i)] * pixelsPerCm)};
        if (!expected.empty() && expected.back().end == module.start)
            expected.back().end = module.end;
        else
            expected.push_back(module);
    }
    ASSERT_EQ(expected.size(), 91u); // the bars of the symbol
    for (int row : {top, (top + bottom) / 2, bottom - 1})
        EXPECT_EQ(testing::darkRunsOnRow(page, row), expected) << "row " << row;

    EXPECT_EQ(expected.front().start, pixelOf(5 * pixelsPerCm));
    EXPECT_EQ(expected.back().end, pixelOf(double(15.000074f) * pixelsPerCm));

    // A bar of k modules is k times 10/332 cm wide, give or take the pixel
    // the edges round to.
    const double modulePixels = 10.0 / 332.0 * pixelsPerCm;
    const std::vector<PixelRun> found = testing::darkRunsOnRow(page, (top + bottom) / 2);
    for (const PixelRun& bar : found) {
        const double modules = std::round(bar.length() / modulePixels);
        EXPECT_NEAR(bar.length(), modules * modulePixels, 1.0) << "bar at " << bar.start;
    }
}

INSTANTIATE_TEST_SUITE_P(Resolutions, CentimetreBoxPage, ::testing::Values(300.0, 600.0, 1200.0));

std::string decodeSymbolArea(const PageRaster& page, double dpi)
{
    const double pixelsPerCm = kTwipsPerCm * dpi / kTwipsPerInch; // 567 twips a centimetre
    const QRect area(pixelOf(4 * pixelsPerCm), pixelOf(24 * pixelsPerCm), pixelOf(12 * pixelsPerCm),
                     pixelOf(3 * pixelsPerCm));
    return testing::decodeCode128(page.image().copy(area));
}

TEST(CentimetreBoxPage, DecodesAt600And1200Dpi)
{
    for (double dpi : {600.0, 1200.0}) {
        TestPrinter t(dpi);
        Command4_Click(t.printer, [] {});
        ASSERT_EQ(t.record->pages.size(), 1u);
        EXPECT_EQ(decodeSymbolArea(t.lastPage(), dpi), testing::kPatternDigits) << dpi << " dpi";
    }
}

// At 300 dpi a module is 3.56 pixels, so the boxes come out 3 or 4 pixels
// wide as their edges fall; the bar and space widths still keep within the
// decoder's tolerance and the page reads back whole.
TEST(CentimetreBoxPage, At300DpiStillDecodes)
{
    TestPrinter t(300);
    Command4_Click(t.printer, [] {});
    ASSERT_EQ(t.record->pages.size(), 1u);
    EXPECT_EQ(decodeSymbolArea(t.lastPage(), 300), testing::kPatternDigits);
}

// ---------------------------------------------------------------- Command3

std::set<int> darkModulesAt(int firstX)
{
    std::set<int> xs;
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i))
            xs.insert(firstX + i - 1);
    return xs;
}

TEST(PictureAndPrinterBars, PreviewHasOneOnePixelStrokePerDarkModule)
{
    PictureSurface picture(604, 75);
    TestPrinter t(600);
    Command3_Click(picture, t.printer, [] {});

    const std::set<int> columns = darkModulesAt(5);
    ASSERT_EQ(columns.size(), 166u);
    EXPECT_EQ(*columns.begin(), 5);
    EXPECT_EQ(*columns.rbegin(), 336);
    EXPECT_TRUE(columns.count(6) && columns.count(8) && !columns.count(7));

    const PageRaster& image = picture.picture();
    ASSERT_EQ(image.width(), 604);
    ASSERT_EQ(image.height(), 75);
    int wrong = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const bool stroke = columns.count(x) && y >= 25 && y < 55;
            if (image.pixel(x, y) != (stroke ? kBlack : kWhite))
                ++wrong;
        }
    EXPECT_EQ(wrong, 0);
}

TEST(PictureAndPrinterBars, PrinterPassRunsOnFromThePreviewInTwips)
{
    PictureSurface picture(604, 75);
    TestPrinter t(600);
    EndRecorder end{t};
    Command3_Click(picture, t.printer, end.action());

    EXPECT_EQ(t.eventsNamed("ScaleMode").size(), 0u); // the printer keeps its unit
    ASSERT_FALSE(t.events.empty());
    EXPECT_EQ(t.events.front().what, "DrawWidth");
    EXPECT_EQ(t.events.front().values, std::vector<double>{1});

    const auto lines = t.eventsNamed("Line");
    ASSERT_EQ(lines.size(), 166u);
    const std::set<int> xs = darkModulesAt(337);
    auto expectedX = xs.begin();
    for (const SurfaceEvent& line : lines) {
        EXPECT_EQ(line.values[0], 20);
        EXPECT_EQ(line.values[1], *expectedX);
        EXPECT_EQ(line.values[3], *expectedX);
        EXPECT_EQ(line.values[2], 25);
        EXPECT_EQ(line.values[4], 55);
        EXPECT_EQ(line.values[5], 0);
        ++expectedX;
    }
    EXPECT_EQ(lines.front().values[1], 337);
    EXPECT_EQ(lines.back().values[1], 668);

    // In twips the lines lie one twip apart: several fall on one 600-dpi pixel.
    ASSERT_EQ(t.record->pages.size(), 1u);
    const PageRaster& page = t.lastPage();
    const double pixelsPerTwip = 600 / 1440.0;
    std::vector<PixelRun> expected;
    for (int x : xs) {
        const int c = pixelOf(x * pixelsPerTwip);
        if (!expected.empty() && expected.back().end >= c)
            expected.back().end = c + 1;
        else
            expected.push_back({c, c + 1});
    }
    const int top = pixelOf(25 * pixelsPerTwip), bottom = pixelOf(55 * pixelsPerTwip);
    EXPECT_EQ(testing::inkBands(page), (std::vector<PixelRun>{{top, bottom}}));
    EXPECT_EQ(testing::darkRunsOnRow(page, top), expected);
    EXPECT_EQ(expected.front().start, 140); // 337 twips
    EXPECT_EQ(expected.back().end - 1, 278); // 668 twips

    EXPECT_EQ(end.calls, 1);
    EXPECT_EQ(end.eventsAtEnd, t.events.size());
    EXPECT_EQ(t.events.back().what, "EndDoc");
    EXPECT_EQ(end.pagesAtEnd, 1u);
}

TEST(PictureAndPrinterBars, PrinterPassUsesTheUnitThePrinterHas)
{
    PictureSurface picture(604, 75);
    TestPrinter t(300);
    t.printer.setScaleMode(Scale::Pixels);
    Command3_Click(picture, t.printer, [] {});
    ASSERT_EQ(t.record->pages.size(), 1u);
    const PageRaster& page = t.lastPage();
    std::vector<PixelRun> expected = testing::expectedPatternRuns(337, 1);
    EXPECT_EQ(testing::inkBands(page), (std::vector<PixelRun>{{25, 55}}));
    EXPECT_EQ(testing::darkRunsOnRow(page, 40), expected);
}

TEST(PictureAndPrinterBars, WithoutAPrinterThePreviewIsDrawnAndTheProgramGoesOn)
{
    PictureSurface picture(604, 75);
    PrinterSurface printer([]() -> std::unique_ptr<PrinterBackend> { throw RuntimeError("ei tulostinta"); });
    int ends = 0;
    EXPECT_THROW(Command3_Click(picture, printer, [&] { ++ends; }), RuntimeError);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(picture.picture().pixel(5, 25), kBlack);
    EXPECT_EQ(picture.picture().pixel(336, 54), kBlack);
}

} // namespace
} // namespace raitakone
