#include "surface/PageFit.h"

#include "surface/NumberText.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace raitakone {
namespace {

constexpr double kMmPerInch = 25.4;
// Less than this off the bars alone is the edge of a bar drawn at the edge.
constexpr double kSliverMm = 0.5;
constexpr const char* kSliverSentence =
    " Se on vain kapea kaista reunimmaisen palkin reunasta; muu sivu tulostui sellaisenaan.";

PixelRect united(const PixelRect& a, bool aSet, const PixelRect& b)
{
    if (!aSet)
        return b;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// Pixels reaching past each edge of an area of the given size.
struct Overflow {
    int below = 0;
    int right = 0;
    int above = 0;
    int left = 0;

    Overflow() = default;
    Overflow(const PixelRect& drawn, int width, int height)
        : below(std::max(0, drawn.bottom - height)), right(std::max(0, drawn.right - width)),
          above(std::max(0, -drawn.top)), left(std::max(0, -drawn.left))
    {
    }
    bool any() const { return below || right || above || left; }
    Overflow widest(const Overflow& other) const
    {
        Overflow o;
        o.below = std::max(below, other.below);
        o.right = std::max(right, other.right);
        o.above = std::max(above, other.above);
        o.left = std::max(left, other.left);
        return o;
    }
};

std::string decimal(double value, int decimals)
{
    std::string shown = fixedDecimal(value, decimals);
    std::replace(shown.begin(), shown.end(), '.', ',');
    return shown;
}

// "11,1 cm", "2,5 mm", or under a millimetre "0,04 mm (1 pikseli)".
std::string lengthText(int pixels, double dpi)
{
    const double mm = pixels * kMmPerInch / dpi;
    if (mm >= 10)
        return decimal(mm / 10, 1) + " cm";
    if (mm >= 1)
        return decimal(mm, 1) + " mm";
    return decimal(mm, 2) + " mm (" + std::to_string(pixels) + (pixels == 1 ? " pikseli)" : " pikseliä)");
}

} // namespace

void DrawnExtent::addBars(const PixelRect& rect, const PixelRect& printableSize)
{
    if (rect.empty())
        return;
    bars = united(bars, barsDrawn, rect);
    barsDrawn = true;
    barsOnPaper = barsOnPaper || !rect.intersected(printableSize).empty();
}

void DrawnExtent::addText(const PixelRect& rect)
{
    if (rect.empty())
        return;
    text = united(text, textDrawn, rect);
    textDrawn = true;
}

namespace {

// Whether the drawing comes within a millimetre of the printable area's
// edge, or past it: there a driver that clips more than it declares cuts it.
// Measured: Gutenprint's LaserJet drivers place the raster 0.2 mm right of
// the PPD's margin and lose that much at the right; hpcups leaves the first
// 0.13 mm of rows blank; foo2zjs clips 0.16 in where its PPD says 0.157.
bool nearTheEdge(const DrawnExtent& drawn, const PageGeometry& g)
{
    const int width = g.printable.right - g.printable.left;
    const int height = g.printable.bottom - g.printable.top;
    const int mmX = int(g.dpiX / kMmPerInch + 0.5), mmY = int(g.dpiY / kMmPerInch + 0.5);
    const auto near = [&](const PixelRect& r) {
        return r.left < mmX || r.top < mmY || r.right > width - mmX || r.bottom > height - mmY;
    };
    return (drawn.barsDrawn && drawn.barsOnPaper && near(drawn.bars)) || (drawn.textDrawn && near(drawn.text));
}

std::string driverEdgeNotice(const DrawnExtent& drawn, const PageGeometry& g)
{
    if (!g.driverMayClip || !nearTheEdge(drawn, g))
        return {};
    return "Sivun piirros ulottuu alle 1 mm:n päähän tulostusalueen reunasta. Jotkin tulostinajurit leikkaavat "
           "reunoilta enemmän kuin ilmoittavat, joten reunimmaiset pisteet voivat jäädä tulostumatta.";
}

std::string clippedNotice(const DrawnExtent& drawn, const PageGeometry& g)
{
    const int width = g.printable.right - g.printable.left;
    const int height = g.printable.bottom - g.printable.top;
    const Overflow bars = drawn.barsDrawn ? Overflow(drawn.bars, width, height) : Overflow();
    const Overflow text = drawn.textDrawn ? Overflow(drawn.text, width, height) : Overflow();
    const Overflow all = bars.widest(text);
    if (!all.any())
        return {};

    struct Side {
        int pixels;
        double dpi;
        const char* where;
    };
    const Side sides[] = {{all.below, g.dpiY, "alapuolelle"},
                          {all.right, g.dpiX, "oikealle puolelle"},
                          {all.above, g.dpiY, "yläpuolelle"},
                          {all.left, g.dpiX, "vasemmalle puolelle"}};
    std::vector<std::string> parts;
    for (const Side& side : sides)
        if (side.pixels > 0)
            parts.push_back(lengthText(side.pixels, side.dpi) + (parts.empty() ? " tulostusalueen " : " sen ") +
                            side.where);
    std::string notice = "Sivun piirroksesta jäi ";
    for (size_t i = 0; i < parts.size(); ++i)
        notice += (i == 0 ? "" : i + 1 == parts.size() ? " ja " : ", ") + parts[i];
    notice += ".";

    const auto under = [](int pixels, double dpi, double mm) { return pixels * kMmPerInch / dpi < mm; };
    const bool sliver = !text.any() && under(bars.below, g.dpiY, kSliverMm) && under(bars.above, g.dpiY, kSliverMm) &&
                        under(bars.left, g.dpiX, kSliverMm) && under(bars.right, g.dpiX, kSliverMm);
    if (drawn.barsDrawn && !drawn.barsOnPaper)
        notice += " Sivu ei tulostanut viivakoodia: yksikään sen palkeista ei osunut tulostusalueelle.";
    else if (sliver)
        notice += kSliverSentence;
    else if (bars.any())
        notice += " Viivakoodi ei tulostunut kokonaan.";
    else if (drawn.barsDrawn)
        notice += " Viivakoodi tulostui kokonaan; vain tekstiä jäi pois.";
    return notice;
}

} // namespace

PageFitNotice pageFitNotice(const DrawnExtent& drawn, const PageGeometry& g)
{
    PageFitNotice fit;
    std::string clipped = clippedNotice(drawn, g);
    if (clipped.ends_with(kSliverSentence))
        fit.minor = std::exchange(clipped, {});
    const std::string edge = driverEdgeNotice(drawn, g);
    fit.notice = clipped.empty() ? edge : edge.empty() ? clipped : clipped + " " + edge;
    return fit;
}

} // namespace raitakone
