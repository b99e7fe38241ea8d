#pragma once

// What every benchmark program shares: the peak resident memory as a
// counter, and a main() that runs the benchmarks under a GUI application on
// the offscreen platform (text and images need one; no display does).

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace raitakone {

// The process's high-water mark so far, in megabytes.
inline void reportPeakMemory(benchmark::State& state, const char* name = "peak_rss_MB")
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters[name] = double(usage.ru_maxrss) / 1024.0;
}

inline int runBenchmarksOffscreen(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace raitakone
