// The report dialog's saving: the HTML report of the finished rows, whole or not at all.

#include "app/ReportDialog.h"
#include "app/ReportDialogParts.h"

#include "app/Controls.h"
#include "grading/FileErrorText.h"
#include "report/SeriesGrading.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace raitakone {
using namespace reportdialog;

bool ReportDialog::saveReport(const QString& path, QString* error)
{
    // A report never replaces one of its own scans, nor anything but a file.
    QString reason = outputPathProblem(path);
    for (const Row& row : rows_)
        if (reason.isEmpty() && row.job && !row.job->path.isEmpty() && sameFile(row.job->path, path))
            reason = QStringLiteral("se on luettelon skannaus");
    if (!reason.isEmpty()) {
        *error = QStringLiteral("Raporttia %1 ei voi kirjoittaa: %2. Valitse toinen nimi.").arg(path, reason);
        return false;
    }
    const std::vector<report::ScannedPage> pages = scans();
    const report::SeriesReport series = report::rankSeries(pages, {QDate::currentDate(), printerDpi(), seriesPlaceOf});
    if (!writeWholeFile(path, report::seriesHtml(series), &reason)) {
        *error = QStringLiteral("Raporttia %1 ei voi kirjoittaa: %2. Valitse toinen kansio.").arg(path, reason);
        return false;
    }
    unsaved_ = false;
    savedTo_ = path;
    updateState();
    if (open_)
        open_(path);
    return true;
}

void ReportDialog::askAndSave()
{
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Tallenna raportti"),
                                                QDir(lastFolder()).filePath(QStringLiteral("raitakone-raportti.html")),
                                                QStringLiteral("HTML-sivu (*.html *.htm)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".html");
    lastFolder() = QFileInfo(path).absolutePath();
    QString error;
    if (!saveReport(path, &error))
        QMessageBox::warning(this, windowTitle(), error);
}

} // namespace raitakone
