#include "grading/WedgeSteps.h"

#include "grading/StepReference.h"

#include <algorithm>
#include <cmath>

namespace raitakone::grading {
namespace {

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

} // namespace

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

} // namespace raitakone::grading
