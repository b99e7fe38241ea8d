#pragma once

// The main window: twenty-five buttons and the picture box, laid out from one
// control table, each click routed to its diagnostic or print test. A click
// that fails shows its message and leaves the window working; a half-drawn
// page is thrown away, never sent.

#include "app/Controls.h"
#include "marking/PageMarker.h"
#include "scanning/GradeSource.h"
#include "surface/PictureSurface.h"
#include "surface/PrinterSurface.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace raitakone {

class GradeRun;
class ReportDialog;

inline constexpr int kForm1ClientWidthTwips = 11535;
inline constexpr int kForm1ClientHeightTwips = 7260;
inline constexpr const char* kForm1Caption = "Raitakone 9.5.2006 -viivakoodin testaaja";
// The application title: the caption of every message box.
inline constexpr const char* kMessageCaption = "raitakoe";

// The picture box: shows the picture surface's picture at its top-left
// corner, nothing of its own.
class PictureBox : public QFrame {
public:
    PictureBox(const PictureSurface& surface, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const PictureSurface& surface_;
};

class Form1 : public QWidget {
    Q_OBJECT

public:
    // Shows a modal message with an OK button: caption and text.
    using MessageFunction = std::function<void(QWidget* parent, const QString& caption, const QString& text)>;
    using EndAction = std::function<void()>;
    // Lets the user choose another printer; true when the choice changed.
    using PrinterChooser = std::function<bool(QWidget* parent)>;
    // Asks where the page to grade comes from, starting from suggestion;
    // nothing when the user cancels.
    using ScanSourceChooser = std::function<std::optional<scanning::GradeSource>(
        QWidget* parent, const scanning::GradeSource& suggestion)>;

    // The connector finds the printer when a click first needs it; every
    // click asks it anew, so a page goes to the printer current when it starts.
    explicit Form1(PrinterSurface::Connector connector, QWidget* parent = nullptr);
    ~Form1() override;

    // Replace the message box (tests capture the text) or the end of the
    // program (tests record it instead of stopping).
    void setMessageFunction(MessageFunction show) { showMessage_ = std::move(show); }
    void setEndAction(EndAction end) { end_ = std::move(end); }
    // Shows the "Vaihda tulostin…" button of the status line.
    void setPrinterChooser(PrinterChooser choose);
    // Replaces the "Arvioi skannaus…" source dialog (tests answer it).
    void setScanSourceChooser(ScanSourceChooser choose) { sourceChooser_ = std::move(choose); }
    // Grades a scan file or a fresh scan off the window's thread; the grade
    // opens in its own dialog, an error in a message and the status line.
    void gradeScan(const scanning::GradeSource& source);
    // The grading under way, or nothing.
    GradeRun* gradeRun() const { return gradeRun_; }
    // "Raportti…": the series report dialog, opened once and raised again
    // while it is open.
    void openReport();
    ReportDialog* reportDialog() const;
    // Shows an extra notice in the status line (a page folder that was
    // tidied up, for example).
    void showNotice(const QString& text);

    PrinterSurface& printer() { return printer_; }
    PictureSurface& picture() { return *picture_; }

    // Ends the program as Poistu does, once the report's unsaved scans may go.
    void endProgram();

    // The window procedure no control calls: prints the transfer page.
    void siirra();

    // "Merkitse sivut": whether the pages carry their mark. The handler
    // hears every change the user makes (to save it with the printer).
    bool markPages() const { return markPages_->isChecked(); }
    void setMarkPages(bool mark) { markPages_->setChecked(mark); }
    void setMarkPagesHandler(std::function<void(bool)> changed) { markChanged_ = std::move(changed); }
    // "Kavennustikkaat": the ladder's sheets, always marked.
    void printLadder();

    // The status line under the controls: the printer, and where the last
    // page went or why it failed.
    QString printerStatus() const { return printerStatus_->text(); }
    QString pageStatus() const { return pageStatus_->text(); }
    // Asks the printer anew for its name, resolution and media.
    void refreshPrinterStatus();

    // Converts twips to this window's screen pixels (logical dpi).
    int twipsToPixelsX(int twips) const;
    int twipsToPixelsY(int twips) const;

protected:
    // The window's close and a session's end ask, as Poistu does, before
    // graded scans no saved report holds are lost.
    void closeEvent(QCloseEvent* event) override;

private:
    bool reportMayBeDropped();
    void createControls();
    void createStatusLine();
    void layOutStatusLine();
    void warnOfHeldQueue(const Delivery& delivery);
    void chooseScanSource();
    // Where the next scan most likely comes from, as the user last chose.
    scanning::GradeSource sourceSuggestion() const;
    void showGrade(const scanning::GradeOutcome& outcome);
    void click(const ControlRow& control);
    // Runs one click; a RuntimeError (or anything else thrown) discards the
    // open document and is shown in a message box and the status line.
    // False when the click failed.
    bool guarded(const std::function<void()>& action);
    void print(const PrintPage& page);
    void message(const std::string& text);

    void showPixelSizes();
    void showPatternLength();
    void showModuleWidth();

    PrinterSurface::Connector connector_;
    PrinterSurface printer_;
    std::unique_ptr<PictureSurface> picture_;
    PictureBox* picViivakoodi_ = nullptr;
    QFrame* statusLine_ = nullptr;
    QLabel* printerStatus_ = nullptr;
    QLabel* pageStatus_ = nullptr;
    QPushButton* choosePrinter_ = nullptr;
    QPushButton* gradeScan_ = nullptr;
    QCheckBox* markPages_ = nullptr;
    QPushButton* printLadder_ = nullptr;
    QPushButton* openReport_ = nullptr;
    QPointer<ReportDialog> report_;
    std::function<void(bool)> markChanged_;
    marking::PageMarker marker_; // one series for the window's session
    int pagesPrinted_ = 0;
    PrinterChooser chooser_;
    ScanSourceChooser sourceChooser_;
    GradeRun* gradeRun_ = nullptr;
    std::optional<double> printerDpi_; // the current printer's, for the bar gain in its pixels
    scanning::GradeSource lastSource_;
    bool gradedBefore_ = false; // lastSource_ is what the user last chose
    std::set<std::string> heldQueues_; // queues whose held job has been told in a message
    MessageFunction showMessage_;
    EndAction end_;
};

} // namespace raitakone
