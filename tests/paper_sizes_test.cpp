// The page-file printer on papers other than A4, and what a page whose
// drawing does not fit the paper says about it.

#include "app/Controls.h"
#include "printing/FilePrinter.h"
#include "printtests/PrintTests.h"
#include "support/BarChecks.h"
#include "support/MemoryPrinter.h"
#include "surface/PictureSurface.h"

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

namespace raitakone {
namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray mediaBox(const QByteArray& pdf)
{
    const qsizetype at = pdf.indexOf("/MediaBox [");
    return at < 0 ? QByteArray() : pdf.mid(at + 11, pdf.indexOf(']', at) - at - 11);
}

// A one-bit PNG as a page raster, black where it is black.
PageRaster pageOf(const QImage& png)
{
    QImage mono = png.convertToFormat(QImage::Format_Mono);
    if (qGray(mono.color(1)) > 127)
        mono.invertPixels();
    PageRaster page(mono.width(), mono.height());
    for (int y = 0; y < mono.height(); ++y) {
        const uchar* row = mono.constScanLine(y);
        for (int x = 0; x < mono.width(); ++x)
            if (row[x / 8] & (0x80 >> (x % 8)))
                page.setPixel(x, y, kBlack);
    }
    return page;
}

// "Valkea 1 (perus)" from the page-file printer on A5, Letter and a 100 x 150
// mm label: the PNG is the paper at the resolution to the pixel, the PDF the
// paper to the hundred-thousandth of a point, and the bars in the PNG are
// each module's whole width and decode where they lie, 1.1 cm down.
TEST(PaperSizes, PageFilePrinterPagesOnEachPaperAndResolution)
{
    const struct {
        const char* paper;
        double widthMm, heightMm;
        const char* mediaBox;
    } papers[] = {
        {"A5", 148, 210, "0 0 419.52756 595.27559"},
        {"Letter", 215.9, 279.4, "0 0 612 792"},
        {"100x150mm", 100, 150, "0 0 283.46457 425.19685"},
    };
    for (const auto& paper : papers)
        for (const testing::PrintResolution& r : testing::kPrintResolutions) {
            if (r.dpi > 600)
                continue;
            SCOPED_TRACE(std::string(paper.paper) + " at " + std::to_string(r.dpi) + " dpi");
            QTemporaryDir dir;
            PrinterSurface printer([&] {
                return std::make_unique<FilePrinter>(dir.path().toStdString(), r.dpi, r.dpi, *parsePaper(paper.paper));
            });
            Command10_Click(printer, 0);
            const std::string png = printer.takeLastDelivery().value_or(Delivery{}).file;
            ASSERT_FALSE(png.empty());

            QImageReader::setAllocationLimit(0);
            const QImage image = QImageReader(QString::fromStdString(png)).read();
            EXPECT_EQ(image.width(), std::lround(paper.widthMm / 25.4 * r.dpi));
            EXPECT_EQ(image.height(), std::lround(paper.heightMm / 25.4 * r.dpi));
            EXPECT_EQ(std::lround(image.dotsPerMeterX() * 0.0254), r.dpi);
            EXPECT_EQ(image.text("Paper").toStdString(), paper.paper);
            EXPECT_EQ(mediaBox(readFile(dir.filePath("0001.pdf"))), paper.mediaBox);

            const float y0 = float(623.7 * r.dpi / 1440);
            const int left = int(std::floor(5.0 * r.dpi / 1440 + 0.5)) - r.w / 2;
            testing::expectModuleBars(pageOf(image), left, r.w, int(std::floor(y0 + 0.5)),
                                      int(std::floor(2 * y0 + 0.5)) - 1);
        }
}

// The notice of every page of the series, printed on the paper at the
// resolution; pages that end the program end nothing here.
std::vector<std::pair<std::string, Delivery>> seriesNotices(const Paper& paper, double dpi,
                                                            std::vector<long>* inkedPixels = nullptr)
{
    auto record = std::make_shared<testing::MemoryPrinterRecord>();
    PrinterSurface printer([&] { return std::make_unique<testing::MemoryPrinter>(paperSheet(paper, dpi, dpi), record); });
    PictureSurface preview(kPictureWidth, kPictureHeight);
    std::vector<std::pair<std::string, Delivery>> notices;
    for (const PrintPage& page : allPrintPages()) {
        printPage(page, printer, preview, [] {}, [](const std::string&) {});
        notices.emplace_back(page.caption, printer.takeLastDelivery().value_or(Delivery{}));
        if (inkedPixels)
            inkedPixels->push_back(testing::inkPixelCount(record->pages.back().raster));
    }
    return notices;
}

// Where a page centres its first bar, in device pixels from the left edge of
// the printable area: the corner pages at the edge, the line forms, the
// Samsung and twips pages 5 twips in; nothing for the pages whose bars start
// well inside (the stacked lines, the centimetre boxes 5 cm in).
std::optional<int> firstBarCentre(const std::string& control, int dpi)
{
    if (control == "Command5" || control == "Command7" || control == "siirra")
        return 0;
    if (control == "Command3" || control == "Command4")
        return std::nullopt;
    return int(std::floor(5.0 * dpi / 1440 + 0.5));
}

// On A4 a page reaches past the paper only where its first bar, centred at or
// near the edge with a pen a module wide, does: by half the pen less the
// centre's distance from the edge. That is said, calmly; every other page
// says nothing.
TEST(PaperSizes, OnA4OnlyAFirstBarAtTheEdgeSaysSo)
{
    for (const testing::PrintResolution& r : testing::kPrintResolutions) {
        const auto notices = seriesNotices(kA4Paper, r.dpi);
        for (size_t i = 0; i < notices.size(); ++i) {
            const PrintPage& page = allPrintPages()[i];
            SCOPED_TRACE(page.caption + " at " + std::to_string(r.dpi) + " dpi");
            const std::optional<int> centre = firstBarCentre(page.control, r.dpi);
            const int pastEdge = centre ? std::max(0, r.w / 2 - *centre) : 0;
            // Harmless, so kept out of the window's notice.
            EXPECT_EQ(notices[i].second.notice, "");
            const std::string& notice = notices[i].second.minorNotice;
            if (pastEdge == 0) {
                EXPECT_EQ(notice, "");
                continue;
            }
            EXPECT_TRUE(notice.starts_with("Sivun piirroksesta jäi 0,")) << notice;
            EXPECT_NE(notice.find(" mm (" + std::to_string(pastEdge) + (pastEdge == 1 ? " pikseli)" : " pikseliä)") +
                                  " tulostusalueen vasemmalle puolelle. Se on vain kapea kaista"),
                      std::string::npos)
                << notice;
        }
    }
}

// The centimetre-box page draws its bars 25 cm down, from 5 to 15 cm across:
// on a 100 x 150 mm label its page is blank and its notice says what was lost
// and that it printed no symbol. Every other page loses no more than on A4.
TEST(PaperSizes, OnALabelTheCentimetreBoxPageSaysItPrintedNoSymbol)
{
    for (double dpi : {203.0, 300.0}) {
        SCOPED_TRACE(std::to_string(int(dpi)) + " dpi");
        std::vector<long> ink;
        const auto notices = seriesNotices({{}, 100, 150}, dpi, &ink);
        const auto onA4 = seriesNotices(kA4Paper, dpi);
        for (size_t i = 0; i < notices.size(); ++i) {
            SCOPED_TRACE(notices[i].first);
            if (allPrintPages()[i].control != "Command4") {
                EXPECT_EQ(notices[i].second.notice + notices[i].second.minorNotice,
                          onA4[i].second.notice + onA4[i].second.minorNotice);
                EXPECT_GT(ink[i], 0);
                continue;
            }
            EXPECT_EQ(notices[i].second.notice, "Sivun piirroksesta jäi 11,1 cm tulostusalueen alapuolelle ja 5,0 cm sen "
                                         "oikealle puolelle. Sivu ei tulostanut viivakoodia: yksikään sen palkeista "
                                         "ei osunut tulostusalueelle.");
            EXPECT_EQ(ink[i], 0) << "printed as drawn: nothing of it on the label";
        }
    }
}

// What a notice says of a cut: each edge with its length, and whether the
// symbol printed whole, in part or not at all; on a driver's queue, also a
// drawing within 1 mm of the edge (12 pixels at 300 dpi).
TEST(PaperSizes, NoticesSayWhichEdgeByHowMuchAndWhatOfTheSymbol)
{
    const PageGeometry plain{300, 300, 700, 700, {50, 50, 650, 650}}; // 600 x 600 printable, 5.08 cm
    PageGeometry driver = plain;
    driver.driverMayClip = true;
    const char* const edge = "Sivun piirros ulottuu alle 1 mm:n päähän tulostusalueen reunasta. Jotkin "
                             "tulostinajurit leikkaavat reunoilta enemmän kuin ilmoittavat, joten reunimmaiset "
                             "pisteet voivat jäädä tulostumatta.";
    const struct {
        PixelRect bar; // device pixels from the printable origin
        float textY;   // where a text line starts, or -1 for none
        const char* notice;
        bool onDriverQueue = false;
    } cases[] = {
        {{100, 589, 200, 590}, -1, edge, true},
        {{100, 100, 200, 589}, -1, "", false},
        {{12, 100, 588, 200}, -1, "", true},
        {{-1, 100, 200, 200}, -1, edge, true}, // the sliver itself is kept for the record
        {{100, 100, 200, 200}, -1, ""},
        {{550, 100, 700, 200}, -1, "Sivun piirroksesta jäi 8,5 mm tulostusalueen oikealle puolelle. Viivakoodi ei "
                                   "tulostunut kokonaan."},
        {{-130, -2, 20, 200}, -1, "Sivun piirroksesta jäi 0,17 mm (2 pikseliä) tulostusalueen yläpuolelle ja "
                                  "1,1 cm sen vasemmalle puolelle. Viivakoodi ei tulostunut kokonaan."},
        {{700, 100, 800, 200}, -1, "Sivun piirroksesta jäi 1,7 cm tulostusalueen oikealle puolelle. Sivu ei "
                                   "tulostanut viivakoodia: yksikään sen palkeista ei osunut tulostusalueelle."},
        {{100, 100, 200, 200}, 590, "tulostusalueen alapuolelle. Viivakoodi tulostui kokonaan; vain tekstiä jäi pois."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.notice);
        testing::TestPrinter p(c.onDriverQueue ? driver : plain);
        p.printer.setScaleMode(Scale::Pixels);
        p.printer.Line(LineFlag::FilledBox | LineFlag::StartGiven, float(c.bar.left), float(c.bar.top),
                       float(c.bar.right), float(c.bar.bottom), 0);
        if (c.textY >= 0) {
            p.printer.setCurrentY(c.textY);
            p.printer.Print({"Teksti"});
        }
        p.printer.EndDoc();
        const std::string notice = p.printer.takeLastDelivery().value_or(Delivery{}).notice;
        EXPECT_TRUE(notice.ends_with(c.notice) || (c.notice != edge && notice.find(c.notice) != std::string::npos))
            << notice;
        EXPECT_EQ(notice.empty(), std::string(c.notice).empty()) << notice;
    }
}

} // namespace
} // namespace raitakone
