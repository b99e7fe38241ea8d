#include "app/ReportDialog.h"

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
namespace {

const QString kDash = QStringLiteral("–");
const QString kGrading = QStringLiteral("arvioidaan…");

// The folder the user last took scans from or saved a report in, for the
// session.
QString& lastFolder()
{
    static QString folder = QDir::homePath();
    return folder;
}

QTableWidgetItem* cell(const QString& text, Qt::Alignment alignment = Qt::AlignLeft)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setTextAlignment(alignment | Qt::AlignVCenter);
    return item;
}

// The shown symbol of a graded page; null for a page with none.
const grading::SymbolGrade* shownSymbol(const report::ScannedPage& page)
{
    const std::optional<grading::GradeResult>& result = page.result;
    if (!result || result->status != grading::GradeStatus::Graded || result->symbols.empty())
        return nullptr;
    return &result->symbols[grading::shownSymbol(*result)];
}

// What the status column says of a finished scan; error is set for one
// that could not be read.
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

} // namespace

struct ReportDialog::Row {
    std::shared_ptr<Job> job;
    bool done = false;
    report::ScannedPage page;
    QString progress;              // while not done: what is being done
    QComboBox* choice = nullptr;   // an unmarked page's name
    bool chosenByUser = false;
};

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

void ReportDialog::stopAll()
{
    for (auto& [id, job] : jobs_)
        job->stop = true;
}

bool ReportDialog::busy() const
{
    return std::any_of(jobs_.begin(), jobs_.end(), [](const auto& job) { return !job.second->stop; });
}

std::optional<double> ReportDialog::printerDpi() const
{
    return printerDpi_->value() > 0 ? std::optional<double>(printerDpi_->value()) : std::nullopt;
}

void ReportDialog::setPrinterDpi(std::optional<double> dpi) { printerDpi_->setValue(int(std::lround(dpi.value_or(0.0)))); }

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

void ReportDialog::rememberChoice()
{
    if (choiceChanged_)
        choiceChanged_(choice_);
}

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
