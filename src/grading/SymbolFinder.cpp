#include "grading/SymbolFinder.h"

#include "grading/Code128Reference.h"

#include <ZXing/ReadBarcode.h>

#include <QPolygonF>

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <optional>

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
    // Downscaled copies make the reader merge results in a way ZXing 1.4
    // asserts on; the grading needs full resolution anyway.
    hints.setTryDownscale(false);
    // One symbol a call: ZXing 1.4 aborts comparing two symbols of the same
    // text once either has been read on more than one row (two pages scanned
    // side by side), and merges two stacked ones into one. It stops at the
    // first symbol read on two rows; the others are found as runs of bars
    // and read one by one.
    hints.setMaxNumberOfSymbols(1);
    const ZXing::ImageView view(plane.constBits(), plane.width(), plane.height(), ZXing::ImageFormat::Lum,
                                int(plane.bytesPerLine()));
    // The page as it lies first; turned a quarter only where that reads
    // nothing, as a page scanned sideways does. Reading its columns takes
    // as long as its rows.
    hints.setTryRotate(false);
    ZXing::Results results = ZXing::ReadBarcodes(view, hints);
    if (std::none_of(results.begin(), results.end(), [](const ZXing::Result& r) { return r.isValid(); })) {
        hints.setTryRotate(true);
        results = ZXing::ReadBarcodes(view, hints);
    }
    std::vector<FoundSymbol> found;
    for (const ZXing::Result& r : results) {
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
    if (rows.isNull())
        throw std::bad_alloc();
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
    if (result.isNull())
        throw std::bad_alloc();
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

// Ink and paper this close are no symbol: the noise of a blank sheet, split
// in two. A symbol whose ink and paper lie 16 sRGB levels apart near white
// has a symbol contrast of about 12 %, graded F (ISO/IEC 15416 asks 20 % for
// even a D); a scanner's noise on paper, sigma up to 6 levels, parts into
// halves about 10 levels apart.
constexpr double kLeastInkContrast = 16.0;

// The grey level that parts ink from paper (Otsu's threshold): ink may cover
// only a hundredth of a page, and still stands far from the paper's values.
// None where the two parts lie too close to be ink and paper.
std::optional<int> inkThreshold(const QImage& plane, int step)
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
    double below = 0.0, belowSum = 0.0, best = -1.0, bestDifference = 0.0;
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
            bestDifference = std::fabs(difference);
            threshold = v + 1; // dark: below this
        }
    }
    if (bestDifference < kLeastInkContrast)
        return std::nullopt;
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
// Segments on neighbouring lines that overlap most of their length are one
// run of bars, kept where its middle segment looks like Code 128. place maps
// a position along a line and the line's number to the pixel it reads.
template <typename Keep, typename Place>
std::vector<FoundSymbol> cluster(const std::vector<Segment>& all, int step, Keep keep, Place place)
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
        const int ends = int(g.size()) < kMinimumRows ? 0 : keep(g[g.size() / 2]);
        if (ends == 0)
            continue;
        // The first and last lines that cross nearly the whole run: lines
        // near the bars' ends graze them, and askew ones cross only part.
        int longest = 0;
        for (const Segment& s : g)
            longest = std::max(longest, s.to - s.from);
        std::vector<const Segment*> whole;
        for (const Segment& s : g)
            if (s.to - s.from >= 0.95 * longest)
                whole.push_back(&s);
        const Segment& first = *whole[whole.size() > 2 ? 1 : 0];
        const Segment& last = *whole[whole.size() > 2 ? whole.size() - 2 : whole.size() - 1];
        const bool atEdge = std::any_of(g.begin(), g.end(), [](const Segment& s) { return s.atEdge; });
        found.push_back({place(first.from, first.line), place(first.to, first.line), place(last.to, last.line),
                         place(last.from, last.line), {}, false, atEdge, ends == 2});
    }
    return found;
}

// Runs of bars along rows (or columns) read askew by a slope: a row read
// across a long, low symbol turned by more than its height over its length
// leaves the bars before it reaches the other end.
std::vector<FoundSymbol> runsAlong(const QImage& plane, double pixelsPerMm, int threshold, double slope,
                                   bool columns)
{
    const int step = std::max(1, int(kRowSpacingMm * pixelsPerMm));
    const int gap = int(kGapMm * pixelsPerMm);
    const uchar* bits = plane.constBits();
    const qsizetype stride = plane.bytesPerLine();
    const int width = plane.width(), height = plane.height();
    // Along line `line`, position i; off the scan is paper.
    const int lengthAlong = columns ? height : width, linesAcross = columns ? width : height;
    std::vector<int> shift(static_cast<size_t>(lengthAlong));
    for (int i = 0; i < lengthAlong; ++i)
        shift[size_t(i)] = int(std::lround(i * slope));
    auto pixel = [=, shift = shift.data()](int line, int i) -> uchar {
        const int across = line + shift[i];
        const int x = columns ? across : i, y = columns ? i : across;
        return x < 0 || y < 0 || x >= width || y >= height ? 255 : bits[y * stride + x];
    };
    auto place = [=](double along, int line) {
        const double across = line + 0.5 + along * slope;
        return columns ? QPointF(across, along) : QPointF(along, across);
    };
    // How many ends of the run a start or stop character stands at, read
    // either way: a line of text or a grating has none, a run askew across a
    // symbol one.
    auto codeLike = [&](const Segment& s) {
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
        const int forward = characterEnds(elements);
        std::reverse(elements.begin(), elements.end());
        return std::max(forward, characterEnds(elements));
    };
    // Askew lines start beyond the scan's edge so that they cover it all.
    const int reach = int(std::ceil(std::fabs(slope) * lengthAlong));
    std::vector<Segment> all;
    for (Segment s : segments(linesAcross + 2 * reach, lengthAlong, step, gap, threshold,
                              [&](int line, int i) { return pixel(line - reach, i); })) {
        s.line -= reach;
        all.push_back(s);
    }
    return cluster(all, step, codeLike, place);
}

std::vector<FoundSymbol> barRuns(const QImage& plane, double pixelsPerMm, double aspect, bool askew,
                                 const std::function<bool()>& stop)
{
    // Straight first; where no run has a start and a stop character at its
    // two ends, turned by up to 15 degrees either way in steps a row of the
    // pages' symbol still crosses whole; rows, then columns. Runs with one
    // end only (a damaged symbol) are kept where nothing better is found.
    // Beside symbols ZXing read, only straight runs are looked for.
    const std::optional<int> threshold = inkThreshold(plane, std::max(1, int(kRowSpacingMm * pixelsPerMm)));
    std::vector<FoundSymbol> partial;
    if (!threshold)
        return partial;
    for (bool columns : {false, true})
        for (double degrees : {0.0, 5.0, -5.0, 10.0, -10.0, 15.0, -15.0}) {
            if (degrees != 0.0 && !askew)
                continue;
            if (stop && stop())
                return {};
            const double slope = std::tan(degrees * 3.14159265358979323846 / 180.0);
            std::vector<FoundSymbol> found =
                runsAlong(plane, pixelsPerMm, *threshold, columns ? slope / aspect : slope * aspect, columns);
            if (!askew && !found.empty())
                return found;
            if (std::any_of(found.begin(), found.end(), [](const FoundSymbol& f) { return f.whole; }))
                return found;
            if (partial.empty())
                partial = std::move(found);
        }
    return partial;
}

} // namespace

std::vector<FoundSymbol> findSymbols(const QImage& plane, double pixelsPerMm, double aspect,
                                     const std::function<bool()>& stop)
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
    // A run is a symbol already read where the read symbol's middle lies in
    // the run's bars (ZXing may have read only two of its rows), or the run's
    // middle near the read symbol.
    std::vector<QPointF> readMiddles;
    for (const FoundSymbol& s : found)
        readMiddles.push_back((s.topLeft + s.topRight + s.bottomRight + s.bottomLeft) / 4.0);
    if (stop && stop())
        return found;
    for (FoundSymbol candidate : barRuns(plane, pixelsPerMm, aspect, found.empty(), stop)) {
        if (stop && stop())
            return found;
        const QPointF centre = (candidate.topLeft + candidate.bottomRight) / 2.0;
        const QRectF bars = bounds(candidate, pixelsPerMm);
        if (std::any_of(taken.begin(), taken.end(), [&](const QRectF& r) { return r.contains(centre); }) ||
            std::any_of(readMiddles.begin(), readMiddles.end(), [&](const QPointF& m) { return bars.contains(m); }))
            continue;
        const QRect around = bounds(candidate, kQuietZoneMm * pixelsPerMm).toAlignedRect() & plane.rect();
        const QImage part = plane.copy(around);
        if (part.isNull())
            throw std::bad_alloc();
        // As scanned first; then spread, radius 1 to 3.
        for (int radius = 0; radius <= 3 && !candidate.read; ++radius)
            for (bool light : {true, false}) {
                if (radius == 0 && !light)
                    continue;
                const std::vector<FoundSymbol> read = readSymbols(radius == 0 ? part : spread(part, radius, light));
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
        readMiddles.push_back(centre);
        found.push_back(candidate);
    }
    return found;
}

} // namespace raitakone::grading
