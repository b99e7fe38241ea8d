#include "grading/SymbolFinder.h"

#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <array>

namespace raitakone::grading {
namespace {

constexpr double kRowSpacingMm = 0.5;
constexpr double kGapMm = 2.0;    // a light run this long ends a run of bars
constexpr int kMinimumBars = 20;  // three Code 128 characters and the stop
constexpr int kMinimumRows = 3;

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
};

// The grey level halfway between paper and ink: the 2nd and 98th percentile.
int midGrey(const QImage& plane, int step)
{
    std::array<long, 256> histogram{};
    long total = 0;
    for (int y = 0; y < plane.height(); y += step) {
        const uchar* row = plane.constScanLine(y);
        for (int x = 0; x < plane.width(); ++x)
            ++histogram[row[x]];
        total += plane.width();
    }
    auto percentile = [&](double p) {
        long seen = 0;
        for (int v = 0; v < 256; ++v)
            if ((seen += histogram[size_t(v)]) >= p * total)
                return v;
        return 255;
    };
    return (percentile(0.02) + percentile(0.98)) / 2;
}

template <typename Pixel>
std::vector<Segment> segments(int lines, int length, int step, int gap, int threshold, Pixel pixel)
{
    std::vector<Segment> found;
    for (int line = 0; line < lines; line += step) {
        int bars = 0, from = -1, lastDark = -1;
        auto close = [&] {
            if (bars >= kMinimumBars)
                found.push_back({line, from, lastDark + 1});
            bars = 0;
            from = -1;
        };
        bool wasDark = false;
        for (int i = 0; i < length; ++i) {
            const bool dark = pixel(line, i) < threshold;
            if (dark) {
                if (from >= 0 && i - lastDark - 1 > gap)
                    close();
                if (from < 0)
                    from = i;
                if (!wasDark)
                    ++bars;
                lastDark = i;
            }
            wasDark = dark;
        }
        if (from >= 0 && length - lastDark - 1 > gap)
            close();
    }
    return found;
}

// Segments on neighbouring lines that overlap most of their length are one
// symbol; its first and last segments make its corners.
std::vector<FoundSymbol> cluster(std::vector<Segment> all, int step, bool columns)
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
        if (int(g.size()) < kMinimumRows)
            continue;
        // Leave out the first and last line, which may graze the bars' ends.
        const Segment& first = g[1];
        const Segment& last = g[g.size() - 2];
        auto point = [columns](double along, double line) {
            return columns ? QPointF(line + 0.5, along) : QPointF(along, line + 0.5);
        };
        found.push_back({point(first.from, first.line), point(first.to, first.line), point(last.to, last.line),
                         point(last.from, last.line), {}, false});
    }
    return found;
}

std::vector<FoundSymbol> barRuns(const QImage& plane, double pixelsPerMm)
{
    const int step = std::max(1, int(kRowSpacingMm * pixelsPerMm));
    const int gap = int(kGapMm * pixelsPerMm);
    const int threshold = midGrey(plane, step);
    auto rowPixel = [&](int y, int x) { return plane.constScanLine(y)[x]; };
    auto columnPixel = [&](int x, int y) { return plane.constScanLine(y)[x]; };
    std::vector<FoundSymbol> found =
        cluster(segments(plane.height(), plane.width(), step, gap, threshold, rowPixel), step, false);
    if (found.empty())
        found = cluster(segments(plane.width(), plane.height(), step, gap, threshold, columnPixel), step, true);
    return found;
}

} // namespace

std::vector<FoundSymbol> findSymbols(const QImage& plane, double pixelsPerMm)
{
    std::vector<FoundSymbol> found = readSymbols(plane);
    // Bars spread until the narrow spaces almost close (or thinned until the
    // narrow bars almost vanish): ZXing reads them on a copy where light (or
    // ink) spreads back. The position is the same; the measuring is done on
    // the scan itself.
    for (int radius = 1; found.empty() && radius <= 3; ++radius)
        for (bool light : {true, false}) {
            found = readSymbols(spread(plane, radius, light));
            if (!found.empty())
                break;
        }
    if (found.empty())
        found = barRuns(plane, pixelsPerMm);
    return found;
}

} // namespace raitakone::grading
