#pragma once

// The picture box as a drawing surface: a picture of screen pixels that is
// drawn on in place. There are no documents; the window shows the picture
// and is told when it changes.

#include "surface/Surface.h"

#include <functional>

namespace raitakone {

class PictureSurface : public Surface {
public:
    // screenDpi: the screen's logical resolution (96 gives 15 twips a pixel).
    PictureSurface(int width, int height, double screenDpi = 96);

    const PageRaster& picture() const { return picture_; }
    void setChangedHandler(std::function<void()> handler) { changed_ = std::move(handler); }

protected:
    PageGeometry geometry() override { return geometry_; }
    PageRaster& drawingPage() override { return picture_; }
    void pageChanged() override;

private:
    PageGeometry geometry_;
    PageRaster picture_;
    std::function<void()> changed_;
};

} // namespace raitakone
