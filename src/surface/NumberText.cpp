#include "surface/NumberText.h"

#include <QLocale>

#include <algorithm>
#include <charconv>

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

std::string fixedDecimal(double value, int decimals)
{
    char text[400];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return error == std::errc() ? std::string(text, end) : std::string("0");
}

std::string plainDecimal(double value, int maxDecimals)
{
    std::string text = fixedDecimal(value, maxDecimals);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

std::optional<double> parseDecimal(std::string_view text)
{
    std::string plain(text);
    std::replace(plain.begin(), plain.end(), ',', '.');
    if (plain.empty() || plain.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(plain.begin(), plain.end(), '.') > 1 || plain.front() == '.' || plain.back() == '.')
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error != std::errc() || end != plain.data() + plain.size())
        return std::nullopt;
    return value;
}

} // namespace raitakone
