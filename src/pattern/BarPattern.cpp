#include "pattern/BarPattern.h"

#include "arithmetic/Arithmetic.h"

namespace raitakone {

double moduleWidth(float twipsPerPixelX)
{
    const double pixelsInSymbol = checkedDivide(kSymbolWidthTwips, twipsPerPixelX);
    return intPart(checkedDivide(pixelsInSymbol, kModuleCount));
}

double barHeightPixels(float twipsPerPixelY)
{
    return intPart(checkedDivide(kBarHeightTwips, twipsPerPixelY));
}

} // namespace raitakone
