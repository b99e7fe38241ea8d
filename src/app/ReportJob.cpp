#include "app/ReportJob.h"

#include "report/SeriesGrading.h"
#include "scanning/Scanner.h"

#include <QTime>

#include <algorithm>

namespace raitakone {

QString scannerName(const QString& device)
{
    return QStringLiteral("skanneri %1").arg(device.isEmpty() ? QStringLiteral("(ensimmäinen)") : device);
}

void runReportJob(const ReportJob& job, const std::function<void(const report::ScannedPage&)>& graded,
                  const std::function<void(int percent)>& progress)
{
    grading::GradeOptions options;
    options.printerDpi = job.printerDpi;
    options.stopRequested = [&job] { return job.stop.load(); };
    if (!job.scanner) {
        report::SeriesOptions series;
        series.scanDpi = job.fileDpi;
        series.grading = options;
        series.threads = 1; // the pool runs the files side by side
        report::gradeSeries({{job.path, std::nullopt}}, series, graded);
        return;
    }
    options.calibration = job.scanner->calibration;
    scanning::ScanRequest request;
    request.device = job.scanner->device;
    request.dpi = job.scanner->scanDpi;
    int shown = -1;
    const auto read = [&](double fraction) {
        const int percent = std::clamp(int(fraction * 100.0), 0, 99);
        if (percent != shown)
            progress(percent);
        shown = percent;
    };
    // A page is graded as it comes, so that no more than one is held. A page
    // of a feeder run is named by its place in the run as well.
    int pages = 0;
    const auto gradeAcquired = [&](const scanning::Acquisition& acquired) {
        QString source = QStringLiteral("%1, %2").arg(
            scannerName(acquired.device.isEmpty() ? request.device : acquired.device),
            QTime::currentTime().toString(QStringLiteral("H.mm.ss")));
        if (job.feeder)
            source += QStringLiteral(", sivu %1").arg(++pages);
        shown = -1;
        if (!acquired.scan) {
            report::ScannedPage failed;
            failed.source = source;
            failed.error = acquired.error;
            return graded(failed);
        }
        progress(100);
        graded(report::gradeScannedPage(*acquired.scan, source, std::nullopt, options));
    };
    if (!job.feeder)
        return gradeAcquired(scanning::acquireScan(request, job.stop, read));

    // The feeder's pages one after another, each graded before the next is
    // taken, until the feeder is empty. A run that ends on a problem (no
    // paper at the start, a jam) says so in a row of its own.
    request.source = scanning::PaperSource::Feeder;
    const scanning::ScanRun run = scanning::acquirePages(
        request, job.stop, [&](scanning::Acquisition&& page) { gradeAcquired(page); }, {},
        [&](int, double fraction) { read(fraction); });
    if (run.problem != scanning::ScanProblem::None && run.problem != scanning::ScanProblem::Cancelled) {
        report::ScannedPage failed;
        failed.source = QStringLiteral("%1, syöttölaite").arg(scannerName(run.device.isEmpty() ? request.device : run.device));
        failed.error = run.error;
        graded(failed);
    }
}

} // namespace raitakone
