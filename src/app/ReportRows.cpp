// The report dialog's rows: a row for each scan's page, filled as it is graded; unmarked pages named or placed by the series' order.

#include "app/ReportDialog.h"
#include "app/ReportDialogParts.h"

#include "app/Controls.h"
#include "app/PageSeries.h"
#include "grading/GradeReport.h"

#include <QComboBox>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QTableWidget>

#include <algorithm>

namespace raitakone {
using namespace reportdialog;

void ReportDialog::addRow(int at, const std::shared_ptr<Job>& job, const QString& source)
{
    Row row;
    row.job = job;
    row.page.source = source;
    row.progress = kGrading;
    rows_.insert(rows_.begin() + at, std::move(row));
    table_->insertRow(at);
    fillRow(at);
}

// A file's first page fills the row it was given; a PDF's further pages
// come after the last row of their file still there. A scan whose rows
// have all been removed is dropped.
void ReportDialog::pageGraded(int job, const report::ScannedPage& page)
{
    int last = -1;
    bool waiting = false; // last is the row the scan was given, not yet filled
    for (size_t r = 0; r < rows_.size() && !waiting; ++r)
        if (rows_[r].job->id == job) {
            last = int(r);
            waiting = !rows_[r].done;
        }
    if (last < 0 || rows_[size_t(last)].job->stop)
        return;
    if (!waiting) {
        const std::shared_ptr<Job> owner = rows_[size_t(last)].job;
        addRow(++last, owner, page.source);
    }
    Row& row = rows_[size_t(last)];
    row.done = true;
    row.page = page;
    if (const std::optional<grading::GradeResult>& result = page.result;
        result && result->status == grading::GradeStatus::Graded && !result->page) {
        row.choice = new QComboBox(table_);
        row.choice->setObjectName("pageChoice");
        const std::span<const PrintPage> pages = allPrintPages();
        for (size_t i = 0; i < pages.size(); ++i)
            row.choice->addItem(QStringLiteral("%1 · %2").arg(i + 1).arg(QString::fromStdString(pages[i].caption)));
        row.choice->setToolTip(QStringLiteral("Sivulla ei ole merkintää: valitse, mikä sarjan sivu se on."));
        QComboBox* choice = row.choice;
        connect(choice, &QComboBox::currentIndexChanged, this, [this, choice] {
            for (Row& r : rows_)
                if (r.choice == choice)
                    r.chosenByUser = true;
            unsaved_ = true;
            followPreviousPages();
        });
        table_->setCellWidget(last, PageColumn, choice);
    }
    fillRow(last);
    followPreviousPages();
    unsaved_ = true;
    updateState();
}

void ReportDialog::jobFinished(int job)
{
    jobs_.erase(job);
    // A scan that gave no page at all (a stopped one) leaves no row behind.
    for (size_t r = rows_.size(); r-- > 0;)
        if (rows_[r].job->id == job && !rows_[r].done) {
            rows_.erase(rows_.begin() + std::ptrdiff_t(r));
            table_->removeRow(int(r));
        }
    updateState();
}

void ReportDialog::fillRow(int r)
{
    const Row& row = rows_[size_t(r)];
    const report::ScannedPage& page = row.page;
    QString shownSource = page.source;
    if (!row.job->path.isEmpty() && shownSource.startsWith(row.job->path))
        shownSource = QFileInfo(row.job->path).fileName() + shownSource.mid(row.job->path.size());
    QTableWidgetItem* source = cell(shownSource);
    source->setToolTip(page.source);
    table_->setItem(r, SourceColumn, source);
    if (!row.done) {
        for (int c : {PageColumn, CaptionColumn, GradeColumn, GainColumn})
            table_->setItem(r, c, cell(QString()));
        table_->setItem(r, StatusColumn, cell(row.progress));
        return;
    }

    bool error = false;
    QTableWidgetItem* status = cell(statusOf(page, &error));
    status->setToolTip(status->text());
    if (error)
        status->setForeground(QColor(0xa0, 0, 0));
    table_->setItem(r, StatusColumn, status);

    const grading::SymbolGrade* symbol = shownSymbol(page);
    const std::optional<marking::PageIdentity>& mark = page.result ? page.result->page : std::nullopt;
    // One numbering for every row: the page's place in the series.
    if (!row.choice) {
        const std::optional<int> place = mark ? seriesPlaceOf(mark->control) : std::nullopt;
        table_->setItem(r, PageColumn, cell(place ? QString::number(*place) : QString(), Qt::AlignRight));
    }
    QTableWidgetItem* caption = cell(mark ? QString::fromStdString(mark->caption) : QString());
    if (row.choice) {
        // A page the user named is in italics; one the program guessed from
        // the order of the rows says so until the user picks it.
        const QString chosen = QString::fromStdString(allPrintPages()[size_t(row.choice->currentIndex())].caption);
        QFont italic = caption->font();
        italic.setItalic(true);
        caption->setFont(italic);
        if (row.chosenByUser) {
            caption->setText(chosen);
            caption->setToolTip(QStringLiteral("Nimetty käsin: sivulla ei ole merkintää."));
        } else {
            caption->setText(chosen + QStringLiteral(" (arvattu – tarkista)"));
            caption->setForeground(QColor(0x80, 0x50, 0));
            caption->setToolTip(QStringLiteral("Sivulla ei ole merkintää, ja ohjelma arvasi sen sivujen järjestyksestä. "
                                               "Valitse oikea sivu luettelosta."));
        }
    }
    table_->setItem(r, CaptionColumn, caption);
    if (!symbol) {
        table_->setItem(r, GradeColumn, cell(QString()));
        table_->setItem(r, GainColumn, cell(QString()));
        return;
    }
    QTableWidgetItem* grade = cell(QString(QLatin1Char(symbol->letter)), Qt::AlignCenter);
    grade->setBackground(QColor(grading::gradeColourName(int(QByteArrayView("FDCBA").indexOf(symbol->letter)))));
    grade->setForeground(Qt::black);
    grade->setToolTip(symbol->gradeText);
    table_->setItem(r, GradeColumn, grade);
    const grading::BarGain& gain = symbol->barGain;
    QTableWidgetItem* gainCell =
        cell(gain.measured && gain.printerPixels ? grading::signedReportNumber(*gain.printerPixels, 2) : kDash,
             Qt::AlignRight);
    if (gain.measured)
        gainCell->setToolTip(QStringLiteral("%1 µm").arg(grading::signedReportNumber(gain.um, 1)));
    table_->setItem(r, GainColumn, gainCell);
}

// The place in the series of a row's page: its mark's, or the one chosen
// for it; -1 when it has none there (not done, not graded, the ladder).
int ReportDialog::seriesIndexOf(int r) const
{
    const Row& row = rows_[size_t(r)];
    if (row.choice)
        return row.choice->currentIndex();
    if (!row.done || !row.page.result || !row.page.result->page)
        return -1;
    const std::span<const PrintPage> pages = allPrintPages();
    for (size_t i = 0; i < pages.size(); ++i)
        if (pages[i].name() == row.page.result->page->control)
            return int(i);
    return -1;
}

// An unmarked page not yet named by the user is taken for the page after
// the nearest one above it in the series, or the first page when none is;
// after the last page the series starts again.
void ReportDialog::followPreviousPages()
{
    const int count = int(allPrintPages().size());
    int previous = -1;
    for (size_t r = 0; r < rows_.size(); ++r) {
        Row& row = rows_[r];
        if (row.choice && !row.chosenByUser) {
            const QSignalBlocker quiet(row.choice);
            row.choice->setCurrentIndex(previous < 0 ? 0 : (previous + 1) % count);
        }
        if (row.choice)
            fillRow(int(r));
        if (const int index = seriesIndexOf(int(r)); index >= 0)
            previous = index;
    }
}

void ReportDialog::removeRow(int r)
{
    if (r < 0 || r >= int(rows_.size()))
        return;
    const std::shared_ptr<Job> job = rows_[size_t(r)].job;
    rows_.erase(rows_.begin() + r);
    table_->removeRow(r);
    // A scan none of whose rows is left is not wanted any more.
    if (std::none_of(rows_.begin(), rows_.end(), [&job](const Row& row) { return row.job == job; }))
        job->stop = true;
    followPreviousPages();
    updateState();
}

void ReportDialog::clearRows()
{
    unsaved_ = false; // dropped on purpose
    stopAll();
    rows_.clear();
    table_->setRowCount(0);
    updateState();
}

QComboBox* ReportDialog::pageChoice(int row) const
{
    return row >= 0 && row < int(rows_.size()) ? rows_[size_t(row)].choice : nullptr;
}

std::vector<report::ScannedPage> ReportDialog::scans() const
{
    std::vector<report::ScannedPage> pages;
    for (const Row& row : rows_) {
        if (!row.done)
            continue;
        pages.push_back(row.page);
        if (row.choice) {
            pages.back().named = unmarkedPageIdentity(allPrintPages()[size_t(row.choice->currentIndex())]);
            pages.back().suggested = !row.chosenByUser;
        }
    }
    return pages;
}

} // namespace raitakone
