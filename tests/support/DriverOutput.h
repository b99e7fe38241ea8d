#pragma once

// Printer languages the Debian drivers write, decoded back into the bitmap
// the printer will put on paper: one bit a pixel, set = black, as a
// PageRaster's bilevel image.

#include <QByteArray>
#include <QImage>
#include <QPoint>

namespace raitakone::testing {

// Zebra ZPL: the first graphic a ~DG command stores, in ZPL II compression
// (hex digits, repeat counts G..Y and g..z, ',' and '!' ending a row with
// white or black, ':' repeating the row before). A null image when none.
QImage zplGraphic(const QByteArray& zpl);

// PCL 5 raster graphics: rows sent with ESC*b#W in compression mode 0 or 2,
// rows skipped with ESC*b#Y, at the ESC*t#R resolution. origin is where the
// first row starts, in those pixels from the logical page's top-left, as
// set by ESC&a (decipoints) or ESC*p (ESC&u units). A null image when the
// stream holds no raster, or a compression this does not read.
struct PclPage {
    QImage rows;
    int dpi = 0;
    QPoint origin;
};
PclPage pclRaster(const QByteArray& pcl);

} // namespace raitakone::testing
