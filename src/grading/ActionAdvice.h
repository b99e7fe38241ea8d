#pragma once

// One plain sentence of what to do about a graded symbol, for someone who
// knows nothing of barcodes: what the grade means for use, whether the way
// the page was drawn or the printer and its paper is the cause, and the next
// step.

#include "grading/Grading.h"

#include <QString>

namespace raitakone::grading {

// The least grade retail and logistics ask of a printed symbol: GS1's
// quality tables for retail and logistics symbols set 1.5/06/660, grade C.
inline constexpr double kLeastUsableGrade = 1.5;

QString actionAdvice(const SymbolGrade& symbol);

} // namespace raitakone::grading
