#include "app/ReportDialog.h"
#include "app/ReportDialogParts.h"

#include "app/PageSeries.h"

#include "app/Controls.h"
#include "app/GradeDialog.h"
#include "app/ScanSourceDialog.h"
#include "process/TerminationSignals.h"
#include "grading/FileErrorText.h"
#include "grading/GradeReport.h"
#include "grading/PageReport.h"
#include "grading/ScanImage.h"
#include "report/SeriesGrading.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace raitakone {
namespace reportdialog {

QString& lastFolder()
{
    static QString folder = QDir::homePath();
    return folder;
}

QTableWidgetItem* cell(const QString& text, Qt::Alignment alignment)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setTextAlignment(alignment | Qt::AlignVCenter);
    return item;
}

const grading::SymbolGrade* shownSymbol(const report::ScannedPage& page)
{
    const std::optional<grading::GradeResult>& result = page.result;
    if (!result || result->status != grading::GradeStatus::Graded || result->symbols.empty())
        return nullptr;
    return &result->symbols[grading::shownSymbol(*result)];
}

QString statusOf(const report::ScannedPage& page, bool* error)
{
    *error = false;
    if (!page.result) {
        *error = true;
        return page.error;
    }
    const grading::GradeResult& result = *page.result;
    switch (result.status) {
    case grading::GradeStatus::NoSymbol: return QStringLiteral("Ei viivakoodia: ") + result.message;
    case grading::GradeStatus::Stopped: return QStringLiteral("keskeytetty");
    case grading::GradeStatus::BadInput: *error = true; return result.message;
    case grading::GradeStatus::Graded: break;
    }
    QStringList notes;
    if (result.ladder)
        notes << result.ladder->recommendation;
    for (const QString& note : {result.message, page.notice, result.printerDpiNote, result.markNotice})
        if (!note.trimmed().isEmpty())
            notes << note.trimmed();
    return notes.isEmpty() ? QStringLiteral("arvioitu") : notes.join(QLatin1Char(' '));
}

} // namespace reportdialog

using namespace reportdialog;

ReportDialog::ReportDialog(const scanning::GradeSource& suggestion, QWidget* parent)
    : QDialog(parent), choice_(suggestion), chooseSource_(chooseScanSourceInDialog),
      open_([](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }),
      resolutionQuestion_([this](const QStringList& files) -> std::optional<double> {
          QStringList names;
          for (const QString& file : files)
              names << QFileInfo(file).fileName();
          bool ok = false;
          const int dpi = QInputDialog::getInt(
              this, windowTitle(),
              QStringLiteral("Skannaus ei kerro tarkkuuttaan: %1.\nMillä tarkkuudella se skannattiin (dpi)?")
                  .arg(names.join(QStringLiteral(", "))),
              scanning::kDefaultScanDpi, int(grading::kMinScanDpi), int(grading::kMaxScanDpi), 1, &ok);
          return ok ? std::optional<double>(dpi) : std::nullopt;
      }),
      discardQuestion_([this](int graded) {
          return QMessageBox::question(this, windowTitle(),
                                       QStringLiteral("%1 arvioitua skannausta ei ole tallennetussa raportissa. "
                                                      "Suljetaanko silti?")
                                           .arg(graded),
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
      })
{
    setObjectName("reportDialog");
    setWindowTitle(QStringLiteral("Sarjan raportti"));
    pool_.setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 1, report::kMaxGradingThreads));
    auto* layout = new QVBoxLayout(this);

    printerDpi_ = new QSpinBox(this);
    printerDpi_->setObjectName("reportPrinterDpi");
    printerDpi_->setRange(0, 9600);
    printerDpi_->setSpecialValueText(QStringLiteral("ei tiedossa"));
    printerDpi_->setSuffix(QStringLiteral(" dpi"));
    printerDpi_->setValue(int(std::lround(suggestion.printerDpi.value_or(0.0))));
    printerDpi_->setToolTip(QStringLiteral("Levenemä tulostimen pikseleinä lasketaan tällä tarkkuudella niille "
                                           "skannauksille, jotka lisätään tämän jälkeen. Merkitty sivu kertoo "
                                           "tarkkuutensa itse, kun tätä ei anneta."));
    connect(printerDpi_, &QSpinBox::valueChanged, this, [this] {
        choice_.printerDpi = printerDpi();
        rememberChoice();
    });
    auto* printerRow = new QHBoxLayout;
    printerRow->addWidget(new QLabel(QStringLiteral("Sivut tulostaneen tulostimen tarkkuus:"), this));
    printerRow->addWidget(printerDpi_);
    printerRow->addStretch(1);
    layout->addLayout(printerRow);

    table_ = new QTableWidget(0, ColumnCount, this);
    table_->setObjectName("reportRows");
    table_->setHorizontalHeaderLabels({QStringLiteral("Sivu"), QStringLiteral("Tekniikka"), QStringLiteral("Laatu"),
                                       QStringLiteral("Levenemä px"), QStringLiteral("Skannaus"),
                                       QStringLiteral("Tila")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setWordWrap(false);
    // A long status or path is cut at its end; the cell's tooltip has it whole.
    table_->setTextElideMode(Qt::ElideRight);
    QHeaderView* header = table_->horizontalHeader();
    for (int c : {PageColumn, CaptionColumn, GradeColumn, GainColumn})
        header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(SourceColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(StatusColumn, QHeaderView::Stretch);
    header->resizeSection(SourceColumn, 220);
    // Every row as high as the page list of an unmarked one; the rows have
    // no numbers of their own beside the pages'.
    table_->verticalHeader()->setDefaultSectionSize(QComboBox().sizeHint().height());
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->hide();
    layout->addWidget(table_, 1);

    summary_ = new QLabel(this);
    summary_->setObjectName("reportSummary");
    layout->addWidget(summary_);

    const auto button = [this](const QString& text, const char* name) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    QPushButton* addFilesButton = button(QStringLiteral("&Lisää tiedostoja…"), "addFiles");
    QPushButton* scanButton = button(QStringLiteral("S&kannaa sivu…"), "scanPage");
    QPushButton* feederButton = button(QStringLiteral("Skannaa s&yöttölaitteesta…"), "emptyFeeder");
    feederButton->setToolTip(QStringLiteral("Skannaa skannerin syöttölaitteen kaikki sivut, kunnes se on tyhjä."));
    remove_ = button(QStringLiteral("&Poista rivi"), "removeRow");
    clear_ = button(QStringLiteral("&Tyhjennä lista"), "clearRows");
    save_ = button(QStringLiteral("T&allenna raportti…"), "saveReport");
    QPushButton* closeButton = button(QStringLiteral("&Sulje"), "closeReport");
    connect(addFilesButton, &QPushButton::clicked, this, [this] {
        const QStringList paths = QFileDialog::getOpenFileNames(
            this, QStringLiteral("Lisää skannauksia"), lastFolder(),
            QStringLiteral("Skannaukset (*.png *.tif *.tiff *.jpg *.jpeg *.pdf)"));
        if (!paths.isEmpty()) {
            lastFolder() = QFileInfo(paths.front()).absolutePath();
            addChosenFiles(paths);
        }
    });
    connect(scanButton, &QPushButton::clicked, this, [this] { scanPages(false); });
    connect(feederButton, &QPushButton::clicked, this, [this] { scanPages(true); });
    connect(remove_, &QPushButton::clicked, this, [this] {
        // From the bottom up, so that the rows still to go keep their numbers.
        QList<int> selected;
        for (const QModelIndex& index : table_->selectionModel()->selectedRows())
            selected << index.row();
        std::sort(selected.begin(), selected.end(), std::greater<>());
        for (int row : selected)
            removeRow(row);
    });
    connect(clear_, &QPushButton::clicked, this, &ReportDialog::clearRows);
    connect(save_, &QPushButton::clicked, this, &ReportDialog::askAndSave);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ReportDialog::updateState);
    connect(new QShortcut(QKeySequence::Delete, table_), &QShortcut::activated, remove_, &QPushButton::click);
    // A graded row opens in the grade dialog, with its scan lines and profile.
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        const Row& r = rows_[size_t(row)];
        if (!shownSymbol(r.page))
            return;
        auto* details = new GradeDialog(*r.page.result, r.page.source, this);
        details->setAttribute(Qt::WA_DeleteOnClose);
        details->show();
    });

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {addFilesButton, scanButton, feederButton, remove_, clear_})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(save_);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);

    resize(980, 520);
    updateState();
}

ReportDialog::~ReportDialog()
{
    stopAll();
    pool_.waitForDone();
}

bool ReportDialog::mayDiscard()
{
    const int graded = int(std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return shownSymbol(r.page); }));
    if (unsaved_ && graded > 0 && discardQuestion_ && !discardQuestion_(graded))
        return false;
    unsaved_ = false;
    return true;
}

void ReportDialog::done(int result)
{
    if (!mayDiscard())
        return;
    stopAll();
    QDialog::done(result);
}

std::optional<double> ReportDialog::printerDpi() const
{
    return printerDpi_->value() > 0 ? std::optional<double>(printerDpi_->value()) : std::nullopt;
}

void ReportDialog::setPrinterDpi(std::optional<double> dpi) { printerDpi_->setValue(int(std::lround(dpi.value_or(0.0)))); }

void ReportDialog::updateState()
{
    const int done = int(std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.done; }));
    const int graded = int(std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return shownSymbol(r.page); }));
    QString text = rows_.empty() ? QStringLiteral("Lisää skannauksia tiedostoista tai skannerista.")
                                 : (rows_.size() == 1 ? QStringLiteral("1 skannaus, %1 arvioitu").arg(graded)
                                                     : QStringLiteral("%1 skannausta, %2 arvioitu").arg(rows_.size()).arg(graded));
    if (busy())
        text += QStringLiteral(" — arvioidaan…");
    else if (!unsaved_ && !savedTo_.isEmpty())
        text += QStringLiteral(" — raportti tallennettu: %1").arg(QDir::toNativeSeparators(savedTo_));
    summary_->setText(text);
    // The report waits for every scan, so that none is left out unseen.
    save_->setEnabled(done > 0 && !busy());
    remove_->setEnabled(table_->selectionModel()->hasSelection());
    clear_->setEnabled(!rows_.empty());
}

void ReportDialog::rememberChoice()
{
    if (choiceChanged_)
        choiceChanged_(choice_);
}

} // namespace raitakone
