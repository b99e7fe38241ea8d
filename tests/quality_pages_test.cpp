// "Samsung 1" .. "Samsung 5" (Command11): the symbol at an origin of 5 and 25
// twips, one label line under it, the unit switched late or early and the
// print qualities -1 .. -3.

#include "pattern/BarPattern.h"
#include "printtests/PrintTests.h"
#include "surface/RuntimeError.h"
#include "surface/TextRun.h"
#include "support/Decode.h"
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

struct Resolution {
    double dpi;
    int w; // module width, device pixels
    int h; // bar height, device pixels
};
const Resolution kResolutions[] = {{203, 2, 87}, {300, 3, 129}, {600, 7, 259}, {1200, 14, 519}};

// The origin of 5 and 25 twips, in device pixels.
double originX(double dpi) { return 5.0 * dpi / 1440.0; }
double originY(double dpi) { return 25.0 * dpi / 1440.0; }

TEST(SamsungPages, Draw166BoxesAtAnOriginOf5And25Twips)
{
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.label);
        TestPrinter t(600);
        Command11_Click(t.printer, v.index);

        const auto lines = t.eventsNamed("Line");
        ASSERT_EQ(lines.size(), 166u);
        const double x0 = 5 / 2.4, y0 = 25 / 2.4;
        size_t k = 0;
        for (int i = 1; i <= kModuleCount; ++i) {
            if (!isDark(i))
                continue;
            const std::vector<double>& e = lines[k++].values;
            ASSERT_EQ(e.size(), 6u);
            EXPECT_EQ(e[0], 20) << "module " << i;
            EXPECT_NEAR(e[1], x0 + (i - 1) * 7, 1e-3) << "module " << i;
            EXPECT_EQ(e[3], e[1]) << "module " << i;
            EXPECT_NEAR(e[2], y0, 1e-4) << "module " << i;
            EXPECT_NEAR(e[4], y0 + 259, 1e-3) << "module " << i;
            EXPECT_EQ(e[5], 0) << "module " << i;
        }
    }
}

TEST(SamsungPages, SwitchToPixelsLateOrEarlyAndPrintTheirLabel)
{
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.label);
        TestPrinter t(600);
        Command11_Click(t.printer, v.index);

        std::vector<std::pair<std::string, double>> expected = {{"CurrentX", 5}, {"CurrentY", 25}};
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

        ASSERT_EQ(t.events.size(), expected.size() + 166 + 5 + 1);
        for (size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(t.events[k].what, expected[k].first) << "setting " << k;
            ASSERT_EQ(t.events[k].values.size(), 1u) << t.events[k].what;
            EXPECT_EQ(t.events[k].values[0], expected[k].second) << t.events[k].what;
        }
        size_t k = expected.size();
        for (; k < expected.size() + 166; ++k)
            EXPECT_EQ(t.events[k].what, "Line");
        for (const std::string text : {"", "", "", "", v.label.c_str()}) {
            EXPECT_EQ(t.events[k].what, "Print");
            EXPECT_EQ(t.events[k].text, text);
            ++k;
        }
        EXPECT_EQ(t.events[k].what, "EndDoc");

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
            EXPECT_EQ(bars.left, std::max(0, left));
            EXPECT_EQ(bars.right, right);

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
        TestPrinter t(72);
        EXPECT_THROW(Command11_Click(t.printer, v.index), RuntimeError);
        EXPECT_TRUE(t.eventsNamed("Line").empty());
        EXPECT_TRUE(t.eventsNamed("DrawWidth").empty());
        t.printer.KillDoc();
        EXPECT_TRUE(t.record->pages.empty());
    }
}

} // namespace
} // namespace raitakone
