#include "grading/ProfileElements.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace raitakone::grading {
namespace {

// Where the profile crosses level between samples a and b, the crossing
// nearest `near` where it crosses more than once.
double levelCrossing(const std::vector<float>& p, size_t a, size_t b, double level, double near)
{
    if (a > b)
        std::swap(a, b);
    double best = near, bestDistance = std::numeric_limits<double>::infinity();
    for (size_t i = a; i < b; ++i) {
        const double u = p[i] - level, v = p[i + 1] - level;
        if ((u < 0.0) == (v < 0.0) && u != 0.0)
            continue;
        const double at = double(i) + (u == v ? 0.5 : u / (u - v));
        if (std::fabs(at - near) < bestDistance) {
            bestDistance = std::fabs(at - near);
            best = at;
        }
    }
    return best;
}

} // namespace

std::vector<double> crossings(const std::vector<float>& profile, double threshold, double band)
{
    std::vector<double> result;
    if (profile.empty())
        return result;
    bool dark = profile[0] < threshold;
    size_t last = 0; // last sample on the current side
    for (size_t i = 1; i < profile.size(); ++i) {
        const bool nowDark = profile[i] < threshold;
        if (nowDark == dark) {
            last = i;
            continue;
        }
        if (band > 0.0 && std::fabs(profile[i] - threshold) < band)
            continue;
        // Interpolate between the last sample on the old side and the first
        // sample beyond the threshold after it.
        size_t j = last + 1;
        while ((profile[j] < threshold) == dark)
            ++j;
        const double a = profile[j - 1], b = profile[j];
        result.push_back(double(j - 1) + (a == b ? 0.5 : (threshold - a) / (b - a)));
        dark = nowDark;
        last = i;
    }
    return result;
}

ProfileElements profileElements(const std::vector<float>& profile, double gt)
{
    ProfileElements result;
    if (profile.empty())
        return result;
    const std::vector<double> atGt = crossings(profile, gt);
    std::vector<size_t> bounds{0};
    for (double c : atGt)
        bounds.push_back(size_t(std::ceil(c)));
    bounds.push_back(profile.size());
    bool dark = profile.front() < gt;
    for (size_t k = 0; k + 1 < bounds.size(); ++k, dark = !dark) {
        Element e;
        e.dark = dark;
        e.from = bounds[k];
        e.to = std::min(std::max(bounds[k + 1], e.from + 1), profile.size());
        const auto begin = profile.begin() + long(e.from), end = profile.begin() + long(e.to);
        const auto extreme = dark ? std::min_element(begin, end) : std::max_element(begin, end);
        e.extreme = *extreme;
        e.extremeAt = size_t(extreme - profile.begin());
        result.elements.push_back(e);
    }
    // Each edge between the two elements' extremes, at their midpoint.
    for (size_t k = 0; k < atGt.size(); ++k) {
        const Element& a = result.elements[k];
        const Element& b = result.elements[k + 1];
        result.edges.push_back(levelCrossing(profile, a.extremeAt, b.extremeAt, (a.extreme + b.extreme) / 2.0, atGt[k]));
    }
    return result;
}

double elementNonUniformity(const std::vector<float>& p, size_t from, size_t to, double turn)
{
    // The profile must fall (or rise) by `turn` on each side of a peak (or
    // valley) before it passes the peak's (valley's) own value or the element ends.
    auto turnsOnBothSides = [&](size_t i, bool peak) {
        auto side = [&](int direction) {
            float furthest = p[i];
            for (long j = long(i) + direction; j >= long(from) && j < long(to); j += direction) {
                const float v = p[size_t(j)];
                if (peak ? v > p[i] : v < p[i])
                    break;
                furthest = peak ? std::min(furthest, v) : std::max(furthest, v);
                if (std::fabs(p[i] - furthest) >= turn)
                    return true;
            }
            return false;
        };
        return side(-1) && side(1);
    };
    float highestPeak = -std::numeric_limits<float>::infinity();
    float lowestValley = std::numeric_limits<float>::infinity();
    for (size_t i = from + 1; i + 1 < to; ++i) {
        if (p[i] >= p[i - 1] && p[i] >= p[i + 1] && p[i] > highestPeak && turnsOnBothSides(i, true))
            highestPeak = p[i];
        if (p[i] <= p[i - 1] && p[i] <= p[i + 1] && p[i] < lowestValley && turnsOnBothSides(i, false))
            lowestValley = p[i];
    }
    return std::isfinite(highestPeak) && std::isfinite(lowestValley) ? std::max(0.0f, highestPeak - lowestValley)
                                                                     : 0.0;
}

} // namespace raitakone::grading
