// Grading a scanned A4 page: a 600-dpi grey scan (4960 × 7016 pixels, about
// 35 megapixels) of the "Valkea 3" page, from the raw pixels to the graded
// result, ZXing's search of the whole page included.
//
//   QT_QPA_PLATFORM=offscreen grade_bench
//
// Alongside, the same from the scan's PNG file, as --grade reads it.
//
// peak_rss_MB is the process's high-water mark: the page as printed, the
// scan made of it, and the grading's own memory; scan_made_rss_MB is the
// mark before the first grading.

#include "grading/Grading.h"
#include "grading/PageGrade.h"
#include "marking/PageMarker.h"
#include "printtests/PrintTests.h"
#include "surface/PrinterBackend.h"

#include "BenchSupport.h"

#include <QTemporaryDir>

#include <cmath>
#include <optional>

namespace raitakone {
namespace {

constexpr double kDpi = 600;
constexpr int kSheetWidth = 4960;  // A4 at 600 dpi
constexpr int kSheetHeight = 7016;
constexpr int kMargin = 95;        // 4 mm the printer cannot print on

// Keeps the one page it is given.
class KeepingPrinter : public PrinterBackend {
public:
    explicit KeepingPrinter(std::optional<PageRaster>* page) : page_(page) {}
    PageGeometry geometry() override
    {
        return {kDpi, kDpi, kSheetWidth, kSheetHeight,
                PixelRect{kMargin, kMargin, kSheetWidth - kMargin, kSheetHeight - kMargin}};
    }
    void checkPrintQuality(int16_t) override {}
    Delivery deliver(const PageRaster& page, const JobSettings&) override
    {
        *page_ = page;
        return {};
    }

private:
    std::optional<PageRaster>* page_;
};

// The sheet as a flatbed scanner gives it: paper and ink at their sRGB
// values, each edge softened over a pixel, a little noise. Marked, it
// carries the page mark in its bottom-right corner.
QImage scannedSheet(bool marked = false)
{
    std::optional<PageRaster> page;
    PrinterSurface printer([&page] { return std::make_unique<KeepingPrinter>(&page); });
    marking::PageMarker marker;
    if (marked)
        marker.markNext(printer, {"Command10:2", "Valkea 3 (bf)", "1/1", {}});
    Command10_Click(printer, 2);
    // The raster is the whole sheet, its margins left white; a bilevel page
    // (index 1 black) is read bit by bit, without a converted copy.
    const QImage& printed = page->image();
    QImage sheet(printed.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < printed.height(); ++y) {
        const uchar* in = printed.constScanLine(y);
        uchar* out = sheet.scanLine(y);
        for (int x = 0; x < printed.width(); ++x) {
            const bool ink = printed.format() == QImage::Format_Mono ? (in[x >> 3] >> (7 - (x & 7))) & 1
                                                                      : qGray(printed.pixel(x, y)) < 128;
            out[x] = ink ? 40 : 235;
        }
    }
    uint32_t seed = 12345;
    for (int y = 1; y < sheet.height() - 1; ++y) {
        const uchar* above = sheet.constScanLine(y - 1);
        const uchar* below = sheet.constScanLine(y + 1);
        uchar* row = sheet.scanLine(y);
        int previous = row[0];
        for (int x = 1; x < sheet.width() - 1; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 29) - 4;
            const int here = row[x];
            const int soft = (previous + 4 * here + row[x + 1] + above[x] + below[x]) / 8;
            previous = here;
            row[x] = uchar(std::clamp(soft + noise, 0, 255));
        }
    }
    return sheet;
}

void BM_GradeA4Scan(benchmark::State& state)
{
    const grading::Scan scan{scannedSheet(), kDpi, kDpi};
    reportPeakMemory(state, "scan_made_rss_MB");
    for (auto _ : state) {
        const grading::GradeResult result = grading::gradeScan(scan, {});
        if (result.status != grading::GradeStatus::Graded || result.symbols.size() != 1) {
            state.SkipWithError("the symbol was not graded");
            break;
        }
        benchmark::DoNotOptimize(result.symbols.front().grade);
    }
    reportPeakMemory(state);
}
BENCHMARK(BM_GradeA4Scan)->Unit(benchmark::kMillisecond);

// The same page marked, graded as --grade grades it: the mark read first.
void BM_GradeMarkedA4Scan(benchmark::State& state)
{
    const grading::Scan scan{scannedSheet(true), kDpi, kDpi};
    for (auto _ : state) {
        const grading::GradeResult result = grading::gradePage(scan, {});
        if (result.status != grading::GradeStatus::Graded || !result.page) {
            state.SkipWithError("the marked page was not graded with its mark");
            break;
        }
        benchmark::DoNotOptimize(result.symbols.front().grade);
    }
    reportPeakMemory(state);
}
BENCHMARK(BM_GradeMarkedA4Scan)->Unit(benchmark::kMillisecond);

// The same scan from its PNG file, as --grade reads it: decoding the file
// and taking its resolution included.
void BM_GradeA4ScanFile(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("scan.png"));
    QImage sheet = scannedSheet();
    sheet.setDotsPerMeterX(int(std::lround(kDpi / 0.0254)));
    sheet.setDotsPerMeterY(int(std::lround(kDpi / 0.0254)));
    if (!sheet.save(path)) {
        state.SkipWithError("the scan could not be written");
        return;
    }
    sheet = QImage();
    for (auto _ : state) {
        const grading::ScanLoad load = grading::loadScan(path, std::nullopt);
        if (!load.scan || grading::gradeScan(*load.scan, {}).status != grading::GradeStatus::Graded) {
            state.SkipWithError("the scan was not graded");
            break;
        }
    }
    reportPeakMemory(state);
}
BENCHMARK(BM_GradeA4ScanFile)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace raitakone

int main(int argc, char** argv) { return raitakone::runBenchmarksOffscreen(argc, argv); }
