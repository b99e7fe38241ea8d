#include "surface/PageGeometry.h"

#include <cmath>

namespace raitakone {

PageGeometry a4Sheet(double dpiX, double dpiY)
{
    const int width = int(std::lround(210.0 / 25.4 * dpiX));
    const int height = int(std::lround(297.0 / 25.4 * dpiY));
    PageGeometry g{dpiX, dpiY, width, height, PixelRect{0, 0, width, height}};
    // The PDF is the sheet, however the pixel grid rounds it: at 2400 x 1 dpi
    // A4 is 12 rows, which would make a page 864 pt tall.
    g.sheetWidthPoints = 210.0 / 25.4 * 72;
    g.sheetHeightPoints = 297.0 / 25.4 * 72;
    return g;
}

} // namespace raitakone
