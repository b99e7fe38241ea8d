#include "grading/Calibration.h"

#include "grading/GradeReport.h"
#include "surface/NumberText.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace raitakone::grading {
namespace {

// A calibration file is a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxCalibrationBytes = 1 << 20;
constexpr qint64 kMaxReferenceBytes = 4 << 20;
// Values at or beyond these are clipped by the scanner: they bound the
// curve, they are not points of it.
constexpr double kClippedDark = 0.5;
constexpr double kClippedLight = 254.5;
constexpr int kMinSteps = 3;

// ---- CGATS.17 ----------------------------------------------------------

// Whitespace-separated tokens; a quoted string is one token; # starts a
// comment outside quotes.
std::vector<QString> tokensOf(const QString& line)
{
    std::vector<QString> tokens;
    QString current;
    bool quoted = false, inToken = false;
    for (QChar c : line) {
        if (quoted) {
            if (c == u'"')
                quoted = false;
            else
                current += c;
            continue;
        }
        if (c == u'"') {
            quoted = inToken = true;
        } else if (c == u'#') {
            break;
        } else if (c.isSpace()) {
            if (inToken)
                tokens.push_back(current);
            current.clear();
            inToken = false;
        } else {
            current += c;
            inToken = true;
        }
    }
    if (inToken)
        tokens.push_back(current);
    return tokens;
}

std::optional<double> numberOf(const QString& token)
{
    return parseDecimal(token.toStdString());
}

// ---- Finding the steps -------------------------------------------------

// The scan in cells about 1/400 of its shorter side, each the mean of its
// pixels: noise averages out and the search stays small.
struct Grid {
    int width = 0, height = 0, cell = 1;
    std::vector<float> values;
    bool across = true; // lines are the scan's rows; else its columns
    float at(int along, int line) const
    {
        return across ? values[size_t(line) * size_t(width) + size_t(along)]
                      : values[size_t(along) * size_t(width) + size_t(line)];
    }
    int length() const { return across ? width : height; }
    int lines() const { return across ? height : width; }
};

Grid gridOf(const QImage& plane)
{
    Grid grid;
    grid.cell = std::max(1, std::min(plane.width(), plane.height()) / 400);
    grid.width = plane.width() / grid.cell;
    grid.height = plane.height() / grid.cell;
    grid.values.assign(size_t(grid.width) * size_t(grid.height), 0.0f);
    for (int y = 0; y < grid.height * grid.cell; ++y) {
        const uchar* row = plane.constScanLine(y);
        float* out = grid.values.data() + size_t(y / grid.cell) * size_t(grid.width);
        for (int x = 0; x < grid.width * grid.cell; ++x)
            out[x / grid.cell] += row[x];
    }
    const float area = float(grid.cell * grid.cell);
    for (float& v : grid.values)
        v /= area;
    return grid;
}

struct Run {
    int start = 0, length = 0;
    double level = 0.0;
};

// Flat runs along a line: a cell joins the run while it stays within tol of
// the run's mean. Blurred edges make short runs, which are dropped.
std::vector<Run> flatRuns(const Grid& grid, int line, double tol, int minLength)
{
    std::vector<Run> runs;
    Run run;
    double sum = 0.0;
    const auto close = [&] {
        if (run.length >= minLength) {
            run.level = sum / run.length;
            runs.push_back(run);
        }
    };
    for (int x = 0; x < grid.length(); ++x) {
        const double v = grid.at(x, line);
        if (run.length > 0 && std::fabs(v - sum / run.length) <= tol) {
            sum += v;
            ++run.length;
            continue;
        }
        close();
        run = Run{x, 1, 0.0};
        sum = v;
    }
    close();
    return runs;
}

double lineTolerance(const Grid& grid, int line)
{
    std::vector<float> steps;
    steps.reserve(size_t(grid.length()));
    for (int x = 1; x < grid.length(); ++x)
        steps.push_back(std::fabs(grid.at(x, line) - grid.at(x - 1, line)));
    if (steps.empty())
        return 0.6;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return std::max(0.6, 4.0 * steps[steps.size() / 2]);
}

bool similar(double a, double b, double relative) { return std::fabs(a - b) <= std::max(2.0, relative * std::max(a, b)); }

struct Chain {
    std::vector<Run> steps;
    double pitch = 0.0, width = 0.0, range = 0.0;
    int line = 0;
    double tol = 0.0;
    bool better(const Chain& other) const
    {
        return steps.size() != other.steps.size() ? steps.size() > other.steps.size() : range > other.range;
    }
};

// The longest run of equal-width flat runs at an equal pitch along a line.
Chain longestChain(const std::vector<Run>& runs)
{
    Chain best;
    for (size_t i = 0; i < runs.size(); ++i)
        for (size_t j = i + 1; j < runs.size(); ++j) {
            const double pitch = runs[j].start - runs[i].start;
            if (pitch > 5.0 * runs[i].length)
                break;
            if (!similar(runs[i].length, runs[j].length, 0.12) || pitch < 0.9 * runs[i].length)
                continue;
            Chain chain;
            chain.steps = {runs[i], runs[j]};
            const double slack = std::max(2.0, 0.06 * pitch);
            for (size_t k = j + 1; k < runs.size(); ++k) {
                const double expected = chain.steps.back().start + pitch;
                if (runs[k].start > expected + slack)
                    break;
                if (std::fabs(runs[k].start - expected) <= slack && similar(runs[k].length, runs[i].length, 0.12))
                    chain.steps.push_back(runs[k]);
            }
            if (chain.steps.size() < size_t(kMinSteps))
                continue;
            chain.pitch = double(chain.steps.back().start - chain.steps.front().start) / double(chain.steps.size() - 1);
            double lo = 255.0, hi = 0.0, width = 0.0;
            for (const Run& r : chain.steps) {
                lo = std::min(lo, r.level);
                hi = std::max(hi, r.level);
                width += r.length;
            }
            chain.width = width / double(chain.steps.size());
            chain.range = hi - lo;
            if (best.steps.empty() || chain.better(best))
                best = chain;
        }
    return best;
}

// Mean cell value over the middle of a step at `start` on lines [from, to).
double middleMean(const Grid& grid, double start, double width, int from, int to)
{
    const int a = int(std::floor(start + 0.25 * width)), b = int(std::ceil(start + 0.75 * width));
    double sum = 0.0;
    int n = 0;
    for (int line = from; line < to; ++line)
        for (int x = std::max(0, a); x < std::min(grid.length(), b); ++x) {
            sum += grid.at(x, line);
            ++n;
        }
    return n > 0 ? sum / n : -1.0;
}

struct Found {
    Chain chain;
    bool across = true;
    int from = 0, to = 0; // the band of lines the steps fill
};

// The lines on either side of the chain's own where every step keeps its level.
Found bandOf(const Grid& grid, const Chain& c)
{
    const auto keeps = [&](int line) {
        for (const Run& r : c.steps)
            if (std::fabs(middleMean(grid, r.start, r.length, line, line + 1) - r.level) > 2.0 * c.tol + 1.0)
                return false;
        return true;
    };
    Found found{c, true, c.line, c.line + 1};
    while (found.from > 0 && keeps(found.from - 1))
        --found.from;
    while (found.to < grid.lines() && keeps(found.to))
        ++found.to;
    return found;
}

// The line whose chain has the most steps and holds over a band of lines at
// least a quarter of a step high: a line along a blurred or slanted edge of
// the target can show more steps, or a staircase of small ones, but only on
// itself.
Found searchGrid(const Grid& grid)
{
    std::vector<Chain> chains;
    for (int line = 0; line < grid.lines(); ++line) {
        const double tol = lineTolerance(grid, line);
        Chain chain = longestChain(flatRuns(grid, line, tol, 3));
        chain.line = line;
        chain.tol = tol;
        if (!chain.steps.empty())
            chains.push_back(std::move(chain));
    }
    std::stable_sort(chains.begin(), chains.end(), [](const Chain& a, const Chain& b) { return a.better(b); });
    for (const Chain& chain : chains) {
        Found found = bandOf(grid, chain);
        if (found.to - found.from >= std::max(3.0, chain.width / 4.0))
            return found;
    }
    return {};
}

// ---- The curve ---------------------------------------------------------

struct MonotoneCubic {
    std::vector<double> x, y, m;

    explicit MonotoneCubic(const std::vector<std::pair<double, double>>& points)
    {
        for (const auto& [px, py] : points) {
            x.push_back(px);
            y.push_back(py);
        }
        const size_t n = x.size();
        m.assign(n, 0.0);
        if (n < 2)
            return;
        std::vector<double> h(n - 1), d(n - 1);
        for (size_t k = 0; k + 1 < n; ++k) {
            h[k] = x[k + 1] - x[k];
            d[k] = (y[k + 1] - y[k]) / h[k];
        }
        if (n == 2) {
            m[0] = m[1] = d[0];
            return;
        }
        for (size_t k = 1; k + 1 < n; ++k)
            m[k] = d[k - 1] * d[k] <= 0.0 ? 0.0 : (d[k - 1] + d[k]) / 2.0;
        // The ends: the one-sided three-point slope, kept to the data's sign.
        const auto end = [](double h0, double h1, double d0, double d1) {
            double s = ((2.0 * h0 + h1) * d0 - h0 * d1) / (h0 + h1);
            if (s * d0 <= 0.0)
                s = 0.0;
            else if (d0 * d1 < 0.0 && std::fabs(s) > 3.0 * std::fabs(d0))
                s = 3.0 * d0;
            return s;
        };
        m[0] = end(h[0], h[1], d[0], d[1]);
        m[n - 1] = end(h[n - 2], h[n - 3], d[n - 2], d[n - 3]);
        // Fritsch–Carlson: slopes limited so that no interval overshoots.
        for (size_t k = 0; k + 1 < n; ++k) {
            if (d[k] == 0.0) {
                m[k] = m[k + 1] = 0.0;
                continue;
            }
            const double a = m[k] / d[k], b = m[k + 1] / d[k];
            if (a * a + b * b > 9.0) {
                const double t = 3.0 / std::sqrt(a * a + b * b);
                m[k] = t * a * d[k];
                m[k + 1] = t * b * d[k];
            }
        }
    }

    double at(double v) const
    {
        if (v <= x.front())
            return y.front() + m.front() * (v - x.front());
        if (v >= x.back())
            return y.back() + m.back() * (v - x.back());
        const size_t k = size_t(std::upper_bound(x.begin(), x.end(), v) - x.begin()) - 1;
        const double h = x[k + 1] - x[k], t = (v - x[k]) / h;
        const double t2 = t * t, t3 = t2 * t;
        return (2 * t3 - 3 * t2 + 1) * y[k] + (t3 - 2 * t2 + t) * h * m[k] + (-2 * t3 + 3 * t2) * y[k + 1] +
               (t3 - t2) * h * m[k + 1];
    }
};

// Points that share a value (within a quarter step) become their mean.
std::vector<std::pair<double, double>> curvePoints(const std::vector<CalibrationStep>& steps, int skip = -1)
{
    std::vector<std::pair<double, double>> points;
    for (size_t i = 0; i < steps.size(); ++i)
        if (int(i) != skip && !steps[i].clipped)
            points.emplace_back(steps[i].scanValue, steps[i].reflectance);
    std::sort(points.begin(), points.end());
    std::vector<std::pair<double, double>> merged;
    for (size_t i = 0; i < points.size();) {
        size_t j = i;
        double sx = 0.0, sy = 0.0;
        for (; j < points.size() && points[j].first - points[i].first < 0.25; ++j) {
            sx += points[j].first;
            sy += points[j].second;
        }
        merged.emplace_back(sx / double(j - i), sy / double(j - i));
        i = j;
    }
    return merged;
}

double clampReflectance(double r) { return std::clamp(r, 0.0, 120.0); }

QString percentText(double r);

// Monotone: a lighter step never reads darker, beyond a level's noise. Why
// not, in Finnish; empty when it is.
QString monotoneProblem(const std::vector<CalibrationStep>& steps)
{
    std::vector<const CalibrationStep*> byReflectance;
    for (const CalibrationStep& step : steps)
        byReflectance.push_back(&step);
    std::sort(byReflectance.begin(), byReflectance.end(),
              [](const CalibrationStep* a, const CalibrationStep* b) { return a->reflectance < b->reflectance; });
    for (size_t i = 1; i < byReflectance.size(); ++i) {
        const CalibrationStep& darker = *byReflectance[i - 1];
        const CalibrationStep& lighter = *byReflectance[i];
        if (lighter.scanValue < darker.scanValue - 1.0)
            return QStringLiteral("käyrä ei ole monotoninen: askel %1 (%2) on skannauksessa tummempi kuin askel %3 "
                                  "(%4)")
                .arg(lighter.id, percentText(lighter.reflectance), darker.id, percentText(darker.reflectance));
    }
    return {};
}

QString percentText(double r) { return reportNumber(r, 1) + QStringLiteral(" %"); }

QString calibrationProblem(const QString& path, const QString& why)
{
    return QStringLiteral("Kalibrointitiedostoa %1 ei voi käyttää: %2. Tee kalibrointi uudelleen komennolla "
                          "raitakone --calibrate.")
        .arg(path, why);
}

} // namespace

ReferenceRead readStepReference(const QByteArray& text)
{
    ReferenceRead read;
    if (text.size() > kMaxReferenceBytes) {
        read.error = QStringLiteral("viitetiedosto on liian suuri ollakseen askelkiilan CGATS-tiedosto");
        return read;
    }
    StepReference reference;
    QString descriptor, originator;
    std::vector<QString> fields, data;
    enum { Keywords, Format, Data } state = Keywords;
    bool sawFormat = false, sawData = false;
    for (const QString& line : QString::fromUtf8(text).split(u'\n')) {
        const std::vector<QString> tokens = tokensOf(line);
        if (tokens.empty())
            continue;
        const QString key = tokens.front().toUpper();
        if (state == Format) {
            if (key == u"END_DATA_FORMAT")
                state = Keywords;
            else
                fields.insert(fields.end(), tokens.begin(), tokens.end());
        } else if (state == Data) {
            if (key == u"END_DATA")
                state = Keywords;
            else
                data.insert(data.end(), tokens.begin(), tokens.end());
        } else if (key == u"BEGIN_DATA_FORMAT") {
            state = Format;
            sawFormat = true;
        } else if (key == u"BEGIN_DATA") {
            state = Data;
            sawData = true;
        } else if (key == u"DESCRIPTOR" && tokens.size() > 1) {
            descriptor = tokens[1];
        } else if (key == u"ORIGINATOR" && tokens.size() > 1) {
            originator = tokens[1];
        }
    }
    if (!sawFormat || !sawData || fields.empty()) {
        read.error = QStringLiteral("viitetiedosto ei ole CGATS-muotoa: siitä puuttuu BEGIN_DATA_FORMAT- tai "
                                    "BEGIN_DATA-osa");
        return read;
    }
    const auto field = [&](const char* name) -> int {
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i].compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return int(i);
        return -1;
    };
    const int id = field("SAMPLE_ID");
    int value = field("D_RED");
    bool density = true;
    if (value < 0) {
        value = field("XYZ_Y");
        density = false;
    }
    if (value < 0) {
        value = field("D_VIS");
        density = true;
    }
    if (id < 0 || value < 0) {
        read.error = QStringLiteral("viitetiedostosta puuttuu kenttä SAMPLE_ID tai heijastavuus (XYZ_Y) tai tiheys "
                                    "(D_RED tai D_VIS)");
        return read;
    }
    if (data.size() % fields.size() != 0) {
        read.error = QStringLiteral("viitetiedoston BEGIN_DATA-osan arvoja ei voi jakaa %1 kentän riveiksi")
                         .arg(fields.size());
        return read;
    }
    for (size_t at = 0; at < data.size(); at += fields.size()) {
        const QString& given = data[at + size_t(value)];
        const std::optional<double> number = numberOf(given);
        if (!number) {
            read.error = QStringLiteral("viitetiedoston askeleen %1 arvo »%2« ei ole luku")
                             .arg(data[at + size_t(id)], given.left(40));
            return read;
        }
        // CGATS.17: densities are -log10 of the reflectance factor.
        const double reflectance = density ? 100.0 * std::pow(10.0, -*number) : *number;
        reference.steps.push_back({data[at + size_t(id)].left(40), reflectance});
    }
    if (reference.steps.size() < size_t(kMinSteps)) {
        read.error = QStringLiteral("viitetiedostossa on vain %1 askelta; kalibrointi tarvitsee vähintään %2")
                         .arg(reference.steps.size())
                         .arg(kMinSteps);
        return read;
    }
    reference.name = (descriptor.isEmpty() ? originator : descriptor).left(120);
    read.reference = reference;
    return read;
}

WedgeSteps findWedgeSteps(const QImage& plane, int expected)
{
    WedgeSteps result;
    Grid grid = gridOf(plane);
    Found best;
    for (bool across : {true, false}) {
        grid.across = across;
        Found found = searchGrid(grid);
        found.across = across;
        if (!found.chain.steps.empty() && (best.chain.steps.empty() || found.chain.better(best.chain)))
            best = found;
    }
    if (best.chain.steps.empty()) {
        result.error = QStringLiteral("skannauksesta ei löytynyt riviä tasaisia, yhtä leveitä askelia. Skannaa "
                                      "askelkiila suoraan, kokonaan ja paperin tai kannen keskelle");
        return result;
    }
    grid.across = best.across;
    const Chain& c = best.chain;
    // The band's middle, away from the steps' top and bottom edges.
    const int band = best.to - best.from;
    const int from = best.from + band / 5, to = best.to - band / 5;
    std::vector<double> starts;
    for (const Run& r : c.steps)
        starts.push_back(r.start);
    // Steps that ran together where the pitch puts them: at the dark end,
    // those no lighter than the darkest found (clipped at 0, or too alike to
    // part in the noise; paper is never that dark); at the light end only
    // those clipped at 255, since a lighter step is not told from the paper.
    const bool darkFirst = c.steps.front().level < c.steps.back().level;
    const double darkest = std::min(c.steps.front().level, c.steps.back().level);
    const auto extend = [&](bool atFront, bool dark) {
        while (int(starts.size()) < expected) {
            const double at = atFront ? starts.front() - c.pitch : starts.back() + c.pitch;
            if (at < 0 || at + c.width > grid.length())
                return;
            const double v = middleMean(grid, at, c.width, from, to);
            if (dark ? v > std::max(kClippedDark, darkest + c.tol) : v < kClippedLight)
                return;
            if (atFront)
                starts.insert(starts.begin(), at);
            else
                starts.push_back(at);
        }
    };
    extend(darkFirst, true);
    extend(!darkFirst, false);
    // Each step's mean over the pixels of its middle.
    for (double start : starts) {
        const int a = int((start + 0.25 * c.width) * grid.cell), b = int((start + 0.75 * c.width) * grid.cell);
        const int l0 = from * grid.cell, l1 = to * grid.cell;
        double sum = 0.0;
        qint64 n = 0;
        for (int line = l0; line < l1; ++line)
            for (int along = a; along < b; ++along) {
                const int x = grid.across ? along : line, y = grid.across ? line : along;
                sum += plane.constScanLine(y)[x];
                ++n;
            }
        result.values.push_back(n > 0 ? sum / double(n) : 0.0);
    }
    return result;
}

std::optional<ReflectanceTable> toneCurve(const std::vector<std::pair<double, double>>& points)
{
    if (points.size() < 2)
        return std::nullopt;
    const MonotoneCubic curve(points);
    ReflectanceTable table{};
    double previous = 0.0;
    for (int v = 0; v < 256; ++v) {
        previous = std::max(previous, clampReflectance(curve.at(v)));
        table[size_t(v)] = float(previous);
    }
    return table;
}

CalibrationMade makeCalibration(const std::vector<double>& values, const StepReference& reference)
{
    CalibrationMade made;
    const size_t n = reference.steps.size();
    if (values.size() != n) {
        made.error = QStringLiteral("skannauksesta löytyi %1 askelta, mutta viitetiedostossa on %2. Skannaa koko "
                                    "askelkiila ja tarkista, että viitetiedosto kuuluu juuri tälle kiilalle")
                         .arg(values.size())
                         .arg(n);
        return made;
    }
    // Either end may come first: the pairing whose values rise with the
    // reference's reflectance.
    const auto correlation = [&](bool reversed) {
        double mx = 0, my = 0;
        for (size_t i = 0; i < n; ++i) {
            mx += values[reversed ? n - 1 - i : i];
            my += reference.steps[i].reflectance;
        }
        mx /= double(n);
        my /= double(n);
        double sxy = 0, sxx = 0, syy = 0;
        for (size_t i = 0; i < n; ++i) {
            const double dx = values[reversed ? n - 1 - i : i] - mx, dy = reference.steps[i].reflectance - my;
            sxy += dx * dy;
            sxx += dx * dx;
            syy += dy * dy;
        }
        return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0.0;
    };
    const bool reversed = correlation(true) > correlation(false);
    if (correlation(reversed) < 0.8) {
        made.error = QStringLiteral("askelten sävyt eivät seuraa viitetiedoston järjestystä kummastakaan päästä "
                                    "luettuina. Tarkista, että viitetiedosto kuuluu tälle kiilalle");
        return made;
    }
    Calibration calibration;
    for (size_t i = 0; i < n; ++i) {
        CalibrationStep step;
        step.id = reference.steps[i].id;
        step.reflectance = reference.steps[i].reflectance;
        step.scanValue = values[reversed ? n - 1 - i : i];
        step.clipped = step.scanValue <= kClippedDark || step.scanValue >= kClippedLight;
        calibration.steps.push_back(step);
    }
    if (const QString problem = monotoneProblem(calibration.steps); !problem.isEmpty()) {
        made.error = problem + QStringLiteral(". Skannaa kiila uudelleen tasaisesti valaistuna");
        return made;
    }
    if (curvePoints(calibration.steps).size() < 2) {
        made.error = QStringLiteral("vain %1 askelta jää skannerin sävyalueen sisään; muut leikkautuvat mustaan tai "
                                    "valkoiseen. Poista skannerin automaattinen tasojen säätö")
                         .arg(curvePoints(calibration.steps).size());
        return made;
    }
    calibration.table = *toneCurve(curvePoints(calibration.steps));
    // Residuals: each step against the curve made without it (ends carried
    // on along the slope), so they say how well the steps agree.
    for (size_t i = 0; i < n; ++i) {
        CalibrationStep& step = calibration.steps[i];
        const std::vector<std::pair<double, double>> others = curvePoints(calibration.steps, int(i));
        const double predicted =
            others.size() >= 2 ? clampReflectance(MonotoneCubic(others).at(step.scanValue)) : step.reflectance;
        step.residual = predicted - step.reflectance;
    }
    calibration.name = reference.name;
    calibration.created = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    made.calibration = calibration;
    return made;
}

QByteArray calibrationJson(const Calibration& calibration)
{
    const auto rounded = [](double v, int decimals) {
        const double k = std::pow(10.0, decimals);
        return std::round(v * k) / k;
    };
    QJsonArray steps;
    for (const CalibrationStep& step : calibration.steps)
        steps.append(QJsonObject{{"id", step.id},
                                 {"reflectance", rounded(step.reflectance, 3)},
                                 {"scanValue", rounded(step.scanValue, 3)},
                                 {"residual", rounded(step.residual, 3)},
                                 {"clipped", step.clipped}});
    QJsonArray curve;
    for (float r : calibration.table)
        curve.append(rounded(r, 3));
    const QJsonObject root{{"format", "raitakone-calibration"},
                           {"version", 1},
                           {"name", calibration.name},
                           {"created", calibration.created},
                           {"scan", calibration.scanFile},
                           {"reference", calibration.referenceFile},
                           {"steps", steps},
                           {"curve", curve}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

CalibrationRead readCalibration(const QString& path)
{
    CalibrationRead read;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        read.error = QStringLiteral("Kalibrointitiedostoa %1 ei voi lukea. Anna tiedosto, jonka raitakone "
                                    "--calibrate kirjoitti.")
                         .arg(path);
        return read;
    }
    if (file.size() > kMaxCalibrationBytes) {
        read.error = calibrationProblem(path, QStringLiteral("se on liian suuri ollakseen kalibrointitiedosto"));
        return read;
    }
    return parseCalibration(file.readAll(), path);
}

CalibrationRead parseCalibration(const QByteArray& json, const QString& path)
{
    CalibrationRead read;
    const QJsonDocument document = QJsonDocument::fromJson(json);
    const QJsonObject root = document.object();
    if (root.value("format").toString() != u"raitakone-calibration" || root.value("version").toInt() != 1) {
        read.error = calibrationProblem(path, QStringLiteral("se ei ole raitakoneen kalibrointitiedosto"));
        return read;
    }
    Calibration calibration;
    calibration.name = root.value("name").toString().left(120);
    calibration.created = root.value("created").toString().left(40);
    calibration.scanFile = root.value("scan").toString();
    calibration.referenceFile = root.value("reference").toString();
    for (const QJsonValue& value : root.value("steps").toArray()) {
        const QJsonObject o = value.toObject();
        CalibrationStep step;
        step.id = o.value("id").toString().left(40);
        step.reflectance = o.value("reflectance").toDouble(-1.0);
        step.scanValue = o.value("scanValue").toDouble(-1.0);
        step.residual = o.value("residual").toDouble();
        step.clipped = o.value("clipped").toBool();
        if (step.reflectance < 0.0 || step.reflectance > 120.0 || step.scanValue < 0.0 || step.scanValue > 255.0) {
            read.error = calibrationProblem(path, QStringLiteral("sen askeleen %1 arvot ovat virheellisiä").arg(step.id));
            return read;
        }
        calibration.steps.push_back(step);
    }
    // The curve is made again from the steps, the same way as when measured.
    if (const QString problem = monotoneProblem(calibration.steps); !problem.isEmpty()) {
        read.error = calibrationProblem(path, problem);
        return read;
    }
    const std::optional<ReflectanceTable> table = toneCurve(curvePoints(calibration.steps));
    if (!table) {
        read.error = calibrationProblem(path, QStringLiteral("siinä on alle kaksi käyttökelpoista askelta"));
        return read;
    }
    calibration.table = *table;
    read.calibration = calibration;
    return read;
}

} // namespace raitakone::grading
