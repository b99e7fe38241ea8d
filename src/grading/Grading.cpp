#include "grading/Grading.h"

#include "grading/Code128Reference.h"
#include "grading/SymbolFinder.h"
#include "pattern/BarPattern.h"


#include <QPolygonF>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace raitakone::grading {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kPi = 3.14159265358979323846;
constexpr double kQuietZoneModules = 10.0;
constexpr double kSamplesPerModule = 10.0;
constexpr double kEdgeMarginMm = 3.0; // a symbol this near the scan's edge has no room for its quiet zones
constexpr double kLineOverrunModules = 1.0; // scan lines reach this far past the quiet zones

struct Vec {
    double x = 0.0, y = 0.0;
    Vec operator+(Vec o) const { return {x + o.x, y + o.y}; }
    Vec operator-(Vec o) const { return {x - o.x, y - o.y}; }
    Vec operator*(double k) const { return {x * k, y * k}; }
    double dot(Vec o) const { return x * o.x + y * o.y; }
    double length() const { return std::hypot(x, y); }
    Vec unit() const { return *this * (1.0 / length()); }
    Vec perpendicular() const { return {-y, x}; }
};

// The scan as reflectance, addressed in millimetres.
class ReflectanceField {
public:
    ReflectanceField(const Scan& scan, bool linear)
        : bits_(scan.plane.constBits()), stride_(scan.plane.bytesPerLine()), width_(scan.plane.width()),
          height_(scan.plane.height()), pxPerMmX_(scan.dpiX / kMmPerInch), pxPerMmY_(scan.dpiY / kMmPerInch)
    {
        for (int v = 0; v < 256; ++v)
            lut_[size_t(v)] = float(linear ? v * 100.0 / 255.0 : srgbToReflectance(v));
    }

    bool contains(Vec mm) const
    {
        return mm.x >= 0.0 && mm.y >= 0.0 && mm.x * pxPerMmX_ <= width_ && mm.y * pxPerMmY_ <= height_;
    }
    double pxPerMmX() const { return pxPerMmX_; }
    double pxPerMmY() const { return pxPerMmY_; }
    Vec toMm(double px, double py) const { return {px / pxPerMmX_, py / pxPerMmY_}; }

    float pixel(int x, int y) const
    {
        x = std::clamp(x, 0, width_ - 1);
        y = std::clamp(y, 0, height_ - 1);
        return lut_[bits_[y * stride_ + x]];
    }

    // Bilinear reflectance at a point in millimetres.
    float at(Vec mm) const
    {
        const double px = mm.x * pxPerMmX_ - 0.5;
        const double py = mm.y * pxPerMmY_ - 0.5;
        const int x0 = int(std::floor(px));
        const int y0 = int(std::floor(py));
        const float fx = float(px - x0);
        const float fy = float(py - y0);
        const float top = pixel(x0, y0) * (1 - fx) + pixel(x0 + 1, y0) * fx;
        const float bottom = pixel(x0, y0 + 1) * (1 - fx) + pixel(x0 + 1, y0 + 1) * fx;
        return top * (1 - fy) + bottom * fy;
    }

private:
    const uchar* bits_;
    qsizetype stride_;
    int width_;
    int height_;
    double pxPerMmX_;
    double pxPerMmY_;
    std::array<float, 256> lut_{};
};

// A circular aperture as points spread evenly over its disc.
std::vector<Vec> apertureDisc(double diameterMm, double pixelMm)
{
    const double radius = diameterMm / 2.0;
    const double spacing = std::min(diameterMm / 8.0, pixelMm);
    const int n = int(std::ceil(radius / spacing));
    std::vector<Vec> points;
    for (int i = -n; i <= n; ++i)
        for (int j = -n; j <= n; ++j) {
            const Vec p{i * spacing, j * spacing};
            if (p.length() <= radius)
                points.push_back(p);
        }
    if (points.empty())
        points.push_back({});
    return points;
}

std::vector<float> sampleLine(const ReflectanceField& field, Vec from, Vec direction, double stepMm, int count,
                              const std::vector<Vec>& disc = {})
{
    std::vector<float> profile(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const Vec p = from + direction * (i * stepMm);
        if (disc.empty()) {
            profile[size_t(i)] = field.at(p);
            continue;
        }
        float sum = 0.0f;
        for (const Vec& d : disc)
            sum += field.at(p + d);
        profile[size_t(i)] = sum / float(disc.size());
    }
    return profile;
}

// Positions (in samples) where the profile crosses the threshold; between
// two crossings the profile must have moved past the threshold by the band.
std::vector<double> crossings(const std::vector<float>& profile, double threshold, double band = 0.0)
{
    std::vector<double> result;
    if (profile.empty())
        return result;
    bool dark = profile[0] < threshold;
    size_t last = 0; // last sample on the current side
    for (size_t i = 1; i < profile.size(); ++i) {
        const bool nowDark = profile[i] < threshold;
        if (nowDark == dark) {
            last = i;
            continue;
        }
        if (band > 0.0 && std::fabs(profile[i] - threshold) < band)
            continue;
        // Interpolate between the last sample on the old side and the first
        // sample beyond the threshold after it.
        size_t j = last + 1;
        while ((profile[j] < threshold) == dark)
            ++j;
        const double a = profile[j - 1], b = profile[j];
        result.push_back(double(j - 1) + (a == b ? 0.5 : (threshold - a) / (b - a)));
        dark = nowDark;
        last = i;
    }
    return result;
}

struct Extremes {
    float low = 0.0f, high = 0.0f;
};

Extremes extremes(const std::vector<float>& profile)
{
    const auto [lo, hi] = std::minmax_element(profile.begin(), profile.end());
    return {*lo, *hi};
}

// The largest peak-to-valley difference inside one element: for a light
// element the deepest valley below the lower of the highest points on its
// two sides, for a dark element the highest peak above the higher of the
// lowest points on its two sides. A profile sloping towards an edge has none.
double elementNonUniformity(const std::vector<float>& p, size_t from, size_t to, bool dark)
{
    if (to <= from + 2)
        return 0.0;
    const size_t n = to - from;
    std::vector<float> before(n), after(n);
    for (size_t i = 0; i < n; ++i) {
        const float v = p[from + i];
        before[i] = i == 0 ? v : (dark ? std::min(before[i - 1], v) : std::max(before[i - 1], v));
    }
    for (size_t i = n; i-- > 0;) {
        const float v = p[from + i];
        after[i] = i == n - 1 ? v : (dark ? std::min(after[i + 1], v) : std::max(after[i + 1], v));
    }
    double ern = 0.0;
    for (size_t i = 1; i + 1 < n; ++i) {
        const float v = p[from + i];
        const double depth = dark ? v - std::max(before[i], after[i]) : std::min(before[i], after[i]) - v;
        ern = std::max(ern, depth);
    }
    return ern;
}

struct LineMeasurement {
    ScanLine line;
    std::vector<double> edgesMm;
    std::vector<float> profile;
    ReferenceDecode decode;
};

LineMeasurement measureLine(const std::vector<float>& profile, double stepMm)
{
    LineMeasurement m;
    m.profile = profile;
    Parameters& v = m.line.values;
    const Extremes e = extremes(profile);
    v.rmin = e.low;
    v.rmax = e.high;
    v.sc = v.rmax - v.rmin;
    m.line.gt = v.rmin + v.sc / 2.0;

    const std::vector<double> cross = crossings(profile, m.line.gt);
    for (double c : cross)
        m.edgesMm.push_back(c * stepMm);

    // Elements between the crossings, the quiet zones at both ends; the
    // first element is light when the line starts in a quiet zone.
    std::vector<size_t> bounds{0};
    for (double c : cross)
        bounds.push_back(size_t(std::ceil(c)));
    bounds.push_back(profile.size());
    const bool startsDark = profile.front() < m.line.gt;
    double ecmin = v.sc;
    double ernMax = 0.0;
    double previousExtreme = 0.0;
    for (size_t k = 0; k + 1 < bounds.size(); ++k) {
        const bool dark = (k % 2 == 0) == startsDark;
        const size_t from = bounds[k], to = std::max(bounds[k + 1], from + 1);
        const auto [lo, hi] = std::minmax_element(profile.begin() + long(from), profile.begin() + long(std::min(to, profile.size())));
        const double extreme = dark ? *lo : *hi;
        if (k > 0)
            ecmin = std::min(ecmin, std::fabs(extreme - previousExtreme));
        previousExtreme = extreme;
        ernMax = std::max(ernMax, elementNonUniformity(profile, from, std::min(to, profile.size()), dark));
    }
    v.ecmin = ecmin;
    v.mod = v.sc > 0.0 ? v.ecmin / v.sc : 0.0;
    v.defects = v.sc > 0.0 ? ernMax / v.sc : 1.0;

    // The symbol: from the first falling edge to the last rising edge.
    if (!startsDark && cross.size() >= 2) {
        size_t last = cross.size() - 1;
        if (last % 2 == 0) // the profile ends dark: leave out the last bar's start
            --last;
        for (size_t k = 0; k < last; ++k)
            m.line.elementsMm.push_back((cross[k + 1] - cross[k]) * stepMm);
        const double leading = cross.front() * stepMm;
        const double trailing = (double(profile.size() - 1) - cross[last]) * stepMm;
        m.decode = referenceDecode(m.line.elementsMm, leading, trailing);
    } else {
        m.decode.failure = "tummaa heti viivan alussa";
    }
    v.decode = m.decode.decoded;
    v.decodability = m.decode.decoded ? m.decode.decodability : 0.0;
    m.line.decodeFailure = QString::fromStdString(m.decode.failure);

    ParameterGrades& g = m.line.grades;
    g.rmin = v.rmin <= 0.5 * v.rmax ? 4 : 0;
    g.sc = gradeSc(v.sc);
    g.ecmin = v.ecmin >= 15.0 ? 4 : 0;
    g.mod = gradeMod(v.mod);
    g.defects = gradeDefects(v.defects);
    g.decodability = gradeDecodability(v.decodability);
    g.decode = v.decode ? 4 : 0;
    m.line.grade = g.lowest();
    return m;
}

// The direction of the bars' edges from the image gradients around a line:
// the dominant gradient direction (structure tensor) is the symbol's axis.
Vec refineAxis(const ReflectanceField& field, const QImage& plane, Vec centre, Vec axis, double halfLength,
               double halfHeight)
{
    const Vec across = axis.perpendicular();
    const Vec corners[4] = {centre + axis * halfLength + across * halfHeight, centre + axis * halfLength - across * halfHeight,
                            centre - axis * halfLength + across * halfHeight, centre - axis * halfLength - across * halfHeight};
    double minX = 1e18, maxX = -1e18, minY = 1e18, maxY = -1e18;
    for (const Vec& c : corners) {
        minX = std::min(minX, c.x * field.pxPerMmX());
        maxX = std::max(maxX, c.x * field.pxPerMmX());
        minY = std::min(minY, c.y * field.pxPerMmY());
        maxY = std::max(maxY, c.y * field.pxPerMmY());
    }
    const int x0 = std::max(1, int(minX)), x1 = std::min(plane.width() - 2, int(maxX));
    const int y0 = std::max(1, int(minY)), y1 = std::min(plane.height() - 2, int(maxY));
    double jxx = 0.0, jxy = 0.0, jyy = 0.0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const Vec p = field.toMm(x + 0.5, y + 0.5) - centre;
            if (std::fabs(p.dot(axis)) > halfLength || std::fabs(p.dot(across)) > halfHeight)
                continue;
            const double gx = (field.pixel(x + 1, y) - field.pixel(x - 1, y)) * field.pxPerMmX();
            const double gy = (field.pixel(x, y + 1) - field.pixel(x, y - 1)) * field.pxPerMmY();
            jxx += gx * gx;
            jxy += gx * gy;
            jyy += gy * gy;
        }
    if (jxx + jyy <= 0.0)
        return axis;
    const double angle = 0.5 * std::atan2(2.0 * jxy, jxx - jyy);
    Vec refined{std::cos(angle), std::sin(angle)};
    if (refined.dot(axis) < 0.0)
        refined = refined * -1.0;
    return refined;
}

double fittedModule(const std::vector<double>& positions, const std::vector<int>& modules)
{
    const double n = double(positions.size());
    const double mm = std::accumulate(modules.begin(), modules.end(), 0.0) / n;
    const double pm = std::accumulate(positions.begin(), positions.end(), 0.0) / n;
    double sxy = 0.0, sxx = 0.0;
    for (size_t i = 0; i < positions.size(); ++i) {
        sxy += (modules[i] - mm) * (positions[i] - pm);
        sxx += (modules[i] - mm) * (modules[i] - mm);
    }
    return sxx > 0.0 ? sxy / sxx : 0.0;
}

// The module of one decoded scan line: a straight line fitted through the
// bars' leading edges against their module positions.
double lineModule(const std::vector<double>& widths, const std::vector<int>& modules)
{
    std::vector<double> leading;
    std::vector<int> leadingModule;
    double position = 0.0;
    int module = 0;
    for (size_t k = 0; k < widths.size(); ++k) {
        if (k % 2 == 0) {
            leading.push_back(position);
            leadingModule.push_back(module);
        }
        position += widths[k];
        module += modules[k];
    }
    return fittedModule(leading, leadingModule);
}

struct Placement {
    Vec axis;        // along the symbol, from its start
    Vec across;
    Vec centre;      // on the axis, in the middle of the bar height
    double startMm;  // first bar's leading edge, along the axis from the centre
    double endMm;    // last bar's trailing edge
    double barHeightMm;
    double moduleMm;
};

std::optional<Placement> place(const ReflectanceField& field, const QImage& plane, const FoundSymbol& found)
{
    const Vec tl = field.toMm(found.topLeft.x(), found.topLeft.y());
    const Vec tr = field.toMm(found.topRight.x(), found.topRight.y());
    const Vec bl = field.toMm(found.bottomLeft.x(), found.bottomLeft.y());
    const Vec br = field.toMm(found.bottomRight.x(), found.bottomRight.y());
    const Vec along = (tr - tl) + (br - bl);
    if (along.length() < 1.0)
        return std::nullopt;
    Vec axis = along.unit();
    Vec centre = (tl + tr + bl + br) * 0.25;
    const double length = along.length() / 2.0;
    const double pixelMm = 1.0 / std::min(field.pxPerMmX(), field.pxPerMmY());

    // The rows the finder read lie inside the bars: a narrow band around the
    // middle, first over the middle half of the symbol, then over all of it.
    axis = refineAxis(field, plane, centre, axis, length / 4.0, 0.75);
    axis = refineAxis(field, plane, centre, axis, length / 2.0, 0.75);
    const Vec across = axis.perpendicular();

    const double step = pixelMm / 2.0;
    const double reach = length / 2.0 + 2.0;
    const int count = int(2.0 * reach / step);
    auto lineAt = [&](double offset) { return sampleLine(field, centre - axis * reach + across * offset, axis, step, count); };

    // The bar height: as far to either side as the lines cross nearly as many
    // edges as the middle one, at the middle one's threshold: where a blurred
    // bar end is lighter than that threshold the bar has ended.
    const std::vector<float> middleLine = lineAt(0.0);
    const Extremes m = extremes(middleLine);
    const double threshold = (m.low + m.high) / 2.0, band = (m.high - m.low) / 10.0;
    const size_t middleEdges = crossings(middleLine, threshold, band).size();
    if (middleEdges < 20)
        return std::nullopt;
    auto inBars = [&](double offset) {
        return crossings(lineAt(offset), threshold, band).size() >= middleEdges * 9 / 10;
    };
    auto extent = [&](double sign) {
        double inside = 0.0, outside = 0.0;
        const double coarse = 0.25;
        for (double t = coarse;; t += coarse) {
            if (!inBars(sign * t) || t > 100.0) {
                outside = t;
                break;
            }
            inside = t;
        }
        while (outside - inside > pixelMm / 4.0) {
            const double mid = (inside + outside) / 2.0;
            (inBars(sign * mid) ? inside : outside) = mid;
        }
        return (inside + outside) / 2.0;
    };
    const double up = extent(-1.0), down = extent(1.0);
    centre = centre + across * ((down - up) / 2.0);

    // The symbol's ends and module on the middle line.
    const std::vector<float> middle = lineAt(0.0);
    const Extremes e = extremes(middle);
    const std::vector<double> edges = crossings(middle, e.low + (e.high - e.low) / 2.0, (e.high - e.low) / 10.0);
    if (edges.size() < 20 || edges.size() % 2 != 0)
        return std::nullopt;
    // Code 128: 6 elements a character, 7 in the stop character, 11 modules
    // a character and 13 in the stop.
    const size_t elementCount = edges.size() - 1;
    const double characters = std::round((double(elementCount) - 7.0) / 6.0) + 1.0;
    const double modules = 11.0 * characters + 2.0;
    Placement placement;
    placement.axis = axis;
    placement.across = across;
    placement.centre = centre;
    placement.startMm = edges.front() * step - reach;
    placement.endMm = edges.back() * step - reach;
    placement.barHeightMm = up + down;
    placement.moduleMm = (placement.endMm - placement.startMm) / modules;

    // A run of bars no reader read is a symbol only where a start or stop
    // character stands at one of its ends; where it stands the wrong way
    // round, the symbol lies upside down.
    if (!found.read) {
        std::vector<double> elements;
        for (size_t k = 0; k + 1 < edges.size(); ++k)
            elements.push_back(edges[k + 1] - edges[k]);
        if (!hasStartOrStop(elements)) {
            std::reverse(elements.begin(), elements.end());
            if (!hasStartOrStop(elements))
                return std::nullopt;
            placement.axis = axis * -1.0;
            placement.across = placement.axis.perpendicular();
            const double start = placement.startMm;
            placement.startMm = -placement.endMm;
            placement.endMm = -start;
        }
    }
    return placement;
}

int apertureReference(double mm) { return int(std::lround(mm / 0.0254)); }

QString formatGrade(double grade) { return QString::number(grade, 'f', 1); }

Parameters worstOf(const std::vector<ScanLine>& lines)
{
    Parameters w = lines.front().values;
    for (const ScanLine& l : lines) {
        w.rmin = std::max(w.rmin, l.values.rmin);
        w.rmax = std::min(w.rmax, l.values.rmax);
        w.sc = std::min(w.sc, l.values.sc);
        w.ecmin = std::min(w.ecmin, l.values.ecmin);
        w.mod = std::min(w.mod, l.values.mod);
        w.defects = std::max(w.defects, l.values.defects);
        w.decodability = std::min(w.decodability, l.values.decodability);
        w.decode = w.decode && l.values.decode;
    }
    return w;
}

ParameterGrades worstGradesOf(const std::vector<ScanLine>& lines)
{
    ParameterGrades w = lines.front().grades;
    for (const ScanLine& l : lines) {
        w.rmin = std::min(w.rmin, l.grades.rmin);
        w.sc = std::min(w.sc, l.grades.sc);
        w.ecmin = std::min(w.ecmin, l.grades.ecmin);
        w.mod = std::min(w.mod, l.grades.mod);
        w.defects = std::min(w.defects, l.grades.defects);
        w.decodability = std::min(w.decodability, l.grades.decodability);
        w.decode = std::min(w.decode, l.grades.decode);
    }
    return w;
}

// Bar gain over the decoded scan lines: each bar's width less its nominal
// width, the module measured from the bars' leading edges (which ink spread
// moves all alike).
BarGain barGainOf(const std::vector<LineMeasurement>& lines, double moduleMm, std::optional<double> printerDpi)
{
    BarGain gain;
    std::vector<double> deviationSum;
    std::vector<int> deviationCount;
    std::vector<int> nominalModules;
    double sum = 0.0;
    for (const LineMeasurement& m : lines) {
        if (m.decode.elementModules.size() != m.line.elementsMm.size())
            continue;
        const std::vector<double>& widths = m.line.elementsMm;
        const std::vector<int>& modules = m.decode.elementModules;
        const double x = lineModule(widths, modules);
        for (size_t k = 0, bar = 0; k < widths.size(); k += 2, ++bar) {
            const double deviation = widths[k] - modules[k] * x;
            if (deviationSum.size() <= bar) {
                deviationSum.resize(bar + 1, 0.0);
                deviationCount.resize(bar + 1, 0);
                nominalModules.resize(bar + 1, modules[k]);
            }
            deviationSum[bar] += deviation;
            ++deviationCount[bar];
            sum += deviation;
            ++gain.bars;
        }
    }
    if (gain.bars == 0)
        return gain;
    gain.measured = true;
    const double meanMm = sum / gain.bars;
    gain.um = meanMm * 1000.0;
    gain.percentX = 100.0 * meanMm / moduleMm;
    if (printerDpi && *printerDpi > 0.0)
        gain.printerPixels = meanMm / (kMmPerInch / *printerDpi);
    // The worst bar is the one furthest from the others: with every bar
    // widened alike, a bar the printer clipped or merged stands out even when
    // its own width happens to be near nominal.
    double worst = -1.0;
    for (size_t bar = 0; bar < deviationSum.size(); ++bar) {
        const double deviation = deviationSum[bar] / deviationCount[bar];
        if (std::fabs(deviation - meanMm) > worst) {
            worst = std::fabs(deviation - meanMm);
            gain.worstIndex = int(bar) + 1;
            gain.worstDeviationUm = deviation * 1000.0;
            gain.worstFromMeanUm = (deviation - meanMm) * 1000.0;
            gain.worstModules = nominalModules[bar];
        }
    }
    return gain;
}

// The module of the symbol: the mean over the scan lines whose elements
// all have their module counts.
std::optional<double> fittedSymbolModule(const std::vector<LineMeasurement>& measured)
{
    double sum = 0.0;
    int lines = 0;
    for (const LineMeasurement& m : measured)
        if (m.decode.elementModules.size() == m.line.elementsMm.size()) {
            sum += lineModule(m.line.elementsMm, m.decode.elementModules);
            ++lines;
        }
    return lines > 0 ? std::optional<double>(sum / lines) : std::nullopt;
}

Profile profileOf(const LineMeasurement& m, double stepMm)
{
    Profile profile;
    profile.stepMm = stepMm;
    profile.reflectance = m.profile;
    profile.edgesMm = m.edgesMm;
    profile.rmin = m.line.values.rmin;
    profile.rmax = m.line.values.rmax;
    profile.gt = m.line.gt;
    // Bars from a falling edge to the next rising one; the line's ends close
    // a bar it starts or ends in.
    std::vector<double> edges = m.edgesMm;
    if (!m.profile.empty() && m.profile.front() < m.line.gt)
        edges.insert(edges.begin(), 0.0);
    if (edges.size() % 2 != 0)
        edges.push_back(double(m.profile.size() - 1) * stepMm);
    for (size_t k = 0; k + 1 < edges.size(); k += 2)
        profile.barsMm.emplace_back(edges[k], edges[k + 1]);
    return profile;
}

// The lowest scan resolution at which a module is at least four pixels.
int resolutionForModule(double moduleMm)
{
    const double needed = 4.0 * kMmPerInch / moduleMm;
    for (int dpi : {300, 600, 1200, 2400, 4800})
        if (dpi >= needed)
            return dpi;
    return int(std::ceil(needed / 100.0)) * 100;
}

} // namespace

int ParameterGrades::lowest() const { return std::min({rmin, sc, ecmin, mod, defects, decodability, decode}); }

const std::string& patternText()
{
    static const std::string text = [] {
        std::vector<int> values;
        for (size_t at = 0; at < kBarPattern.size();) {
            // Read the modules back into element widths, then characters.
            std::vector<int> widths;
            const size_t characterModules = at + 13 == kBarPattern.size() ? 13 : 11;
            size_t i = at;
            while (i < at + characterModules) {
                size_t j = i;
                while (j < at + characterModules && kBarPattern[j] == kBarPattern[i])
                    ++j;
                widths.push_back(int(j - i));
                i = j;
            }
            for (int value = 0; value <= kCode128Stop; ++value)
                if (code128Pattern(value) == widths)
                    values.push_back(value);
            at += characterModules;
        }
        return code128Text(values);
    }();
    return text;
}

int gradeSc(double sc) { return sc >= 70.0 ? 4 : sc >= 55.0 ? 3 : sc >= 40.0 ? 2 : sc >= 20.0 ? 1 : 0; }
int gradeMod(double mod) { return mod >= 0.70 ? 4 : mod >= 0.60 ? 3 : mod >= 0.50 ? 2 : mod >= 0.40 ? 1 : 0; }
int gradeDefects(double d) { return d <= 0.15 ? 4 : d <= 0.20 ? 3 : d <= 0.25 ? 2 : d <= 0.30 ? 1 : 0; }
int gradeDecodability(double v) { return v >= 0.62 ? 4 : v >= 0.50 ? 3 : v >= 0.37 ? 2 : v >= 0.25 ? 1 : 0; }

char gradeLetter(double grade)
{
    return grade >= 3.5 ? 'A' : grade >= 2.5 ? 'B' : grade >= 1.5 ? 'C' : grade >= 0.5 ? 'D' : 'F';
}

double referenceAperture(double moduleMm)
{
    const double wanted = 0.8 * moduleMm;
    double best = 0.075;
    for (double a : {0.075, 0.125, 0.150, 0.250, 0.500})
        if (std::fabs(a - wanted) < std::fabs(best - wanted))
            best = a;
    return best;
}

double srgbToReflectance(int value)
{
    const double c = value / 255.0;
    return 100.0 * (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

GradeResult gradeScan(const Scan& scan, const GradeOptions& options)
{
    GradeResult result;
    result.dpiX = scan.dpiX;
    result.dpiY = scan.dpiY;
    const ReflectanceField field(scan, options.linear);
    const double pixelMm = 1.0 / std::min(field.pxPerMmX(), field.pxPerMmY());
    const std::vector<FoundSymbol> found = findSymbols(scan.plane, 1.0 / pixelMm);

    const QString quietZoneOutside =
        QStringLiteral("Viivakoodi ulottuu skannauksen reunaan asti, joten sen hiljaiset alueet (10 moduulia "
                       "kummallakin puolella) puuttuvat kuvasta. Skannaa arkki niin, että viivakoodin ympärille "
                       "jää paperia.");
    for (const FoundSymbol& symbol : found) {
        const std::optional<Placement> placed = symbol.atImageEdge ? std::nullopt : place(field, scan.plane, symbol);
        if (!placed) {
            // A symbol the finder saw this near the scan's edge cannot be
            // measured: the scan lines would leave the image.
            const QPolygonF corners{symbol.topLeft, symbol.topRight, symbol.bottomRight, symbol.bottomLeft};
            const QRectF inner = QRectF(scan.plane.rect()).adjusted(kEdgeMarginMm * field.pxPerMmX(),
                                                                    kEdgeMarginMm * field.pxPerMmY(),
                                                                    -kEdgeMarginMm * field.pxPerMmX(),
                                                                    -kEdgeMarginMm * field.pxPerMmY());
            if (symbol.atImageEdge || !inner.contains(corners.boundingRect()))
                result.message = quietZoneOutside;
            continue;
        }
        const Placement& p = *placed;
        if (p.moduleMm / pixelMm < 4.0) {
            result.status = GradeStatus::BadInput;
            result.message = QStringLiteral("Moduuli on skannauksessa vain %1 pikseliä; mittaus tarvitsee vähintään 4. "
                                            "Skannaa sivu uudelleen tarkkuudella %2 dpi tai suuremmalla.")
                                 .arg(QString::number(p.moduleMm / pixelMm, 'f', 1))
                                 .arg(resolutionForModule(p.moduleMm));
            result.symbols.clear();
            return result;
        }

        SymbolGrade grade;
        grade.text = symbol.text;
        grade.read = symbol.read;
        grade.moduleMm = p.moduleMm;
        grade.modulePixels = p.moduleMm / pixelMm;
        grade.angleDegrees = std::atan2(p.axis.y, p.axis.x) * 180.0 / kPi;
        grade.barHeightMm = p.barHeightMm;
        grade.centreXMm = p.centre.x;
        grade.centreYMm = p.centre.y;
        grade.apertureMm = options.apertureMm.value_or(referenceAperture(p.moduleMm));
        grade.apertureReference = apertureReference(grade.apertureMm);

        // Ten scan lines over the middle 80 % of the bar height, each through
        // both quiet zones, sampled at least ten times a module.
        const std::vector<Vec> disc = apertureDisc(grade.apertureMm, pixelMm);
        const double step = p.moduleMm / kSamplesPerModule;
        const double overrun = (kQuietZoneModules + kLineOverrunModules) * p.moduleMm;
        const double lineStart = p.startMm - overrun;
        const int count = int(std::ceil((p.endMm + overrun - lineStart) / step)) + 1;
        const Vec lineEnds[] = {p.centre + p.axis * lineStart + p.across * (p.barHeightMm * 0.4),
                                p.centre + p.axis * lineStart - p.across * (p.barHeightMm * 0.4),
                                p.centre + p.axis * (lineStart + count * step) + p.across * (p.barHeightMm * 0.4),
                                p.centre + p.axis * (lineStart + count * step) - p.across * (p.barHeightMm * 0.4)};
        if (!std::all_of(std::begin(lineEnds), std::end(lineEnds), [&](Vec v) { return field.contains(v); })) {
            result.message = quietZoneOutside;
            continue;
        }
        std::vector<LineMeasurement> measured;
        for (int i = 0; i < kScanLineCount; ++i) {
            const double offset = p.barHeightMm * (-0.4 + 0.8 * i / (kScanLineCount - 1));
            const Vec from = p.centre + p.axis * lineStart + p.across * offset;
            LineMeasurement m = measureLine(sampleLine(field, from, p.axis, step, count, disc), step);
            m.line.offsetMm = offset;
            measured.push_back(std::move(m));
        }

        for (const LineMeasurement& m : measured)
            if (grade.text.empty() && m.decode.decoded)
                grade.text = m.decode.text;
        grade.textIsPattern = grade.text == patternText();

        double sum = 0.0;
        for (const LineMeasurement& m : measured) {
            grade.lines.push_back(m.line);
            grade.lines.back().profile = profileOf(m, step);
            sum += m.line.grade;
        }
        grade.grade = sum / kScanLineCount;
        grade.letter = gradeLetter(grade.grade);
        grade.gradeText = QStringLiteral("%1/%2/%3")
                              .arg(formatGrade(grade.grade))
                              .arg(grade.apertureReference, 2, 10, QLatin1Char('0'))
                              .arg(kWavelengthNm);
        grade.worst = worstOf(grade.lines);
        grade.worstGrades = worstGradesOf(grade.lines);

        grade.moduleMm = fittedSymbolModule(measured).value_or(p.moduleMm);
        grade.modulePixels = grade.moduleMm / pixelMm;
        grade.barGain = barGainOf(measured, grade.moduleMm, options.printerDpi);

        result.symbols.push_back(std::move(grade));
    }

    if (result.symbols.empty() && !result.message.isEmpty()) {
        result.status = GradeStatus::BadInput;
    } else if (result.symbols.empty()) {
        result.status = GradeStatus::NoSymbol;
        result.message = QStringLiteral("Skannauksesta ei löytynyt Code 128 -viivakoodia. Aseta tulostettu sivu "
                                        "skannerin lasille koko viivakoodi näkyvissä, paperia sen ympärillä, ja "
                                        "skannaa uudelleen.");
    } else {
        result.status = GradeStatus::Graded;
    }
    return result;
}

} // namespace raitakone::grading
