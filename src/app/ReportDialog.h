#pragma once

// The series report from the window: scans come in one by one (files, a
// PDF's every page, pages from the scanner), each is graded on a thread of
// the dialog's own pool while the window goes on, and its row fills in when
// it is done. A scan without a mark is named by hand from the series' pages;
// a graded one opens in the grade dialog on a double click. The finished
// rows are saved as the series report's HTML.

#include "app/ReportJob.h"
#include "report/SeriesReport.h"
#include "scanning/GradeSource.h"

#include <QDialog>
#include <QThreadPool>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace raitakone {

class ReportDialog : public QDialog {
    Q_OBJECT

public:
    // Asks where a scan comes from, starting from suggestion; nothing when
    // the user cancels.
    using SourceChooser = std::function<std::optional<scanning::GradeSource>(QWidget* parent,
                                                                             const scanning::GradeSource& suggestion)>;
    // Shows a saved report (the desktop's browser).
    using Opener = std::function<void(const QString& path)>;
    // Hears what the user gave last (scanner, resolutions), for the session.
    using ChoiceHandler = std::function<void(const scanning::GradeSource& choice)>;

    // The table's columns.
    enum Column { PageColumn, CaptionColumn, GradeColumn, GainColumn, SourceColumn, StatusColumn, ColumnCount };

    // suggestion: the scanner and printer resolution the session used last.
    explicit ReportDialog(const scanning::GradeSource& suggestion, QWidget* parent = nullptr);
    // Stops the grading and waits for it: no thread outlives the dialog.
    ~ReportDialog() override;

    void setSourceChooser(SourceChooser choose) { chooseSource_ = std::move(choose); }
    void setOpener(Opener open) { open_ = std::move(open); }
    // Asked before closing drops graded scans that no saved report holds;
    // true closes. By default a message box asks the user.
    using DiscardQuestion = std::function<bool(int graded)>;
    void setDiscardQuestion(DiscardQuestion ask) { discardQuestion_ = std::move(ask); }
    // Asked for the resolution of PNG files that do not state theirs;
    // nothing when the user does not say. By default an input dialog asks.
    using ResolutionQuestion = std::function<std::optional<double>(const QStringList& files)>;
    void setResolutionQuestion(ResolutionQuestion ask) { resolutionQuestion_ = std::move(ask); }
    void setChoiceHandler(ChoiceHandler handler) { choiceChanged_ = std::move(handler); }

    // One row for each file (a PDF's further pages get rows of their own as
    // they are read), graded off the window's thread. fileDpi replaces the
    // resolution the files state.
    void addFiles(const QStringList& paths, std::optional<double> fileDpi = std::nullopt);
    // As the user adds files: the resolution of PNGs that state none is
    // asked first (once for all of them), the rows in the order given.
    void addChosenFiles(const QStringList& paths);
    // One page from the scanner the source names, or with feeder every page
    // in its document feeder until the feeder is empty, a row each.
    void addScan(const scanning::GradeSource& scanner, bool feeder = false);
    void removeRow(int row);
    void clearRows();

    // Whether a scan is still being read or graded.
    bool busy() const;
    // The printer resolution new scans are graded with; nothing when not known.
    std::optional<double> printerDpi() const;
    void setPrinterDpi(std::optional<double> dpi);
    // The finished rows as the report takes them, unmarked ones with the
    // page chosen for them.
    std::vector<report::ScannedPage> scans() const;
    // Writes the HTML report of the finished rows, whole or not at all, and
    // opens it; false with a message in Finnish.
    bool saveReport(const QString& path, QString* error);

    QTableWidget* table() const { return table_; }
    // The page list of an unmarked row; null for any other row.
    QComboBox* pageChoice(int row) const;

    // Whether the graded scans no saved report holds may be dropped: true
    // when there are none or the user says so (asked once; after a yes the
    // rows count as given up).
    bool mayDiscard();

    // Closing stops the grading; the rows not done are dropped.
    void done(int result) override;

private:
    using Job = ReportJob;
    struct Row;

    void start(const std::shared_ptr<Job>& job);
    void work(Job& job);
    void addRow(int at, const std::shared_ptr<Job>& job, const QString& source);
    void pageGraded(int job, const report::ScannedPage& page);
    void scanProgress(int job, int percent);
    void jobFinished(int job);
    void fillRow(int row);
    void followPreviousPages();
    int seriesIndexOf(int row) const;
    void stopAll();
    void updateState();
    void scanPages(bool feeder);
    void askAndSave();
    void rememberChoice();

    QTableWidget* table_ = nullptr;
    QSpinBox* printerDpi_ = nullptr;
    QLabel* summary_ = nullptr;
    QString savedTo_; // the report last saved, said until the rows change
    QPushButton* save_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* clear_ = nullptr;
    std::vector<Row> rows_; // the table's rows, in order
    std::map<int, std::shared_ptr<Job>> jobs_; // started and not yet finished
    int nextJob_ = 1;
    int scansTaken_ = 0;
    scanning::GradeSource choice_;
    SourceChooser chooseSource_;
    Opener open_;
    ResolutionQuestion resolutionQuestion_;
    DiscardQuestion discardQuestion_;
    bool unsaved_ = false; // graded rows have come or changed since the last save
    ChoiceHandler choiceChanged_;
    QThreadPool pool_;
};

} // namespace raitakone
