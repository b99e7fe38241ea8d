#include "surface/PictureSurface.h"

namespace raitakone {

PictureSurface::PictureSurface(int width, int height, double screenDpi)
    : Surface(TextFont{"Liberation Sans", 8}),
      geometry_{screenDpi, screenDpi, width, height, PixelRect{0, 0, width, height}},
      picture_(width, height, PageRaster::Storage::Colour)
{
}

void PictureSurface::pageChanged()
{
    if (changed_)
        changed_();
}

} // namespace raitakone
