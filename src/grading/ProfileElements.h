#pragma once

// The elements of one scan reflectance profile. Bars and spaces are told
// apart by the global threshold GT; each edge between two elements lies
// where the profile crosses the midpoint of those two elements'
// reflectances, (Rs + Rb) / 2, as ISO/IEC 15416 places element edges.

#include <cstddef>
#include <vector>

namespace raitakone::grading {

struct Element {
    bool dark = false;
    size_t from = 0, to = 0; // samples [from, to), between the GT crossings
    float extreme = 0.0f;    // lowest reflectance of a bar, highest of a space
    size_t extremeAt = 0;
};

struct ProfileElements {
    std::vector<Element> elements; // along the line, the quiet zones included
    std::vector<double> edges;     // in samples; edges[k] parts elements[k] and [k + 1]
};

ProfileElements profileElements(const std::vector<float>& profile, double gt);

// Positions (in samples) where the profile crosses the threshold; between
// two crossings the profile must have moved past the threshold by the band.
std::vector<double> crossings(const std::vector<float>& profile, double threshold, double band = 0.0);

// Element reflectance non-uniformity of samples [from, to): the highest peak
// less the lowest valley inside them, 0 without both. A peak or valley is a
// turn of the profile by at least `turn` on both of its sides, so that the
// slope into an edge is never one.
double elementNonUniformity(const std::vector<float>& profile, size_t from, size_t to, double turn);

} // namespace raitakone::grading
