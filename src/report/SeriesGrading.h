#pragma once

// Grading the scans of a series: files (a PDF's every page as a scan of its
// own) and pages straight from a scanner, each into the report's ScannedPage.
// Files are graded on several threads at once, each thread holding one scan
// at a time, so the memory a series takes is bounded by the threads, not by
// the number of scans.

#include "report/SeriesReport.h"

#include <functional>
#include <mutex>

namespace raitakone::report {

struct ScanInput {
    QString path;
    std::optional<marking::PageIdentity> named; // the page, for an unmarked scan
};

struct SeriesOptions {
    std::optional<double> scanDpi;   // replaces the resolution the files state
    grading::GradeOptions grading;
    int threads = 0;                 // 0: one per core, at most kMaxGradingThreads
};

inline constexpr int kMaxGradingThreads = 4;

// Called as each scan is graded, from the grading threads, one call at a time.
using ScanGraded = std::function<void(const ScannedPage& page)>;

// The scans in the order given, a PDF's pages one after another.
std::vector<ScannedPage> gradeSeries(const std::vector<ScanInput>& inputs, const SeriesOptions& options,
                                     const ScanGraded& graded = {});

// One scan already in memory, as a scanner gives it.
ScannedPage gradeScannedPage(const grading::Scan& scan, const QString& source,
                             const std::optional<marking::PageIdentity>& named, const grading::GradeOptions& options);

} // namespace raitakone::report
