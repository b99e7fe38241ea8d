#include "ladder/RungBands.h"

#include <algorithm>
#include <cmath>

namespace raitakone::ladder {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kGapMm = 2.0;         // a light run this long ends a run of bars
constexpr double kMinRunMm = 60.0;     // a run of bars as long as a rung's symbol, about
constexpr int kMinBars = 40;
constexpr double kMinBandMm = 6.0;     // taller than any line of text
constexpr double kRowGapMm = 0.5;      // rows this close part of one band

// Whether the row crosses a run of at least kMinBars bars, kMinRunMm long,
// with no light run longer than kGapMm inside it.
bool crossesBars(const uchar* row, int width, int threshold, int gap, int minRun)
{
    int bars = 0, from = -1, lastDark = -1;
    bool wasDark = false;
    for (int x = 0; x < width; ++x) {
        const bool dark = row[x] < threshold;
        if (dark) {
            if (from >= 0 && x - lastDark - 1 > gap)
                bars = 0, from = -1;
            if (from < 0)
                from = x;
            if (!wasDark)
                ++bars;
            lastDark = x;
            if (bars >= kMinBars && lastDark - from >= minRun)
                return true;
        }
        wasDark = dark;
    }
    return false;
}

} // namespace

std::vector<RowBand> rungBands(const QImage& plane, double dpiX, double dpiY, double marginMm)
{
    int darkest = 255, lightest = 0;
    for (int y = 0; y < plane.height(); y += 4) {
        const uchar* row = plane.constScanLine(y);
        for (int x = 0; x < plane.width(); x += 4) {
            darkest = std::min<int>(darkest, row[x]);
            lightest = std::max<int>(lightest, row[x]);
        }
    }
    const int threshold = (darkest + lightest + 1) / 2;
    const int gap = int(kGapMm * dpiX / kMmPerInch);
    const int minRun = int(kMinRunMm * dpiX / kMmPerInch);
    const int rowGap = std::max(1, int(kRowGapMm * dpiY / kMmPerInch));
    const int minBand = int(kMinBandMm * dpiY / kMmPerInch);
    const int margin = int(marginMm * dpiY / kMmPerInch);

    std::vector<RowBand> bands;
    int top = -1, last = -1;
    const auto close = [&] {
        if (top >= 0 && last + 1 - top >= minBand)
            bands.push_back({std::max(0, top - margin), std::min(plane.height(), last + 1 + margin)});
        top = -1;
    };
    for (int y = 0; y < plane.height(); ++y) {
        if (!crossesBars(plane.constScanLine(y), plane.width(), threshold, gap, minRun))
            continue;
        if (top >= 0 && y - last > rowGap)
            close();
        if (top < 0)
            top = y;
        last = y;
    }
    close();
    return bands;
}

} // namespace raitakone::ladder
