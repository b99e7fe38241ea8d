#include "surface/NumberText.h"
#include "surface/PictureSurface.h"
#include "surface/RuntimeError.h"
#include "pattern/BarPattern.h"
#include "support/Decode.h"
#include "support/MemoryPrinter.h"
#include "support/PageProbe.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace raitakone {
namespace {

using Span = testing::Run; // "Run" alone is a member of every gtest fixture
using testing::TestPrinter;
using testing::darkRunsInColumn;
using testing::darkRunsOnRow;

constexpr int16_t kZeroWidthBox = LineFlag::Box | LineFlag::StartGiven; // 20

// ---- units and the current position ---------------------------------------

TEST(SurfaceUnits, PixelSizesAndCentimetresFollowTheDeviceResolution)
{
    for (const auto& [dpi, expected] : {std::pair{600.0, 260.0}, std::pair{300.0, 130.0}}) {
        TestPrinter t(dpi);
        EXPECT_FLOAT_EQ(t.printer.TwipsPerPixelX(), float(1440 / dpi));
        t.printer.setScaleMode(Scale::Centimetres);
        t.printer.setCurrentY(1.1f);
        t.printer.setScaleMode(Scale::Pixels);
        EXPECT_NEAR(t.printer.CurrentY(), expected, 1.0) << dpi << " dpi";
        EXPECT_FLOAT_EQ(t.printer.CurrentY(), float(623.7 * dpi / 1440.0));
    }
    TestPrinter odd(testing::a4Geometry(203, 406));
    EXPECT_FLOAT_EQ(odd.printer.TwipsPerPixelX(), float(1440.0 / 203));
    EXPECT_FLOAT_EQ(odd.printer.TwipsPerPixelY(), float(1440.0 / 406));
}

TEST(SurfaceUnits, ChangingTheUnitNeverMovesThePosition)
{
    TestPrinter t(600);
    EXPECT_EQ(t.printer.ScaleMode(), Scale::Twips) << "a fresh printer counts in twips";
    t.printer.setCurrentX(5);
    t.printer.setCurrentY(25);
    t.printer.setScaleMode(Scale::Pixels);
    EXPECT_FLOAT_EQ(t.printer.CurrentX(), 5 / 2.4f);
    EXPECT_FLOAT_EQ(t.printer.CurrentY(), 25 / 2.4f);
    t.printer.setScaleMode(Scale::Centimetres);
    EXPECT_FLOAT_EQ(t.printer.CurrentX(), 5 / 567.0f);
    t.printer.setScaleMode(Scale::Twips);
    EXPECT_FLOAT_EQ(t.printer.CurrentX(), 5);
    EXPECT_FLOAT_EQ(t.printer.CurrentY(), 25);
}

TEST(SurfaceUnits, LineLeavesThePositionAtTheSecondCorner)
{
    TestPrinter t(600);
    t.printer.setScaleMode(Scale::Pixels);
    t.printer.Line(kZeroWidthBox, 50, 10, 50, 100, 0);
    EXPECT_FLOAT_EQ(t.printer.CurrentX(), 50);
    EXPECT_FLOAT_EQ(t.printer.CurrentY(), 100);
    t.printer.Line(LineFlag::FilledBox | LineFlag::StartGiven, 10, 10, 30.5f, 40.25f, 0);
    EXPECT_FLOAT_EQ(t.printer.CurrentX(), 30.5f);
    EXPECT_FLOAT_EQ(t.printer.CurrentY(), 40.25f);
    // Without the start flag a line starts at the current position.
    t.printer.Line(0, 0, 0, 80.0f, 40.25f, 0);
    t.printer.EndDoc();
    EXPECT_EQ(darkRunsOnRow(t.lastPage(), 40, 30, 100), (std::vector<Span>{{31, 80}}));
}

// ---- the pixel rule ---------------------------------------------------------

// A zero-width box is a bar as wide as the pen with flat ends; an even pen
// puts its extra pixel on the left.
TEST(PixelRule, ZeroWidthBoxIsABarAsWideAsThePen)
{
    for (int16_t w : {1, 2, 3, 4, 7, 14}) {
        SCOPED_TRACE(w);
        TestPrinter t(600);
        t.printer.setScaleMode(Scale::Pixels);
        t.printer.setDrawWidth(w);
        t.printer.Line(kZeroWidthBox, 100, 10, 100, 100, 0);
        t.printer.EndDoc();
        const PageRaster& page = t.lastPage();
        EXPECT_EQ(darkRunsOnRow(page, 50), (std::vector<Span>{{100 - w / 2, 100 - w / 2 + w}}));
        EXPECT_EQ(darkRunsInColumn(page, 100), (std::vector<Span>{{10, 100}})) << "rows 10 .. 99";
        EXPECT_EQ(testing::inkPixelCount(page), w * 90);
    }
}

TEST(PixelRule, NeighbouringModulesMeetWithoutGapOrOverlap)
{
    // Three modules of 7 side by side: one run of 21 columns. Drawn in
    // colour-copy mode over each other an overlap would not show, so count
    // the painted pixels too.
    TestPrinter t(600);
    t.printer.setScaleMode(Scale::Pixels);
    t.printer.setDrawWidth(7);
    for (int i = 0; i < 3; ++i)
        t.printer.Line(kZeroWidthBox, 20.0f + 7 * i, 0, 20.0f + 7 * i, 10, 0);
    // Filled boxes in a unit that is not whole pixels, sharing their edges.
    t.printer.setScaleMode(Scale::Centimetres);
    t.printer.setDrawWidth(1);
    const float step = 10.0f / 332;
    float x = 5;
    for (int i = 0; i < 3; ++i) {
        t.printer.Line(LineFlag::FilledBox | LineFlag::StartGiven, x, 1, x + step, 2, 0);
        x += step;
    }
    t.printer.EndDoc();
    EXPECT_EQ(darkRunsOnRow(t.lastPage(), 5), (std::vector<Span>{{17, 38}}));
    // 5 cm = 1181.25 pixels and three steps of 7.1149 pixels end at 1202.6.
    const int row = int(1.5 * 567 / 2.4);
    EXPECT_EQ(darkRunsOnRow(t.lastPage(), row), (std::vector<Span>{{1181, 1203}}));
}

TEST(PixelRule, FractionalCoordinatesRoundHalfUp)
{
    TestPrinter t(600);
    t.printer.setScaleMode(Scale::Pixels);
    t.printer.setDrawWidth(1);
    t.printer.Line(kZeroWidthBox, 2.083f, 10.417f, 2.083f, 269.4f, 0);
    t.printer.Line(kZeroWidthBox, 9.5f, 0.5f, 9.5f, 3.49f, 0);
    t.printer.EndDoc();
    EXPECT_EQ(darkRunsInColumn(t.lastPage(), 2), (std::vector<Span>{{10, 269}}));
    EXPECT_EQ(darkRunsInColumn(t.lastPage(), 10), (std::vector<Span>{{1, 3}}));
    EXPECT_EQ(darkRunsOnRow(t.lastPage(), 100), (std::vector<Span>{{2, 3}}));
}

TEST(PixelRule, WhatFallsOutsideThePrintableAreaIsClipped)
{
    // A sheet with a 100-pixel margin left and top: the origin moves with the
    // printable area and nothing reaches the margin.
    PageGeometry g = testing::a4Geometry(600);
    g.printable = {100, 100, g.sheetWidth - 100, g.sheetHeight - 100};
    TestPrinter t(g);
    t.printer.setScaleMode(Scale::Pixels);
    t.printer.setDrawWidth(7);
    t.printer.Line(kZeroWidthBox, 0, 0, 0, 50, 0);
    t.printer.Line(kZeroWidthBox, 20, -30, 20, 10, 0);
    t.printer.EndDoc();
    const PageRaster& page = t.lastPage();
    EXPECT_EQ(darkRunsOnRow(page, 120, 0, 200), (std::vector<Span>{{100, 104}})) << "only the right half of the first bar";
    EXPECT_EQ(darkRunsInColumn(page, 120), (std::vector<Span>{{100, 110}}));
    EXPECT_EQ(darkRunsInColumn(page, 101), (std::vector<Span>{{100, 150}}));
}

TEST(PixelRule, AScanOfThePatternGivesWholeModulesThatDecode)
{
    // One zero-width box per dark module, centred on its module's left edge
    // plus half a pen, as a test page would draw it 50 pixels in.
    TestPrinter t(600);
    t.printer.setScaleMode(Scale::Pixels);
    const int w = int(moduleWidth(t.printer.TwipsPerPixelX()));
    t.printer.setDrawWidth(int16_t(w));
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i)) {
            const float x = float(50 + (i - 1) * w + w / 2);
            t.printer.Line(kZeroWidthBox, x, 100, x, 400, 0);
        }
    t.printer.EndDoc();
    const PageRaster& page = t.lastPage();
    EXPECT_EQ(w, 7);
    for (int row : {100, 250, 399})
        EXPECT_EQ(darkRunsOnRow(page, row), testing::expectedPatternRuns(50, w)) << "row " << row;
    EXPECT_EQ(darkRunsOnRow(page, 400), std::vector<Span>{});
    EXPECT_EQ(testing::decodeCode128(page.image().copy(0, 80, 2500, 340)), testing::kPatternDigits);
}

// ---- colours, fill and draw modes -----------------------------------------

TEST(Colours, DrawModeOnePaintsBlackWhateverTheColour)
{
    for (int16_t mode : {int16_t(1), int16_t(13)}) {
        TestPrinter t(300);
        t.printer.setScaleMode(Scale::Pixels);
        t.printer.setDrawMode(mode);
        t.printer.setFillStyle(0);
        t.printer.setFillColor(1);
        t.printer.setForeColor(1);
        t.printer.Line(kZeroWidthBox, 10, 0, 20, 10, 0);                         // outline and fill in colour 1
        t.printer.Line(LineFlag::FilledBox | LineFlag::StartGiven | LineFlag::ColorGiven, 30, 0, 40, 10, 1);
        t.printer.EndDoc();
        const PageRaster& page = t.lastPage();
        const Colour expected = mode == 1 ? kBlack : Colour(1);
        EXPECT_EQ(page.pixel(10, 0), expected) << "outline, mode " << mode;
        EXPECT_EQ(page.pixel(15, 5), expected) << "fill, mode " << mode;
        EXPECT_EQ(page.pixel(35, 5), expected) << "filled box, mode " << mode;
        EXPECT_EQ(page.isBilevel(), mode == 1) << "colour 1 is kept, never rounded to black";
    }
}

TEST(Colours, FillStyleDecidesWhetherTheInteriorIsPainted)
{
    for (int16_t style : {int16_t(0), int16_t(1)}) {
        TestPrinter t(300);
        t.printer.setScaleMode(Scale::Pixels);
        t.printer.setFillStyle(style);
        t.printer.setFillColor(0);
        t.printer.Line(kZeroWidthBox, 10, 10, 30, 30, 0);
        t.printer.EndDoc();
        const PageRaster& page = t.lastPage();
        EXPECT_EQ(page.pixel(10, 20), kBlack) << "outline";
        EXPECT_EQ(page.pixel(29, 20), kBlack) << "the right edge is the last column of the box";
        EXPECT_EQ(page.pixel(30, 20), kWhite);
        EXPECT_EQ(page.pixel(20, 20), style == 0 ? kBlack : kWhite) << "fill style " << style;
    }
}

TEST(Colours, LineWithoutColourUsesForeColor)
{
    TestPrinter t(300);
    t.printer.setScaleMode(Scale::Pixels);
    t.printer.setForeColor(0x0000FF);
    t.printer.Line(LineFlag::FilledBox | LineFlag::StartGiven, 0, 0, 5, 5, 0x00FF00);
    t.printer.Line(LineFlag::FilledBox | LineFlag::StartGiven | LineFlag::ColorGiven, 10, 0, 15, 5, 0x00FF00);
    t.printer.EndDoc();
    EXPECT_EQ(t.lastPage().pixel(2, 2), 0x0000FFu);
    EXPECT_EQ(t.lastPage().pixel(12, 2), 0x00FF00u);
}

// ---- Print -----------------------------------------------------------------

TEST(PrintText, NumbersCarryASignSpaceAndATrailingSpace)
{
    TestPrinter t(300);
    t.printer.Print({"h:", 5, "*"});
    t.printer.Print({"a", 2.4f, "b", -3.5, "c"});
    t.printer.Print({"Printer.TwipsPerPixelX:" + std::string("2.4")});
    const auto prints = t.eventsNamed("Print");
    ASSERT_EQ(prints.size(), 3u);
    EXPECT_EQ(prints[0].text, "h: 5 *");
    EXPECT_EQ(prints[1].text, "a 2.4 b-3.5 c");
    EXPECT_EQ(PrintItem(259.0).text(), " 259 ");
}

// Only the decimal separator is the locale's: Finnish and Swedish write the
// minus as U+2212 and Swedish the exponent as "×10^", which no number here takes.
TEST(NumberText, OnlyTheDecimalSeparatorFollowsTheLocale)
{
    struct Case {
        const char* locale;
        std::string negative, smallSingle, largeSingle, smallDouble, largeDouble, noGrouping, twips203;
    };
    for (const Case& c : {Case{"C", "-3.5", "-2.5e-07", "1e+07", "1e-05", "1.25e+20", "-1234567.25", "7.093596"},
                          Case{"fi_FI", "-3,5", "-2,5e-07", "1e+07", "1e-05", "1,25e+20", "-1234567,25", "7,093596"},
                          Case{"sv_SE", "-3,5", "-2,5e-07", "1e+07", "1e-05", "1,25e+20", "-1234567,25", "7,093596"},
                          Case{"en_US", "-3.5", "-2.5e-07", "1e+07", "1e-05", "1.25e+20", "-1234567.25", "7.093596"}}) {
        SCOPED_TRACE(c.locale);
        QLocale::setDefault(QLocale(c.locale));
        EXPECT_EQ(doubleToText(-3.5), c.negative);
        EXPECT_EQ(singleToText(-2.5e-7f), c.smallSingle);
        EXPECT_EQ(singleToText(1e7f), c.largeSingle);
        EXPECT_EQ(doubleToText(1e-5), c.smallDouble);
        EXPECT_EQ(doubleToText(1.25e20), c.largeDouble);
        EXPECT_EQ(doubleToText(-1234567.25), c.noGrouping);
        EXPECT_EQ(PrintItem(-3.5).text(), c.negative + " ") << "Print writes a negative number with its own sign";
        EXPECT_EQ(PrintItem(1e-5).text(), " " + c.smallDouble + " ");
        EXPECT_EQ(PrintItem(float(1440.0 / 203)).text(), " " + c.twips203 + " ");
        EXPECT_EQ(PrintItem(2.4f).text(), " 2" + c.negative.substr(2, 1) + "4 ") << "the separator of -3.5";
    }
    QLocale::setDefault(QLocale::c());
}

TEST(PrintText, EachStatementEndsItsLineAtTheLeftEdge)
{
    TestPrinter t(600);
    t.printer.setScaleMode(Scale::Pixels);
    t.printer.setCurrentX(300);
    t.printer.setCurrentY(100);
    t.printer.Print();
    const float line = t.printer.CurrentY() - 100;
    EXPECT_EQ(t.printer.CurrentX(), 0);
    EXPECT_GT(line, 50) << "10 points at 600 dpi is about 83 pixels; a line is a little more";
    EXPECT_LT(line, 150);
    t.printer.Print({"kuten"});
    EXPECT_FLOAT_EQ(t.printer.CurrentY(), 100 + 2 * line);
    t.printer.Font().setSize(16);
    t.printer.Font().setName("Times New Roman");
    t.printer.Print({""});
    EXPECT_GT(t.printer.CurrentY() - (100 + 2 * line), line * 1.4f) << "the new font's line height";
}

TEST(PrintText, GlyphsAreCrispAndAnOpaqueCellIsPaintedWhite)
{
    TestPrinter t(600);
    t.printer.setScaleMode(Scale::Pixels);
    t.printer.Line(LineFlag::FilledBox | LineFlag::StartGiven, 0, 0, 2000, 300, 0);
    t.printer.setCurrentX(0);
    t.printer.setCurrentY(100);
    t.printer.setFontTransparent(false);
    t.printer.Print({"tässä kysytty korkeus sentteinä"});
    t.printer.EndDoc();
    const PageRaster& page = t.lastPage();
    EXPECT_TRUE(page.isBilevel()) << "no grey from anti-aliasing";
    const auto runs = darkRunsOnRow(page, 50, 0, 2100);
    ASSERT_EQ(runs.size(), 1u);
    // Inside the cell the black box is gone except for the glyphs.
    long black = 0, cell = 0;
    for (int y = 100; y < 160; ++y)
        for (int x = 0; x < 1000; ++x, ++cell)
            black += page.pixel(x, y) == kBlack;
    EXPECT_GT(black, 0);
    EXPECT_LT(black, cell / 3);
}

// ---- documents, state and errors -------------------------------------------

TEST(Documents, EndDocDeliversOnePageAndRestoresTheDefaults)
{
    TestPrinter t(600);
    t.printer.setScaleMode(Scale::Pixels);
    t.printer.setDrawWidth(7);
    t.printer.setDrawMode(1);
    t.printer.setFillStyle(0);
    t.printer.setFillColor(1);
    t.printer.setForeColor(1);
    t.printer.setFontTransparent(false);
    t.printer.Font().setSize(16);
    t.printer.setColorMode(1);
    t.printer.setPrintQuality(-2);
    t.printer.Line(kZeroWidthBox, 50, 10, 50, 100, 0);
    EXPECT_TRUE(t.printer.documentOpen());
    t.printer.EndDoc();

    ASSERT_EQ(t.record->pages.size(), 1u);
    EXPECT_EQ(t.record->pages[0].job.printQuality, -2);
    EXPECT_EQ(t.record->pages[0].job.colorMode, 1);
    EXPECT_FALSE(t.printer.documentOpen());
    // ScaleMode, CurrentX, CurrentY, DrawWidth, DrawMode, DrawStyle, FillStyle, FillColor, ForeColor,
    // FontTransparent, PrintQuality, Font.Size.
    PrinterSurface& p = t.printer;
    EXPECT_EQ((std::vector<double>{double(p.ScaleMode()), p.CurrentX(), p.CurrentY(), double(p.DrawWidth()),
                                   double(p.DrawMode()), double(p.DrawStyle()), double(p.FillStyle()),
                                   double(p.FillColor()), double(p.ForeColor()), double(p.FontTransparent()),
                                   double(p.PrintQuality()), p.Font().Size()}),
              (std::vector<double>{double(Scale::Twips), 0, 0, 1, 13, 0, 1, double(kBlack), double(kBlack), 1, 0,
                                   PrinterSurface::defaultPrinterFont().size}));
    EXPECT_EQ(t.printer.Font().Name(), PrinterSurface::defaultPrinterFont().name);

    // The next document starts on a clean sheet.
    t.printer.Line(kZeroWidthBox, 500, 10, 500, 20, 0);
    t.printer.EndDoc();
    ASSERT_EQ(t.record->pages.size(), 2u);
    EXPECT_EQ(t.lastPage().pixel(50, 50), kWhite);
    EXPECT_EQ(testing::inkPixelCount(t.lastPage()), 4) << "one pixel wide, 10 twips (4 rows) high";
}

TEST(Documents, RefusedValuesAreRuntimeErrors)
{
    TestPrinter t(600);
    EXPECT_THROW(t.printer.setDrawWidth(0), RuntimeError);
    EXPECT_THROW(t.printer.setDrawWidth(-3), RuntimeError);
    EXPECT_THROW(t.printer.setDrawMode(0), RuntimeError);
    EXPECT_THROW(t.printer.setDrawMode(17), RuntimeError);
    EXPECT_THROW(t.printer.setScaleMode(0), RuntimeError);
    EXPECT_THROW(t.printer.setScaleMode(4), RuntimeError);
    EXPECT_THROW(t.printer.setScaleMode(99), RuntimeError);
    EXPECT_THROW(t.printer.setPrintQuality(-5), RuntimeError);
    EXPECT_THROW(t.printer.setColorMode(0), RuntimeError);
    EXPECT_THROW(t.printer.Font().setSize(0), RuntimeError);
    EXPECT_EQ(t.printer.DrawWidth(), 1) << "a refused value leaves the member as it was";
    EXPECT_EQ(t.printer.ScaleMode(), Scale::Twips);
}

TEST(Documents, ADiscardedOrUndeliverableDocumentNeverReachesThePrinter)
{
    TestPrinter t(600);
    t.printer.setScaleMode(Scale::Pixels);
    t.printer.Line(kZeroWidthBox, 50, 10, 50, 100, 0);
    t.printer.KillDoc();
    EXPECT_FALSE(t.printer.documentOpen());
    EXPECT_EQ(t.printer.ScaleMode(), Scale::Twips);

    t.record->failDeliveries = 1;
    t.printer.Line(kZeroWidthBox, 50, 10, 50, 100, 0);
    EXPECT_THROW(t.printer.EndDoc(), RuntimeError);
    EXPECT_FALSE(t.printer.documentOpen());
    EXPECT_TRUE(t.record->pages.empty());

    t.printer.Line(kZeroWidthBox, 70, 10, 70, 20, 0);
    t.printer.EndDoc();
    ASSERT_EQ(t.record->pages.size(), 1u);
    EXPECT_EQ(testing::inkPixelCount(t.lastPage()), 4) << "only the new document's line (10 twips)";
}

TEST(Documents, WithoutAPrinterEveryAccessFailsUntilOneAppears)
{
    bool installed = false;
    auto record = std::make_shared<testing::MemoryPrinterRecord>();
    PrinterSurface printer([&]() -> std::unique_ptr<PrinterBackend> {
        if (!installed)
            throw RuntimeError("Oletustulostinta ei ole asennettu");
        return std::make_unique<testing::MemoryPrinter>(testing::a4Geometry(300), record);
    });
    EXPECT_THROW(printer.TwipsPerPixelX(), RuntimeError);
    EXPECT_THROW(printer.setCurrentX(5), RuntimeError);
    EXPECT_THROW(printer.setScaleMode(7), RuntimeError);
    installed = true;
    EXPECT_FLOAT_EQ(printer.TwipsPerPixelX(), 4.8f);
}

// ---- the picture box ---------------------------------------------------------

TEST(PictureBox, IsAWhitePictureDrawnInScreenPixels)
{
    PictureSurface picture(604, 75);
    int changes = 0;
    picture.setChangedHandler([&] { ++changes; });
    EXPECT_EQ(picture.picture().width(), 604);
    EXPECT_EQ(picture.picture().height(), 75);
    EXPECT_FALSE(picture.picture().isBilevel());
    EXPECT_EQ(picture.picture().pixel(603, 74), kWhite);
    EXPECT_FLOAT_EQ(picture.TwipsPerPixelX(), 15);

    picture.setScaleMode(Scale::Pixels);
    picture.Line(kZeroWidthBox, 5, 25, 5, 55, 0);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(darkRunsInColumn(picture.picture(), 5), (std::vector<Span>{{25, 55}}));
    EXPECT_EQ(darkRunsOnRow(picture.picture(), 30), (std::vector<Span>{{5, 6}}));
}

} // namespace
} // namespace raitakone
