#include "support/SyntheticScan.h"

#include "pattern/BarPattern.h"
#include "support/MemoryPrinter.h"

#include <algorithm>
#include <cmath>

namespace raitakone::testing {
namespace {

constexpr double kMmPerInch = 25.4;

struct FloatImage {
    int width = 0;
    int height = 0;
    std::vector<float> v;
    float& at(int x, int y) { return v[size_t(y) * size_t(width) + size_t(x)]; }
    float at(int x, int y) const { return v[size_t(y) * size_t(width) + size_t(x)]; }
};

// Area-average weights taking n source samples to m output samples.
struct Weights {
    int first;
    std::vector<float> w;
};

std::vector<Weights> areaWeights(int n, int m)
{
    const double scale = double(n) / m; // source samples per output sample
    std::vector<Weights> all(static_cast<size_t>(m));
    for (int i = 0; i < m; ++i) {
        const double from = i * scale, to = (i + 1) * scale;
        const int first = int(std::floor(from));
        const int last = std::min(n - 1, int(std::ceil(to)) - 1);
        Weights& weights = all[size_t(i)];
        weights.first = first;
        for (int s = first; s <= last; ++s) {
            const double overlap = std::min(to, s + 1.0) - std::max(from, double(s));
            weights.w.push_back(float(std::max(0.0, overlap) / scale));
        }
    }
    return all;
}

FloatImage resample(const FloatImage& in, int width, int height)
{
    const std::vector<Weights> wx = areaWeights(in.width, width);
    const std::vector<Weights> wy = areaWeights(in.height, height);
    FloatImage rows{width, in.height, std::vector<float>(size_t(width) * size_t(in.height))};
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < width; ++x) {
            float sum = 0.0f;
            const Weights& w = wx[size_t(x)];
            for (size_t k = 0; k < w.w.size(); ++k)
                sum += w.w[k] * in.at(w.first + int(k), y);
            rows.at(x, y) = sum;
        }
    FloatImage out{width, height, std::vector<float>(size_t(width) * size_t(height))};
    for (int y = 0; y < height; ++y) {
        const Weights& w = wy[size_t(y)];
        for (int x = 0; x < width; ++x) {
            float sum = 0.0f;
            for (size_t k = 0; k < w.w.size(); ++k)
                sum += w.w[k] * rows.at(x, w.first + int(k));
            out.at(x, y) = sum;
        }
    }
    return out;
}

void blur(FloatImage& image, double sigma)
{
    if (sigma <= 0.0)
        return;
    const int radius = int(std::ceil(3.5 * sigma));
    std::vector<float> kernel(size_t(2 * radius + 1));
    float total = 0.0f;
    for (int i = -radius; i <= radius; ++i)
        total += kernel[size_t(i + radius)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
    for (float& k : kernel)
        k /= total;
    auto pass = [&](bool horizontal) {
        FloatImage out = image;
        const int n = horizontal ? image.width : image.height;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) {
                float sum = 0.0f;
                const int at = horizontal ? x : y;
                for (int i = -radius; i <= radius; ++i) {
                    const int s = std::clamp(at + i, 0, n - 1);
                    sum += kernel[size_t(i + radius)] * (horizontal ? image.at(s, y) : image.at(x, s));
                }
                out.at(x, y) = sum;
            }
        image = std::move(out);
    };
    pass(true);
    pass(false);
}

FloatImage rotate(const FloatImage& in, double degrees)
{
    if (degrees == 0.0)
        return in;
    const double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    const int width = int(std::ceil(std::fabs(in.width * c) + std::fabs(in.height * s)));
    const int height = int(std::ceil(std::fabs(in.width * s) + std::fabs(in.height * c)));
    FloatImage out{width, height, std::vector<float>(size_t(width) * size_t(height), 0.0f)};
    const double cxIn = in.width / 2.0, cyIn = in.height / 2.0, cxOut = width / 2.0, cyOut = height / 2.0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = x + 0.5 - cxOut, dy = y + 0.5 - cyOut;
            const double sx = c * dx + s * dy + cxIn - 0.5, sy = -s * dx + c * dy + cyIn - 0.5;
            const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
            const double fx = sx - x0, fy = sy - y0;
            auto pick = [&](int px, int py) {
                return (px < 0 || py < 0 || px >= in.width || py >= in.height) ? 0.0f : in.at(px, py);
            };
            out.at(x, y) = float((pick(x0, y0) * (1 - fx) + pick(x0 + 1, y0) * fx) * (1 - fy) +
                                 (pick(x0, y0 + 1) * (1 - fx) + pick(x0 + 1, y0 + 1) * fx) * fy);
        }
    return out;
}

// The stored value of a pixel, with the sensor's noise: a fixed
// pseudo-random amount for each pixel, uniform with the model's deviation.
int encode(double reflectance, const ScanModel& model, int x, int y)
{
    const double r = std::clamp(reflectance / 100.0, 0.0, 1.0);
    const double v = model.tone ? std::clamp(model.tone(r), 0.0, 1.0)
                     : !model.srgb ? r
                     : r <= 0.0031308 ? 12.92 * r
                                      : 1.055 * std::pow(r, 1.0 / 2.4) - 0.055;
    double noise = 0.0;
    if (model.noise > 0.0) {
        uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u;
        h = (h ^ (h >> 15)) * 0x2c1b3c6du;
        h = (h ^ (h >> 12)) * 0x297a2d39u;
        noise = model.noise * std::sqrt(3.0) * (2.0 * double(h ^ (h >> 15)) / 4294967295.0 - 1.0);
    }
    return std::clamp(int(std::lround(255.0 * v + noise)), 0, 255);
}

} // namespace

Coverage printed(const PageRaster& page, double dpi, QRect region, int gain)
{
    const QImage grey = page.image().copy(region).convertToFormat(QImage::Format_Grayscale8);
    Coverage c{grey.width(), grey.height(), dpi, std::vector<float>(size_t(grey.width()) * size_t(grey.height()))};
    const int before = gain >= 0 ? gain / 2 : -((-gain + 1) / 2); // left side change
    const int after = gain - before;
    for (int y = 0; y < c.height; ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < c.width;) {
            if (row[x] >= 128) {
                ++x;
                continue;
            }
            int end = x;
            while (end < c.width && row[end] < 128)
                ++end;
            const int from = std::max(0, x - before), to = std::min(c.width, end + after);
            for (int k = from; k < to; ++k)
                c.at(k, y) = 1.0f;
            x = end;
        }
    }
    return c;
}

QImage scan(const Coverage& coverage, const ScanModel& model)
{
    // The printed region on its sheet, at the printer's resolution.
    const int margin = int(std::lround(model.marginMm / kMmPerInch * coverage.dpi));
    FloatImage sheet{coverage.width + 2 * margin, coverage.height + 2 * margin, {}};
    sheet.v.assign(size_t(sheet.width) * size_t(sheet.height), 0.0f);
    for (int y = 0; y < coverage.height; ++y)
        std::copy_n(&coverage.ink[size_t(y) * size_t(coverage.width)], coverage.width, &sheet.at(margin, y + margin));

    const double ratio = model.dpi / coverage.dpi;
    FloatImage scanned = resample(sheet, int(std::lround(sheet.width * ratio)), int(std::lround(sheet.height * ratio)));
    blur(scanned, model.blurSigmaMm / kMmPerInch * model.dpi);
    scanned = rotate(scanned, model.rotationDegrees);

    // Mottle: a fixed pseudo-random level for each 0.1 mm cell.
    const double cellPixels = 0.1 / kMmPerInch * model.dpi;
    auto mottle = [&](int x, int y) {
        uint32_t h = uint32_t(x / cellPixels) * 73856093u ^ uint32_t(y / cellPixels) * 19349663u;
        h = (h ^ (h >> 13)) * 0x5bd1e995u;
        return model.inkMottle * double((h ^ (h >> 15)) % 1000u) / 999.0;
    };
    QImage image(scanned.width, scanned.height, QImage::Format_Grayscale8);
    for (int y = 0; y < scanned.height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < scanned.width; ++x) {
            const double paper = model.paper - model.paperFall * x / scanned.width;
            const double ink = model.ink + mottle(x, y);
            row[x] = uchar(encode(paper + (ink - paper) * std::clamp(scanned.at(x, y), 0.0f, 1.0f), model, x, y));
        }
    }
    if (model.writeResolution) {
        const int dpm = int(std::lround(model.dpi / 0.0254));
        image.setDotsPerMeterX(dpm);
        image.setDotsPerMeterY(dpm);
    }
    return image;
}

QImage stepWedgeScan(const std::vector<double>& reflectances, const ScanModel& model, bool apart)
{
    const double px = model.dpi / kMmPerInch;
    const int step = int(std::lround(10.0 * px)), gap = apart ? int(std::lround(4.0 * px)) : 0;
    const int margin = int(std::lround(model.marginMm * px)), height = int(std::lround(20.0 * px));
    const int count = int(reflectances.size());
    // How much darker than the paper each point is, in linear light, so that
    // the blur mixes light and what a rotation brings in is paper.
    FloatImage darker{2 * margin + count * step + (count - 1) * gap, 2 * margin + height, {}};
    darker.v.assign(size_t(darker.width) * size_t(darker.height), 0.0f);
    for (int i = 0; i < count; ++i)
        for (int y = margin; y < margin + height; ++y)
            std::fill_n(&darker.at(margin + i * (step + gap), y), step, float(model.paper - reflectances[size_t(i)]));
    blur(darker, model.blurSigmaMm * px);
    darker = rotate(darker, model.rotationDegrees);
    QImage image(darker.width, darker.height, QImage::Format_Grayscale8);
    for (int y = 0; y < darker.height; ++y)
        for (int x = 0; x < darker.width; ++x)
            image.scanLine(y)[x] = uchar(encode(model.paper - darker.at(x, y), model, x, y));
    const int dpm = int(std::lround(model.dpi / 0.0254));
    image.setDotsPerMeterX(dpm);
    image.setDotsPerMeterY(dpm);
    return image;
}

QImage asColourScan(const QImage& grey)
{
    QImage colour(grey.size(), QImage::Format_RGB32);
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* in = grey.constScanLine(y);
        QRgb* out = reinterpret_cast<QRgb*>(colour.scanLine(y));
        for (int x = 0; x < grey.width(); ++x)
            out[x] = qRgb(in[x], in[x] / 2, 255 - in[x]);
    }
    colour.setDotsPerMeterX(grey.dotsPerMeterX());
    colour.setDotsPerMeterY(grey.dotsPerMeterY());
    return colour;
}

int modulePixels(double dpi) { return int(moduleWidth(float(kTwipsPerInch / dpi))); }

QRect symbolRegion(double dpi, int leftModules)
{
    return QRect(0, 0, (leftModules + kModuleCount + 12) * modulePixels(dpi), int(std::lround(2.6 / 2.54 * dpi)));
}

int moduleColumn(double dpi, int module, int leftModules) { return (leftModules + module - 1) * modulePixels(dpi); }

PageRaster symbolPage(double dpi, int leftModules)
{
    TestPrinter test(dpi);
    PrinterSurface& printer = test.printer;
    printer.setScaleMode(Scale::Pixels);
    const int w = modulePixels(dpi);
    const float top = float(std::lround(kBarHeightCm / 2.54 * dpi));
    const float height = float(barHeightPixels(float(kTwipsPerInch / dpi)));
    printer.setDrawWidth(int16_t(w));
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i)) {
            // A zero-width box at column c paints c - w/2 .. c - w/2 + w - 1.
            const float x = float(moduleColumn(dpi, i, leftModules) + w / 2);
            printer.Line(LineFlag::StartGiven | LineFlag::Box, x, top, x, top + height, kBlack);
        }
    printer.EndDoc();
    return test.lastPage();
}

} // namespace raitakone::testing
