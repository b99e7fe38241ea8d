#pragma once

// A page as device pixels. A page that only ever receives black and white is
// kept one bit a pixel; the first other colour turns it into a palette image
// (and a palette that overflows into RGB), so a colour such as RGB(1, 0, 0)
// is kept exactly where it is painted, never rounded to black.

#include <QImage>

#include <cstdint>

namespace raitakone {

// Colour values are 0x00BBGGRR: red in the low byte.
using Colour = uint32_t;
inline constexpr Colour kBlack = 0x000000;
inline constexpr Colour kWhite = 0xFFFFFF;

// Half-open pixel rectangle: columns left .. right - 1, rows top .. bottom - 1.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
    PixelRect intersected(const PixelRect& other) const;
};

class PageRaster {
public:
    enum class Storage { Bilevel, Colour };

    PageRaster(int width, int height, Storage storage = Storage::Bilevel);

    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    PixelRect bounds() const { return {0, 0, width(), height()}; }

    // Paints every pixel of the rectangle (clipped to the page) in the colour.
    void fill(const PixelRect& rect, Colour colour);
    void setPixel(int x, int y, Colour colour);
    Colour pixel(int x, int y) const;

    bool isBilevel() const { return image_.format() == QImage::Format_Mono; }

    // Format_Mono (index 0 white, 1 black), Format_Indexed8 or Format_RGB32.
    const QImage& image() const { return image_; }

private:
    void fillBilevel(const PixelRect& rect, bool black);
    int paletteIndex(Colour colour); // -1 once the palette is full
    void promoteToPalette();

    QImage image_;
};

} // namespace raitakone
