#include "surface/NumberText.h"

#include <QLocale>

namespace raitakone {
namespace {

std::string toText(double value, int significantDigits)
{
    // Digits, minus sign and exponent as the C locale writes them; only the
    // decimal separator is the user's. Locales differ in more than that (fi_FI
    // writes the minus as U+2212, sv_SE the exponent as "×10^"), and a number
    // on a page must read the same wherever it was printed.
    // 'g' switches to an exponent only beyond the digits the type can hold,
    // which is also where the shortest plain form stops being exact.
    QString text = QLocale::c().toString(value, 'g', significantDigits);
    text.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return text.toStdString();
}

} // namespace

std::string singleToText(float value) { return toText(value, 7); }
std::string doubleToText(double value) { return toText(value, 15); }

} // namespace raitakone
