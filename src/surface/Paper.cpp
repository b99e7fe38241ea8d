#include "surface/Paper.h"

#include "surface/NumberText.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace raitakone {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kSmallestSideMm = kSmallestPaperSideMm;
constexpr double kLargestSideMm = kLargestPaperSideMm;

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

// Up to two decimals, none where they are zero: "210", "101.6", "215.9"
// (with a comma for people: "101,6").
std::string shortNumber(double value, char point)
{
    std::string shown = plainDecimal(value, 2);
    std::replace(shown.begin(), shown.end(), '.', point);
    return shown;
}

// A positive decimal number written with digits and at most one point or
// comma; -1 otherwise.
double parseLength(const std::string& text)
{
    if (text.size() > 12)
        return -1;
    return parseDecimal(text).value_or(-1);
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
    const std::string size = shortNumber(widthMm, ',') + " × " + shortNumber(heightMm, ',') + " mm";
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
