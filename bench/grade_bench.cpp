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
#include "page/PageGrade.h"

#include "BenchSupport.h"
#include "ScannedSheet.h"

#include <QTemporaryDir>

#include <cmath>
#include <optional>

namespace raitakone {
namespace {

constexpr double kDpi = 600;

QImage scannedSheet(bool marked = false) { return scannedA4Sheet(kDpi, marked); }

void BM_GradeA4Scan(benchmark::State& state)
{
    const grading::Scan scan{scannedSheet(), kDpi, kDpi, {}};
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
    const grading::Scan scan{scannedSheet(true), kDpi, kDpi, {}};
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
