#include "scanning/GradeSource.h"

#include "grading/PageGrade.h"

namespace raitakone::scanning {
namespace {

const QString kCancelled = QStringLiteral("Arviointi peruttiin. Aloita uudelleen valinnalla Arvioi skannaus….");

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
        grading::ScanLoad load = grading::loadScan(source.file, std::nullopt);
        if (!load.scan) {
            outcome.error = load.error;
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
    grading::GradeResult result = grading::gradePage(*scan, options);
    if (result.status == grading::GradeStatus::Graded)
        outcome.result = std::move(result);
    else
        outcome.error = result.message;
    return outcome;
}

} // namespace raitakone::scanning
