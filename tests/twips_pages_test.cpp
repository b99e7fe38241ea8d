// The three twips pages ("twips 1", "twips 2", "twips 3"): the calls each
// click makes on the printer, and the pages that come out, bars and text.

#include "printtests/PrintTests.h"
#include "support/BarChecks.h"
#include "support/MemoryPrinter.h"
#include "support/TextProbe.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

namespace raitakone {
namespace {

using testing::TestPrinter;
using Lines = std::vector<std::string>;

const TextFont kTimes16{"Times New Roman", 16};

using Resolution = testing::PrintResolution;
const auto& kResolutions = testing::kPrintResolutions;

// Each page's text block: the lines above and below the numbers, and how
// many lines come before the font is set to Times New Roman 16.
struct TwipsPage {
    const char* caption;
    void (*click)(PrinterSurface&);
    Lines above;
    Lines below;
    size_t linesBeforeFont;
};

const TwipsPage kPages[] = {
    {"twips 1", Command13_Click, {"", "", "", "", "", ""}, {}, 0},
    {"twips 2", Command14_Click, {"", "", "", "", "", ""}, {"", "Lisätty:", "Static h As Single"}, 6},
    {"twips 3", Command15_Click, {"", "", "", "tässä kysytty korkeus sentteinä", "", ""}, {}, 0},
};

Lines textOf(const TwipsPage& page, const std::string& tx, const std::string& ty, int h, int l)
{
    Lines lines = page.above;
    for (const std::string& line : {"Printer.TwipsPerPixelX:" + tx, "Printer.TwipsPerPixelY:" + ty, std::string(),
                                    "h: " + std::to_string(h) + " *", "l: " + std::to_string(l) + " *"})
        lines.push_back(line);
    lines.insert(lines.end(), page.below.begin(), page.below.end());
    return lines;
}

Lines textOf(const TwipsPage& page, const Resolution& r)
{
    return textOf(page, r.twipsPerPixel, r.twipsPerPixel, r.h, r.w);
}

Lines expectedAfterBars(const TwipsPage& page, const Lines& text)
{
    Lines expected;
    for (size_t k = 0; k <= text.size(); ++k) {
        if (k == page.linesBeforeFont) {
            expected.push_back("Font.Size:16");
            expected.push_back("Font.Name:Times New Roman");
        }
        if (k < text.size())
            expected.push_back("Print:" + text[k]);
    }
    expected.push_back("EndDoc:");
    return expected;
}

TEST(TwipsCalls, StateThenOneBoxPerDarkModuleThenTheTextBlock)
{
    const testing::Settings state = {{"CurrentX", 5},  {"CurrentY", 25},        {"DrawWidth", 7},
                                     {"ScaleMode", 3}, {"DrawMode", 1},         {"DrawStyle", 0},
                                     {"FontTransparent", 0}, {"FillStyle", 0}, {"FillColor", 1}};
    for (const TwipsPage& page : kPages) {
        SCOPED_TRACE(page.caption);
        TestPrinter p(600);
        page.click(p.printer);
        // The origin (5, 25) twips in pixels at 2.4 twips a pixel; h = 259.
        const float y0 = float(25 / 2.4);
        testing::expectModuleBarCalls(p.eventsNamed("Line"), 20, float(5 / 2.4), 7, y0, y0 + 259.0f);
        const Lines after = expectedAfterBars(page, textOf(page, kResolutions[2]));
        EXPECT_EQ(testing::callSequence(p.events), (testing::CallSequence{state, 166, after}));
        EXPECT_EQ(p.record->pages.size(), 1u);
    }
}

// (The numbers at each square resolution are read off the pages below.)
TEST(TwipsCalls, NumbersFollowTheirAxisAndTheLocale)
{
    for (const TwipsPage& page : kPages) {
        SCOPED_TRACE(page.caption);
        // 600 across, 1200 down: l follows TwipsPerPixelX, h TwipsPerPixelY.
        TestPrinter p(testing::a4Geometry(600, 1200));
        page.click(p.printer);
        EXPECT_EQ(testing::callSequence(p.events).after, expectedAfterBars(page, textOf(page, "2.4", "1.2", 519, 7)));
    }

    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Finnish, QLocale::Finland));
    TestPrinter p(600);
    Command13_Click(p.printer);
    QLocale::setDefault(before);
    EXPECT_EQ(testing::callSequence(p.events).after, expectedAfterBars(kPages[0], textOf(kPages[0], "2,4", "2,4", 259, 7)));
}

class TwipsPageAt : public ::testing::TestWithParam<Resolution> {};

TEST_P(TwipsPageAt, BarsOneModuleWideAndEveryLineInItsPlace)
{
    const Resolution r = GetParam();
    const float y0 = float(25.0 * r.dpi / 1440);
    const float barEnd = y0 + float(r.h);
    const int left = int(std::floor(5.0 * r.dpi / 1440 + 0.5)) - r.w / 2;
    const int bottom = int(std::floor(barEnd + 0.5)) - 1;

    std::vector<QImage> bars;
    std::vector<std::vector<testing::Run>> textBands;
    for (const TwipsPage& twips : kPages) {
        SCOPED_TRACE(twips.caption);
        TestPrinter p(r.dpi);
        twips.click(p.printer);
        ASSERT_EQ(p.record->pages.size(), 1u);
        const PageRaster& page = p.lastPage();
        bars.push_back(testing::expectModuleBars(page, left, r.w, int(std::floor(y0 + 0.5)), bottom));

        // Each statement moves one line height of the font in force down
        // from the lower end of the last bar; each printed line's glyphs
        // stand there, and there is no other ink below the bars.
        double y = barEnd;
        size_t printed = 0;
        const Lines text = textOf(twips, r);
        for (size_t k = 0; k < text.size(); ++k) {
            const TextFont font = k < twips.linesBeforeFont ? PrinterSurface::defaultPrinterFont() : kTimes16;
            if (!text[k].empty()) {
                ++printed;
                EXPECT_EQ(testing::textMismatch(page, text[k], font, r.dpi, 0, int(std::floor(y + 0.5))), 0)
                    << text[k];
            }
            y += lineHeight(font, r.dpi, r.dpi);
        }
        textBands.push_back(testing::inkBands(page, bottom + 1, int(y) + 2 * lineHeight(kTimes16, r.dpi, r.dpi)));
        EXPECT_EQ(textBands.back().size(), printed);
    }

    EXPECT_TRUE(bars[1] == bars[0]) << "twips 2's bars differ from twips 1's";
    EXPECT_TRUE(bars[2] == bars[0]) << "twips 3's bars differ from twips 1's";
    // twips 3's extra line stands above the numbers, which stand where they
    // stand on twips 1.
    ASSERT_EQ(textBands[2].size(), textBands[0].size() + 1);
    EXPECT_EQ(std::vector<testing::Run>(textBands[2].begin() + 1, textBands[2].end()), textBands[0]);
}

INSTANTIATE_TEST_SUITE_P(TwipsDpi, TwipsPageAt, ::testing::ValuesIn(kResolutions),
                         [](const auto& info) { return std::to_string(info.param.dpi) + "dpi"; });

TEST(TwipsPages, NothingElseOnThePageASecondClickGivesTheSameAndTooCoarseIsRefused)
{
    TestPrinter p(600);
    Command13_Click(p.printer);
    const auto bands = testing::inkBands(p.lastPage());
    ASSERT_EQ(bands.size(), 5u) << "the bars and four lines of text";
    EXPECT_EQ(bands[0], (testing::Run{10, 10 + 259})) << "25 twips down, h tall";
    for (const TwipsPage& page : kPages) {
        SCOPED_TRACE(page.caption);
        testing::expectTheSamePageTwice(300, page.click);
        testing::expectRefusedOnACoarsePrinter(page.click);
    }
}

} // namespace
} // namespace raitakone
