#include "grading/SymbolFinder.h"

#include "grading/Code128Reference.h"

#include <ZXing/ReadBarcode.h>

#include <QPolygonF>

#include <algorithm>
#include <array>

namespace raitakone::grading {
namespace {

constexpr double kRowSpacingMm = 0.5;
constexpr double kGapMm = 2.0;    // a light run this long ends a run of bars
constexpr int kMinimumBars = 20;  // a start, four characters and the stop have 22
constexpr int kMinimumRows = 3;
constexpr double kOverlapMm = 5.0;     // runs of bars this near a read symbol are that symbol
constexpr double kQuietZoneMm = 12.0;  // what is read around a run of bars

std::vector<FoundSymbol> readSymbols(const QImage& plane)
{
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::Code128);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    // Downscaled copies make the reader merge results in a way ZXing 1.4
    // asserts on; the grading needs full resolution anyway.
    hints.setTryDownscale(false);
    const ZXing::ImageView view(plane.constBits(), plane.width(), plane.height(), ZXing::ImageFormat::Lum,
                                int(plane.bytesPerLine()));
    std::vector<FoundSymbol> found;
    for (const ZXing::Result& r : ZXing::ReadBarcodes(view, hints)) {
        if (!r.isValid())
            continue;
        const auto& q = r.position();
        auto point = [](const ZXing::PointI& p) { return QPointF(p.x + 0.5, p.y + 0.5); };
        found.push_back({point(q.topLeft()), point(q.topRight()), point(q.bottomRight()), point(q.bottomLeft()),
                         r.text(), true});
    }
    return found;
}

// The lightest (or darkest) value within radius pixels, in both directions:
// light spreads into the bars (or ink into the spaces) by radius pixels a side.
QImage spread(const QImage& plane, int radius, bool light)
{
    auto pick = [light](uchar a, uchar b) { return light ? std::max(a, b) : std::min(a, b); };
    QImage rows(plane.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < plane.height(); ++y) {
        const uchar* in = plane.constScanLine(y);
        uchar* out = rows.scanLine(y);
        for (int x = 0; x < plane.width(); ++x) {
            uchar v = in[x];
            for (int k = std::max(0, x - radius); k <= std::min(plane.width() - 1, x + radius); ++k)
                v = pick(v, in[k]);
            out[x] = v;
        }
    }
    QImage result(plane.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < plane.height(); ++y) {
        uchar* out = result.scanLine(y);
        std::copy_n(rows.constScanLine(y), plane.width(), out);
        for (int k = std::max(0, y - radius); k <= std::min(plane.height() - 1, y + radius); ++k) {
            const uchar* in = rows.constScanLine(k);
            for (int x = 0; x < plane.width(); ++x)
                out[x] = pick(out[x], in[x]);
        }
    }
    return result;
}

// A run of at least kMinimumBars bars on one row (or column), no light run
// inside it longer than kGapMm.
struct Segment {
    int line;
    int from, to; // first dark pixel, one past the last
    bool atEdge;  // less than a gap from the line's start or end
};

// The grey level that parts ink from paper (Otsu's threshold): ink may cover
// only a hundredth of a page, and still stands far from the paper's values.
int inkThreshold(const QImage& plane, int step)
{
    std::array<double, 256> histogram{};
    double total = 0.0, sum = 0.0;
    for (int y = 0; y < plane.height(); y += step) {
        const uchar* row = plane.constScanLine(y);
        for (int x = 0; x < plane.width(); ++x)
            ++histogram[row[x]];
    }
    for (int v = 0; v < 256; ++v) {
        total += histogram[size_t(v)];
        sum += v * histogram[size_t(v)];
    }
    double below = 0.0, belowSum = 0.0, best = -1.0;
    int threshold = 128;
    for (int v = 0; v < 255; ++v) {
        below += histogram[size_t(v)];
        belowSum += v * histogram[size_t(v)];
        const double above = total - below;
        if (below == 0.0 || above == 0.0)
            continue;
        const double difference = belowSum / below - (sum - belowSum) / above;
        const double between = below * above * difference * difference;
        if (between > best) {
            best = between;
            threshold = v + 1; // dark: below this
        }
    }
    return threshold;
}

template <typename Pixel>
std::vector<Segment> segments(int lines, int length, int step, int gap, int threshold, Pixel pixel)
{
    std::vector<Segment> found;
    for (int line = 0; line < lines; line += step) {
        int bars = 0, from = -1, lastDark = -1;
        auto close = [&](bool atEnd) {
            if (bars >= kMinimumBars)
                found.push_back({line, from, lastDark + 1, atEnd || from <= gap});
            bars = 0;
            from = -1;
        };
        bool wasDark = false;
        for (int i = 0; i < length; ++i) {
            const bool dark = pixel(line, i) < threshold;
            if (dark) {
                if (from >= 0 && i - lastDark - 1 > gap)
                    close(false);
                if (from < 0)
                    from = i;
                if (!wasDark)
                    ++bars;
                lastDark = i;
            }
            wasDark = dark;
        }
        if (from >= 0)
            close(length - lastDark - 1 <= gap);
    }
    return found;
}

// Segments on neighbouring lines that overlap most of their length are one
// run of bars, kept where its middle segment looks like Code 128.
template <typename Keep>
std::vector<FoundSymbol> cluster(const std::vector<Segment>& all, int step, bool columns, Keep keep)
{
    std::vector<std::vector<Segment>> groups;
    for (const Segment& s : all) {
        bool joined = false;
        for (auto& g : groups) {
            const Segment& last = g.back();
            const int overlap = std::min(last.to, s.to) - std::max(last.from, s.from);
            if (s.line - last.line <= step && overlap > 0.8 * std::max(last.to - last.from, s.to - s.from)) {
                g.push_back(s);
                joined = true;
                break;
            }
        }
        if (!joined)
            groups.push_back({s});
    }
    std::vector<FoundSymbol> found;
    for (const auto& g : groups) {
        if (int(g.size()) < kMinimumRows || !keep(g[g.size() / 2]))
            continue;
        // Leave out the first and last line, which may graze the bars' ends.
        const Segment& first = g[1];
        const Segment& last = g[g.size() - 2];
        auto point = [columns](double along, double line) {
            return columns ? QPointF(line + 0.5, along) : QPointF(along, line + 0.5);
        };
        const bool atEdge = std::any_of(g.begin(), g.end(), [](const Segment& s) { return s.atEdge; });
        found.push_back({point(first.from, first.line), point(first.to, first.line), point(last.to, last.line),
                         point(last.from, last.line), {}, false, atEdge});
    }
    return found;
}

std::vector<FoundSymbol> barRuns(const QImage& plane, double pixelsPerMm)
{
    const int step = std::max(1, int(kRowSpacingMm * pixelsPerMm));
    const int gap = int(kGapMm * pixelsPerMm);
    const int threshold = inkThreshold(plane, step);
    const uchar* bits = plane.constBits();
    const qsizetype stride = plane.bytesPerLine();
    auto rowPixel = [=](int y, int x) { return bits[y * stride + x]; };
    auto columnPixel = [=](int x, int y) { return bits[y * stride + x]; };
    // A line of text, a grating: runs without a start or stop character at
    // either end.
    auto codeLike = [&](auto pixel) {
        return [&, pixel](const Segment& s) {
            std::vector<double> elements;
            bool dark = true;
            for (int i = s.from; i < s.to; ++i) {
                if ((pixel(s.line, i) < threshold) != dark || elements.empty()) {
                    if (!elements.empty())
                        dark = !dark;
                    elements.push_back(0.0);
                }
                ++elements.back();
            }
            if (hasStartOrStop(elements))
                return true;
            std::reverse(elements.begin(), elements.end());
            return hasStartOrStop(elements);
        };
    };
    std::vector<FoundSymbol> found = cluster(segments(plane.height(), plane.width(), step, gap, threshold, rowPixel),
                                             step, false, codeLike(rowPixel));
    if (found.empty())
        found = cluster(segments(plane.width(), plane.height(), step, gap, threshold, columnPixel), step, true,
                        codeLike(columnPixel));
    return found;
}

} // namespace

std::vector<FoundSymbol> findSymbols(const QImage& plane, double pixelsPerMm)
{
    std::vector<FoundSymbol> found = readSymbols(plane);
    auto bounds = [](const FoundSymbol& s, double margin) {
        const QPolygonF corners{s.topLeft, s.topRight, s.bottomRight, s.bottomLeft};
        return corners.boundingRect().adjusted(-margin, -margin, margin, margin);
    };
    std::vector<QRectF> taken;
    for (const FoundSymbol& s : found)
        taken.push_back(bounds(s, kOverlapMm * pixelsPerMm));

    // Runs of bars ZXing did not read. Bars spread until the narrow spaces
    // almost close (or thinned until the narrow bars almost vanish) are read
    // on a copy of their surroundings where light (or ink) spreads back; the
    // position is the same, and the measuring is done on the scan itself.
    for (FoundSymbol candidate : barRuns(plane, pixelsPerMm)) {
        const QPointF centre = (candidate.topLeft + candidate.bottomRight) / 2.0;
        if (std::any_of(taken.begin(), taken.end(), [&](const QRectF& r) { return r.contains(centre); }))
            continue;
        const QRect around = bounds(candidate, kQuietZoneMm * pixelsPerMm).toAlignedRect() & plane.rect();
        const QImage part = plane.copy(around);
        for (int radius = 1; radius <= 3 && !candidate.read; ++radius)
            for (bool light : {true, false}) {
                const std::vector<FoundSymbol> read = readSymbols(spread(part, radius, light));
                if (read.size() != 1)
                    continue;
                const QPointF offset = around.topLeft();
                candidate = read.front();
                candidate.topLeft += offset;
                candidate.topRight += offset;
                candidate.bottomRight += offset;
                candidate.bottomLeft += offset;
                break;
            }
        taken.push_back(bounds(candidate, kOverlapMm * pixelsPerMm));
        found.push_back(candidate);
    }
    return found;
}

} // namespace raitakone::grading
