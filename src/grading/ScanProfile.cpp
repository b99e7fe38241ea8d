#include "grading/ScanProfile.h"

#include "grading/Grading.h"

namespace raitakone::grading {

ReflectanceField::ReflectanceField(const Scan& scan, bool linear)
    : bits_(scan.plane.constBits()), stride_(scan.plane.bytesPerLine()), width_(scan.plane.width()),
      height_(scan.plane.height()), pxPerMmX_(scan.dpiX / kMmPerInch), pxPerMmY_(scan.dpiY / kMmPerInch)
{
    for (int v = 0; v < 256; ++v)
        lut_[size_t(v)] = float(linear ? v * 100.0 / 255.0 : srgbToReflectance(v));
}

Aperture apertureDisc(double diameterMm, double pixelMm)
{
    const double radius = diameterMm / 2.0;
    const double spacing = std::min(diameterMm / 8.0, pixelMm);
    const int n = int(std::ceil(radius / spacing));
    Aperture points;
    for (int i = -n; i <= n; ++i)
        for (int j = -n; j <= n; ++j) {
            const Vec p{i * spacing, j * spacing};
            if (p.length() <= radius)
                points.push_back(p);
        }
    if (points.empty())
        points.push_back({});
    return points;
}

std::vector<float> sampleLine(const ReflectanceField& field, Vec from, Vec direction, double stepMm, int count,
                              const Aperture& aperture)
{
    std::vector<float> profile(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const Vec p = from + direction * (i * stepMm);
        if (aperture.empty()) {
            profile[size_t(i)] = field.at(p);
            continue;
        }
        float sum = 0.0f;
        for (const Vec& d : aperture)
            sum += field.at(p + d);
        profile[size_t(i)] = sum / float(aperture.size());
    }
    return profile;
}

double finestResolvedAperture(double pixelMm)
{
    for (double diameter : kReferenceApertures)
        if (diameter >= 3.0 * pixelMm * (1.0 - 1e-9))
            return diameter;
    return kReferenceApertures.back();
}

} // namespace raitakone::grading
