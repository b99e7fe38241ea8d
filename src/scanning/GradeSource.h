#pragma once

// Where a grade comes from, for the window: a scan file or a scanner, graded
// in one call that a worker thread makes while the window goes on.

#include "grading/Grading.h"
#include "scanning/Scanner.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace raitakone::scanning {

struct GradeSource {
    enum class Kind { File, Scanner };
    Kind kind = Kind::File;
    QString file;                      // Kind::File: PNG, TIFF, JPEG or PDF
    std::optional<double> fileDpi;     // Kind::File: replaces the resolution the file states
    QString device;                    // Kind::Scanner: empty for the first one
    int scanDpi = kDefaultScanDpi;     // Kind::Scanner: the resolution asked for
    std::optional<double> printerDpi;  // gives the bar gain in printer pixels
    std::shared_ptr<const grading::Calibration> calibration; // the scanner's, at this resolution
};

struct GradeOutcome {
    std::optional<grading::GradeResult> result; // set when a symbol was graded
    QString error;                              // in Finnish, saying what to do
    bool cancelled = false;
    QString source;                             // the file or the scanner, for the user
};

// Stages reported to progress: the scan (fraction 0..1 of the page read),
// then the grading, which has no fraction.
enum class GradeStage { Scanning, Grading };
using GradeProgress = std::function<void(GradeStage stage, double fraction)>;

// Reads or scans the page and grades it. cancel stops a scan between reads,
// the reading of a file, and the grading between its steps.
GradeOutcome gradeFromSource(const GradeSource& source, const std::atomic<bool>& cancel,
                             const GradeProgress& progress = {});

} // namespace raitakone::scanning
