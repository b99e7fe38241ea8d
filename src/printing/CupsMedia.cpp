#include "printing/CupsMedia.h"

#include "surface/NumberText.h"

#include <cups/cups.h>

#include <algorithm>
#include <cmath>

namespace raitakone {
namespace {

constexpr double kHundredthsOfMmPerInch = 2540.0;

constexpr double kPointsPerInch = 72.0;

// The sheet of the PDF we send. Its width is the paper's. Its height is the
// paper's in whole points, because that is the height the rasteriser hangs
// the page from: a CUPS or PWG raster header states the page size in whole
// points, and Ghostscript's cups device (gstoraster, CUPS's PDF rasteriser)
// lays the PDF page on the sheet by its bottom edge and counts that whole
// number of points up to the raster's first row. A4 is 841.89 pt tall, its
// raster header says 842: a page 841.89 pt tall starts 0.11 pt below row 0,
// one row low at 600 dpi and two at 1200. A page 842 pt tall, laid down by
// its bottom edge (see "position" in CupsPrinter::deliver), starts on row 0; being the
// raster's own sheet, it lands there whether a rasteriser anchors that sheet
// at its top or at its bottom. (Poppler's pdftoraster, which CUPS uses only
// without Ghostscript, anchors pdftopdf's 841.89 pt page at the top and
// smooths every image anyway, so no PDF comes through it pixel for pixel.)
double pdfSheetWidth(const MediaSize& media) { return media.width * kPointsPerInch / kHundredthsOfMmPerInch; }
double pdfSheetHeight(const MediaSize& media)
{
    return std::round(media.length * kPointsPerInch / kHundredthsOfMmPerInch);
}

int pixelsFor(int hundredthsOfMm, double dpi) { return int(std::lround(hundredthsOfMm * dpi / kHundredthsOfMmPerInch)); }

// A margin becomes whole pixels outwards: a pixel that reaches into the
// margin is not printable.
int marginPixels(int hundredthsOfMm, double dpi)
{
    const double pixels = hundredthsOfMm * dpi / kHundredthsOfMmPerInch;
    return std::max(0, int(std::ceil(pixels - 1e-6)));
}

} // namespace

// A PWG self-describing name (iso_a4_210x297mm) reads better as its common
// name (A4).
std::string commonMediaName(const std::string& name)
{
    if (const pwg_media_t* pwg = pwgMediaForPWG(name.c_str()); pwg && pwg->ppd)
        return pwg->ppd;
    return name;
}

std::string mediaMillimetres(int hundredths)
{
    std::string shown = plainDecimal(hundredths / 100.0, 1);
    std::replace(shown.begin(), shown.end(), '.', ',');
    return shown;
}

PageGeometry pageGeometryForMedia(const MediaSize& media, double dpiX, double dpiY)
{
    PageGeometry g;
    g.dpiX = dpiX;
    g.dpiY = dpiY;
    g.sheetWidth = pixelsFor(media.width, dpiX);
    g.sheetHeight = pixelsFor(media.length, dpiY);
    g.printable.left = std::min(marginPixels(media.left, dpiX), g.sheetWidth);
    g.printable.top = std::min(marginPixels(media.top, dpiY), g.sheetHeight);
    g.printable.right = std::max(g.printable.left, g.sheetWidth - marginPixels(media.right, dpiX));
    g.printable.bottom = std::max(g.printable.top, g.sheetHeight - marginPixels(media.bottom, dpiY));
    g.sheetWidthPoints = pdfSheetWidth(media);
    g.sheetHeightPoints = pdfSheetHeight(media);
    return g;
}

std::string mediaDescription(const std::string& name, int width, int length)
{
    const std::string shown = commonMediaName(name);
    const std::string size = mediaMillimetres(width) + " × " + mediaMillimetres(length) + " mm";
    return shown.empty() ? size : shown + ", " + size;
}

} // namespace raitakone
