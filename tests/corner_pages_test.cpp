// The pages with the symbol in the very corner of the printable area:
// "Viivakoodi 30.11." (Command5), the bit pairs "1 00" .. "4 11" (Command7)
// and the window procedure siirra.

#include "pattern/BarPattern.h"
#include "printtests/PrintTests.h"
#include "support/BarChecks.h"
#include "support/InkExtent.h"
#include "support/MemoryPrinter.h"
#include "support/PageProbe.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace raitakone {
namespace {

using testing::TestPrinter;

struct CornerProcedure {
    std::string name;
    std::function<void(PrinterSurface&, const ShowMessage&)> click;
    // The settings it makes before the common pen state, and its colours.
    std::vector<std::pair<std::string, double>> leading;
    std::vector<std::pair<std::string, double>> colours;
};

std::vector<CornerProcedure> cornerProcedures()
{
    auto bitPair = [](int16_t index) {
        return [index](PrinterSurface& p, const ShowMessage& m) { Command7_Click(p, index, m); };
    };
    return {
        {"Viivakoodi 30.11.", [](PrinterSurface& p, const ShowMessage&) { Command5_Click(p); }, {},
         {{"FillColor", 1}}},
        {"1 00", bitPair(0), {}, {{"FillColor", 0}, {"ForeColor", 0}}},
        {"2 10", bitPair(1), {}, {{"FillColor", 1}, {"ForeColor", 0}}},
        {"3 01", bitPair(2), {}, {{"FillColor", 0}, {"ForeColor", 1}}},
        {"4 11", bitPair(3), {}, {{"FillColor", 1}, {"ForeColor", 1}}},
        {"siirra", [](PrinterSurface& p, const ShowMessage&) { siirra(p); }, {{"CurrentX", 0}, {"CurrentY", 0}},
         {{"FillColor", 1}}},
    };
}

using Resolution = testing::PrintResolution;
const auto& kResolutions = testing::kPrintResolutions;

void run(const CornerProcedure& procedure, PrinterSurface& p)
{
    procedure.click(p, [](const std::string&) {});
}
void run(const CornerProcedure& procedure, TestPrinter& t) { run(procedure, t.printer); }

// The settings in a fixed order, then one zero-width box per dark module
// from the top edge, then EndDoc.
TEST(CornerPages, SetTheirStateThenDrawOneZeroWidthBoxPerDarkModule)
{
    for (const CornerProcedure& procedure : cornerProcedures())
        for (const Resolution& r : {kResolutions[1], kResolutions[2]}) {
            SCOPED_TRACE(procedure.name + " at " + std::to_string(int(r.dpi)) + " dpi");
            TestPrinter t(r.dpi);
            run(procedure, t);
            testing::expectModuleBarCalls(t.eventsNamed("Line"), 20, 0, float(r.w), 0, float(r.h));
            testing::Settings settings = procedure.leading;
            settings.insert(settings.end(), {{"DrawWidth", r.w}, {"ScaleMode", 3}, {"ColorMode", 1}, {"DrawMode", 1},
                                             {"DrawStyle", 0}, {"FontTransparent", 0}, {"FillStyle", 0}});
            settings.insert(settings.end(), procedure.colours.begin(), procedure.colours.end());
            EXPECT_EQ(testing::callSequence(t.events), (testing::CallSequence{settings, 166, {"EndDoc:"}}));
        }
}

// Every procedure gives the same page, twice over, whatever its colours:
// the symbol in the corner with its first bar clipped.
TEST(CornerPages, HoldTheSymbolInTheCornerWhateverTheColoursOrTheRoute)
{
    for (const Resolution& r : kResolutions) {
        SCOPED_TRACE(std::to_string(int(r.dpi)) + " dpi");
        std::vector<PageRaster> pages;
        for (const CornerProcedure& procedure : cornerProcedures()) {
            TestPrinter t(r.dpi);
            run(procedure, t);
            run(procedure, t);
            ASSERT_EQ(t.record->pages.size(), 2u);
            EXPECT_TRUE(t.record->pages[0].raster.isBilevel()) << procedure.name << ": DrawMode 1 paints black";
            EXPECT_TRUE(testing::samePixels(t.record->pages[0].raster, t.record->pages[1].raster)) << procedure.name;
            EXPECT_EQ(t.record->pages[0].job.colorMode, 1) << procedure.name;
            EXPECT_EQ(t.record->pages[0].job.printQuality, 0) << procedure.name;
            pages.push_back(t.record->pages[0].raster);
        }
        for (size_t k = 1; k < pages.size(); ++k)
            EXPECT_TRUE(testing::samePixels(pages[k], pages[0]))
                << cornerProcedures()[k].name << " differs from Viivakoodi 30.11.";

        // Module i is a pen w wide centred on column (i - 1) * w, cut at the
        // printable edge: modules 1 and 2 make the first bar, of which only
        // the right part of module 1's pen falls on the page. Nothing outside
        // the bars: rows 0 .. h - 1, up to the pen of module 332.
        const int left = -r.w / 2, right = 331 * r.w + left + r.w;
        const auto expected = testing::expectedPatternRuns(left, r.w);
        EXPECT_EQ(expected.front(), (testing::Run{0, (left + r.w) + r.w}));
        for (int row = 0; row < r.h; ++row)
            ASSERT_EQ(testing::darkRunsOnRow(pages[0], row, 0, kModuleCount * r.w), expected) << "row " << row;
        EXPECT_EQ(testing::corners(testing::inkBox(pages[0])), (std::vector<int>{0, 0, right, r.h}));
        EXPECT_EQ(testing::decodeCode128(pages[0].image().copy(0, 0, right, r.h)), testing::kPatternDigits);
    }
}

TEST(CornerPages, GiveBarsOneAndATenthPixelsHighOnACoarseVerticalResolution)
{
    // 2 dpi down the page: 623.7 twips is less than one pixel of 720 twips.
    PageGeometry g = testing::a4Geometry(600, 2);
    for (const CornerProcedure& procedure : cornerProcedures()) {
        SCOPED_TRACE(procedure.name);
        TestPrinter t(g);
        run(procedure, t);
        const auto lines = t.eventsNamed("Line");
        ASSERT_EQ(lines.size(), 166u);
        EXPECT_EQ(lines.front().values[4], double(1.1f));
        ASSERT_EQ(t.record->pages.size(), 1u);
        EXPECT_EQ(testing::inkBands(t.lastPage()), (std::vector<testing::Run>{{0, 1}}));
        EXPECT_EQ(testing::darkRunsOnRow(t.lastPage(), 0), testing::expectedPatternRuns(-3, 7));
    }
}

TEST(CornerPages, RefuseAPenOfNoWidthBeforeDrawingAnything)
{
    for (const CornerProcedure& procedure : cornerProcedures()) {
        SCOPED_TRACE(procedure.name);
        testing::expectRefusedOnACoarsePrinter([&](PrinterSurface& p) { run(procedure, p); });
    }
}

TEST(BitPairs, AnIndexWithoutAButtonSaysSoOnceAndPrintsAsFourEleven)
{
    TestPrinter reference(600);
    Command7_Click(reference.printer, 3, [](const std::string& text) { ADD_FAILURE() << text; });

    for (int16_t index : {int16_t(7), int16_t(-1), int16_t(4)}) {
        SCOPED_TRACE(index);
        TestPrinter t(600);
        std::vector<std::string> messages;
        size_t linesBeforeMessage = 99;
        Command7_Click(t.printer, index, [&](const std::string& text) {
            messages.push_back(text);
            linesBeforeMessage = t.eventsNamed("Line").size();
        });
        EXPECT_EQ(messages, std::vector<std::string>{"virhe"});
        EXPECT_EQ(linesBeforeMessage, 0u) << "the message comes before the bars";
        EXPECT_EQ(t.eventsNamed("FillColor").at(0).values, std::vector<double>{1});
        EXPECT_EQ(t.eventsNamed("ForeColor").at(0).values, std::vector<double>{1});
        ASSERT_EQ(t.record->pages.size(), 1u);
        EXPECT_TRUE(testing::samePixels(t.lastPage(), reference.lastPage()));
    }
    for (int16_t index = 0; index <= 3; ++index) {
        TestPrinter t(300);
        Command7_Click(t.printer, index, [&](const std::string& text) { ADD_FAILURE() << index << ": " << text; });
    }
}

} // namespace
} // namespace raitakone
