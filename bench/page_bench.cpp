// One test page from the first Line to the delivered files: 166 bars drawn
// as zero-width boxes with a pen one module wide, one Print line, EndDoc on
// the page-file printer (PNG and PDF written and synced into a temporary
// directory). Alongside, the same page split into its two halves, drawing
// and encoding, to show where the time goes.
//
//   QT_QPA_PLATFORM=offscreen page_bench
//
// peak_rss_MB is the process's high-water mark so far; run one resolution
// alone (--benchmark_filter=.../1200) to read it for that resolution.

#include "pattern/BarPattern.h"
#include "printing/FilePrinter.h"
#include "printing/PageEncoders.h"
#include "surface/PrinterSurface.h"

#include "BenchSupport.h"

#include <QTemporaryDir>

#include <filesystem>
#include <optional>

namespace raitakone {
namespace {

constexpr int16_t kZeroWidthBox = LineFlag::Box | LineFlag::StartGiven;

// The pen is one module wide: 3 pixels at 300 dpi, 7 at 600, 14 at 1200.
void drawTestPage(PrinterSurface& printer)
{
    printer.setCurrentX(5);
    printer.setCurrentY(25);
    printer.setScaleMode(Scale::Pixels);
    const float x0 = printer.CurrentX() + 300;
    const float y0 = printer.CurrentY() + 300;
    const double module = moduleWidth(printer.TwipsPerPixelX());
    const double height = barHeightPixels(printer.TwipsPerPixelY());
    printer.setDrawWidth(int16_t(module));
    printer.setFillStyle(0);
    for (int i = 1; i <= kModuleCount; ++i) {
        if (!isDark(i))
            continue;
        const float x = float(x0 + (i - 1) * module + module / 2);
        printer.Line(kZeroWidthBox, x, y0, x, float(y0 + height), kBlack);
    }
    printer.Print({"Valkea 3 (bf) ", float(printer.TwipsPerPixelX()), float(module)});
    printer.EndDoc();
}

void clearDirectory(const QString& dir)
{
    for (const auto& entry : std::filesystem::directory_iterator(dir.toStdString()))
        std::filesystem::remove(entry.path());
}

void BM_PageToFiles(benchmark::State& state)
{
    const double dpi = double(state.range(0));
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    PrinterSurface printer([&] { return std::make_unique<FilePrinter>(path, dpi, dpi); });
    int pages = 0;
    for (auto _ : state) {
        drawTestPage(printer);
        if (++pages % 50 == 0) {
            state.PauseTiming(); // keep the numbering scan on a small directory
            clearDirectory(dir.path());
            state.ResumeTiming();
        }
    }
    reportPeakMemory(state);
}
BENCHMARK(BM_PageToFiles)->Arg(300)->Arg(600)->Arg(1200)->Unit(benchmark::kMillisecond);

// A printer that keeps the last page in `kept`, or drops it.
class MemoryPrinter : public PrinterBackend {
public:
    MemoryPrinter(double dpi, std::optional<PageRaster>* kept) : dpi_(dpi), kept_(kept) {}
    PageGeometry geometry() override { return a4Sheet(dpi_, dpi_); }
    void checkPrintQuality(int16_t) override {}
    Delivery deliver(const PageRaster& page, const JobSettings&) override
    {
        if (kept_)
            kept_->emplace(page);
        benchmark::DoNotOptimize(&page);
        return {};
    }

private:
    double dpi_;
    std::optional<PageRaster>* kept_;
};

// Drawing only: the page is dropped at EndDoc.
void BM_DrawOnly(benchmark::State& state)
{
    const double dpi = double(state.range(0));
    PrinterSurface printer([dpi] { return std::make_unique<MemoryPrinter>(dpi, nullptr); });
    for (auto _ : state)
        drawTestPage(printer);
    reportPeakMemory(state);
}
BENCHMARK(BM_DrawOnly)->Arg(300)->Arg(600)->Arg(1200)->Unit(benchmark::kMillisecond);

// Encoding only: compress once, PNG and PDF from the one stream.
void BM_EncodeOnly(benchmark::State& state)
{
    const double dpi = double(state.range(0));
    std::optional<PageRaster> page;
    PrinterSurface printer([dpi, &page] { return std::make_unique<MemoryPrinter>(dpi, &page); });
    drawTestPage(printer);
    const PageGeometry g = MemoryPrinter(dpi, nullptr).geometry();
    for (auto _ : state) {
        const CompressedPage compressed = compressPage(*page);
        benchmark::DoNotOptimize(encodePng(compressed, g, {"Raitakone", 0, 0}));
        benchmark::DoNotOptimize(encodePdf(compressed, g));
    }
    reportPeakMemory(state);
}
BENCHMARK(BM_EncodeOnly)->Arg(300)->Arg(600)->Arg(1200)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace raitakone

int main(int argc, char** argv) { return raitakone::runBenchmarksOffscreen(argc, argv); }
