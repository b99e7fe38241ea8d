// The four line form buttons ("Valkea 1 (perus)" .. "Valkea 4 (rgb)"): the
// calls each click makes on the printer, and the page that comes out.

#include "printtests/PrintTests.h"
#include "support/BarChecks.h"
#include "support/MemoryPrinter.h"
#include "support/TextProbe.h"
#include "surface/RuntimeError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace raitakone {
namespace {

using testing::TestPrinter;

// Per Index: the line flags of the bars and the label that names them.
struct Form {
    int16_t flags;
    const char* label;
};
const Form kForms[] = {
    {20, "kuten pakuro 12.12.2005 alkaen"},
    {38, ",RGB(0, 0, 0), BF"},
    {36, ",, BF"},
    {22, "RGB(0, 0, 0), B"},
};

TEST(LineFormCalls, StateInOrderThenTheBarsOfTheIndexThenFiveLines)
{
    // 600 dpi, 2.4 twips a pixel: w = 7; the 1.1 cm of CurrentY is 623.7
    // twips = 259.875 pixels; the 5 twips of CurrentX are 5 / 2.4 pixels.
    const testing::Settings state = {
        {"CurrentX", 5},  {"ScaleMode", 7}, {"CurrentY", 1.1f}, {"ScaleMode", 3},       {"DrawWidth", 7},
        {"DrawMode", 1}, {"DrawStyle", 0}, {"FontTransparent", 0}, {"FillStyle", 0}, {"FillColor", 1}};
    for (int16_t index = 0; index < 4; ++index) {
        SCOPED_TRACE("Index " + std::to_string(index));
        TestPrinter p(600);
        Command10_Click(p.printer, index);
        testing::expectModuleBarCalls(p.eventsNamed("Line"), kForms[index].flags, float(5 / 2.4), 7, 259.875f,
                                      519.75f);
        const std::vector<std::string> after{"Print:", "Print:", "Print:", "Print:",
                                             std::string("Print:") + kForms[index].label, "EndDoc:"};
        EXPECT_EQ(testing::callSequence(p.events), (testing::CallSequence{state, 166, after}));
        EXPECT_EQ(p.record->pages.size(), 1u);
    }
}

class LineFormPageAt : public ::testing::TestWithParam<testing::PrintResolution> {};

TEST_P(LineFormPageAt, BarsOneModuleWideAndTheLabelFourLinesBelow)
{
    const int dpi = GetParam().dpi, w = GetParam().w;
    // 5 twips across and 1.1 cm (623.7 twips) down; the bars 1.1 cm tall.
    // A coordinate v lands on pixel floor(v + 0.5).
    const float y0 = float(623.7 * dpi / 1440);
    const int left = int(std::floor(5.0 * dpi / 1440 + 0.5)) - w / 2;
    const int top = int(std::floor(y0 + 0.5));
    const int bottom = int(std::floor(2 * y0 + 0.5)) - 1;
    const TextFont font = PrinterSurface::defaultPrinterFont(); // the test sets none
    const int lh = lineHeight(font, dpi, dpi);
    const int labelTop = int(std::floor(2 * y0 + 4 * lh + 0.5));

    QImage firstBars;
    for (int16_t index = 0; index < 4; ++index) {
        SCOPED_TRACE("Index " + std::to_string(index));
        TestPrinter p(dpi);
        Command10_Click(p.printer, index);
        ASSERT_EQ(p.record->pages.size(), 1u);
        const PageRaster& page = p.lastPage();

        const QImage bars = testing::expectModuleBars(page, left, w, top, bottom);
        if (index == 0)
            firstBars = bars;
        EXPECT_TRUE(bars == firstBars) << "the bars differ from Index 0's";

        const auto bands = testing::inkBands(page, bottom + 1, labelTop + 3 * lh);
        ASSERT_EQ(bands.size(), 1u) << "the label only";
        EXPECT_GE(bands[0].start, labelTop);
        EXPECT_LE(bands[0].end, labelTop + lh);
        EXPECT_EQ(testing::textMismatch(page, kForms[index].label, font, dpi, 0, labelTop), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(LineFormDpi, LineFormPageAt, ::testing::ValuesIn(testing::kPrintResolutions),
                         [](const auto& info) { return std::to_string(info.param.dpi) + "dpi"; });

TEST(LineFormPages, NothingElseOnThePageASecondClickGivesTheSameAndBadInputIsRefused)
{
    TestPrinter p(600);
    Command10_Click(p.printer, 3);
    const auto bands = testing::inkBands(p.lastPage());
    ASSERT_EQ(bands.size(), 2u) << "the bars and the label";
    EXPECT_EQ(bands[0], (testing::Run{260, 260 + 260})) << "1.1 cm down, 1.1 cm tall";
    testing::expectTheSamePageTwice(600, [](PrinterSurface& s) { Command10_Click(s, 3); });
    testing::expectRefusedOnACoarsePrinter([](PrinterSurface& s) { Command10_Click(s, 0); });

    TestPrinter q(600);
    EXPECT_THROW(Command10_Click(q.printer, 4), RuntimeError);
    EXPECT_THROW(Command10_Click(q.printer, -1), RuntimeError);
    EXPECT_TRUE(q.events.empty());
}

} // namespace
} // namespace raitakone
