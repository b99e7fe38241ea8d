#include "surface/Paper.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace raitakone {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kSmallestSideMm = 10;
constexpr double kLargestSideMm = 1000;

const Paper kNamedPapers[] = {
    kA4Paper,
    {"A5", 148, 210},
    {"A6", 105, 148},
    {"A3", 297, 420},
    {"Letter", 8.5 * kMmPerInch, 11 * kMmPerInch},
    {"Legal", 8.5 * kMmPerInch, 14 * kMmPerInch},
};

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// Up to two decimals, none where they are zero: "210", "101.6", "215.9".
std::string shortNumber(double value, char point)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string shown = text;
    while (shown.back() == '0')
        shown.pop_back();
    if (shown.back() == '.')
        shown.pop_back();
    std::replace(shown.begin(), shown.end(), '.', point);
    return shown;
}

// A positive decimal number written with digits and at most one point or
// comma; -1 otherwise.
double parseLength(std::string text)
{
    std::replace(text.begin(), text.end(), ',', '.');
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(text.begin(), text.end(), '.') > 1 || text.front() == '.' || text.back() == '.')
        return -1;
    return std::strtod(text.c_str(), nullptr);
}

} // namespace

std::string Paper::optionText() const
{
    if (!name.empty())
        return name;
    return shortNumber(widthMm, '.') + "x" + shortNumber(heightMm, '.') + "mm";
}

std::string Paper::description() const
{
    const std::string size = shortNumber(widthMm, '.') + " × " + shortNumber(heightMm, '.') + " mm";
    return name.empty() ? size : name + ", " + size;
}

std::span<const Paper> namedPapers() { return kNamedPapers; }

std::optional<Paper> parsePaper(const std::string& text)
{
    const std::string lower = lowercase(text);
    for (const Paper& paper : kNamedPapers)
        if (lowercase(paper.name) == lower)
            return paper;

    const bool inches = lower.ends_with("in");
    if (!inches && !lower.ends_with("mm"))
        return std::nullopt;
    const std::string size = lower.substr(0, lower.size() - 2);
    const size_t cross = size.find('x');
    if (cross == std::string::npos)
        return std::nullopt;
    const double unit = inches ? kMmPerInch : 1.0;
    const double width = parseLength(size.substr(0, cross)) * unit;
    const double height = parseLength(size.substr(cross + 1)) * unit;
    // A hundredth of a millimetre of rounding is no reason to refuse 10 mm.
    const auto fits = [](double side) { return side >= kSmallestSideMm - 0.005 && side <= kLargestSideMm + 0.005; };
    if (!fits(width) || !fits(height))
        return std::nullopt;
    if (inches)
        return Paper{shortNumber(width / unit, '.') + "x" + shortNumber(height / unit, '.') + "in", width, height};
    return Paper{{}, width, height};
}

} // namespace raitakone
