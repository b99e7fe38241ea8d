// "Samsung 1" .. "Samsung 5" (Command11): the symbol at an origin of 5 and 25
// twips, one label line under it, the unit switched late or early and the
// print qualities -1 .. -3.

#include "pattern/BarPattern.h"
#include "printtests/PrintTests.h"
#include "surface/TextRun.h"
#include "support/BarChecks.h"
#include "support/InkExtent.h"
#include "support/MemoryPrinter.h"
#include "support/PageProbe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace raitakone {
namespace {

using testing::TestPrinter;

struct Variant {
    int16_t index;
    std::string label;
    int16_t printQuality; // 0: not set
};

const Variant kVariants[] = {
    {0, "kuten pakuro:ssa 12.12.2005 alkaen", 0},
    {1, "scalemode aluksi.", 0},
    {2, "scalemode aluksi. printquality = -1", -1},
    {3, "scalemode aluksi. printquality = -2", -2},
    {4, "scalemode aluksi. printquality = -3", -3},
};

using Resolution = testing::PrintResolution;
const auto& kResolutions = testing::kPrintResolutions;

// The origin of 5 and 25 twips, in device pixels.
double originX(double dpi) { return 5.0 * dpi / 1440.0; }
double originY(double dpi) { return 25.0 * dpi / 1440.0; }

// The unit switched late (Index 0) or early, the print quality where one is
// set, 166 boxes at an origin of 5 and 25 twips, the label.
TEST(SamsungPages, SwitchToPixelsLateOrEarlyThenDraw166BoxesAndTheirLabel)
{
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.label);
        TestPrinter t(600);
        Command11_Click(t.printer, v.index);

        const float y0 = float(25 / 2.4);
        testing::expectModuleBarCalls(t.eventsNamed("Line"), 20, float(5 / 2.4), 7, y0, y0 + 259.0f);
        testing::Settings expected = {{"CurrentX", 5}, {"CurrentY", 25}};
        if (v.index == 0) {
            expected.insert(expected.end(), {{"DrawWidth", 7}, {"ScaleMode", 3}});
        } else {
            expected.push_back({"ScaleMode", 3});
            if (v.printQuality != 0)
                expected.push_back({"PrintQuality", v.printQuality});
            expected.push_back({"DrawWidth", 7});
        }
        expected.insert(expected.end(), {{"DrawMode", 1}, {"DrawStyle", 0}, {"FontTransparent", 0},
                                         {"FillStyle", 0}, {"FillColor", 1}});
        const std::vector<std::string> after{"Print:", "Print:", "Print:", "Print:", "Print:" + v.label, "EndDoc:"};
        EXPECT_EQ(testing::callSequence(t.events), (testing::CallSequence{expected, 166, after}));

        ASSERT_EQ(t.record->pages.size(), 1u);
        EXPECT_EQ(t.record->pages.back().job.printQuality, v.printQuality);
        EXPECT_EQ(t.record->pages.back().job.colorMode, 0) << "these pages leave ColorMode alone";
    }
}

TEST(SamsungPages, HoldTheSymbolAtTheOriginAndOneLabelLineFourLinesBelow)
{
    for (const Resolution& r : kResolutions)
        for (const Variant& v : kVariants) {
            SCOPED_TRACE(v.label + " at " + std::to_string(int(r.dpi)) + " dpi");
            TestPrinter t(r.dpi);
            Command11_Click(t.printer, v.index);
            ASSERT_EQ(t.record->pages.size(), 1u);
            const PageRaster& page = t.lastPage();

            // Module i: a pen w wide centred on x0 + (i - 1) * w, rows y0 .. y0 + h.
            const int centre = int(std::floor(originX(r.dpi) + 0.5));
            const int top = int(std::floor(originY(r.dpi) + 0.5));
            const int left = centre - r.w / 2;
            const int right = left + kModuleCount * r.w;
            const auto expected = testing::expectedPatternRuns(left, r.w);
            for (int row = top; row < top + r.h; ++row)
                ASSERT_EQ(testing::darkRunsOnRow(page, row, 0, right + r.w), expected) << "row " << row;

            const auto bands = testing::inkBands(page);
            ASSERT_EQ(bands.size(), 2u) << "the bars and one label line";
            EXPECT_EQ(bands[0], (testing::Run{top, top + r.h}));
            const PixelRect bars = testing::inkBox(page, bands[0].start, bands[0].end);
            EXPECT_EQ(std::make_pair(bars.left, bars.right), std::make_pair(std::max(0, left), right));

            // The label's cell starts four line heights below the foot of the bars.
            const int line = lineHeight(PrinterSurface::defaultPrinterFont(), r.dpi, r.dpi);
            const int cell = top + r.h + 4 * line;
            EXPECT_GE(bands[1].start, cell);
            EXPECT_LE(bands[1].end, cell + line);
            const PixelRect label = testing::inkBox(page, bands[1].start, bands[1].end);
            EXPECT_LT(label.left, line / 2) << "the label starts at the left edge";

            EXPECT_EQ(testing::decodeCode128(page.image().copy(0, top, right, r.h)), testing::kPatternDigits);
        }
}

TEST(SamsungPages, RefuseAPenOfNoWidthWithoutDeliveringAPage)
{
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.label);
        testing::expectRefusedOnACoarsePrinter([&](PrinterSurface& p) { Command11_Click(p, v.index); });
    }
}

} // namespace
} // namespace raitakone
