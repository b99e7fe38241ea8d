#include "ladder/LadderPage.h"

#include "marking/PageMark.h"
#include "pattern/BarPattern.h"
#include "surface/RuntimeError.h"

#include <algorithm>
#include <cmath>

namespace raitakone::ladder {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kTopMarginMm = 10.0;
constexpr double kLabelGapMm = 1.0;   // bars to their label
constexpr double kRungGapMm = 6.0;    // a label to the next rung's bars

int pixels(double mm, double dpi) { return int(std::lround(mm * dpi / kMmPerInch)); }

int modulePixelsAt(double dpiX) { return int(moduleWidth(float(kTwipsPerInch / dpiX))); }

int labelLineHeight(double dpiX, double dpiY)
{
    return lineHeight(PrinterSurface::defaultPrinterFont(), dpiX, dpiY);
}

int rungPitch(double dpiX, double dpiY)
{
    return int(barHeightPixels(float(kTwipsPerInch / dpiY))) + pixels(kLabelGapMm, dpiY) +
           labelLineHeight(dpiX, dpiY) + pixels(kRungGapMm, dpiY);
}

// Under the title: what to do with the printed sheet, short enough for a
// 4-inch label.
constexpr const char* kInstructions[] = {"Skannaa sivu vähintään 600 dpi:n tarkkuudella",
                                         "ja arvioi se painikkeella Arvioi skannaus…"};

// "−2" with a real minus sign, "+1", "0".
std::string signedText(long value)
{
    if (value == 0)
        return "0";
    return (value < 0 ? "−" : "+") + std::to_string(std::labs(value));
}

} // namespace

std::vector<int> ladderReductions(double dpiX)
{
    std::vector<int> k;
    for (int r = -1; r <= modulePixelsAt(dpiX) / 2; ++r)
        k.push_back(r);
    return k;
}

double rungPitchMm(double dpiX, double dpiY) { return rungPitch(dpiX, dpiY) * kMmPerInch / dpiY; }

LadderLayout ladderLayout(const PageGeometry& g)
{
    LadderLayout layout;
    layout.modulePixels = modulePixelsAt(g.dpiX);
    const int width = g.printable.right - g.printable.left;
    const int height = g.printable.bottom - g.printable.top;
    const int symbolWidth = kModuleCount * layout.modulePixels;
    const int quiet = kQuietZoneModules * layout.modulePixels;
    if (layout.modulePixels < 1)
        throw RuntimeError("Kavennustikkaita ei voi tulostaa: tulostimen tarkkuus on " +
                           std::to_string(std::lround(g.dpiX)) +
                           " dpi, joten viivakoodin moduuli olisi alle pikselin levyinen. Valitse tulostin tai "
                           "tarkkuus, jossa on vähintään noin 80 dpi.");
    if (width < symbolWidth + 2 * quiet)
        throw RuntimeError("Kavennustikkaat eivät mahdu paperille: viivakoodi hiljaisine alueineen on " +
                           std::to_string((symbolWidth + 2 * quiet) * 254 / int(g.dpiX * 10)) +
                           " mm leveä. Valitse leveämpi paperi.");
    layout.symbolLeft = (width - symbolWidth) / 2;
    // The title, two lines of instructions and a line's space.
    layout.firstRungTop = pixels(kTopMarginMm, g.dpiY) + (1 + std::size(kInstructions) + 1) * labelLineHeight(g.dpiX, g.dpiY);
    layout.barHeight = int(barHeightPixels(float(kTwipsPerInch / g.dpiY)));
    layout.pitch = rungPitch(g.dpiX, g.dpiY);

    const int room = height - marking::markReserveHeight(g) - layout.firstRungTop + pixels(kRungGapMm, g.dpiY);
    const int perSheet = room / layout.pitch;
    if (perSheet < 1)
        throw RuntimeError("Kavennustikkaat eivät mahdu paperille: yksikin askelma merkintöineen tarvitsee " +
                           std::to_string(int(std::lround((height - room + layout.pitch) * kMmPerInch / g.dpiY))) +
                           " mm korkean paperin. Valitse korkeampi paperi.");
    const std::vector<int> all = ladderReductions(g.dpiX);
    for (size_t i = 0; i < all.size(); i += size_t(perSheet))
        layout.sheets.emplace_back(all.begin() + long(i), all.begin() + long(std::min(all.size(), i + perSheet)));
    return layout;
}

std::string rungLabel(int reduction, double dpiX)
{
    // In the result's terms: the bar width reduction in printer pixels, and
    // what it does to each bar.
    const long um = std::lround(-reduction * kMmPerInch * 1000.0 / dpiX);
    return "kavennus " + signedText(reduction) + " px · palkit " + signedText(um) + " µm";
}

void printLadderSheet(PrinterSurface& Printer, int sheet)
{
    const PageGeometry g = Printer.pageGeometry();
    const LadderLayout layout = ladderLayout(g);
    if (sheet < 0 || sheet >= int(layout.sheets.size()))
        throw RuntimeError("Kavennustikkailla ei ole sivua " + std::to_string(sheet + 1));
    const int X = layout.modulePixels;

    Printer.setScaleMode(Scale::Pixels);
    Printer.setCurrentX(float(layout.symbolLeft));
    Printer.setCurrentY(float(pixels(kTopMarginMm, g.dpiY)));
    std::string title = std::string(kLadderCaption) + " · moduuli " + std::to_string(X) + " px";
    if (layout.sheets.size() > 1)
        title += " · sivu " + std::to_string(sheet + 1) + "/" + std::to_string(layout.sheets.size());
    Printer.Print({title});
    for (const char* line : kInstructions) {
        Printer.setCurrentX(float(layout.symbolLeft));
        Printer.Print({line});
    }

    int top = layout.firstRungTop;
    for (const int k : layout.sheets[size_t(sheet)]) {
        // One box a bar, centred on the bar: the pen k pixels narrower than
        // the bar, the odd pixel taken off its right side.
        for (int i = 1; i <= kModuleCount;) {
            if (!isDark(i)) {
                ++i;
                continue;
            }
            int n = 0;
            while (i + n <= kModuleCount && isDark(i + n))
                ++n;
            const int width = n * X - k;
            const int left = layout.symbolLeft + (i - 1) * X + k / 2;
            const float column = float(left + width / 2);
            Printer.setDrawWidth(int16_t(width));
            Printer.Line(LineFlag::StartGiven | LineFlag::Box, column, float(top), column,
                         float(top + layout.barHeight), kBlack);
            i += n;
        }
        Printer.setCurrentX(float(layout.symbolLeft));
        Printer.setCurrentY(float(top + layout.barHeight + pixels(kLabelGapMm, g.dpiY)));
        Printer.Print({rungLabel(k, g.dpiX)});
        top += layout.pitch;
    }
    Printer.EndDoc();
}

} // namespace raitakone::ladder
