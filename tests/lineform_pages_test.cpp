// The four line form buttons ("Valkea 1 (perus)" .. "Valkea 4 (rgb)"): the
// calls each click makes on the printer, and the page that comes out.

#include "pattern/BarPattern.h"
#include "printtests/PrintTests.h"
#include "support/Decode.h"
#include "support/MemoryPrinter.h"
#include "support/PageProbe.h"
#include "support/TextProbe.h"
#include "surface/RuntimeError.h"
#include "surface/TextRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace raitakone {
namespace {

using testing::TestPrinter;

struct Form {
    int16_t flags;
    const char* label;
};

// Per Index: the form of the Line call and the label that names it. The
// Color argument is always 0.
const Form kForms[] = {
    {20, "kuten pakuro 12.12.2005 alkaen"},
    {38, ",RGB(0, 0, 0), BF"},
    {36, ",, BF"},
    {22, "RGB(0, 0, 0), B"},
};

std::vector<std::string> printedTexts(const TestPrinter& p)
{
    std::vector<std::string> texts;
    for (const SurfaceEvent& e : p.eventsNamed("Print"))
        texts.push_back(e.text);
    return texts;
}

TEST(LineFormCalls, EveryIndexDrawsTheSameBarsWithItsOwnFormAndLabel)
{
    // 600 dpi: 2.4 twips a pixel, so w = 7; 1.1 cm = 623.7 twips = 259.875
    // pixels; the 5 twips of CurrentX are 5 / 2.4 pixels.
    const float x0 = float(5 / 2.4);
    const float y0 = 259.875f;
    std::vector<double> firstCoordinates;

    for (int16_t index = 0; index < 4; ++index) {
        SCOPED_TRACE("Index " + std::to_string(index));
        TestPrinter p(600);
        Command10_Click(p.printer, index);

        const auto lines = p.eventsNamed("Line");
        ASSERT_EQ(lines.size(), 166u);
        std::vector<double> coordinates;
        size_t k = 0;
        for (int i = 1; i <= kModuleCount; ++i) {
            if (!isDark(i))
                continue;
            const std::vector<double>& v = lines[k++].values;
            EXPECT_EQ(v[0], kForms[index].flags);
            EXPECT_EQ(v[5], 0.0) << "Color";
            EXPECT_FLOAT_EQ(float(v[1]), x0 + float((i - 1) * 7)) << "module " << i;
            EXPECT_EQ(v[3], v[1]) << "zero-width box, module " << i;
            EXPECT_EQ(v[2], y0);
            EXPECT_EQ(v[4], 2 * y0);
            coordinates.insert(coordinates.end(), v.begin() + 1, v.begin() + 5);
        }
        if (index == 0)
            firstCoordinates = coordinates;
        else
            EXPECT_EQ(coordinates, firstCoordinates) << "the bars differ from Index 0's";

        EXPECT_EQ(printedTexts(p), (std::vector<std::string>{"", "", "", "", kForms[index].label}));
        EXPECT_EQ(p.events.back().what, "EndDoc");
        EXPECT_EQ(p.record->pages.size(), 1u);
    }
}

TEST(LineFormCalls, StateIsSetInItsOrderBeforeTheFirstBar)
{
    TestPrinter p(300);
    Command10_Click(p.printer, 2);

    struct Step {
        std::string what;
        double value;
    };
    const std::vector<Step> expected = {
        {"CurrentX", 5},  {"ScaleMode", 7},        {"CurrentY", 1.1f},  {"ScaleMode", 3},
        {"DrawWidth", 3}, {"DrawMode", 1},         {"DrawStyle", 0},    {"FontTransparent", 0},
        {"FillStyle", 0}, {"FillColor", 1},
    };
    std::vector<Step> before;
    for (const SurfaceEvent& e : p.events) {
        if (e.what == "Line")
            break;
        before.push_back({e.what, e.values.empty() ? 0.0 : e.values[0]});
    }
    ASSERT_EQ(before.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(before[k].what, expected[k].what) << "step " << k;
        EXPECT_EQ(before[k].value, expected[k].value) << expected[k].what;
    }
}

class LineFormPageAt : public ::testing::TestWithParam<int> {};

// The module width of Int(5953.5 / TwipsPerPixelX / 332) at each resolution.
int moduleWidthAt(int dpi)
{
    switch (dpi) {
    case 203: return 2;
    case 300: return 3;
    case 600: return 7;
    case 1200: return 14;
    }
    return 0;
}

TEST_P(LineFormPageAt, BarsOneModuleWideLabelFourLinesBelow)
{
    const int dpi = GetParam();
    const int w = moduleWidthAt(dpi);
    // The origin: 5 twips across, 1.1 cm (623.7 twips) down; the bars are
    // 1.1 cm tall. A coordinate v lands on pixel floor(v + 0.5).
    const float y0 = float(623.7 * dpi / 1440);
    const int x0Pixel = int(std::floor(5.0 * dpi / 1440 + 0.5));
    const int top = int(std::floor(y0 + 0.5));
    const int bottom = int(std::floor(2 * y0 + 0.5)) - 1;
    const int lh = lineHeight(PrinterSurface::defaultPrinterFont(), dpi, dpi);
    const int labelTop = int(std::floor(2 * y0 + 4 * lh + 0.5));
    const auto expectedRuns = testing::expectedPatternRuns(x0Pixel - w / 2, w);

    QImage firstBars;
    for (int16_t index = 0; index < 4; ++index) {
        SCOPED_TRACE("Index " + std::to_string(index));
        TestPrinter p(dpi);
        Command10_Click(p.printer, index);
        ASSERT_EQ(p.record->pages.size(), 1u);
        const PageRaster& page = p.lastPage();

        EXPECT_TRUE(testing::darkRunsOnRow(page, top - 1).empty());
        EXPECT_EQ(testing::darkRunsOnRow(page, top), expectedRuns);
        EXPECT_EQ(testing::darkRunsOnRow(page, (top + bottom) / 2), expectedRuns);
        EXPECT_EQ(testing::darkRunsOnRow(page, bottom), expectedRuns);
        EXPECT_TRUE(testing::darkRunsOnRow(page, bottom + 1).empty());

        const QRect bars(0, top, expectedRuns.back().end + w, bottom - top + 1);
        EXPECT_EQ(testing::decodeCode128(page.image().copy(bars)), testing::kPatternDigits);
        if (index == 0)
            firstBars = page.image().copy(bars);
        else
            EXPECT_TRUE(page.image().copy(bars) == firstBars) << "the bars differ from Index 0's";

        // Below the bars only the label, at the left edge, four lines down.
        const auto bands = testing::inkBands(page, bottom + 1, labelTop + 3 * lh);
        ASSERT_EQ(bands.size(), 1u);
        EXPECT_GE(bands[0].start, labelTop);
        EXPECT_LE(bands[0].end, labelTop + lh);
        EXPECT_EQ(testing::textMismatch(page, kForms[index].label, PrinterSurface::defaultPrinterFont(), dpi, 0,
                                        labelTop),
                  0);
    }
}

INSTANTIATE_TEST_SUITE_P(LineFormDpi, LineFormPageAt, ::testing::Values(203, 300, 600, 1200));

TEST(LineFormPages, NothingElseOnThePage)
{
    TestPrinter p(600);
    Command10_Click(p.printer, 0);
    const PageRaster& page = p.lastPage();
    const auto bands = testing::inkBands(page);
    ASSERT_EQ(bands.size(), 2u);
    EXPECT_EQ(bands[0], (testing::Run{260, 520})) << "1.1 cm down, 1.1 cm tall";
    EXPECT_GT(bands[1].start, 520) << "the label";
}

TEST(LineFormPages, SecondClickGivesTheSamePage)
{
    TestPrinter p(600);
    Command10_Click(p.printer, 3);
    const auto firstEvents = p.events.size();
    Command10_Click(p.printer, 3);
    ASSERT_EQ(p.record->pages.size(), 2u);
    EXPECT_TRUE(p.record->pages[0].raster.image() == p.record->pages[1].raster.image());
    // The same calls with the same values: CurrentX = 5 is twips again.
    ASSERT_EQ(p.events.size(), 2 * firstEvents);
    for (size_t k = 0; k < firstEvents; ++k) {
        EXPECT_EQ(p.events[k].what, p.events[firstEvents + k].what);
        EXPECT_EQ(p.events[k].values, p.events[firstEvents + k].values) << p.events[k].what;
    }
}

TEST(LineFormPages, PrinterTooCoarseForAModuleIsRefusedBeforeAnyDrawing)
{
    TestPrinter p(72); // 20 twips a pixel: a module would be 0 pixels wide
    EXPECT_THROW(Command10_Click(p.printer, 0), RuntimeError);
    EXPECT_TRUE(p.eventsNamed("Line").empty());
    EXPECT_TRUE(p.eventsNamed("Print").empty());
    EXPECT_FALSE(p.printer.documentOpen());
    p.printer.KillDoc();
    EXPECT_TRUE(p.record->pages.empty());
}

TEST(LineFormPages, UnknownIndexIsRefusedWithoutAPage)
{
    TestPrinter p(600);
    EXPECT_THROW(Command10_Click(p.printer, 4), RuntimeError);
    EXPECT_THROW(Command10_Click(p.printer, -1), RuntimeError);
    EXPECT_TRUE(p.events.empty());
    EXPECT_TRUE(p.record->pages.empty());
}

} // namespace
} // namespace raitakone
