// The program from its command line, run as a user runs it: usage errors,
// the whole series without a window (the window's files, and through a real
// CUPS queue), the list of printers and grading.

#include "app/Controls.h"
#include "app/Form1.h"
#include "marking/MarkReader.h"
#include "printing/FilePrinter.h"
#include "support/CupsJobs.h"
#include "support/SyntheticScan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace raitakone;

namespace {

struct Run {
    int status = -1;
    QString out, err;
};

// Runs the program with a private config folder, so no saved choice of the
// user's is read or written, and without the printer variables. SANE reads
// only saneConfig, by default a folder naming no backend: no scanner.
Run runProgram(const QStringList& arguments, const QString& cupsServer = {}, const QString& saneConfig = {})
{
    static QTemporaryDir config;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("RAITAKONE_PRINTER");
    env.remove("RAITAKONE_DPI");
    env.remove("RAITAKONE_PAPER");
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("SANE_CONFIG_DIR", saneConfig.isEmpty() ? config.path() : saneConfig);
    if (!cupsServer.isEmpty())
        env.insert("CUPS_SERVER", cupsServer);
    process.setProcessEnvironment(env);
    process.start(RAITAKONE_PROGRAM, arguments);
    if (!process.waitForFinished(180000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// A SANE configuration folder naming only the test backend, set up so.
bool writeSaneConfig(const QString& dir, const QByteArray& testConf)
{
    QFile dll(dir + "/dll.conf"), test(dir + "/test.conf");
    return dll.open(QIODevice::WriteOnly) && dll.write("test\n") > 0 && test.open(QIODevice::WriteOnly) &&
           test.write(testConf) == testConf.size();
}

QStringList filesIn(const QString& dir) { return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    // Answers that print nothing, with no scheduler to reach: exit status,
    // stdout (empty unless a pattern is given) and what stderr names.
    void answers_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const auto row = [](const char* name, const QStringList& arguments, int status, const char* out, const char* err) {
            QTest::newRow(name) << arguments << status << QString::fromUtf8(out) << QString::fromUtf8(err);
        };
        row("unknown option", {"--tulosta", "all"}, 2, "", "--tulosta");
        row("unknown page", {"--print", "Command10:0", "Valkea 9"}, 2, "", "Valkea 9");
        row("unknown page lists the pages", {"--print", "Valkea 9"}, 2, "", "Command10:1 \"Valkea 2  (rgb+bf)\", ");
        row("not a print button", {"--print", "Command8"}, 2, "", "Command8");
        row("index out of range", {"--print", "Command10:4"}, 2, "", "Command10:4");
        row("no pages", {"--print"}, 2, "", "--print");
        row("mark without print", {"--mark"}, 2, "", "--print");
        const QString pages = "file:" + QDir::temp().filePath("raitakone-ei-sivuja");
        row("bad dpi", {"--printer", pages, "--dpi", "600q", "--print", "all"}, 2, "", "600q");
        row("dpi for CUPS", {"--printer", "Toimisto", "--dpi", "300", "--print", "all"}, 2, "", "300");
        row("bad paper", {"--printer", pages, "--paper", "A9", "--print", "all"}, 2, "", "--paper arvo \"A9\"");
        row("stray argument", {"Command5"}, 2, "", "Command5");
        row("missing value", {"--print", "all", "--printer"}, 2, "", "valinnalta --printer puuttuu arvo");
        row("a name too long", {"--grade", QString(300, 'a') + ".png"}, 2, "", "nimi on liian pitkä");
        row("missing scan", {"--grade", "ei-ole.png"}, 2, "", "ei-ole.png");
        row("scan and grade", {"--scan", "--grade", "sivu.png"}, 2, "", "--grade");
        row("save without scan", {"--save-scan", "sivu.png"}, 2, "", "--scan");
        row("save not png", {"--scan", "--save-scan", "sivu.jpg"}, 2, "", "sivu.jpg");
        row("two scanners", {"--scan", "test:0", "test:1"}, 2, "", "test:1");
        row("no scanner", {"--scan"}, 3, "", "scanimage -L");
        // options that do not go together, or one without the entry that reads it
        row("print and grade", {"--print", "all", "--grade", "sivu.png"}, 2, "", "--print");
        row("printer for grading", {"--grade", "sivu.png", "--printer", "", "--dpi", "abc"}, 2, "", "--printer-dpi");
        row("paper for grading", {"--grade", "sivu.png", "--paper", "A5"}, 2, "", "--paper valitsee");
        row("json alone", {"--json"}, 2, "", "--json");
        row("plot alone", {"--plot", "kuvaaja.png"}, 2, "", "--plot");
        row("aperture alone", {"--aperture", "0.25"}, 2, "", "--aperture");
        row("report without scans", {"--report"}, 2, "", "--report tarvitsee skannaukset");
        row("output without report", {"-o", "r.html"}, 2, "", "--output kuuluu raporttiin");
        row("page of a scan not given", {"--report", "a.png", "--page", "b.png=Samsung 1"}, 2, "", "b.png");
        row("page unknown", {"--report", "a.png", "--page", "a.png=Samsung 9"}, 2, "", "Samsung 9");
        row("plot with report", {"--report", "a.png", "--plot", "p.png"}, 2, "", "--plot");
        row("report over its scan", {"--report", "a.html", "-o", "a.html"}, 2, "", "skannauksen a.html");
        row("reference alone", {"--reference", "kiila.txt"}, 2, "", "--reference kuuluu kalibrointiin");
        row("calibrate without reference", {"--calibrate", "kiila.png"}, 2, "", "--reference VIITE.txt");
        row("calibrate and grade", {"--calibrate", "kiila.png", "--reference", "k.txt", "--grade", "s.png"}, 2, "",
            "--calibrate tekee");
        row("calibration alone", {"--calibration", "k.json"}, 2, "", "--calibration");
        row("missing calibration", {"--grade", "sivu.png", "--calibration", "ei-ole.json"}, 2, "", "ei-ole.json");
        row("help", {"--help"}, 0, "^Käyttö: raitakone (.|\n)*--paper <PAPERI>(.|\n)*--list-printers(.|\n)*Command10:1 +\"Valkea 2  \\(rgb\\+bf\\)\"", "");
        row("version", {"--version"}, 0, "^raitakone \\d+\\.\\d+", "");
        row("list without a scheduler", {"--list-printers"}, 1, "", "CUPS ei ole käynnissä");
    }
    void answers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const Run run = runProgram(arguments, QDir::temp().filePath("raitakone-no-such-scheduler.sock"));
        QCOMPARE(run.status, status);
        QVERIFY2(out.isEmpty() ? run.out.isEmpty() : QRegularExpression(out).match(run.out).hasMatch(), qPrintable(run.out));
        QVERIFY2(run.err.contains(err), qPrintable(run.err));
    }

    // --print all on the page-file printer: a line a page, and byte for byte
    // the files the window writes when its buttons are clicked in tab order.
    void printAllWritesWhatTheWindowWrites()
    {
        QTemporaryDir work;
        const QString batchDir = work.filePath("komento"), windowDir = work.filePath("ikkuna");
        const Run run = runProgram({"--printer", "file:" + batchDir, "--dpi", "300", "--print", "all"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.count('\n'), 20);
        const QString third = QString::fromUtf8("\n[3/20] Viivakoodi 30.11. → %1/0003.png\n").arg(batchDir);
        QVERIFY2(run.out.contains(third), qPrintable(run.out));

        Form1 form([windowDir] { return std::make_unique<FilePrinter>(windowDir.toStdString(), 300, 300); });
        form.setEndAction([] {});
        form.setMessageFunction([](QWidget*, const QString&, const QString& text) { QFAIL(qPrintable(text)); });
        for (const PrintPage& page : allPrintPages()) {
            if (page.control == "siirra")
                form.siirra();
            for (QPushButton* b : form.findChildren<QPushButton*>(QString::fromStdString(page.control)))
                if (page.index < 0 || b->property("Index").toInt() == page.index)
                    QTest::mouseClick(b, Qt::LeftButton);
        }
        const QStringList files = filesIn(batchDir);
        QCOMPARE(files.size(), qsizetype(40));
        QCOMPARE(filesIn(windowDir), files);
        for (const QString& name : files) {
            QFile batch(batchDir + "/" + name), window(windowDir + "/" + name);
            QVERIFY(batch.open(QIODevice::ReadOnly) && window.open(QIODevice::ReadOnly));
            QVERIFY2(batch.readAll() == window.readAll(), qPrintable(name));
        }
    }

    // On a 100 x 150 mm label at 203 dpi the series says on stderr which
    // pages lost what: the centimetre-box page, 25 cm down, printed no symbol.
    void printAllOnALabelSaysWhichPagesLostWhat()
    {
        QTemporaryDir work;
        const Run run = runProgram({"--printer", "file:" + work.path(), "--dpi", "203", "--paper", "100x150mm",
                                    "--print", "all"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.count('\n'), 20);
        const QString box = QString::fromUtf8("Viivakodi PK DrawWidth: Sivun piirroksesta jäi 11,1 cm tulostusalueen "
                                              "alapuolelle ja 5,0 cm sen oikealle puolelle. Sivu ei tulostanut "
                                              "viivakoodia");
        QVERIFY2(run.err.contains(box), qPrintable(run.err));
        QCOMPARE(QImage(work.filePath("0001.png")).size(), QSize(799, 1199));
    }

    // A caption typed with its spaces run together and in any case prints its
    // page; the names are still told apart.
    void captionsAreMatchedLoosely()
    {
        QTemporaryDir work;
        const Run run = runProgram({"--printer", "file:" + work.path(), "--dpi", "300", "--print", "valkea 2 (RGB+BF)",
                                    "TWIPS  1", "command10:3"});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains(QString::fromUtf8("[1/3] Valkea 2  (rgb+bf) → ")) &&
                     run.out.contains(QString::fromUtf8("[2/3] twips 1 → ")) &&
                     run.out.contains(QString::fromUtf8("[3/3] Valkea 4 (rgb) → ")),
                 qPrintable(run.out + run.err));
    }

    // --mark marks every page of the series, numbered in it; the ladder is
    // marked all the same.
    void markedSeriesWithTheLadder()
    {
        QTemporaryDir work;
        const Run run = runProgram({"--printer", "file:" + work.path(), "--dpi", "203", "--print", "Valkea 3 (bf)",
                                    "ladder", "--mark"});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains(QString::fromUtf8("[2/2] Kavennustikkaat → ")), qPrintable(run.out));
        const char* controls[] = {"Command10:2", "ladder"};
        for (int n = 1; n <= 2; ++n) {
            const QImage page(work.filePath(QString("%1.png").arg(n, 4, 10, QLatin1Char('0'))));
            const auto mark = marking::readMark(page.convertToFormat(QImage::Format_Grayscale8), 203);
            QVERIFY(mark);
            QCOMPARE(mark->page.control, std::string(controls[n - 1]));
            QCOMPARE(mark->page.n, std::to_string(n) + "/2");
            QCOMPARE(mark->page.dpiX, 203.0);
        }
    }

    // At 50 dpi a module is 0 pixels, so the pages drawn with a pen a module
    // wide fail while Command3 (a pen of one pixel) prints between them.
    void aFailedPageDoesNotStopTheSeries()
    {
        QTemporaryDir work;
        const Run run = runProgram({"--printer", "file:" + work.path(), "--dpi", "50", "--print", "Valkea 1 (perus)",
                                    "Command3", "siirra"});
        QCOMPARE(run.status, 1);
        const QRegularExpression lines(QString::fromUtf8("^.*epäonnistui.*\n.*→ .*\n.*epäonnistui.*$"));
        QVERIFY2(lines.match(run.out).hasMatch(), qPrintable(run.out));
        QVERIFY2(run.err.contains("50 dpi") && run.err.contains("80 dpi"), qPrintable(run.err));
    }

    // The cups-pdf test queue is listed as the default at 300 dpi, and
    // --print all gives it twenty jobs, each a readable one-page PDF.
    void theTestQueue()
    {
        const QString queue = qEnvironmentVariable("RAITAKONE_CUPS_TEST_QUEUE");
        if (queue.isEmpty())
            QSKIP("no CUPS test queue (scripts/cups-test-queue.sh start)");
        const Run list = runProgram({"--list-printers"});
        const QString listed =
            "^" + QRegularExpression::escape(queue + QString::fromUtf8(" (oletus) · valmis · 300 dpi · A4"));
        QVERIFY2(list.status == 0 && QRegularExpression(listed + ".*tulostusalue", QRegularExpression::MultilineOption)
                                         .match(list.out).hasMatch(), qPrintable(list.out));

        const Run run = runProgram({"--printer", queue, "--print", "all"});
        QCOMPARE(run.status, 0);
        const QRegularExpression line(QString::fromUtf8("^\\[\\d+/20\\] .+ → %1, työ (\\d+)$").arg(queue),
                                      QRegularExpression::MultilineOption);
        int jobs = 0;
        for (const QRegularExpressionMatch& match : line.globalMatch(run.out)) {
            const QString pdf = testing::cupsPdfOfJob(QDir(qEnvironmentVariable("RAITAKONE_CUPS_TEST_OUT")),
                                                      match.captured(1).toInt());
            QProcess info;
            info.start("pdfinfo", {pdf});
            QVERIFY(info.waitForFinished(60000));
            const QString pages = QString::fromUtf8(info.readAllStandardOutput());
            QVERIFY2(info.exitCode() == 0 && pages.contains(QRegularExpression("Pages:\\s+1\\n")),
                     qPrintable(match.captured(0) + ": " + pdf));
            ++jobs;
        }
        QCOMPARE(jobs, 20);
    }

    // Grading end to end: a scan of a page printed a printer pixel too wide
    // reads back as that bar gain, in JSON and in the report.
    void gradeWithoutAWindow()
    {
        QTemporaryDir work;
        const QString file = work.filePath("skannaus.png");
        const testing::Coverage printed = testing::printed(testing::symbolPage(300), 300, testing::symbolRegion(300), 1);
        QVERIFY(testing::scan(printed, testing::ScanModel{}).save(file));
        const Run json = runProgram({"--grade", file, "--printer-dpi", "300", "--json"});
        QCOMPARE(json.status, 0);
        const QJsonObject symbol = QJsonDocument::fromJson(json.out.toUtf8())["symbols"].toArray().first().toObject();
        QCOMPARE(symbol["text"].toString().size(), qsizetype(54));
        QVERIFY2(qAbs(symbol["bar_gain"].toObject()["printer_pixels"].toDouble() - 1.0) < 0.3, qPrintable(json.out));
        const Run report = runProgram({"--grade", file});
        QVERIFY2(report.status == 0 && report.out.contains(QString::fromUtf8("Palkin levenemä")), qPrintable(report.out));
    }

    // A scanner storing linear values: a calibration from a step wedge it scanned, then a page graded and
    // reported through it, which say so; a scan of no wedge is refused with exit 1.
    void calibrateWithoutAWindow()
    {
        QTemporaryDir work;
        const testing::ScanModel linear{.srgb = false};
        std::vector<double> reflectances;
        QByteArray reference = "CGATS.17\nDESCRIPTOR \"Harmaa 12\"\nBEGIN_DATA_FORMAT\nSAMPLE_ID XYZ_Y\nEND_DATA_FORMAT\n"
                               "BEGIN_DATA\n";
        for (int i = 0; i < 12; ++i) {
            reflectances.push_back(90.0 * std::pow(0.72, i));
            reference += QByteArray::number(i + 1) + " " + QByteArray::number(reflectances.back(), 'f', 3) + "\n";
        }
        reference += "END_DATA\n";
        const QString wedge = work.filePath("kiila.png"), ref = work.filePath("kiila.txt"),
                      calibration = work.filePath("skanneri.json"), page = work.filePath("sivu.png");
        QFile refFile(ref);
        QVERIFY(refFile.open(QIODevice::WriteOnly) && refFile.write(reference) == reference.size());
        refFile.close();
        QVERIFY(testing::stepWedgeScan(reflectances, linear, true).save(wedge));
        const Run made = runProgram({"--calibrate", wedge, "--reference", ref, "-o", calibration});
        QVERIFY2(made.status == 0 && made.out.contains(QString::fromUtf8("Harmaa 12")), qPrintable(made.err + made.out));

        const testing::Coverage printed = testing::printed(testing::symbolPage(300), 300, testing::symbolRegion(300), 1);
        QVERIFY(testing::scan(printed, linear).save(page));
        const Run json = runProgram({"--grade", page, "--calibration", calibration, "--json"});
        QCOMPARE(json.status, 0);
        const QJsonObject reflectance = QJsonDocument::fromJson(json.out.toUtf8())["reflectance"].toObject();
        QCOMPARE(reflectance["source"].toString(), QStringLiteral("calibration"));
        QCOMPARE(reflectance["calibration_name"].toString(), QStringLiteral("Harmaa 12"));
        QVERIFY(reflectance["trusted"].toBool());
        const QJsonObject symbol = QJsonDocument::fromJson(json.out.toUtf8())["symbols"][0].toObject();
        QVERIFY2(qAbs(symbol["parameters"]["rmin"].toDouble() - 5.0) < 1.0, qPrintable(json.out));
        const Run report = runProgram({"--report", page, "--calibration", calibration, "-o", "-", "--json"});
        QCOMPARE(report.status, 0);
        const QJsonObject top = QJsonDocument::fromJson(report.out.toUtf8()).object();
        QCOMPARE(top["pages"][0]["reflectance"]["source"].toString(), QStringLiteral("calibration"));
        QVERIFY2(top["methods"]["text"].toString().contains(QString::fromUtf8("kalibroinnilla »Harmaa 12«")),
                 qPrintable(report.out));

        QImage blank(400, 300, QImage::Format_Grayscale8);
        blank.fill(200);
        QVERIFY(blank.save(wedge));
        const Run refused = runProgram({"--calibrate", wedge, "--reference", ref, "-o", calibration});
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains(QString::fromUtf8("ei löytynyt")), qPrintable(refused.err));
    }

    // --report over a graded scan named by hand, one with no symbol and one
    // missing: every file named, the report written, exit 2 for the missing
    // one; the same without it on stdout as JSON, exit 0.
    void reportWithoutAWindow()
    {
        QTemporaryDir work;
        const QString good = work.filePath("hyva.png"), blank = work.filePath("tyhja.png");
        const testing::Coverage printed = testing::printed(testing::symbolPage(300), 300, testing::symbolRegion(300), 1);
        QVERIFY(testing::scan(printed, testing::ScanModel{}).save(good));
        QImage white(600, 600, QImage::Format_Grayscale8);
        white.fill(230);
        white.setDotsPerMeterX(23622);
        white.setDotsPerMeterY(23622);
        QVERIFY(white.save(blank));
        const QString html = work.filePath("raportti.html");
        const Run run = runProgram({"--report", good, blank, work.filePath("puuttuu.png"), "--printer-dpi", "300",
                                    "--page", good + "=valkea 3 (BF)", "-o", html, "--json"});
        QCOMPARE(run.status, 2);
        for (const char* name : {"hyva.png: Valkea 3 (bf), 4,0 (A), levenemä +1,0", "tyhja.png: Skannauksesta ei löytynyt",
                                 "puuttuu.png", "raportti.json"})
            QVERIFY2(run.err.contains(QString::fromUtf8(name)), qPrintable(run.err));
        QFile written(html);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains("Valkea 3 (bf)"));
        QVERIFY(QFile::exists(work.filePath("raportti.json")));

        const Run json = runProgram({"--report", good, blank, "-o", "-", "--json"});
        QCOMPARE(json.status, 0);
        const QJsonObject top = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(top["graded"].toInt(), 1);
        QCOMPARE(top["unread"].toArray().size(), qsizetype(1));
        QCOMPARE(top["pages"][0]["letter"].toString(), QStringLiteral("A"));
    }

    // --report --scan through the test backend, whose feeder runs empty after
    // ten blank pages: ten scans kept and reported as holding no symbol,
    // then the report written, and exit 1 as none was graded.
    void reportFromTheFeeder()
    {
        QTemporaryDir sane;
        QVERIFY(writeSaneConfig(sane.path(), "resolution_max 150.0\ngeometry_max 40.0\n"));
        const QString kept = sane.filePath("skannaukset"), html = sane.filePath("raportti.html");
        const Run run = runProgram({"--report", "--scan", "test:0", "--scan-dpi", "150", "--save-scan", kept, "-o",
                                    html, "--json"},
                                   {}, sane.path());
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err.count(QString::fromUtf8("Skannauksesta ei löytynyt Code 128 -viivakoodia.")), 10);
        QCOMPARE(filesIn(kept).size(), qsizetype(10));
        QVERIFY(filesIn(kept).contains("0010.png"));
        QFile json(sane.filePath("raportti.json"));
        QVERIFY(QFile::exists(html) && json.open(QIODevice::ReadOnly));
        const QJsonObject top = QJsonDocument::fromJson(json.readAll()).object();
        QCOMPARE(top["scans"].toInt(), 10);
        QCOMPARE(top["unread"].toArray().size(), qsizetype(10));
    }

    // --scan through SANE's test backend, whose page is blank: the scanner
    // named, its resolution (capped below the one asked for) in the saved
    // page, and no symbol found.
    void scanWithTheTestBackend()
    {
        QTemporaryDir sane;
        QVERIFY(writeSaneConfig(sane.path(), "resolution_max 300.0\ngeometry_max 40.0\ntest-picture \"Solid white\"\n"));
        const QString saved = sane.filePath("sivu.png");
        const Run run = runProgram({"--scan", "test:1", "--scan-dpi", "1200", "--save-scan", saved}, {}, sane.path());
        QCOMPARE(run.status, 1);
        QVERIFY2(run.out.isEmpty(), qPrintable(run.out));
        QVERIFY2(run.err.contains("test:1, 300 dpi") &&
                     run.err.contains(QString::fromUtf8("Skannauksesta ei löytynyt Code 128 -viivakoodia.")),
                 qPrintable(run.err));
        const QImage page(saved);
        QCOMPARE(page.size(), QSize(472, 472));
        QCOMPARE(qRound(page.dotsPerMeterX() * 0.0254), 300);
    }
};

QTEST_MAIN(CommandLineTest)
#include "command_line_qtest.moc"
