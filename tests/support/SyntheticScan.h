#pragma once

// Scans made from printed pages, so that every number a grading measures is
// known in advance. Print: each bar widened by g printer pixels. Scan: area
// averaging down (or up) to the scan resolution, a Gaussian blur, white to
// the paper's reflectance and ink to the ink's in linear light, sRGB 8-bit
// encoding (or linear values), paper margins around the page, a rotation,
// paper falling off across the scan and mottled ink.

#include "surface/PageRaster.h"

#include <QImage>
#include <QRect>

#include <functional>

#include <vector>

namespace raitakone::testing {

// Ink coverage 0..1 of each printer pixel of a part of the page.
struct Coverage {
    int width = 0;
    int height = 0;
    double dpi = 0.0;
    std::vector<float> ink;
    float& at(int x, int y) { return ink[size_t(y) * size_t(width) + size_t(x)]; }
    float at(int x, int y) const { return ink[size_t(y) * size_t(width) + size_t(x)]; }
};

// The region of the page (printer pixels) as printed with every dark run of
// every row widened by gain pixels (half on each side, the odd one on the
// right), or narrowed when gain is negative.
Coverage printed(const PageRaster& page, double dpi, QRect region, int gain = 0);

struct ScanModel {
    double dpi = 600.0;
    double blurSigmaMm = 0.0;
    double paper = 85.0; // Rp, per cent
    double ink = 5.0;    // Ri, per cent
    bool srgb = true;    // false: the 8-bit values are linear reflectance
    double marginMm = 6.0; // paper around the printed region
    double rotationDegrees = 0.0;
    bool writeResolution = true;
    double paperFall = 0.0; // the paper's reflectance falls by this (per cent) from the scan's left edge to its right
    double inkMottle = 0.0; // the ink's reflectance rises by up to this (per cent), fixed in 0.1 mm cells
    // The scanner's tone curve, reflectance 0..1 to the value 0..1 stored
    // (clipped); replaces srgb when set.
    std::function<double(double)> tone = {};
    double noise = 0.0; // the sensor's noise: standard deviation of the stored value, in levels
};

// The scan: Format_Grayscale8 with the scan resolution recorded.
QImage scan(const Coverage& coverage, const ScanModel& model);

// A grey step target scanned through the model's blur, rotation and
// encoding: one row of 10 × 20 mm patches of the reflectances (per cent) on
// the model's paper, touching, or 4 mm apart.
QImage stepWedgeScan(const std::vector<double>& reflectances, const ScanModel& model, bool apart);

// The scan as the red channel of an RGB32 image whose other channels differ,
// as a colour scanner gives it.
QImage asColourScan(const QImage& grey);

// An A4 page at dpi holding the pattern drawn as the line-form pages draw it
// (zero-width boxes with a module-wide pen, in pixels), starting leftModules
// modules from the page's left edge and 1.1 cm from its top. The whole
// symbol lies on the page, no bar clipped.
PageRaster symbolPage(double dpi, int leftModules = 2);

// The printer pixels of one module on symbolPage at dpi.
int modulePixels(double dpi);

// The part of symbolPage holding the symbol: from the page's left edge to
// twelve modules past the symbol, from its top to 4 mm below the bars.
QRect symbolRegion(double dpi, int leftModules = 2);

// The printer pixel column where module i (1-based) of symbolPage starts.
int moduleColumn(double dpi, int module, int leftModules = 2);

} // namespace raitakone::testing
