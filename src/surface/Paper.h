#pragma once

// The paper a page is drawn for: its name where it has a common one, and its
// size in millimetres, portrait (width across, height down).

#include <optional>
#include <span>
#include <string>

namespace raitakone {

struct Paper {
    std::string name; // "A4", "Letter", "4x6in"; empty for a size given in millimetres
    double widthMm = 0;
    double heightMm = 0;

    bool operator==(const Paper&) const = default;
    bool stated() const { return widthMm > 0 && heightMm > 0; }
    // What parsePaper reads back: "A4", "4x6in" or "100x150mm".
    std::string optionText() const;
    // For the user: "A4, 210 × 297 mm", or "100 × 150 mm".
    std::string description() const;
};

inline const Paper kA4Paper{"A4", 210, 297};

// The sides of a paper the program prints on, in millimetres.
inline constexpr double kSmallestPaperSideMm = 10;
inline constexpr double kLargestPaperSideMm = 1000;

// The sizes known by name, A4 first.
std::span<const Paper> namedPapers();

// A paper name (A3, A4, A5, A6, Letter, Legal; any case) or a size
// WxHmm / WxHin (decimals with a point or a comma), each side 10 .. 1000 mm;
// nothing for anything else.
std::optional<Paper> parsePaper(const std::string& text);

} // namespace raitakone
