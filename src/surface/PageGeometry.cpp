#include "surface/PageGeometry.h"

#include <algorithm>
#include <cmath>

namespace raitakone {

PageGeometry paperSheet(const Paper& paper, double dpiX, double dpiY)
{
    // Never less than a pixel: a 10 mm label at 1 dpi still has one.
    const int width = std::max(1, int(std::lround(paper.widthMm / 25.4 * dpiX)));
    const int height = std::max(1, int(std::lround(paper.heightMm / 25.4 * dpiY)));
    PageGeometry g{dpiX, dpiY, width, height, PixelRect{0, 0, width, height}};
    // The PDF is the sheet, however the pixel grid rounds it: at 2400 x 1 dpi
    // A4 is 12 rows, which would make a page 864 pt tall.
    g.sheetWidthPoints = paper.widthMm / 25.4 * 72;
    g.sheetHeightPoints = paper.heightMm / 25.4 * 72;
    g.paper = paper;
    return g;
}

PageGeometry a4Sheet(double dpiX, double dpiY) { return paperSheet(kA4Paper, dpiX, dpiY); }

} // namespace raitakone
