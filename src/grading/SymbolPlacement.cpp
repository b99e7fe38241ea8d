#include "grading/SymbolPlacement.h"

#include "grading/Code128Reference.h"
#include "grading/ProfileElements.h"

#include <algorithm>
#include <cmath>

namespace raitakone::grading {
namespace {

struct Extremes {
    float low = 0.0f, high = 0.0f;
};

Extremes extremes(const std::vector<float>& profile)
{
    const auto [lo, hi] = std::minmax_element(profile.begin(), profile.end());
    return {*lo, *hi};
}

// The direction of the bars' edges from the image gradients around a line:
// the dominant gradient direction (structure tensor) is the symbol's axis.
Vec refineAxis(const ReflectanceField& field, const QImage& plane, Vec centre, Vec axis, double halfLength,
               double halfHeight)
{
    const Vec across = axis.perpendicular();
    const Vec corners[4] = {centre + axis * halfLength + across * halfHeight, centre + axis * halfLength - across * halfHeight,
                            centre - axis * halfLength + across * halfHeight, centre - axis * halfLength - across * halfHeight};
    double minX = 1e18, maxX = -1e18, minY = 1e18, maxY = -1e18;
    for (const Vec& c : corners) {
        minX = std::min(minX, c.x * field.pxPerMmX());
        maxX = std::max(maxX, c.x * field.pxPerMmX());
        minY = std::min(minY, c.y * field.pxPerMmY());
        maxY = std::max(maxY, c.y * field.pxPerMmY());
    }
    const int x0 = std::max(1, int(minX)), x1 = std::min(plane.width() - 2, int(maxX));
    const int y0 = std::max(1, int(minY)), y1 = std::min(plane.height() - 2, int(maxY));
    double jxx = 0.0, jxy = 0.0, jyy = 0.0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const Vec p = field.toMm(x + 0.5, y + 0.5) - centre;
            if (std::fabs(p.dot(axis)) > halfLength || std::fabs(p.dot(across)) > halfHeight)
                continue;
            const double gx = (field.pixel(x + 1, y) - field.pixel(x - 1, y)) * field.pxPerMmX();
            const double gy = (field.pixel(x, y + 1) - field.pixel(x, y - 1)) * field.pxPerMmY();
            jxx += gx * gx;
            jxy += gx * gy;
            jyy += gy * gy;
        }
    if (jxx + jyy <= 0.0)
        return axis;
    const double angle = 0.5 * std::atan2(2.0 * jxy, jxx - jyy);
    Vec refined{std::cos(angle), std::sin(angle)};
    if (refined.dot(axis) < 0.0)
        refined = refined * -1.0;
    return refined;
}

} // namespace

std::optional<Placement> place(const ReflectanceField& field, const QImage& plane, const FoundSymbol& found)
{
    const Vec tl = field.toMm(found.topLeft.x(), found.topLeft.y());
    const Vec tr = field.toMm(found.topRight.x(), found.topRight.y());
    const Vec bl = field.toMm(found.bottomLeft.x(), found.bottomLeft.y());
    const Vec br = field.toMm(found.bottomRight.x(), found.bottomRight.y());
    const Vec along = (tr - tl) + (br - bl);
    if (along.length() < 1.0)
        return std::nullopt;
    Vec axis = along.unit();
    Vec centre = (tl + tr + bl + br) * 0.25;
    const double length = along.length() / 2.0;
    const double pixelMm = 1.0 / std::min(field.pxPerMmX(), field.pxPerMmY());

    // The rows the finder read lie inside the bars: a narrow band around the
    // middle, first over the middle half of the symbol, then over all of it.
    axis = refineAxis(field, plane, centre, axis, length / 4.0, 0.75);
    axis = refineAxis(field, plane, centre, axis, length / 2.0, 0.75);
    Vec across = axis.perpendicular();

    const double step = pixelMm / 2.0;
    const double reach = length / 2.0 + 2.0;
    const int count = int(2.0 * reach / step);
    auto lineAt = [&](double offset) { return sampleLine(field, centre - axis * reach + across * offset, axis, step, count); };

    // The bar height: as far to either side as the lines cross nearly as many
    // edges as the middle one, at the middle one's threshold: where a blurred
    // bar end is lighter than that threshold the bar has ended.
    const std::vector<float> middleLine = lineAt(0.0);
    const Extremes m = extremes(middleLine);
    const double threshold = (m.low + m.high) / 2.0, band = (m.high - m.low) / 10.0;
    const size_t middleEdges = crossings(middleLine, threshold, band).size();
    if (middleEdges < 20)
        return std::nullopt;
    auto inBars = [&](double offset) {
        return crossings(lineAt(offset), threshold, band).size() >= middleEdges * 9 / 10;
    };
    auto extent = [&](double sign) {
        double inside = 0.0, outside = 0.0;
        const double coarse = 0.25;
        for (double t = coarse;; t += coarse) {
            if (!inBars(sign * t) || t > 100.0) {
                outside = t;
                break;
            }
            inside = t;
        }
        while (outside - inside > pixelMm / 4.0) {
            const double mid = (inside + outside) / 2.0;
            (inBars(sign * mid) ? inside : outside) = mid;
        }
        return (inside + outside) / 2.0;
    };
    double up = 0.0, down = 0.0;
    auto measureHeight = [&] {
        up = extent(-1.0);
        down = extent(1.0);
        centre = centre + across * ((down - up) / 2.0);
    };
    measureHeight();

    // The axis to a hundredth of a degree, which the gradients cannot give on
    // bars a few pixels wide: an axis off by d moves each edge of a line at
    // offset o across the bars by -o tan d along it.
    for (int pass = 0; pass < 2; ++pass) {
        const double offset = 0.3 * (up + down);
        const std::vector<double> above = crossings(lineAt(-offset), threshold, band);
        const std::vector<double> below = crossings(lineAt(offset), threshold, band);
        if (above.size() != below.size() || above.size() < 20)
            break;
        double shift = 0.0;
        for (size_t k = 0; k < above.size(); ++k)
            shift += below[k] - above[k];
        const double tanError = -shift * step / double(above.size()) / (2.0 * offset);
        axis = (axis + across * tanError).unit();
        across = axis.perpendicular();
        measureHeight();
    }

    // The symbol's ends and module on the middle line.
    const std::vector<float> middle = lineAt(0.0);
    const Extremes e = extremes(middle);
    const std::vector<double> edges = crossings(middle, e.low + (e.high - e.low) / 2.0, (e.high - e.low) / 10.0);
    if (edges.size() < 20 || edges.size() % 2 != 0)
        return std::nullopt;
    // Code 128: 6 elements a character, 7 in the stop character, 11 modules
    // a character and 13 in the stop.
    const size_t elementCount = edges.size() - 1;
    const double characters = std::round((double(elementCount) - 7.0) / 6.0) + 1.0;
    const double modules = 11.0 * characters + 2.0;
    Placement placement;
    placement.axis = axis;
    placement.across = across;
    placement.centre = centre;
    placement.startMm = edges.front() * step - reach;
    placement.endMm = edges.back() * step - reach;
    placement.barHeightMm = up + down;
    placement.moduleMm = (placement.endMm - placement.startMm) / modules;

    // A run of bars no reader read is a symbol only where a start or stop
    // character stands at one of its ends; where it stands the wrong way
    // round, the symbol lies upside down.
    if (!found.read) {
        std::vector<double> elements;
        for (size_t k = 0; k + 1 < edges.size(); ++k)
            elements.push_back(edges[k + 1] - edges[k]);
        if (!hasStartOrStop(elements)) {
            std::reverse(elements.begin(), elements.end());
            if (!hasStartOrStop(elements))
                return std::nullopt;
            placement.axis = axis * -1.0;
            placement.across = placement.axis.perpendicular();
            const double start = placement.startMm;
            placement.startMm = -placement.endMm;
            placement.endMm = -start;
        }
    }
    return placement;
}

} // namespace raitakone::grading
