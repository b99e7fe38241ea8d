#pragma once

// Grading a scan of a page that may carry its mark: the mark says which
// page it is and at what resolution it was printed, which gives the bar
// gain in printer pixels when no resolution is given; a ladder sheet is
// graded rung by rung. It stands above the symbol's grading and the
// ladder, and brings them together with the mark.

#include "grading/Grading.h"

namespace raitakone::grading {

GradeResult gradePage(const Scan& scan, GradeOptions options);

// gradePage, with memory running out said as such (BadInput with a Finnish
// message naming the scan's size), never as a property of the scan.
GradeResult gradePageWithinMemory(const Scan& scan, const GradeOptions& options);

} // namespace raitakone::grading
