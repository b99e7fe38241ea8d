#pragma once

// Scan reflectance profiles: the scan as reflectance addressed in
// millimetres, and scan lines sampled through a circular synthetic aperture.

#include "grading/ScanImage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace raitakone::grading {

inline constexpr double kMmPerInch = 25.4;

struct Vec {
    double x = 0.0, y = 0.0;
    Vec operator+(Vec o) const { return {x + o.x, y + o.y}; }
    Vec operator-(Vec o) const { return {x - o.x, y - o.y}; }
    Vec operator*(double k) const { return {x * k, y * k}; }
    double dot(Vec o) const { return x * o.x + y * o.y; }
    double length() const { return std::hypot(x, y); }
    Vec unit() const { return *this * (1.0 / length()); }
    Vec perpendicular() const { return {-y, x}; }
};

// The scan as reflectance in per cent, addressed in millimetres.
class ReflectanceField {
public:
    // table: the reflectance of each of the plane's values.
    ReflectanceField(const Scan& scan, const ReflectanceTable& table);

    bool contains(Vec mm) const
    {
        return mm.x >= 0.0 && mm.y >= 0.0 && mm.x * pxPerMmX_ <= width_ && mm.y * pxPerMmY_ <= height_;
    }
    double pxPerMmX() const { return pxPerMmX_; }
    double pxPerMmY() const { return pxPerMmY_; }
    // The size of the coarser of the two pixel dimensions.
    double pixelMm() const { return 1.0 / std::min(pxPerMmX_, pxPerMmY_); }
    int width() const { return width_; }
    int height() const { return height_; }
    Vec toMm(double px, double py) const { return {px / pxPerMmX_, py / pxPerMmY_}; }

    float pixel(int x, int y) const
    {
        x = std::clamp(x, 0, width_ - 1);
        y = std::clamp(y, 0, height_ - 1);
        return lut_[bits_[y * stride_ + x]];
    }

    // Bilinear reflectance at a point in millimetres.
    float at(Vec mm) const
    {
        const double px = mm.x * pxPerMmX_ - 0.5;
        const double py = mm.y * pxPerMmY_ - 0.5;
        const int x0 = int(std::floor(px));
        const int y0 = int(std::floor(py));
        const float fx = float(px - x0);
        const float fy = float(py - y0);
        const float top = pixel(x0, y0) * (1 - fx) + pixel(x0 + 1, y0) * fx;
        const float bottom = pixel(x0, y0 + 1) * (1 - fx) + pixel(x0 + 1, y0 + 1) * fx;
        return top * (1 - fy) + bottom * fy;
    }

private:
    const uchar* bits_;
    qsizetype stride_;
    int width_;
    int height_;
    double pxPerMmX_;
    double pxPerMmY_;
    ReflectanceTable lut_{};
};

// A circular aperture as points spread evenly over its disc; an empty disc
// samples single points.
using Aperture = std::vector<Vec>;
Aperture apertureDisc(double diameterMm, double pixelMm);

// count samples stepMm apart from `from` along `direction`, each the mean
// reflectance over the aperture.
std::vector<float> sampleLine(const ReflectanceField& field, Vec from, Vec direction, double stepMm, int count,
                              const Aperture& aperture = {});

// The same through a circular aperture of the diameter. Where the aperture
// spans several steps, the field is read once on a grid of the step around
// the line and each disc summed from it, which reads each point once instead
// of once for every disc it lies in.
std::vector<float> sampleLineThrough(const ReflectanceField& field, Vec from, Vec direction, double stepMm,
                                     int count, double diameterMm);

// The reference apertures by their numbers (diameter in thousandths of an
// inch): 03, 05, 06, 10 and 20.
inline constexpr std::array<double, 5> kReferenceApertures = {0.075, 0.125, 0.150, 0.250, 0.500};

// The finest reference aperture whose diameter covers at least three scan
// pixels: below that the aperture only samples the scanner's own pixels.
double finestResolvedAperture(double pixelMm);

} // namespace raitakone::grading
