#include "support/PageProbe.h"

#include "pattern/BarPattern.h"

#include <algorithm>

namespace raitakone::testing {

bool isInk(const PageRaster& page, int x, int y) { return page.pixel(x, y) != kWhite; }

namespace {

// Runs of consecutive positions from .. to - 1 where inked(position) holds.
template <typename Inked>
std::vector<Run> runsWhere(int from, int to, Inked inked)
{
    std::vector<Run> runs;
    for (int i = from; i < to; ++i) {
        if (!inked(i))
            continue;
        if (!runs.empty() && runs.back().end == i)
            runs.back().end = i + 1;
        else
            runs.push_back({i, i + 1});
    }
    return runs;
}

} // namespace

std::vector<Run> darkRunsOnRow(const PageRaster& page, int row, int from, int to)
{
    return runsWhere(from, to < 0 ? page.width() : to, [&](int x) { return isInk(page, x, row); });
}

std::vector<Run> darkRunsInColumn(const PageRaster& page, int column, int from, int to)
{
    return runsWhere(from, to < 0 ? page.height() : to, [&](int y) { return isInk(page, column, y); });
}

std::optional<Run> inkSpanOnRow(const PageRaster& page, int row)
{
    const QImage& image = page.image();
    const int width = image.width();
    if (image.format() != QImage::Format_Mono) {
        std::optional<Run> span;
        for (int x = 0; x < width; ++x)
            if (isInk(page, x, row)) {
                if (!span)
                    span = Run{x, x + 1};
                span->end = x + 1;
            }
        return span;
    }
    const uchar* bits = image.constScanLine(row);
    const int bytes = (width + 7) / 8;
    auto byteAt = [&](int b) {
        uchar value = bits[b];
        if (b == bytes - 1 && width % 8 != 0)
            value &= uchar(0xFF << (8 - width % 8)); // padding bits are not pixels
        return value;
    };
    int first = 0;
    while (first < bytes && byteAt(first) == 0)
        ++first;
    if (first == bytes)
        return std::nullopt;
    int last = bytes - 1;
    while (byteAt(last) == 0)
        --last;
    int left = first * 8;
    while (!(byteAt(first) & (0x80 >> (left % 8))))
        ++left;
    int right = last * 8 + 7;
    while (!(byteAt(last) & (0x80 >> (right % 8))))
        --right;
    return Run{left, right + 1};
}

std::vector<Run> inkBands(const PageRaster& page, int from, int to)
{
    return runsWhere(from, to < 0 ? page.height() : to, [&](int y) { return inkSpanOnRow(page, y).has_value(); });
}

long inkPixelCount(const PageRaster& page)
{
    long count = 0;
    if (page.isBilevel()) {
        // Rows are padded to 32 bits and the padding is kept clear.
        const QImage& image = page.image();
        for (int y = 0; y < image.height(); ++y) {
            const uchar* row = image.constScanLine(y);
            for (qsizetype b = 0; b < image.bytesPerLine(); ++b)
                count += __builtin_popcount(row[b]);
        }
        return count;
    }
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            count += isInk(page, x, y);
    return count;
}

std::vector<Run> expectedPatternRuns(int left, int w)
{
    std::vector<Run> runs;
    for (int i = 1; i <= kModuleCount; ++i) {
        if (!isDark(i))
            continue;
        const int start = std::max(0, left + (i - 1) * w);
        const int end = left + i * w;
        if (end <= start)
            continue;
        if (!runs.empty() && runs.back().end == start)
            runs.back().end = end;
        else
            runs.push_back({start, end});
    }
    return runs;
}

} // namespace raitakone::testing
