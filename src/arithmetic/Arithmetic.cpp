#include "arithmetic/Arithmetic.h"

#include "surface/RuntimeError.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <limits>

namespace raitakone {
namespace {

RuntimeError overflow()
{
    return RuntimeError("Ylivuoto laskutoimituksessa: tulos on liian suuri. Tulostimen tarkkuus on todennäköisesti "
                        "epätavallinen; valitse toinen tulostin tai tarkkuus.");
}

double checkedResult(double result)
{
    if (std::isnan(result))
        throw RuntimeError("Virheellinen laskutoimitus: tulos ei ole luku. Tarkista tulostimen tarkkuus "
                           "(pikselin koko) tai valitse toinen tulostin.");
    if (std::isinf(result))
        throw overflow();
    return result;
}

float checkedSingle(double result)
{
    checkedResult(result);
    if (std::fabs(result) > std::numeric_limits<float>::max())
        throw overflow();
    return static_cast<float>(result);
}

} // namespace

double checkedDivide(double dividend, double divisor)
{
    if (divisor == 0.0)
        throw RuntimeError("Jako nollalla: tulostimen pikselin koko on 0, joten sivun mittoja ei voi laskea. "
                           "Tulostin ilmoittaa virheellisen tarkkuuden; valitse toinen tulostin tai tarkkuus.");
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
        throw RuntimeError("Ylivuoto: arvo " + std::to_string(std::llround(std::clamp(rounded, -1e18, 1e18))) +
                           " ei mahdu 16-bittiseen kokonaislukuun (-32768 … 32767). Tulostimen tarkkuus on "
                           "todennäköisesti epätavallisen suuri; valitse toinen tulostin tai tarkkuus.");
    return static_cast<int16_t>(rounded);
}

double intPart(double value) { return std::floor(checkedResult(value)); }

} // namespace raitakone
