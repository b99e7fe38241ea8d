// The two print tests that end the program, "Viivakodi PK DrawWidth"
// (centimetre boxes) and Command3 (preview plus stacked lines): both hand
// their page over in full before ending.

#include "pattern/BarPattern.h"
#include "printtests/PrintTests.h"
#include "support/BarChecks.h"
#include "support/MemoryPrinter.h"
#include "surface/PictureSurface.h"
#include "surface/RuntimeError.h"

#include <cmath>

namespace raitakone {
namespace {

using PixelRun = testing::Run;
using testing::TestPrinter;

int pixelOf(double v) { return int(std::floor(v + 0.5)); }

// Counts the ends and notes how many events and pages the printer had then.
struct EndRecorder {
    const TestPrinter& printer;
    int calls = 0;
    size_t eventsAtEnd = 0, pagesAtEnd = 0;
    EndProgram action()
    {
        return [this] {
            ++calls;
            eventsAtEnd = printer.events.size();
            pagesAtEnd = printer.record->pages.size();
        };
    }
};

// Module edges 1 .. 333 in centimetres: a running Single sum from 5 by the
// Single nearest 10 / 332, so the last edge drifts to 15.000074.
std::vector<float> runningEdges()
{
    std::vector<float> edges{5.0f};
    for (int i = 1; i <= kModuleCount; ++i)
        edges.push_back(edges.back() + float(10.0 / 332.0));
    return edges;
}

TEST(CentimetreBoxes, OneFilledBoxPerDarkModuleThenEndOnceAfterEndDoc)
{
    TestPrinter t(600);
    EndRecorder end{t};
    Command4_Click(t.printer, end.action());

    EXPECT_EQ(testing::callSequence(t.events),
              (testing::CallSequence{{{"ScaleMode", 7}, {"DrawWidth", 1}}, 166, {"EndDoc:"}}));
    const auto lines = t.eventsNamed("Line");
    ASSERT_EQ(lines.size(), 166u);
    const std::vector<float> edges = runningEdges();
    size_t k = 0;
    for (int i = 1; i <= kModuleCount; ++i) // light modules get no box but move x on
        if (isDark(i)) {
            const std::vector<double>& v = lines[k++].values;
            EXPECT_EQ(v, (std::vector<double>{36, edges[i - 1], 25, edges[i], float(26.1), 0})) << "module " << i;
        }
    EXPECT_EQ(float(lines.front().values[1]), 5.0f);
    EXPECT_EQ(float(lines.front().values[3]), 5.0301204f);
    EXPECT_EQ(float(lines.back().values[1]), 14.969954f);
    EXPECT_EQ(float(lines.back().values[3]), 15.000074f);

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

// Each dark module covers the pixels from its left edge to the next module's,
// so neighbouring boxes meet without gap or overlap, over 25 .. 26.1 cm. At
// 300 dpi a module is 3.56 pixels and boxes come out 3 or 4 wide as their
// edges fall; the symbol still decodes there as at 600 and 1200 dpi.
TEST(CentimetreBoxPage, HoldsTheSymbolFromFiveToFifteenCentimetresAndDecodes)
{
    const std::vector<float> edges = runningEdges();
    for (double dpi : {300.0, 600.0, 1200.0}) {
        SCOPED_TRACE(std::to_string(int(dpi)) + " dpi");
        TestPrinter t(dpi);
        Command4_Click(t.printer, [] {});
        ASSERT_EQ(t.record->pages.size(), 1u);
        const PageRaster& page = t.lastPage();

        const double pixelsPerCm = 567 * dpi / 1440;
        const int top = pixelOf(25 * pixelsPerCm), bottom = pixelOf(double(26.1f) * pixelsPerCm);
        EXPECT_EQ(testing::inkBands(page), (std::vector<PixelRun>{{top, bottom}}));

        std::vector<PixelRun> expected;
        for (int i = 1; i <= kModuleCount; ++i) {
            if (!isDark(i))
                continue;
            const PixelRun module{pixelOf(edges[i - 1] * pixelsPerCm), pixelOf(edges[i] * pixelsPerCm)};
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

        // A bar of k modules is k times 10/332 cm wide, give or take a pixel.
        const double modulePixels = 10.0 / 332.0 * pixelsPerCm;
        for (const PixelRun& bar : expected)
            EXPECT_NEAR(bar.length(), std::round(bar.length() / modulePixels) * modulePixels, 1.0) << bar.start;

        const QRect area(pixelOf(4 * pixelsPerCm), pixelOf(24 * pixelsPerCm), pixelOf(12 * pixelsPerCm),
                         pixelOf(3 * pixelsPerCm));
        EXPECT_EQ(testing::decodeCode128(page.image().copy(area)), testing::kPatternDigits);
    }
}

// The preview: one 1-pixel stroke a dark module from column 5, rows 25 .. 54.
// The printer, in its own unit (twips), runs on from x = 337, one twip a module,
// so several lines share a 600-dpi pixel; End comes once, after EndDoc.
TEST(PictureAndPrinterBars, PreviewStrokesThenPrinterLinesInTwipsThenEnd)
{
    PictureSurface picture(604, 75);
    TestPrinter t(600);
    EndRecorder end{t};
    Command3_Click(picture, t.printer, end.action());

    const PageRaster& image = picture.picture();
    ASSERT_EQ(std::make_pair(image.width(), image.height()), std::make_pair(604, 75));
    int wrong = 0;
    for (int y = 0; y < 75; ++y)
        for (int x = 0; x < 604; ++x)
            wrong += image.pixel(x, y) != (y >= 25 && y < 55 && x >= 5 && x < 337 && isDark(x - 4) ? kBlack : kWhite);
    EXPECT_EQ(wrong, 0);

    // The printer keeps its unit: no ScaleMode.
    EXPECT_EQ(testing::callSequence(t.events), (testing::CallSequence{{{"DrawWidth", 1}}, 166, {"EndDoc:"}}));
    testing::expectModuleBarCalls(t.eventsNamed("Line"), 20, 337, 1, 25, 55);

    ASSERT_EQ(t.record->pages.size(), 1u);
    const PageRaster& page = t.lastPage();
    std::vector<PixelRun> expected;
    for (int i = 1; i <= kModuleCount; ++i) {
        const int c = pixelOf((336 + i) * 600 / 1440.0);
        if (!isDark(i))
            continue;
        if (!expected.empty() && expected.back().end >= c)
            expected.back().end = c + 1;
        else
            expected.push_back({c, c + 1});
    }
    EXPECT_EQ(expected.front().start, 140); // 337 twips
    EXPECT_EQ(expected.back().end - 1, 278); // 668 twips
    const int top = pixelOf(25 * 600 / 1440.0), bottom = pixelOf(55 * 600 / 1440.0);
    EXPECT_EQ(testing::inkBands(page), (std::vector<PixelRun>{{top, bottom}}));
    EXPECT_EQ(testing::darkRunsOnRow(page, top), expected);
    EXPECT_EQ(end.calls, 1);
    EXPECT_EQ(end.eventsAtEnd, t.events.size());
    EXPECT_EQ(end.pagesAtEnd, 1u);
}

TEST(PictureAndPrinterBars, PrinterPassUsesTheUnitThePrinterHas)
{
    PictureSurface picture(604, 75);
    TestPrinter t(300);
    t.printer.setScaleMode(Scale::Pixels);
    Command3_Click(picture, t.printer, [] {});
    ASSERT_EQ(t.record->pages.size(), 1u);
    EXPECT_EQ(testing::inkBands(t.lastPage()), (std::vector<PixelRun>{{25, 55}}));
    EXPECT_EQ(testing::darkRunsOnRow(t.lastPage(), 40), testing::expectedPatternRuns(337, 1));
}

} // namespace
} // namespace raitakone
