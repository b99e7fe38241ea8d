// Grading from the window, offscreen: the result dialog against what
// --grade --json says of the same file, the profile following the chosen
// scan line, saving, and the errors the window reports.

#include "app/Form1.h"
#include "app/GradeDialog.h"
#include "grading/GradeReport.h"
#include "app/GradeRun.h"
#include "app/ScanSourceDialog.h"
#include "app/PageSeries.h"
#include "scanning/ScannerCalibrations.h"
#include "support/MemoryPrinter.h"
#include "support/ModalDialog.h"
#include "support/SyntheticScan.h"
#include "support/TestScanner.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <fstream>

using namespace raitakone;
using raitakone::scanning::GradeSource;
using raitakone::testing::useTestScanner;

namespace {

// A scan of a 300-dpi page printed one printer pixel too wide.
QString writeWideBarScan(const QTemporaryDir& dir)
{
    const QString file = dir.filePath("leveat.png");
    testing::ScanModel model;
    model.blurSigmaMm = 0.03;
    const auto printed = testing::printed(testing::symbolPage(300), 300, testing::symbolRegion(300), 1);
    return testing::scan(printed, model).save(file) ? file : QString();
}

QByteArray gradeJsonByProgram(const QString& file, const QString& printerDpi)
{
    QProcess process;
    process.start(RAITAKONE_PROGRAM, {"--grade", file, "--printer-dpi", printerDpi, "--json"});
    return process.waitForFinished(120000) && process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray();
}

double shown(const QTableWidget* table, int row, int column)
{
    return table->item(row, column)->text().remove(QStringLiteral(" %")).replace(',', '.').toDouble();
}

// The number a cell shows, against the JSON's, to the decimals shown.
void compareShown(const QTableWidget* table, int row, int column, double json, int decimals)
{
    const double half = 0.5 * std::pow(10.0, -decimals) + 1e-9;
    QVERIFY2(std::fabs(shown(table, row, column) - json) <= half,
             qPrintable(QStringLiteral("%1 row %2 column %3: %4 shown, %5 in JSON")
                            .arg(table->objectName())
                            .arg(row)
                            .arg(column)
                            .arg(table->item(row, column)->text())
                            .arg(json)));
}

struct Window {
    Window()
        : form([record = record] {
              return std::make_unique<testing::MemoryPrinter>(testing::a4Geometry(300), record);
          })
    {
        form.setMessageFunction([this](QWidget*, const QString&, const QString& text) { messages << text; });
    }
    // Grades and waits for the run to end.
    void grade(const GradeSource& source)
    {
        form.gradeScan(source);
        QTRY_VERIFY_WITH_TIMEOUT(form.gradeRun() == nullptr, 120000);
    }
    GradeDialog* dialog() const { return form.findChild<GradeDialog*>(); }

    std::shared_ptr<testing::MemoryPrinterRecord> record = std::make_shared<testing::MemoryPrinterRecord>();
    Form1 form;
    QStringList messages;
};

GradeSource scannerSource()
{
    GradeSource source;
    source.kind = GradeSource::Kind::Scanner;
    source.scanDpi = 300;
    return source;
}

GradeSource fileSource(const QString& file, std::optional<double> printerDpi = std::nullopt)
{
    GradeSource source;
    source.file = file;
    source.printerDpi = printerDpi;
    return source;
}

} // namespace

class GradeWindowTest : public QObject {
    Q_OBJECT

private slots:
    // The dialog shows the numbers --grade --json gives for the same file, and
    // its saved report is that JSON byte for byte.
    void dialogShowsWhatTheCommandLineGives()
    {
        QTemporaryDir work;
        const QString file = writeWideBarScan(work);
        const QByteArray json = gradeJsonByProgram(file, "300");
        QVERIFY(!json.isEmpty());
        const QJsonObject symbol = QJsonDocument::fromJson(json)["symbols"].toArray().first().toObject();

        Window window;
        window.grade(fileSource(file, 300));
        QVERIFY2(window.messages.isEmpty(), qPrintable(window.messages.join('\n')));
        GradeDialog* dialog = window.dialog();
        QVERIFY(dialog != nullptr);
        QVERIFY(dialog->isVisible());

        QCOMPARE(dialog->findChild<QLabel*>("gradeLetter")->text(), symbol["letter"].toString());
        QVERIFY(dialog->findChild<QLabel*>("gradeSummary")->text().contains(symbol["grade_text"].toString()));

        const QJsonObject worst = symbol["parameters"].toObject();
        const auto* parameters = dialog->findChild<QTableWidget*>("parameterTable");
        const std::pair<const char*, int> parameterRows[] = {{"rmin", 1}, {"rmax", 1},    {"sc", 1},
                                                             {"ecmin", 1}, {"mod", 2},    {"defects", 2},
                                                             {"decodability", 2}};
        for (int row = 0; row < int(std::size(parameterRows)); ++row)
            compareShown(parameters, row, 0, worst[parameterRows[row].first].toDouble(), parameterRows[row].second);

        const QJsonArray lines = symbol["scan_lines"].toArray();
        const auto* table = dialog->findChild<QTableWidget*>("lineTable");
        QCOMPARE(table->rowCount(), lines.size());
        const std::pair<const char*, int> lineColumns[] = {{"offset_mm", 2}, {"rmin", 1}, {"rmax", 1},
                                                           {"sc", 1},        {"ecmin", 1}, {"mod", 2},
                                                           {"defects", 2},   {"decodability", 2}};
        for (int row = 0; row < table->rowCount(); ++row) {
            const QJsonObject line = lines[row].toObject();
            for (int column = 0; column < int(std::size(lineColumns)); ++column)
                compareShown(table, row, column, line[lineColumns[column].first].toDouble(),
                             lineColumns[column].second);
            QVERIFY(table->item(row, 9)->text().startsWith(QString::number(line["grade"].toInt())));
        }

        // One printer pixel too wide, in all three units and in words.
        const QJsonObject gain = symbol["bar_gain"].toObject();
        const QString gainText = dialog->findChild<QLabel*>("barGain")->text();
        for (const auto& [name, decimals] : {std::pair{"um", 1}, std::pair{"percent_x", 1}, std::pair{"printer_pixels", 2}})
            QVERIFY2(gainText.contains(QLocale(QLocale::Finnish).toString(gain[name].toDouble(), 'f', decimals)),
                     qPrintable(gainText + " / " + name));
        QVERIFY(std::fabs(gain["printer_pixels"].toDouble() - 1.0) < 0.3);
        QVERIFY2(gainText.contains(QString::fromUtf8("liian leveinä")) && gainText.contains("kapeammat"),
                 qPrintable(gainText));
        // Then what to do: the grade is fine, the ladder gives margin.
        const QString meaning = dialog->findChild<QLabel*>("meaning")->text();
        QVERIFY2(meaning.startsWith(QStringLiteral("Laatu %1 (%2)").arg(grading::reportNumber(symbol["grade"].toDouble(), 1),
                                                                       symbol["letter"].toString())) &&
                     meaning.contains("Kavennustikkailla"),
                 qPrintable(meaning));
        QVERIFY(window.form.pageStatus().contains(symbol["grade_text"].toString()));

        QString error;
        QVERIFY2(dialog->saveJson(work.filePath("arvio.json"), &error), qPrintable(error));
        QFile saved(work.filePath("arvio.json"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), json);
    }

    // Picking another scan line in the table redraws the plot for that line,
    // and the saved plot is the line picked.
    // A ladder scan opens with the recommendation on top, in large type, over
    // the rungs; the status line gives the recommendation too.
    void ladderScanShowsTheRecommendationOverTheRungs()
    {
        testing::TestPrinter printer(testing::sheetGeometry(300, 120, 125));
        PictureSurface picture(kPictureWidth, kPictureHeight);
        marking::PageMarker marker;
        printMarkedPage(ladderPrintPage(0), false, marker, "1/1", printer.printer, picture, [] {},
                        [](const std::string&) {});
        const PageRaster& page = printer.lastPage();
        QTemporaryDir work;
        const QString file = work.filePath("tikkaat.png");
        QVERIFY(testing::scan(testing::printed(page, 300, QRect(0, 0, page.width(), page.height()), 1), {.dpi = 600})
                    .save(file));

        Window window;
        window.grade(fileSource(file));
        QVERIFY2(window.messages.isEmpty(), qPrintable(window.messages.join('\n')));
        GradeDialog* dialog = window.dialog();
        QVERIFY(dialog != nullptr);
        auto* recommendation = dialog->findChild<QLabel*>("ladderRecommendation");
        QVERIFY(recommendation != nullptr);
        QVERIFY2(recommendation->text().startsWith(QString::fromUtf8("Kavenna palkkeja 1 tulostimen pikselillä")),
                 qPrintable(recommendation->text()));
        QVERIFY(recommendation->font().pointSizeF() > dialog->font().pointSizeF() * 1.5);
        auto* rungs = dialog->findChild<QTableWidget*>("ladderRungs");
        QVERIFY(rungs != nullptr);
        QCOMPARE(rungs->rowCount(), 3);
        QCOMPARE(rungs->item(2, 0)->text(), QString("1"));
        QVERIFY(recommendation->mapTo(dialog, QPoint()).y() < rungs->mapTo(dialog, QPoint()).y());
        QCOMPARE(window.form.pageStatus(), recommendation->text() + QString::fromUtf8(" — ") + file);
    }

    void profileFollowsTheChosenLine()
    {
        QTemporaryDir work;
        Window window;
        window.grade(fileSource(writeWideBarScan(work)));
        GradeDialog* dialog = window.dialog();
        QVERIFY(dialog != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        auto* table = dialog->findChild<QTableWidget*>("lineTable");
        const QImage before = dialog->plotImage({1200, 400});
        const int first = dialog->selectedLine();

        const QRect cell = table->visualRect(table->model()->index(0, 3));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(dialog->selectedLine(), 0);
        QVERIFY(first != 0);
        QVERIFY(dialog->plotImage({1200, 400}) != before);

        QString error;
        const QString plot = work.filePath("viiva1.png");
        QVERIFY2(dialog->savePlot(plot, &error), qPrintable(error));
        QImage savedPlot(plot);
        QVERIFY(!savedPlot.isNull());
        QVERIFY(!dialog->savePlot(work.filePath("viiva1.gif"), &error));
        QVERIFY(error.contains(".png"));
    }

    // Arvioi skannaus… in the status line asks for the source, suggesting the
    // current printer's resolution the first time and then the source and
    // printer resolution given last; the result names the resolution it
    // assumed. Cancelling the question grades nothing.
    void statusLineButtonAsksForTheSource()
    {
        QTemporaryDir work;
        const QString file = writeWideBarScan(work);
        Window window;
        window.form.refreshPrinterStatus();
        QList<GradeSource> suggestions;
        bool answer = true;
        window.form.setScanSourceChooser([&](QWidget*, const GradeSource& suggestion) -> std::optional<GradeSource> {
            suggestions << suggestion;
            if (!answer)
                return std::nullopt;
            GradeSource chosen = suggestion;
            chosen.file = file;
            chosen.printerDpi = 600; // the page came from another printer than the current one
            return chosen;
        });
        auto* button = window.form.findChild<QPushButton*>("gradeScan");
        QCOMPARE(button->parent()->objectName(), QString("statusLine"));
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window.dialog() != nullptr, 120000);
        QCOMPARE(suggestions.first().printerDpi, std::optional<double>(300.0));
        const QString gain = window.dialog()->findChild<QLabel*>("barGain")->text();
        QVERIFY2(gain.contains(QString::fromUtf8("tulostimen pikseliä (tulostin 600 dpi)")), qPrintable(gain));
        QVERIFY2(window.form.pageStatus().contains(QString::fromUtf8("(tulostin 600 dpi)")),
                 qPrintable(window.form.pageStatus()));

        delete window.dialog();
        answer = false;
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(suggestions.last().file, file);
        QCOMPARE(suggestions.last().printerDpi, std::optional<double>(600.0));
        QCOMPARE(window.form.gradeRun(), nullptr);
        QCOMPARE(window.dialog(), nullptr);
    }

    // The source dialog fills the scan resolution from a file that states
    // one, and asks for it where the file states none; the resolution given
    // grades the file, which without it cannot be graded.
    void scanResolutionFieldForFiles()
    {
        useTestScanner(nullptr);
        QTemporaryDir work;
        const QString stated = writeWideBarScan(work);
        QImage unstated(stated);
        unstated.setDotsPerMeterX(2835); // 72 dpi: what programs write when they do not know
        unstated.setDotsPerMeterY(2835);
        const QString file = work.filePath("ei-tarkkuutta.png");
        QVERIFY(unstated.save(file));

        QStringList seen;
        const auto answer = [&](int dpi) {
            raitakone::testing::whenDialogOpens([&seen, dpi](QDialog* dialog) {
                auto* field = dialog->findChild<QSpinBox*>("fileDpi");
                seen << field->text();
                auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
                if (dpi == 0) {
                    QTest::mouseClick(ok, Qt::LeftButton);
                    QVERIFY(dialog->isVisible()); // refused: no resolution
                    field->setValue(600);
                    seen << field->text();
                } else if (dpi > 0) {
                    field->setValue(dpi);
                }
                QTest::mouseClick(ok, Qt::LeftButton);
            });
        };
        GradeSource suggestion = fileSource(stated);
        answer(-1);
        std::optional<GradeSource> chosen = chooseScanSourceInDialog(nullptr, suggestion);
        QVERIFY(chosen.has_value());
        QCOMPARE(seen.takeFirst(), QString("600 dpi"));
        QCOMPARE(chosen->fileDpi, std::nullopt); // as the file says

        answer(0);
        chosen = chooseScanSourceInDialog(nullptr, fileSource(file));
        QVERIFY(chosen.has_value());
        QCOMPARE(seen, QStringList({QString::fromUtf8("ei tiedossa"), QString("600 dpi")}));
        QCOMPARE(chosen->fileDpi, std::optional<double>(600.0));

        Window window;
        window.grade(fileSource(file));
        QCOMPARE(window.messages.size(), 1);
        QVERIFY2(window.messages.first().contains("Skannauksen tarkkuus") && !window.messages.first().contains("--"),
                 qPrintable(window.messages.first()));
        window.grade(*chosen);
        QVERIFY(window.dialog() != nullptr);
        QVERIFY(window.dialog()->findChild<QLabel*>("gradeSummary")->text().contains(QString::fromUtf8("skannaus 600 dpi")));

        // A file that is no scan is said to be so at once, not asked for its resolution.
        const QString text = work.filePath("muistio.png");
        QFile note(text);
        QVERIFY(note.open(QIODevice::WriteOnly) && note.write("Tämä ei ole kuva.\n") > 0);
        note.close();
        QString said;
        raitakone::testing::whenDialogOpens([&said](QDialog* dialog) {
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
            said = dialog->findChild<QLabel*>("problem")->text();
            dialog->reject();
        });
        QVERIFY(!chooseScanSourceInDialog(nullptr, fileSource(text)).has_value());
        QVERIFY2(said.contains(QString::fromUtf8("ei ole PNG")), qPrintable(said));
    }

    // On a 1280 × 720 screen (the one this program runs on) the whole dialog
    // is on the screen, its buttons included, and the plot keeps a share.
    void gradeDialogFitsTheScreen()
    {
        QTemporaryDir work;
        Window window;
        window.form.show();
        window.grade(fileSource(writeWideBarScan(work), 600));
        GradeDialog* dialog = window.dialog();
        QVERIFY(dialog != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        const QRect available = dialog->screen()->availableGeometry();
        QCOMPARE(available.size(), QSize(1280, 720));
        QVERIFY2(available.contains(dialog->frameGeometry()),
                 qPrintable(QString("%1,%2 %3x%4").arg(dialog->frameGeometry().x()).arg(dialog->frameGeometry().y())
                                .arg(dialog->frameGeometry().width()).arg(dialog->frameGeometry().height())));
        const QRect inside = dialog->rect();
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            QVERIFY2(inside.contains(QRect(button->mapTo(dialog, QPoint(0, 0)), button->size())),
                     qPrintable(button->text()));
        QVERIFY(dialog->findChild<QWidget*>("profilePlot")->width() >= dialog->width() / 3);
        QVERIFY(dialog->findChild<QWidget*>("lineTable")->height() >= 100);
    }

    // What goes wrong says what to do, in a message and the status line, and
    // the window takes the next grading.
    void errorsSayWhatToDo_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("advice");
        QTest::newRow("no symbol") << "blank" << QString::fromUtf8("skannaa uudelleen");
        QTest::newRow("resolution too low") << "coarse" << QString::fromUtf8("tarkkuudella 600 dpi");
        QTest::newRow("missing file") << "missing" << QString::fromUtf8("ei-ole.png");
    }
    void errorsSayWhatToDo()
    {
        QFETCH(QString, kind);
        QFETCH(QString, advice);
        QTemporaryDir work;
        QString file = work.filePath("ei-ole.png");
        if (kind == "blank") {
            QImage white(1200, 800, QImage::Format_Grayscale8);
            white.fill(230);
            white.setDotsPerMeterX(23622);
            white.setDotsPerMeterY(23622);
            QVERIFY(white.save(file = work.filePath("tyhja.png")));
        } else if (kind == "coarse") {
            testing::ScanModel model;
            model.dpi = 150;
            const auto printed = testing::printed(testing::symbolPage(300), 300, testing::symbolRegion(300));
            QVERIFY(testing::scan(printed, model).save(file = work.filePath("karkea.png")));
        }
        Window window;
        window.grade(fileSource(file));
        QCOMPARE(window.dialog(), nullptr);
        QCOMPARE(window.messages.size(), 1);
        QVERIFY2(window.messages.first().contains(advice), qPrintable(window.messages.first()));
        QVERIFY(window.form.pageStatus().startsWith(QString::fromUtf8("Virhe: ")));
        QVERIFY(window.form.findChild<QPushButton*>("gradeScan")->isEnabled());
    }

    // A scanner with a blank page, and no scanner: each error says what to do.
    void scannerErrorsSayWhatToDo_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("advice");
        QTest::newRow("blank page") << true << QString::fromUtf8("skannaa uudelleen");
        QTest::newRow("no scanner") << false << QString::fromUtf8("scanimage -L");
    }
    void scannerErrorsSayWhatToDo()
    {
        QFETCH(bool, present);
        QFETCH(QString, advice);
        useTestScanner(present ? "" : nullptr);
        Window window;
        window.grade(scannerSource());
        QCOMPARE(window.dialog(), nullptr);
        QCOMPARE(window.messages.size(), 1);
        QVERIFY2(window.messages.first().contains(advice), qPrintable(window.messages.first()));
    }

    // The dialog says how the values became reflectance, and warns in red of a scan whose levels were
    // stretched (white point on the paper): the same scan unstretched gets no warning.
    void dialogWarnsOfStretchedLevels()
    {
        QTemporaryDir work;
        const auto printed = testing::printed(testing::symbolPage(300), 300, testing::symbolRegion(300), 1);
        testing::ScanModel model;
        const QString plain = work.filePath("tavallinen.png"), stretched = work.filePath("venytetty.png");
        QVERIFY(testing::scan(printed, model).save(plain));
        model.tone = [](double r) { return std::min(1.0, r / 0.85); }; // the paper set to white
        QVERIFY(testing::scan(printed, model).save(stretched));
        for (const QString& file : {plain, stretched}) {
            Window window;
            window.grade(fileSource(file));
            QVERIFY2(window.dialog() != nullptr, qPrintable(window.messages.join('\n')));
            const auto* method = window.dialog()->findChild<QLabel*>("reflectanceMethod");
            QVERIFY(method && method->text().startsWith("Heijastavuus: "));
            const auto* warning = window.dialog()->findChild<QLabel*>("reflectanceWarning");
            QCOMPARE(warning != nullptr, file == stretched);
            if (warning)
                QVERIFY2(warning->text().contains("Kalibroi skanneri"), qPrintable(warning->text()));
        }
    }

    // A calibration kept for a device at a resolution shows beside Kalibroi skanneri… for that pair only,
    // goes with the chosen scanner's source, and Poista kalibrointi clears it.
    void scannerCalibrationIsShownUsedAndCleared()
    {
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        useTestScanner("");
        grading::Calibration calibration;
        calibration.name = "Harmaa 20";
        calibration.created = "2026-12-09T06:00:00Z";
        calibration.steps = {{"1", 2.0, 10.0, 0.0, false}, {"2", 50.0, 190.0, 0.0, false}};
        {
            QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "raitakone", "raitakone");
            scanning::rememberCalibration(settings, "test:0", 600, calibration);
        }
        GradeSource suggestion = scannerSource();
        suggestion.device = "test:0";
        suggestion.scanDpi = 600;
        QStringList shown;
        const auto stateOf = [](QDialog* dialog) { return dialog->findChild<QLabel*>("calibrationState")->text(); };
        raitakone::testing::whenDialogOpens([&](QDialog* dialog) {
            QTRY_VERIFY_WITH_TIMEOUT(dialog->findChild<QComboBox*>("scanners")->count() > 0, 60000);
            QVERIFY(dialog->findChild<QPushButton*>("calibrate")->isEnabled());
            shown << stateOf(dialog);
            dialog->findChild<QSpinBox*>("scanDpi")->setValue(300);
            shown << stateOf(dialog);
            dialog->findChild<QSpinBox*>("scanDpi")->setValue(600);
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        const std::optional<GradeSource> chosen = chooseScanSourceInDialog(nullptr, suggestion);
        QVERIFY(chosen && chosen->calibration);
        QCOMPARE(chosen->calibration->name, QString("Harmaa 20"));
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[0].contains(QString::fromUtf8("»Harmaa 20«, tehty 2026-12-09")), qPrintable(shown[0]));
        QVERIFY2(shown[1].contains(QString::fromUtf8("ei kalibrointia")), qPrintable(shown[1]));

        raitakone::testing::whenDialogOpens([&](QDialog* dialog) {
            QTRY_VERIFY_WITH_TIMEOUT(dialog->findChild<QComboBox*>("scanners")->count() > 0, 60000);
            QTest::mouseClick(dialog->findChild<QPushButton*>("clearCalibration"), Qt::LeftButton);
            shown << stateOf(dialog);
            QVERIFY(!dialog->findChild<QPushButton*>("clearCalibration")->isEnabled());
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        const std::optional<GradeSource> cleared = chooseScanSourceInDialog(nullptr, suggestion);
        QVERIFY(cleared && !cleared->calibration);
        QVERIFY2(shown.last().contains(QString::fromUtf8("ei kalibrointia")), qPrintable(shown.last()));
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "raitakone", "raitakone");
        QVERIFY(!scanning::rememberedCalibration(settings, "test:0", 600));
    }

    // Cancel in the progress dialog while the scanner reads: the run ends as
    // cancelled, with no message to dismiss, and the window takes the next.
    void cancellingTheScanStopsIt()
    {
        useTestScanner("read-limit true\nread-limit-size 1024\nread-delay true\nread-delay-duration 20000\n");
        Window window;
        window.form.gradeScan(scannerSource());
        QVERIFY(window.form.gradeRun() != nullptr);
        auto* progress = window.form.findChild<QProgressDialog*>("gradeProgress");
        QVERIFY(progress != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0, 60000);
        QVERIFY2(!window.form.findChild<QPushButton*>("gradeScan")->isEnabled(),
                 qPrintable(window.form.pageStatus() + window.messages.join('\n')));
        QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window.form.gradeRun() == nullptr, 60000);
        QVERIFY(window.messages.isEmpty());
        QVERIFY2(window.form.pageStatus().contains("peruttiin"), qPrintable(window.form.pageStatus()));
        QVERIFY(window.form.findChild<QPushButton*>("gradeScan")->isEnabled());
        QCOMPARE(window.dialog(), nullptr);
    }
};

// The tests run on a screen of 1280 × 720, the smallest the dialogs must
// fit, with the window manager's frame margins.
int main(int argc, char** argv)
{
    const std::string config = QDir::tempPath().toStdString() + "/grade_window_qtest_screen.json";
    std::ofstream(config) << R"({"windowFrameMargins": true, "screens": [{"name": "small", "x": 0, "y": 0,
        "width": 1280, "height": 720, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + config.c_str());
    QApplication app(argc, argv);
    GradeWindowTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "grade_window_qtest.moc"
