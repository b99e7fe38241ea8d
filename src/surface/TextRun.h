#pragma once

// Text for the page: glyphs rasterised at the device resolution without
// anti-aliasing, so a printed label is as crisp as the bars above it.

#include <string>
#include <vector>

namespace raitakone {

struct TextFont {
    std::string name;
    float size = 10; // points
};

struct TextRun {
    int width = 0;      // advance, device pixels
    int height = 0;     // cell height = line height, device pixels
    std::vector<bool> ink; // width * height, row-major
    bool inked(int x, int y) const { return ink[size_t(y) * size_t(width) + size_t(x)]; }
};

// The line height of the font at the given resolution, in device pixels.
int lineHeight(const TextFont& font, double dpiX, double dpiY);

// The advance of one text item (UTF-8), device pixels: renderText's width.
int textWidth(const std::string& text, const TextFont& font, double dpiX, double dpiY);

// Renders one text item (UTF-8) into a cell of the font's line height.
TextRun renderText(const std::string& text, const TextFont& font, double dpiX, double dpiY);

} // namespace raitakone
