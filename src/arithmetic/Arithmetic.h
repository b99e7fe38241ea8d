#pragma once

// Checked arithmetic for the print tests. A division by zero, an invalid
// operation or an overflow raises a RuntimeError instead of letting an
// infinity or NaN reach the page; underflow and rounding pass silently.

#include <cstdint>

namespace raitakone {

double checkedDivide(double dividend, double divisor);
double checkedProduct(double a, double b);
double checkedSum(double a, double b);

// Single-precision variants: the result is rounded to float and must fit.
float singleProduct(float a, float b);
float singleSum(float a, float b);

// Narrowing conversions that refuse what does not fit.
float toSingle(double value);
int16_t toInt16(double value);   // rounds half to even, as the integer conversion does

// Int(): rounds down towards minus infinity.
double intPart(double value);

} // namespace raitakone
