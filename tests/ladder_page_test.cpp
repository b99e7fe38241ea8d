// The ladder page: every rung the pages' symbol with every bar k printer
// pixels narrower and every space k wider, at each resolution and paper,
// the rungs split over as many marked sheets as the paper needs.

#include "app/PageSeries.h"
#include "ladder/LadderPage.h"
#include "marking/MarkReader.h"
#include "pattern/BarPattern.h"
#include "support/MemoryPrinter.h"
#include "surface/PictureSurface.h"
#include "surface/RuntimeError.h"

#include <gtest/gtest.h>

namespace raitakone {
namespace {

using testing::TestPrinter;

// Dark runs along a row: {first column, width}.
std::vector<std::pair<int, int>> darkRuns(const PageRaster& page, int y, int from, int to)
{
    std::vector<std::pair<int, int>> runs;
    for (int x = from; x < to; ++x) {
        if (page.pixel(x, y) == kWhite)
            continue;
        int end = x;
        while (end < to && page.pixel(end, y) != kWhite)
            ++end;
        runs.push_back({x, end - x});
        x = end;
    }
    return runs;
}

// The bars of the pattern: {first module (1-based), modules}.
std::vector<std::pair<int, int>> patternBars()
{
    std::vector<std::pair<int, int>> bars;
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i) && (i == 1 || !isDark(i - 1))) {
            int n = 0;
            while (i + n <= kModuleCount && isDark(i + n))
                ++n;
            bars.push_back({i, n});
        }
    return bars;
}

struct Case {
    double dpi;
    std::vector<int> reductions;
};

TEST(LadderPage, RungsNarrowEveryBarByTheirReductionOnMarkedSheetsThatFitThePaper)
{
    const Case cases[] = {{203, {-1, 0, 1}}, {300, {-1, 0, 1}}, {600, {-1, 0, 1, 2, 3}},
                          {1200, {-1, 0, 1, 2, 3, 4, 5, 6, 7}}};
    const struct {
        const char* name;
        double w, h;
    } papers[] = {{"A4", 210, 297}, {"Letter", 215.9, 279.4}, {"label", 100, 150}};
    for (const Case& c : cases) {
        EXPECT_EQ(ladder::ladderReductions(c.dpi), c.reductions) << c.dpi;
        for (const auto& paper : papers) {
            SCOPED_TRACE(std::string(paper.name) + " " + std::to_string(int(c.dpi)) + " dpi");
            const PageGeometry g = testing::sheetGeometry(c.dpi, paper.w, paper.h);
            if (std::string(paper.name) == "label" && c.dpi >= 600) {
                // 352 modules of 7 pixels at 600 dpi are 104 mm: wider than the label.
                EXPECT_THROW(ladder::ladderLayout(g), RuntimeError);
                continue;
            }
            const ladder::LadderLayout layout = ladder::ladderLayout(g);
            std::vector<int> all;
            for (const auto& s : layout.sheets)
                all.insert(all.end(), s.begin(), s.end());
            EXPECT_EQ(all, c.reductions);
            if (c.dpi == 203) {
                EXPECT_EQ(layout.sheets.size(), 1u);
            }

            const int X = layout.modulePixels;
            marking::PageMarker marker("feedf00d");
            TestPrinter printer(g);
            // A name too long for the label's text line is shortened there and whole in the code.
            printer.record->name = "sivutiedostot: /home/kauppa/tarrat/viikko-49/kavennustikkaat/zebra-gk420d";
            PictureSurface picture(kPictureWidth, kPictureHeight);
            for (size_t s = 0; s < layout.sheets.size(); ++s) {
                printMarkedPage(ladderPrintPage(int(s)), false, marker, std::to_string(s + 1), printer.printer,
                                picture, [] {}, [](const std::string&) {});
                ASSERT_TRUE(marker.lastPlacement()) << "sheet " << s;
                const PageRaster& page = printer.lastPage();
                const auto read = marking::readMark(page.image().convertToFormat(QImage::Format_Grayscale8), c.dpi);
                ASSERT_TRUE(read);
                EXPECT_EQ(read->page.rungs, layout.sheets[s]);
                EXPECT_EQ(read->page.printer, printer.record->name);

                for (size_t r = 0; r < layout.sheets[s].size(); ++r) {
                    const int k = layout.sheets[s][r];
                    const int top = layout.firstRungTop + int(r) * layout.pitch;
                    for (int y : {top, top + layout.barHeight / 2, top + layout.barHeight - 1}) {
                        const auto runs = darkRuns(page, y, layout.symbolLeft - 10 * X,
                                                   layout.symbolLeft + (kModuleCount + 10) * X);
                        const auto bars = patternBars();
                        ASSERT_EQ(runs.size(), bars.size()) << "k " << k << " row " << y;
                        for (size_t b = 0; b < bars.size(); ++b) {
                            EXPECT_EQ(runs[b].first, layout.symbolLeft + (bars[b].first - 1) * X + k / 2)
                                << "k " << k << " bar " << b;
                            EXPECT_EQ(runs[b].second, bars[b].second * X - k) << "k " << k << " bar " << b;
                        }
                    }
                    // Bars at least 10 mm tall, and nothing right above or below them.
                    EXPECT_GE(layout.barHeight * 25.4 / c.dpi, 10.0);
                    EXPECT_TRUE(darkRuns(page, top - 1, 0, g.sheetWidth).empty());
                    EXPECT_TRUE(darkRuns(page, top + layout.barHeight, 0, g.sheetWidth).empty());
                }
            }
        }
    }
}

TEST(LadderPage, LabelsGiveTheWidthChangeInPixelsAndMicrometres)
{
    EXPECT_EQ(ladder::rungLabel(2, 600), "kavennus +2 px · palkit −85 µm");
    EXPECT_EQ(ladder::rungLabel(0, 600), "kavennus 0 px · palkit 0 µm");
    EXPECT_EQ(ladder::rungLabel(-1, 300), "kavennus −1 px · palkit +85 µm");
}

} // namespace
} // namespace raitakone
