// The series report from the window, offscreen: scans added as files fill
// their rows as they are graded, an unmarked page is named from the series
// and saved so, rows go and come, and the dialog closes in the middle of
// its work.

#include "app/EnterPressesButtons.h"
#include "app/Form1.h"
#include "app/GradeDialog.h"
#include "app/ReportDialog.h"
#include "grading/GradeReport.h"
#include "grading/PageReport.h"
#include "report/SeriesGrading.h"
#include "report/SeriesReport.h"
#include "support/MarkedScan.h"
#include "support/MemoryPrinter.h"
#include "support/SyntheticScan.h"
#include "support/TestScanner.h"

#include <QComboBox>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

using namespace raitakone;

namespace {

constexpr int kPrinterDpi = 600;

// An unmarked scan of a 600-dpi page whose bars were printed gain pixels
// too wide.
QImage unmarkedScan(int gain)
{
    return testing::scan(testing::printed(testing::symbolPage(kPrinterDpi), kPrinterDpi,
                                          testing::symbolRegion(kPrinterDpi), gain),
                         {.dpi = 600});
}

QString writeScan(const QTemporaryDir& dir, const QString& name, int gain)
{
    const QString file = dir.filePath(name);
    return unmarkedScan(gain).save(file) ? file : QString();
}

// A scan of the page named, printed with its mark at 300 dpi.
QString writeMarkedScan(const QTemporaryDir& dir, const std::string& pageName, const std::string& n)
{
    const QString file = dir.filePath("merkitty.png");
    return testing::seriesPageScan(*findPrintPage(pageName), n, 300, 0, {.dpi = 600}).save(file) ? file : QString();
}

// The scans as the pages of one PDF, each page the image's size.
QString writePdf(const QTemporaryDir& dir, const QList<QImage>& scans)
{
    const QString file = dir.filePath("sivut.pdf");
    QPdfWriter pdf(file);
    pdf.setResolution(600);
    QPainter painter;
    for (const QImage& scan : scans) {
        const QPageSize size(QSizeF(scan.width(), scan.height()) * 72.0 / 600.0, QPageSize::Point);
        pdf.setPageSize(size);
        pdf.setPageMargins({});
        if (painter.isActive())
            pdf.newPage();
        else if (!painter.begin(&pdf))
            return {};
        painter.drawImage(QPoint(0, 0), scan);
    }
    return painter.end() ? file : QString();
}

QString writeNotAnImage(const QTemporaryDir& dir)
{
    QFile file(dir.filePath("muistiinpano.png"));
    return file.open(QIODevice::WriteOnly) && file.write("ei kuva\n") > 0 ? file.fileName() : QString();
}

// The same file graded as --report grades it, for what the rows must show.
std::vector<report::ScannedPage> gradedAlone(const QString& file)
{
    report::SeriesOptions options;
    options.grading.printerDpi = kPrinterDpi;
    return report::gradeSeries({{file, std::nullopt}}, options);
}

int seriesIndex(const std::string& name)
{
    const auto pages = allPrintPages();
    return int(std::find_if(pages.begin(), pages.end(), [&](const PrintPage& p) { return p.name() == name; }) -
               pages.begin());
}

QString text(const ReportDialog& dialog, int row, int column)
{
    const QTableWidgetItem* item = dialog.table()->item(row, column);
    return item ? item->text() : QString();
}

// The text of each element of the report's HTML that names its JSON
// field, by field.
std::map<QString, QStringList> htmlFields(const QByteArray& html)
{
    std::map<QString, QStringList> fields;
    QXmlStreamReader xml(html);
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.attributes().hasAttribute("data-field")) {
            const QString field = xml.attributes().value("data-field").toString();
            fields[field] << xml.readElementText(QXmlStreamReader::IncludeChildElements);
        }
    return fields;
}

struct Report {
    Report() : dialog(source())
    {
        dialog.setOpener([this](const QString& path) { opened << path; });
    }
    static scanning::GradeSource source()
    {
        scanning::GradeSource s;
        s.printerDpi = kPrinterDpi;
        return s;
    }
    void add(const QStringList& files)
    {
        dialog.addFiles(files);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.busy(), 120000);
    }
    ReportDialog dialog;
    QStringList opened;
};

} // namespace

class ReportWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir work_;
    QString marked_, wide_, plain_, pdf_, bad_;

private slots:
    void initTestCase()
    {
        QVERIFY(work_.isValid());
        marked_ = writeMarkedScan(work_, "Command10:2", "3/20");
        wide_ = writeScan(work_, "leveat.png", 1);
        plain_ = writeScan(work_, "tasan.png", 0);
        pdf_ = writePdf(work_, {unmarkedScan(1), unmarkedScan(0)});
        bad_ = writeNotAnImage(work_);
        QVERIFY(!marked_.isEmpty() && !wide_.isEmpty() && !plain_.isEmpty() && !pdf_.isEmpty() && !bad_.isEmpty());
    }

    // Each row shows what grading the file alone gives, a PDF's pages one
    // row each in their place; a page the printer drew a pixel too wide shows
    // about +1 px. Unmarked pages follow the one above them in the series, a
    // page chosen by hand goes into the report, and a file that is no image
    // says why.
    void rowsShowTheGradesAndTheNamedPagesGoIntoTheReport()
    {
        Report report;
        report.add({marked_, pdf_, bad_});
        ReportDialog& dialog = report.dialog;
        QCOMPARE(dialog.table()->rowCount(), 4);
        const std::vector<report::ScannedPage> scans = dialog.scans();
        QCOMPARE(scans.size(), size_t(4));
        QCOMPARE(scans[1].source, pdf_ + ", sivu 1");
        QCOMPARE(scans[2].source, pdf_ + ", sivu 2");
        QCOMPARE(text(dialog, 2, ReportDialog::SourceColumn), QString("sivut.pdf, sivu 2"));

        const report::ScannedPage alone = gradedAlone(marked_).front();
        QVERIFY(alone.result && alone.result->page);
        // The n column is the page's place in the series, for marked rows too.
        QCOMPARE(text(dialog, 0, ReportDialog::PageColumn), QString::number(seriesIndex("Command10:2") + 1));
        QCOMPARE(text(dialog, 0, ReportDialog::CaptionColumn), QString::fromStdString(alone.result->page->caption));
        QVERIFY(dialog.pageChoice(0) == nullptr);

        for (const auto& [row, file] : {std::pair{0, marked_}, std::pair{1, pdf_}}) {
            const report::ScannedPage page = gradedAlone(file).front();
            QVERIFY(page.result && !page.result->symbols.empty());
            const grading::SymbolGrade& symbol = page.result->symbols[grading::shownSymbol(*page.result)];
            QCOMPARE(text(dialog, row, ReportDialog::GradeColumn), QString(QLatin1Char(symbol.letter)));
            const int grade = int(QByteArrayView("FDCBA").indexOf(symbol.letter));
            QCOMPARE(dialog.table()->item(row, ReportDialog::GradeColumn)->background().color(),
                     QColor(grading::gradeColourName(grade)));
            QVERIFY(symbol.barGain.printerPixels);
            QCOMPARE(text(dialog, row, ReportDialog::GainColumn),
                     grading::signedReportNumber(*symbol.barGain.printerPixels, 2));
        }
        const double wideGain = text(dialog, 1, ReportDialog::GainColumn).replace(',', '.').toDouble();
        QVERIFY2(std::fabs(wideGain - 1.0) < 0.3, qPrintable(text(dialog, 1, ReportDialog::GainColumn)));

        // The unmarked pages follow the marked one in the series.
        const int markedIndex = seriesIndex("Command10:2");
        QComboBox* wide = dialog.pageChoice(1);
        QComboBox* plain = dialog.pageChoice(2);
        QVERIFY(wide != nullptr && plain != nullptr);
        QCOMPARE(wide->currentIndex(), markedIndex + 1);
        QCOMPARE(plain->currentIndex(), markedIndex + 2);
        // A guess says so, and goes into the report as one.
        QVERIFY(text(dialog, 1, ReportDialog::CaptionColumn).endsWith(QStringLiteral("(arvattu – tarkista)")));
        for (const report::ScannedPage& scan : dialog.scans())
            QCOMPARE(scan.suggested, scan.named.has_value());

        // A graded row opens in the grade dialog; the bad file's row does not.
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const auto doubleClick = [&](int row) {
            const QRect cell = dialog.table()->visualRect(dialog.table()->model()->index(row, ReportDialog::GradeColumn));
            QTest::mousePress(dialog.table()->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(dialog.table()->viewport(), Qt::LeftButton, {}, cell.center());
        };
        doubleClick(3);
        QCOMPARE(dialog.findChildren<GradeDialog*>().size(), 0);
        doubleClick(1);
        QCOMPARE(dialog.findChildren<GradeDialog*>().size(), 1);
        QCOMPARE(dialog.findChild<GradeDialog*>()->windowTitle(), QString::fromUtf8("Skannauksen arvio — sivut.pdf, sivu 1"));

        QCOMPARE(text(dialog, 3, ReportDialog::StatusColumn), gradedAlone(bad_).front().error);
        QVERIFY(!text(dialog, 3, ReportDialog::StatusColumn).isEmpty());
        QVERIFY(dialog.pageChoice(3) == nullptr);
        QVERIFY(text(dialog, 3, ReportDialog::GradeColumn).isEmpty());

        // Naming the wide page by hand moves the page below it along.
        const int chosen = 0;
        wide->setCurrentIndex(chosen);
        QCOMPARE(plain->currentIndex(), chosen + 1);
        const PrintPage& chosenPage = allPrintPages()[chosen];
        QCOMPARE(text(dialog, 1, ReportDialog::CaptionColumn), QString::fromStdString(chosenPage.caption));

        QVERIFY(dialog.findChild<QPushButton*>("saveReport")->isEnabled());
        const QString path = work_.filePath("raportti.html");
        QString error;
        QVERIFY2(dialog.saveReport(path, &error), qPrintable(error));
        QCOMPARE(report.opened, QStringList{path});
        QVERIFY(dialog.findChild<QLabel*>("reportSummary")->text().endsWith(QStringLiteral("tallennettu: ") + path));
        // The page named by hand is ranked as that page, and the saved file
        // shows what the report says of each scan.
        const report::SeriesReport ranked =
            report::rankSeries(dialog.scans(), {QDate::currentDate(), kPrinterDpi, seriesPlaceOf});
        const auto named = std::find_if(ranked.pages.begin(), ranked.pages.end(),
                                        [&](const report::RankedPage& p) { return p.source == pdf_ + ", sivu 1"; });
        QVERIFY(named != ranked.pages.end());
        QCOMPARE(named->pageSource, report::PageSource::User);
        const auto guessed = std::find_if(ranked.pages.begin(), ranked.pages.end(),
                                          [&](const report::RankedPage& p) { return p.source == pdf_ + ", sivu 2"; });
        QVERIFY(guessed != ranked.pages.end());
        QCOMPARE(guessed->pageSource, report::PageSource::Suggested);
        QCOMPARE(named->n, QString::number(chosen + 1));
        QCOMPARE(named->caption, QString::fromStdString(chosenPage.caption));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const std::map<QString, QStringList> fields = htmlFields(saved.readAll());
        QVERIFY(fields.at("caption").contains(named->caption));
        QVERIFY(fields.at("n").contains(named->n));
        QVERIFY(fields.at("n").contains(QString::number(seriesIndex("Command10:2") + 1)));
        QVERIFY(fields.at("source").contains(bad_));
        QVERIFY(fields.at("message").contains(text(dialog, 3, ReportDialog::StatusColumn)));

        // A report that cannot be written leaves nothing behind and opens nothing.
        const QString nowhere = work_.filePath("ei-ole/raportti.html");
        QVERIFY(!dialog.saveReport(nowhere, &error));
        QVERIFY2(error.contains(QStringLiteral("ei-ole")), qPrintable(error));
        QVERIFY(!QFile::exists(nowhere));
        QCOMPARE(report.opened.size(), 1);
    }

    // A removed row is gone from the table and from the report; the pages
    // below it follow the one now above them. Clearing leaves nothing to save.
    void rowsAreRemovedAndCleared()
    {
        Report report;
        report.add({marked_, wide_, plain_});
        ReportDialog& dialog = report.dialog;
        QCOMPARE(dialog.table()->rowCount(), 3);
        dialog.removeRow(0);
        QCOMPARE(dialog.table()->rowCount(), 2);
        QCOMPARE(dialog.scans().size(), size_t(2));
        QCOMPARE(dialog.scans().front().source, wide_);
        QCOMPARE(dialog.pageChoice(0)->currentIndex(), 0);
        QCOMPARE(dialog.pageChoice(1)->currentIndex(), 1);

        dialog.clearRows();
        QCOMPARE(dialog.table()->rowCount(), 0);
        QVERIFY(dialog.scans().empty());
        QVERIFY(!dialog.findChild<QPushButton*>("saveReport")->isEnabled());
        report.add({bad_});
        QCOMPARE(dialog.table()->rowCount(), 1);
    }

    // Skannaa sivu… takes a page from the scanner chosen; a blank one has no
    // symbol to grade. Closing the dialog while the scanner reads stops it.
    void scannedPagesFillTheirRowsAndClosingStopsTheScanner()
    {
        testing::useTestScanner("");
        auto report = std::make_unique<Report>();
        QPointer<ReportDialog> dialog = &report->dialog;
        QStringList suggested;
        dialog->setSourceChooser([&](QWidget*, const scanning::GradeSource& suggestion) {
            suggested << QString::number(suggestion.printerDpi.value_or(0));
            scanning::GradeSource scanner;
            scanner.kind = scanning::GradeSource::Kind::Scanner;
            scanner.scanDpi = 300;
            scanner.printerDpi = 300;
            return std::optional(scanner);
        });
        auto* scan = dialog->findChild<QPushButton*>("scanPage");
        scan->click();
        QCOMPARE(suggested, QStringList{QString::number(kPrinterDpi)});
        QCOMPARE(dialog->printerDpi(), std::optional<double>(300));
        QCOMPARE(dialog->table()->rowCount(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->busy(), 60000);
        QCOMPARE(dialog->table()->rowCount(), 1);
        QVERIFY2(text(*dialog, 0, ReportDialog::StatusColumn).startsWith(QStringLiteral("Ei viivakoodia: ")),
                 qPrintable(text(*dialog, 0, ReportDialog::StatusColumn)));
        QVERIFY2(text(*dialog, 0, ReportDialog::SourceColumn).startsWith(QStringLiteral("skanneri test:")),
                 qPrintable(text(*dialog, 0, ReportDialog::SourceColumn)));

        testing::useTestScanner("read-limit true\nread-limit-size 1024\nread-delay true\nread-delay-duration 20000\n");
        scan->click();
        QCOMPARE(dialog->table()->rowCount(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(text(*dialog, 1, ReportDialog::StatusColumn).contains(QStringLiteral(" %")), 60000);
        QVERIFY(dialog->busy());
        dialog->reject();
        QVERIFY(!dialog->busy());
        report.reset();
        QVERIFY(dialog.isNull());
    }

    // Skannaa syöttölaitteesta… takes the feeder's every page, a row each.
    void emptyingTheFeederGivesARowForEachPage()
    {
        testing::useTestScanner("");
        Report report;
        report.dialog.setSourceChooser([](QWidget*, const scanning::GradeSource&) {
            scanning::GradeSource scanner;
            scanner.kind = scanning::GradeSource::Kind::Scanner;
            scanner.scanDpi = 300;
            return std::optional(scanner);
        });
        report.dialog.findChild<QPushButton*>("emptyFeeder")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!report.dialog.busy(), 120000);
        const int rows = report.dialog.table()->rowCount();
        QVERIFY2(rows > 1, qPrintable(text(report.dialog, 0, ReportDialog::StatusColumn)));
        for (int row = 0; row < rows; ++row)
            QVERIFY2(text(report.dialog, row, ReportDialog::StatusColumn).startsWith(QStringLiteral("Ei viivakoodia: ")),
                     qPrintable(text(report.dialog, row, ReportDialog::StatusColumn)));
    }

    // A PNG that states no resolution (or the 96 dpi programs write) is
    // asked for one as it is added, and graded at it; the others are not.
    void filesWithoutTheirResolutionAreAskedForIt()
    {
        QImage scan = unmarkedScan(1);
        scan.setDotsPerMeterX(3780); // 96 dpi
        scan.setDotsPerMeterY(3780);
        const QString unstated = work_.filePath("ilman-tarkkuutta.png");
        QVERIFY(scan.save(unstated));
        Report report;
        QStringList asked;
        report.dialog.setResolutionQuestion([&asked](const QStringList& files) {
            asked = files;
            return std::optional<double>(600);
        });
        report.dialog.addChosenFiles({marked_, unstated});
        QTRY_VERIFY_WITH_TIMEOUT(!report.dialog.busy(), 120000);
        QCOMPARE(asked, QStringList{unstated});
        const double gain = text(report.dialog, 1, ReportDialog::GainColumn).replace(',', '.').toDouble();
        QVERIFY2(std::fabs(gain - 1.0) < 0.3, qPrintable(text(report.dialog, 1, ReportDialog::StatusColumn)));
    }

    // Closing with graded scans that no saved report holds asks first: no
    // keeps the dialog open; after a save nothing is asked.
    void closingAsksBeforeDroppingUnsavedGrades()
    {
        Report report;
        report.add({marked_});
        ReportDialog& dialog = report.dialog;
        QList<int> asked;
        bool answer = false;
        dialog.setDiscardQuestion([&](int graded) {
            asked << graded;
            return answer;
        });
        dialog.show();
        dialog.reject();
        QVERIFY(dialog.isVisible());
        answer = true;
        dialog.reject();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(asked, QList<int>({1, 1}));

        dialog.show();
        QString error;
        QVERIFY2(dialog.saveReport(work_.filePath("tallennettu.html"), &error), qPrintable(error));
        dialog.reject();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(asked.size(), 2);
    }

    // Raportti… in the status line opens the dialog once; closing it while
    // scans are still being graded stops them and the dialog goes.
    void closingInTheMiddleStopsTheGrading()
    {
        Form1 form([] {
            return std::make_unique<testing::MemoryPrinter>(testing::a4Geometry(300),
                                                            std::make_shared<testing::MemoryPrinterRecord>());
        });
        auto* button = form.findChild<QPushButton*>("openReport");
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), QString::fromUtf8("&Raportti…"));
        QCOMPARE(button->parent()->objectName(), QString("statusLine"));
        QTest::mouseClick(button, Qt::LeftButton);
        QPointer<ReportDialog> dialog = form.reportDialog();
        QVERIFY(dialog != nullptr && dialog->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(form.reportDialog(), dialog.data());

        dialog->addFiles(QStringList(12, marked_));
        QVERIFY(dialog->busy());
        dialog->findChild<QPushButton*>("closeReport")->click();
        QVERIFY(!dialog->busy());
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(form.reportDialog() == nullptr);
    }

    // Enter presses the focused button, as Space does.
    void enterPressesTheFocusedButton()
    {
        installEnterPressesButtons();
        Form1 form([] {
            return std::make_unique<testing::MemoryPrinter>(testing::a4Geometry(300),
                                                            std::make_shared<testing::MemoryPrinterRecord>());
        });
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        auto* button = form.findChild<QPushButton*>("openReport");
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
        QTRY_VERIFY(form.reportDialog() != nullptr);
    }

    // Every way out of the program asks before graded scans that no saved
    // report holds are lost: Poistu, a page that ends the program, the
    // window's close; no means the program goes on.
    void endingTheProgramAsksBeforeDroppingUnsavedGrades()
    {
        Form1 form([] {
            return std::make_unique<testing::MemoryPrinter>(testing::a4Geometry(300),
                                                            std::make_shared<testing::MemoryPrinterRecord>());
        });
        int ends = 0;
        form.setEndAction([&] { ++ends; });
        form.show();
        form.findChild<QPushButton*>("openReport")->click();
        QPointer<ReportDialog> dialog = form.reportDialog();
        QVERIFY(dialog != nullptr);
        dialog->addFiles({marked_});
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->busy(), 120000);
        int asked = 0;
        bool answer = false;
        dialog->setDiscardQuestion([&](int) {
            ++asked;
            return answer;
        });
        for (const char* button : {"Command8", "Command4"}) {
            form.findChild<QPushButton*>(button)->click();
            QCOMPARE(ends, 0);
        }
        QVERIFY(!form.close());
        QCOMPARE(asked, 3);
        answer = true;
        form.findChild<QPushButton*>("Command8")->click();
        QCOMPARE(std::make_pair(asked, ends), std::make_pair(4, 1));
    }
};

QTEST_MAIN(ReportWindowTest)
#include "report_window_qtest.moc"
