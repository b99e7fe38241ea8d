#pragma once

// What the report dialog's parts share: a row of its table and how its
// cells read. Only the dialog's own files include this.

#include "app/ReportDialog.h"
#include "report/SeriesReport.h"

#include <QComboBox>
#include <QString>
#include <QTableWidgetItem>

#include <memory>

namespace raitakone {

struct ReportDialog::Row {
    std::shared_ptr<Job> job;
    bool done = false;
    report::ScannedPage page;
    QString progress;              // while not done: what is being done
    QComboBox* choice = nullptr;   // an unmarked page's name
    bool chosenByUser = false;
};

namespace reportdialog {

inline const QString kDash = QStringLiteral("–");
inline const QString kGrading = QStringLiteral("arvioidaan…");

// The folder the user last took scans from or saved a report in, for the
// session.
QString& lastFolder();

// A read-only cell.
QTableWidgetItem* cell(const QString& text, Qt::Alignment alignment = Qt::AlignLeft);

// The shown symbol of a graded page; null for a page with none.
const grading::SymbolGrade* shownSymbol(const report::ScannedPage& page);

// What the status column says of a finished scan; error is set for one
// that could not be read.
QString statusOf(const report::ScannedPage& page, bool* error);

} // namespace reportdialog
} // namespace raitakone
