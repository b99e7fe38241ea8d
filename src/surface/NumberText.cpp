#include "surface/NumberText.h"

#include <QLocale>

#include <cmath>

namespace raitakone {
namespace {

std::string toText(double value, int significantDigits)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    // 'g' switches to an exponent only beyond the digits the type can hold,
    // which is also where the shortest plain form stops being exact.
    return locale.toString(value, 'g', significantDigits).toStdString();
}

} // namespace

std::string singleToText(float value) { return toText(value, 7); }
std::string doubleToText(double value) { return toText(value, 15); }

} // namespace raitakone
