#pragma once

// The ladder's answer: each graded symbol put on the rung it stands on, the
// printer's ink spread from the rungs that decoded, and the reduction with
// the best grade, in one Finnish sentence.

#include "grading/Grading.h"
#include "grading/LadderGrade.h"
#include "marking/PageIdentity.h"

#include <vector>

namespace raitakone::ladder {

// Within this much of the best grade, rungs count as equally good and the
// one whose bars come out nearest their ideal width wins.
inline constexpr double kGradeTie = 0.1;

// page: the ladder sheet's mark, whose rungs list its reductions top to
// bottom. Symbols are placed on rungs by where they stand down the page;
// the top rung found is taken for the top rung of the sheet when some are
// missing.
LadderGrade gradeLadder(const std::vector<grading::SymbolGrade>& symbols, const marking::PageIdentity& page);

// The recommendation sentence, from the rungs, spread and recommendation.
QString recommendationSentence(const LadderGrade& ladder);

} // namespace raitakone::ladder
