#include "grading/BarGain.h"

#include "grading/ScanProfile.h"

#include <cmath>
#include <numeric>

namespace raitakone::grading {
namespace {

double fittedSlope(const std::vector<double>& positions, const std::vector<int>& modules)
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

} // namespace

double lineModule(const MeasuredElements& line)
{
    std::vector<double> leading;
    std::vector<int> leadingModule;
    double position = 0.0;
    int module = 0;
    for (size_t k = 0; k < line.widthsMm.size(); ++k) {
        if (k % 2 == 0) {
            leading.push_back(position);
            leadingModule.push_back(module);
        }
        position += line.widthsMm[k];
        module += line.modules[k];
    }
    return fittedSlope(leading, leadingModule);
}

std::optional<double> symbolModule(const std::vector<MeasuredElements>& lines)
{
    if (lines.empty())
        return std::nullopt;
    double sum = 0.0;
    for (const MeasuredElements& line : lines)
        sum += lineModule(line);
    return sum / double(lines.size());
}

void setPrinterResolution(BarGain& gain, double dpi)
{
    if (gain.measured && dpi > 0.0)
        gain.printerPixels = gain.um / 1000.0 / (kMmPerInch / dpi);
}

BarGain barGainOf(const std::vector<MeasuredElements>& lines, double moduleMm, std::optional<double> printerDpi)
{
    BarGain gain;
    std::vector<double> deviationSum;
    std::vector<int> deviationCount;
    std::vector<int> nominalModules;
    double sum = 0.0;
    for (const MeasuredElements& line : lines) {
        const double x = lineModule(line);
        for (size_t k = 0, bar = 0; k < line.widthsMm.size(); k += 2, ++bar) {
            const double deviation = line.widthsMm[k] - line.modules[k] * x;
            if (deviationSum.size() <= bar) {
                deviationSum.resize(bar + 1, 0.0);
                deviationCount.resize(bar + 1, 0);
                nominalModules.resize(bar + 1, line.modules[k]);
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
    if (printerDpi)
        setPrinterResolution(gain, *printerDpi);
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

} // namespace raitakone::grading
