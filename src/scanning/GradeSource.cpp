#include "scanning/GradeSource.h"

#include "page/PageGrade.h"

namespace raitakone::scanning {
namespace {

const QString kCancelled = QStringLiteral("Arviointi peruttiin. Painikkeella Arvioi skannaus… voit aloittaa alusta.");

} // namespace

GradeOutcome gradeFromSource(const GradeSource& source, const std::atomic<bool>& cancel,
                             const GradeProgress& progress)
{
    GradeOutcome outcome;
    std::optional<grading::Scan> scan;
    if (source.kind == GradeSource::Kind::Scanner) {
        ScanRequest request;
        request.device = source.device;
        request.dpi = source.scanDpi;
        Acquisition acquired = acquireScan(request, cancel, [&](double fraction) {
            if (progress)
                progress(GradeStage::Scanning, fraction);
        });
        outcome.source = acquired.device.isEmpty() ? source.device : acquired.device;
        if (!acquired.scan) {
            outcome.cancelled = acquired.problem == ScanProblem::Cancelled;
            outcome.error = outcome.cancelled ? kCancelled : acquired.error;
            return outcome;
        }
        scan = std::move(acquired.scan);
    } else {
        outcome.source = source.file;
        grading::ScanLoad load = grading::loadScan(source.file, source.fileDpi, [&cancel] { return cancel.load(); });
        if (load.resolutionMissing) {
            outcome.error = QStringLiteral("Tiedosto %1 ei kerro skannauksen tarkkuutta. Anna tarkkuus, jolla "
                                           "skannasit sivun, kohtaan Skannauksen tarkkuus ja arvioi uudelleen.")
                                .arg(source.file);
            return outcome;
        }
        if (!load.scan) {
            outcome.cancelled = load.stopped;
            outcome.error = load.stopped ? kCancelled : load.error;
            return outcome;
        }
        scan = std::move(load.scan);
    }

    if (cancel) {
        outcome.cancelled = true;
        outcome.error = kCancelled;
        return outcome;
    }
    if (progress)
        progress(GradeStage::Grading, 0.0);
    grading::GradeOptions options;
    options.printerDpi = source.printerDpi;
    options.calibration = source.calibration;
    options.stopRequested = [&cancel] { return cancel.load(); };
    grading::GradeResult result = grading::gradePageWithinMemory(*scan, options);
    if (result.status == grading::GradeStatus::Graded)
        outcome.result = std::move(result);
    else if (result.status == grading::GradeStatus::Stopped)
        outcome = {std::nullopt, kCancelled, true, outcome.source};
    else
        outcome.error = result.message;
    return outcome;
}

} // namespace raitakone::scanning
