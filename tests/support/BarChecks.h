#pragma once

// Checks shared by the suites of pages that draw one zero-width box per dark
// module: the Line calls recorded at the surface, and the bars on the page.

#include "pattern/BarPattern.h"
#include "support/Decode.h"
#include "support/PageProbe.h"
#include "surface/Surface.h"

#include <gtest/gtest.h>

#include <vector>

namespace raitakone::testing {

// 166 Line calls, all of the given flags with Color 0, the one for dark
// module i at X1 = X2 = x0 + (i - 1) * w (in single precision), from y1 to y2.
inline void expectModuleBarCalls(const std::vector<SurfaceEvent>& lines, int flags, float x0, float w, float y1,
                                 float y2)
{
    ASSERT_EQ(lines.size(), 166u);
    size_t k = 0;
    int wrong = 0;
    for (int i = 1; i <= kModuleCount; ++i) {
        if (!isDark(i))
            continue;
        const std::vector<double>& v = lines[k++].values;
        const bool right = v[0] == flags && v[5] == 0 && float(v[1]) == x0 + float(i - 1) * w && v[3] == v[1]
                           && v[2] == y1 && v[4] == y2;
        if (!right && wrong++ < 3)
            ADD_FAILURE() << "module " << i << ": Line " << v[0] << ", " << v[1] << ", " << v[2] << ", " << v[3]
                          << ", " << v[4] << ", " << v[5];
    }
    EXPECT_EQ(wrong, 0) << "calls off their module";
}

// Every dark module w pixels wide from column left + (i - 1) * w (clipped at
// the left edge) over rows top .. bottom and nowhere above or below; the
// symbol decodes. Returns the bars' region of the page.
inline QImage expectModuleBars(const PageRaster& page, int left, int w, int top, int bottom)
{
    const std::vector<Run> runs = expectedPatternRuns(left, w);
    EXPECT_TRUE(darkRunsOnRow(page, top - 1).empty()) << "row " << top - 1;
    for (int row : {top, (top + bottom) / 2, bottom})
        EXPECT_EQ(darkRunsOnRow(page, row), runs) << "row " << row;
    EXPECT_TRUE(darkRunsOnRow(page, bottom + 1).empty()) << "row " << bottom + 1;
    const QImage bars = page.image().copy(0, top, runs.back().end + w, bottom - top + 1);
    EXPECT_EQ(decodeCode128(bars), kPatternDigits);
    return bars;
}

} // namespace raitakone::testing
