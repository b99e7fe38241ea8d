// The report dialog's jobs: files and scanner pages read and graded off the window's thread, a row each as they come.

#include "app/ReportDialog.h"
#include "app/ReportDialogParts.h"

#include "app/ReportJob.h"
#include "app/ScanSourceDialog.h"
#include "grading/FileErrorText.h"
#include "grading/ScanImage.h"
#include "process/TerminationSignals.h"
#include "report/SeriesGrading.h"

#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QTableWidget>

#include <algorithm>

namespace raitakone {
using namespace reportdialog;

void ReportDialog::addFiles(const QStringList& paths, std::optional<double> fileDpi)
{
    for (const QString& path : paths) {
        auto job = std::make_shared<Job>();
        job->path = path;
        job->fileDpi = fileDpi;
        addRow(int(rows_.size()), job, path);
        start(job);
    }
}

void ReportDialog::addChosenFiles(const QStringList& paths)
{
    // A PNG states its resolution before its pixels, so asking costs no
    // decoding; other formats say theirs as they are read.
    QStringList unstated;
    for (const QString& path : paths)
        if (path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) && grading::scanFileFormatProblem(path).isEmpty() &&
            !grading::scanFileResolution(path))
            unstated << path;
    const std::optional<double> dpi = unstated.isEmpty() || !resolutionQuestion_ ? std::nullopt
                                                                                 : resolutionQuestion_(unstated);
    for (const QString& path : paths)
        addFiles({path}, unstated.contains(path) ? dpi : std::nullopt);
}

void ReportDialog::addScan(const scanning::GradeSource& scanner, bool feeder)
{
    auto job = std::make_shared<Job>();
    job->scanner = scanner;
    job->feeder = feeder;
    addRow(int(rows_.size()), job, scannerName(scanner.device));
    rows_.back().progress = QStringLiteral("skannataan…");
    fillRow(int(rows_.size()) - 1);
    start(job);
}

// The work runs on the pool; what it finds comes back to the dialog's
// thread as posted calls. A posted call to a dialog already gone is
// dropped, and the dialog waits for the pool before it goes.
void ReportDialog::start(const std::shared_ptr<Job>& job)
{
    job->id = nextJob_++;
    job->printerDpi = printerDpi();
    jobs_[job->id] = job;
    // A page from the scanner goes before the files waiting, as the user
    // stands by the scanner.
    const int priority = job->scanner ? 1 : 0;
    pool_.start(
        [this, job] {
            blockTerminationSignals(); // a stop signal is the window's to take
            work(*job);
            QMetaObject::invokeMethod(this, [this, id = job->id] { jobFinished(id); }, Qt::QueuedConnection);
        },
        priority);
    updateState();
}

// On a thread of the pool: what the job finds is posted to the dialog.
void ReportDialog::work(Job& job)
{
    runReportJob(
        job,
        [this, id = job.id](const report::ScannedPage& page) {
            QMetaObject::invokeMethod(this, [this, id, page] { pageGraded(id, page); }, Qt::QueuedConnection);
        },
        [this, id = job.id](int percent) {
            QMetaObject::invokeMethod(this, [this, id, percent] { scanProgress(id, percent); }, Qt::QueuedConnection);
        });
}

// The row of the page being scanned; the next page of a run of several gets
// a row of its own, after the run's last, when its scan starts.
void ReportDialog::scanProgress(int job, int percent)
{
    int last = -1;
    for (size_t r = 0; r < rows_.size(); ++r)
        if (rows_[r].job->id == job)
            last = int(r);
    if (last < 0 || rows_[size_t(last)].job->stop)
        return;
    if (rows_[size_t(last)].done) {
        const std::shared_ptr<Job> owner = rows_[size_t(last)].job;
        addRow(++last, owner, scannerName(owner->scanner->device));
    }
    Row& row = rows_[size_t(last)];
    row.progress = percent < 100 ? QStringLiteral("skannataan… %1 %").arg(percent) : kGrading;
    table_->setItem(last, StatusColumn, cell(row.progress));
}

void ReportDialog::stopAll()
{
    for (auto& [id, job] : jobs_)
        job->stop = true;
}

bool ReportDialog::busy() const
{
    return std::any_of(jobs_.begin(), jobs_.end(), [](const auto& job) { return !job.second->stop; });
}

void ReportDialog::scanPages(bool feeder)
{
    scanning::GradeSource suggestion = choice_;
    suggestion.kind = scanning::GradeSource::Kind::Scanner;
    suggestion.printerDpi = printerDpi();
    const std::optional<scanning::GradeSource> chosen = chooseSource_(this, suggestion);
    if (!chosen)
        return;
    choice_ = *chosen;
    setPrinterDpi(chosen->printerDpi);
    rememberChoice();
    if (chosen->kind == scanning::GradeSource::Kind::File)
        addFiles({chosen->file}, chosen->fileDpi);
    else
        addScan(*chosen, feeder);
}

} // namespace raitakone
