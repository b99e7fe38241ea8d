#include "arithmetic/Arithmetic.h"

#include "surface/RuntimeError.h"

#include <cmath>
#include <limits>

namespace raitakone {
namespace {

double checkedResult(double result)
{
    if (std::isnan(result))
        throw RuntimeError("Virheellinen laskutoimitus");
    if (std::isinf(result))
        throw RuntimeError("Ylivuoto laskutoimituksessa");
    return result;
}

float checkedSingle(double result)
{
    checkedResult(result);
    if (std::fabs(result) > std::numeric_limits<float>::max())
        throw RuntimeError("Ylivuoto laskutoimituksessa");
    return static_cast<float>(result);
}

} // namespace

double checkedDivide(double dividend, double divisor)
{
    if (divisor == 0.0)
        throw RuntimeError("Jako nollalla");
    return checkedResult(dividend / divisor);
}

double checkedProduct(double a, double b) { return checkedResult(a * b); }
double checkedSum(double a, double b) { return checkedResult(a + b); }

float singleProduct(float a, float b) { return checkedSingle(static_cast<float>(a * b)); }
float singleSum(float a, float b) { return checkedSingle(static_cast<float>(a + b)); }

float toSingle(double value) { return checkedSingle(value); }

int16_t toInt16(double value)
{
    checkedResult(value);
    const double rounded = std::nearbyint(value); // default rounding mode: half to even
    if (rounded < std::numeric_limits<int16_t>::min() || rounded > std::numeric_limits<int16_t>::max())
        throw RuntimeError("Ylivuoto: arvo ei mahdu 16-bittiseen kokonaislukuun");
    return static_cast<int16_t>(rounded);
}

double intPart(double value) { return std::floor(checkedResult(value)); }

} // namespace raitakone
