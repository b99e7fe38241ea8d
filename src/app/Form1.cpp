#include "app/Form1.h"

#include "pattern/BarPattern.h"
#include "printtests/PrintTests.h"
#include "surface/NumberText.h"
#include "surface/RuntimeError.h"

#include "app/GradeDialog.h"
#include "app/GradeRun.h"
#include "app/PageSeries.h"
#include "app/ReportDialog.h"
#include "app/ScanSourceDialog.h"
#include "grading/GradeReport.h"
#include "printing/PrinterSelection.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QHBoxLayout>
#include <QIcon>
#include <QVBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

namespace raitakone {
namespace {

int twipsToPixels(int twips, double dpi) { return int(std::lround(twips * dpi / 1440.0)); }

// The first sentence of a message, for the status line; the whole message
// is in the message box and the tooltip.
QString shortForm(const std::string& message)
{
    const QString text = QString::fromStdString(message);
    const qsizetype end = text.indexOf(QStringLiteral(". "));
    return end < 0 ? text : text.left(end + 1);
}

void showMessageBox(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

PictureBox::PictureBox(const PictureSurface& surface, QWidget* parent) : QFrame(parent), surface_(surface)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setFocusPolicy(Qt::TabFocus);
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setClipRect(contentsRect());
    painter.drawImage(contentsRect().topLeft(), surface_.picture().image());
}

Form1::Form1(PrinterSurface::Connector connector, QWidget* parent)
    : QWidget(parent), connector_(std::move(connector)), printer_(connector_), showMessage_(showMessageBox),
      end_([this] {
          close();
          QCoreApplication::exit(0);
      })
{
    setObjectName("Form1");
    setWindowTitle(QString::fromUtf8(kForm1Caption));
    // A session's logout asks too, where the session lets the program ask.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& session) {
        if (report_ && session.allowsInteraction()) {
            if (!reportMayBeDropped())
                session.cancel();
            session.release();
        }
    });
    // The desktop's icon where it is installed; the same drawing built in.
    setWindowIcon(QIcon::fromTheme(QStringLiteral("raitakone"), QIcon(QStringLiteral(":/raitakone.svg"))));
    resize(twipsToPixelsX(kForm1ClientWidthTwips), twipsToPixelsY(kForm1ClientHeightTwips));
    picture_ = std::make_unique<PictureSurface>(kPictureWidth, kPictureHeight, logicalDpiX());
    createControls();
    createStatusLine();
    refreshPrinterStatus();
    // Where to start, until the first page or notice says something else.
    if (pageStatus_->text().isEmpty())
        showNotice(QString::fromUtf8("Tulosta testisivu sen painikkeella. Skannaa tulostettu sivu ja arvioi se "
                                     "painikkeella Arvioi skannaus…; Kavennustikkaat kertoo, paljonko palkkeja "
                                     "kannattaa kaventaa."));
}

Form1::~Form1() = default;

int Form1::twipsToPixelsX(int twips) const { return twipsToPixels(twips, logicalDpiX()); }
int Form1::twipsToPixelsY(int twips) const { return twipsToPixels(twips, logicalDpiY()); }

void Form1::createControls()
{
    QWidget* previous = nullptr;
    for (const ControlRow& row : form1Controls()) {
        QWidget* control = nullptr;
        if (row.caption == nullptr) {
            picViivakoodi_ = new PictureBox(*picture_, this);
            picture_->setChangedHandler([box = picViivakoodi_] { box->update(); });
            control = picViivakoodi_;
        } else {
            auto* button = new QPushButton(QString::fromUtf8(row.caption), this);
            connect(button, &QPushButton::clicked, this, [this, &row] { click(row); });
            // What the button does, said before the click; those that end
            // the program say so.
            button->setToolTip(QString::fromStdString(controlHint(row)));
            control = button;
        }
        control->setObjectName(QString::fromLatin1(row.name));
        if (row.index >= 0)
            control->setProperty("Index", row.index);
        control->setGeometry(twipsToPixelsX(row.left), twipsToPixelsY(row.top), twipsToPixelsX(row.width),
                             twipsToPixelsY(row.height));
        if (previous != nullptr)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

// The status line sits under the client area, which keeps its size: the
// window grows by the line's height and no control moves. Its first row
// names the printer, the second holds its buttons, and the third, the whole
// width, says where the last page went, wrapped so that it is always read
// whole.
void Form1::createStatusLine()
{
    statusLine_ = new QFrame(this);
    statusLine_->setObjectName("statusLine");
    statusLine_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* rows = new QVBoxLayout(statusLine_);
    rows->setContentsMargins(6, 2, 2, 4);
    rows->setSpacing(2);
    auto* printerRow = new QHBoxLayout;
    printerRow->setSpacing(8);
    printerStatus_ = new QLabel(statusLine_);
    printerStatus_->setObjectName("printerStatus");
    printerStatus_->setTextFormat(Qt::PlainText);
    printerStatus_->setWordWrap(true);
    pageStatus_ = new QLabel(statusLine_);
    pageStatus_->setObjectName("pageStatus");
    pageStatus_->setTextFormat(Qt::PlainText);
    pageStatus_->setWordWrap(true);
    pageStatus_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pageStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    choosePrinter_ = new QPushButton(QString::fromUtf8("&Vaihda tulostin…"), statusLine_);
    choosePrinter_->setObjectName("choosePrinter");
    choosePrinter_->setVisible(false);
    connect(choosePrinter_, &QPushButton::clicked, this, [this] {
        if (chooser_ && chooser_(this)) {
            // What the last page did on the old printer no longer applies.
            showNotice({});
            refreshPrinterStatus();
        }
    });
    gradeScan_ = new QPushButton(QString::fromUtf8("&Arvioi skannaus…"), statusLine_);
    gradeScan_->setObjectName("gradeScan");
    connect(gradeScan_, &QPushButton::clicked, this, &Form1::chooseScanSource);
    markPages_ = new QCheckBox(QString::fromUtf8("&Merkitse sivut"), statusLine_);
    markPages_->setObjectName("markPages");
    connect(markPages_, &QCheckBox::clicked, this, [this](bool checked) {
        if (markChanged_)
            markChanged_(checked);
    });
    printLadder_ = new QPushButton(QString::fromUtf8("&Kavennustikkaat"), statusLine_);
    printLadder_->setObjectName("printLadder");
    connect(printLadder_, &QPushButton::clicked, this, &Form1::printLadder);
    openReport_ = new QPushButton(QString::fromUtf8("&Raportti…"), statusLine_);
    openReport_->setObjectName("openReport");
    connect(openReport_, &QPushButton::clicked, this, &Form1::openReport);
    // The printer's name, resolution, driver mode and paper take a row of
    // their own, so a long queue name wraps in the whole width, never
    // clipped beside the buttons.
    rows->addWidget(printerStatus_);
    QWidget* previous = markPages_;
    for (QWidget* control : {static_cast<QWidget*>(markPages_), static_cast<QWidget*>(printLadder_),
                             static_cast<QWidget*>(openReport_), static_cast<QWidget*>(choosePrinter_),
                             static_cast<QWidget*>(gradeScan_)}) {
        printerRow->addWidget(control);
        if (control != previous)
            QWidget::setTabOrder(previous, control); // left to right, as they stand
        previous = control;
    }
    printerRow->addStretch(1);
    rows->addLayout(printerRow);
    rows->addWidget(pageStatus_);
    layOutStatusLine();
}

void Form1::layOutStatusLine()
{
    // Two lines are always kept for the page notice, so that the window does
    // not change height with every page; a longer notice adds its lines.
    pageStatus_->setMinimumHeight(2 * pageStatus_->fontMetrics().lineSpacing());
    const int clientWidth = twipsToPixelsX(kForm1ClientWidthTwips);
    const int clientHeight = twipsToPixelsY(kForm1ClientHeightTwips);
    statusLine_->layout()->activate();
    const int lineHeight = std::max(statusLine_->heightForWidth(clientWidth), statusLine_->minimumSizeHint().height());
    statusLine_->setGeometry(0, clientHeight, clientWidth, lineHeight);
    resize(clientWidth, clientHeight + lineHeight);
}

void Form1::setPrinterChooser(PrinterChooser choose)
{
    chooser_ = std::move(choose);
    choosePrinter_->setVisible(bool(chooser_));
}

void Form1::showNotice(const QString& text)
{
    pageStatus_->setText(text);
    pageStatus_->setToolTip({});
    layOutStatusLine();
}

void Form1::refreshPrinterStatus()
{
    try {
        const std::unique_ptr<PrinterBackend> backend = connector_();
        const PageGeometry g = backend->geometry();
        printerDpi_ = g.dpiX;
        const std::string driver = backend->driverText();
        printerStatus_->setText(QString::fromStdString(backend->displayName() + " · " +
                                                       resolutionText(g.dpiX, g.dpiY) + " · " +
                                                       (driver.empty() ? "" : driver + " · ") +
                                                       backend->mediaText()));
        printerStatus_->setToolTip({});
        layOutStatusLine();
        if (const std::string notice = backend->openingNotice(); !notice.empty())
            showNotice(QString::fromStdString(notice));
    } catch (const std::exception& error) {
        printerDpi_.reset();
        printerStatus_->setText(QString::fromUtf8("Tulostin: ") + shortForm(error.what()));
        printerStatus_->setToolTip(QString::fromStdString(error.what()));
        layOutStatusLine();
    }
}

void Form1::chooseScanSource()
{
    if (gradeRun_ != nullptr)
        return;
    const scanning::GradeSource suggestion = sourceSuggestion();
    const std::optional<scanning::GradeSource> source =
        sourceChooser_ ? sourceChooser_(this, suggestion) : chooseScanSourceInDialog(this, suggestion);
    if (source)
        gradeScan(*source);
}

scanning::GradeSource Form1::sourceSuggestion() const
{
    // The page graded last was most likely printed where the next one was:
    // the resolution given then stands; the first time, the current printer's.
    scanning::GradeSource suggestion = lastSource_;
    if (!gradedBefore_)
        suggestion.printerDpi = printerDpi_;
    return suggestion;
}

ReportDialog* Form1::reportDialog() const { return report_; }

void Form1::openReport()
{
    if (report_) {
        report_->raise();
        report_->activateWindow();
        return;
    }
    report_ = new ReportDialog(sourceSuggestion(), this);
    if (sourceChooser_)
        report_->setSourceChooser(sourceChooser_);
    // What the user gives there is what the next grading suggests.
    report_->setChoiceHandler([this](const scanning::GradeSource& choice) {
        lastSource_ = choice;
        gradedBefore_ = true;
    });
    connect(report_, &QDialog::finished, report_, &QObject::deleteLater);
    report_->show();
}

void Form1::gradeScan(const scanning::GradeSource& source)
{
    if (gradeRun_ != nullptr)
        return;
    lastSource_ = source;
    gradedBefore_ = true;
    gradeScan_->setEnabled(false);
    showNotice(source.kind == scanning::GradeSource::Kind::Scanner ? QString::fromUtf8("Skannataan…")
                                                                   : QString::fromUtf8("Arvioidaan ") + source.file);
    gradeRun_ = new GradeRun(source, this, [this](const scanning::GradeOutcome& outcome) {
        // The run ends here; it goes once this call has returned.
        gradeRun_->deleteLater();
        gradeRun_ = nullptr;
        gradeScan_->setEnabled(true);
        showGrade(outcome);
    });
}

void Form1::showGrade(const scanning::GradeOutcome& outcome)
{
    if (!outcome.result) {
        const QString first = shortForm(outcome.error.toStdString());
        showNotice(outcome.cancelled ? first : QString::fromUtf8("Virhe: ") + first);
        pageStatus_->setToolTip(outcome.error);
        if (!outcome.cancelled)
            showMessage_(this, QString::fromUtf8(kMessageCaption), outcome.error);
        return;
    }
    const grading::SymbolGrade& symbol = outcome.result->symbols.front();
    QString status = QString::fromUtf8("Arvio %1 (%2)").arg(symbol.gradeText).arg(QLatin1Char(symbol.letter));
    if (symbol.barGain.printerPixels)
        status += QString::fromUtf8(" · levenemä ") +
                  grading::printerPixelsText(*outcome.result, *symbol.barGain.printerPixels, true);
    if (outcome.result->ladder)
        status = outcome.result->ladder->recommendation;
    showNotice(status + QString::fromUtf8(" — ") + outcome.source);
    auto* dialog = new GradeDialog(*outcome.result, outcome.source, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void Form1::click(const ControlRow& control)
{
    if (const std::optional<PrintPage> page = printPageOf(control))
        return print(*page);
    switch (commandNumber(control.name)) {
    case 1: guarded([this] { showPixelSizes(); }); break;
    case 2: guarded([this] { showPatternLength(); }); break;
    case 6: guarded([this] { showModuleWidth(); }); break;
    case 8: endProgram(); break;
    default: break; // Command9 and Command12 do nothing
    }
}

void Form1::siirra() { print(*findPrintPage("siirra")); }

void Form1::print(const PrintPage& page)
{
    const auto end = [this, &page] {
        // Let the preview of Command3 reach the screen before the window goes.
        if (page.control == "Command3")
            picViivakoodi_->repaint();
        endProgram();
    };
    const bool printed = guarded([&] {
        printMarkedPage(page, markPages_->isChecked(), marker_, std::to_string(pagesPrinted_ + 1), printer_,
                        *picture_, end, [this](const std::string& text) { message(text); });
    });
    const std::optional<Delivery> delivered = printer_.takeLastDelivery();
    if (printed && delivered) {
        ++pagesPrinted_;
        const Delivery& delivery = *delivered;
        QString status = QString::fromStdString(page.caption + " " + deliveryText(delivery));
        if (!delivery.notice.empty())
            status += QString::fromStdString(" — " + delivery.notice);
        showNotice(status);
        warnOfHeldQueue(delivery);
    }
}

// A held job prints nothing until someone resumes the queue, which a line
// of text is too easily missed for: the first held job on a queue also
// comes as a message; once a job goes through, the next stop is told again.
// The message is the queue's alone: what of the page did not fit is in the
// status row.
void Form1::warnOfHeldQueue(const Delivery& delivery)
{
    if (!delivery.held) {
        heldQueues_.erase(delivery.queue);
        return;
    }
    if (heldQueues_.insert(delivery.queue).second)
        message(delivery.printerNotice);
}

void Form1::printLadder()
{
    std::vector<PrintPage> sheets;
    if (guarded([&] { sheets = withLadderSheets({ladderPrintPage()}, printer_); }))
        for (const PrintPage& sheet : sheets)
            print(sheet);
}

bool Form1::guarded(const std::function<void()>& action)
{
    std::string failure;
    try {
        action();
        printer_.releasePrinter();
        return true;
    } catch (const RuntimeError& error) {
        failure = error.what();
    } catch (const std::exception& error) {
        failure = std::string("Odottamaton virhe: ") + error.what();
    }
    printer_.KillDoc();
    showNotice(QString::fromUtf8("Virhe: ") + shortForm(failure));
    pageStatus_->setToolTip(QString::fromStdString(failure));
    message(failure);
    return false;
}

void Form1::message(const std::string& text)
{
    showMessage_(this, QString::fromUtf8(kMessageCaption), QString::fromStdString(text));
}

bool Form1::reportMayBeDropped()
{
    if (report_ && !report_->mayDiscard()) {
        report_->raise();
        return false;
    }
    return true;
}

void Form1::endProgram()
{
    if (reportMayBeDropped())
        end_();
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (reportMayBeDropped())
        event->accept();
    else
        event->ignore();
}

void Form1::showPixelSizes()
{
    const float x = printer_.TwipsPerPixelX();
    const float y = printer_.TwipsPerPixelY();
    message(singleToText(x) + " - " + singleToText(y));
}

void Form1::showPatternLength() { message(doubleToText(double(kBarPattern.size()))); }

void Form1::showModuleWidth() { message(doubleToText(moduleWidth(printer_.TwipsPerPixelX()))); }

} // namespace raitakone
