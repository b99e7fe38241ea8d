#include "grading/ScanProfile.h"

#include "grading/Grading.h"

namespace raitakone::grading {

ReflectanceField::ReflectanceField(const Scan& scan, const ReflectanceTable& table)
    : bits_(scan.plane.constBits()), stride_(scan.plane.bytesPerLine()), width_(scan.plane.width()),
      height_(scan.plane.height()), pxPerMmX_(scan.dpiX / kMmPerInch), pxPerMmY_(scan.dpiY / kMmPerInch),
      lut_(table)
{
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

std::vector<float> sampleLineThrough(const ReflectanceField& field, Vec from, Vec direction, double stepMm,
                                     int count, double diameterMm)
{
    const double radius = diameterMm / 2.0 / stepMm; // in steps
    const int n = int(std::floor(radius));
    if (n < 2)
        return sampleLine(field, from, direction, stepMm, count, apertureDisc(diameterMm, field.pixelMm()));
    // Row k of the grid lies k steps across the line and reaches n steps
    // beyond both of its ends; a running sum along it gives any run's total.
    const Vec across = direction.perpendicular();
    const int length = count + 2 * n;
    std::vector<double> sum(static_cast<size_t>(count), 0.0);
    int points = 0;
    std::vector<double> running(size_t(length) + 1);
    for (int k = -n; k <= n; ++k) {
        const int reach = int(std::floor(std::sqrt(radius * radius - double(k) * k)));
        const std::vector<float> row =
            sampleLine(field, from + across * (k * stepMm) - direction * (n * stepMm), direction, stepMm, length);
        running[0] = 0.0;
        for (int i = 0; i < length; ++i)
            running[size_t(i) + 1] = running[size_t(i)] + row[size_t(i)];
        for (int i = 0; i < count; ++i)
            sum[size_t(i)] += running[size_t(i + n + reach) + 1] - running[size_t(i + n - reach)];
        points += 2 * reach + 1;
    }
    std::vector<float> profile(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        profile[size_t(i)] = float(sum[size_t(i)] / points);
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
