#pragma once

// The parameters of one scan reflectance profile (ISO/IEC 15416): Rmin,
// Rmax, SC, ECmin, MOD, Defects, the reference decode and decodability, and
// the grade of the scan line.

#include "grading/Code128Reference.h"
#include "grading/Grading.h"

#include <vector>

namespace raitakone::grading {

struct LineMeasurement {
    ScanLine line;
    std::vector<double> edgesMm; // every element edge along the line
    std::vector<float> profile;
    ReferenceDecode decode;
};

LineMeasurement measureLine(const std::vector<float>& profile, double stepMm);

} // namespace raitakone::grading
