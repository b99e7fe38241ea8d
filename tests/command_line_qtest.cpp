// The program from its command line, run as a user runs it: usage errors,
// the whole series without a window (the same files the window makes, and
// through a real CUPS queue), and the list of printers.

#include "app/Controls.h"
#include "app/Form1.h"
#include "printing/FilePrinter.h"
#include "support/CupsJobs.h"
#include "support/SyntheticScan.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace raitakone;

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// Runs the program with a private config folder, so no saved choice of the
// user's is read or written, and without the printer variables unless given.
Run runProgram(const QStringList& arguments, const QProcessEnvironment& extra = {})
{
    static QTemporaryDir config;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("RAITAKONE_PRINTER");
    env.remove("RAITAKONE_DPI");
    env.insert("XDG_CONFIG_HOME", config.path());
    for (const QString& key : extra.keys())
        env.insert(key, extra.value(key));
    process.setProcessEnvironment(env);
    process.start(RAITAKONE_PROGRAM, arguments);
    if (!process.waitForFinished(180000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

QStringList filesIn(const QString& dir) { return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<std::pair<QString, QString>> testQueue()
{
    const QByteArray queue = qgetenv("RAITAKONE_CUPS_TEST_QUEUE");
    const QByteArray out = qgetenv("RAITAKONE_CUPS_TEST_OUT");
    if (queue.isEmpty() || out.isEmpty())
        return std::nullopt;
    return std::make_pair(QString::fromUtf8(queue), QString::fromUtf8(out));
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    // A bad command line is answered with a message naming the bad value,
    // exit status 2, and nothing printed.
    void usageErrorsPrintNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        QTest::newRow("unknown option") << QStringList{"--tulosta", "all"} << "--tulosta";
        QTest::newRow("unknown page") << QStringList{"--print", "Command10:0", "Valkea 9"} << "Valkea 9";
        QTest::newRow("not a print button") << QStringList{"--print", "Command8"} << "Command8";
        QTest::newRow("index out of range") << QStringList{"--print", "Command10:4"} << "Command10:4";
        QTest::newRow("no pages") << QStringList{"--print"} << "--print";
        QTest::newRow("bad dpi") << QStringList{"--dpi", "600q", "--print", "all"} << "600q";
        QTest::newRow("dpi for CUPS") << QStringList{"--printer", "Toimisto", "--dpi", "300", "--print", "all"} << "300";
        QTest::newRow("stray argument") << QStringList{"Command5"} << "Command5";
        QTest::newRow("missing value") << QStringList{"--print", "all", "--printer"} << "--printer";
    }
    void usageErrorsPrintNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        QTemporaryDir pages;
        const QString folder = pages.filePath("sivut");
        if (!arguments.contains("--printer"))
            arguments << "--printer" << "file:" + folder;
        const Run run = runProgram(arguments);
        QCOMPARE(run.status, 2);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.contains(named), qPrintable(run.err));
        QVERIFY(!QDir(folder).exists() || filesIn(folder).isEmpty());
    }

    void helpAndVersion()
    {
        const Run help = runProgram({"--help"});
        QCOMPARE(help.status, 0);
        for (const char* text : {"Käyttö:", "--printer", "--dpi", "--print", "--list-printers", "--version"})
            QVERIFY2(help.out.contains(QString::fromUtf8(text)), text);
        const Run version = runProgram({"--version"});
        QCOMPARE(version.status, 0);
        QVERIFY(QRegularExpression("^raitakone \\d+\\.\\d+").match(version.out).hasMatch());
    }

    // The series on the page-file printer: one line per page, twenty pairs,
    // and byte for byte the files the window writes when its buttons are
    // clicked in tab order and the transfer procedure is called.
    void printAllWritesWhatTheWindowWrites()
    {
        QTemporaryDir work;
        const QString batchDir = work.filePath("komento"), windowDir = work.filePath("ikkuna");
        const Run run = runProgram({"--printer", "file:" + batchDir, "--dpi", "300", "--print", "all"});
        QCOMPARE(run.status, 0);
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), qsizetype(20));
        QCOMPARE(lines[2], QString::fromUtf8("[3/20] Viivakoodi 30.11. → %1/0003.png").arg(batchDir));
        QCOMPARE(lines[19], QString::fromUtf8("[20/20] siirra → %1/0020.png").arg(batchDir));

        Form1 form([windowDir] { return std::make_unique<FilePrinter>(windowDir.toStdString(), 300, 300); });
        int ends = 0;
        form.setEndAction([&ends] { ++ends; });
        form.setMessageFunction([](QWidget*, const QString&, const QString& text) { QFAIL(qPrintable(text)); });
        for (const PrintPage& page : allPrintPages()) {
            if (page.control == "siirra") {
                form.siirra();
                continue;
            }
            QPushButton* button = nullptr;
            for (QPushButton* b : form.findChildren<QPushButton*>(QString::fromStdString(page.control)))
                if (page.index < 0 || b->property("Index").toInt() == page.index)
                    button = b;
            QVERIFY2(button, page.name().c_str());
            QTest::mouseClick(button, Qt::LeftButton);
        }
        QCOMPARE(ends, 2); // the two pages that end the program from the window

        const QStringList files = filesIn(batchDir);
        QCOMPARE(files.size(), qsizetype(40));
        QCOMPARE(filesIn(windowDir), files);
        for (const QString& name : files)
            QVERIFY2(contents(batchDir + "/" + name) == contents(windowDir + "/" + name), qPrintable(name));
    }

    // A page that fails is reported and the series goes on: at 50 dpi a
    // module is 0 pixels, so the pages drawn with a pen one module wide fail
    // while Command3, drawn with a pen of one pixel, prints.
    void aFailedPageDoesNotStopTheSeries()
    {
        QTemporaryDir work;
        const Run run = runProgram({"--printer", "file:" + work.path(), "--dpi", "50", "--print", "Valkea 1 (perus)",
                                    "Command3", "siirra"});
        QCOMPARE(run.status, 1);
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), qsizetype(3));
        QVERIFY2(lines[0].contains(QString::fromUtf8("epäonnistui")), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(QString::fromUtf8("→ ")), qPrintable(lines[1]));
        QVERIFY2(run.err.contains("50 dpi") && run.err.contains("80 dpi"), qPrintable(run.err));
        QVERIFY2(lines[2].contains(QString::fromUtf8("epäonnistui")), qPrintable(lines[2]));
        QVERIFY2(!run.err.contains("Command3"), qPrintable(run.err));
    }

    // Through the real queue: twenty jobs, each a readable one-page PDF.
    void printAllThroughTheTestQueue()
    {
        const auto queue = testQueue();
        if (!queue)
            QSKIP("no CUPS test queue (scripts/cups-test-queue.sh start)");
        const Run run = runProgram({"--printer", queue->first, "--print", "all"});
        QCOMPARE(run.status, 0);
        QList<int> jobs;
        const QRegularExpression line(QString::fromUtf8("^\\[(\\d+)/20\\] .+ → %1, työ (\\d+)$").arg(queue->first));
        for (const QString& text : run.out.split('\n', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = line.match(text);
            QVERIFY2(match.hasMatch(), qPrintable(text));
            jobs << match.captured(2).toInt();
        }
        QCOMPARE(jobs.size(), qsizetype(20));

        const QDir out(queue->second);
        for (const int job : jobs) {
            const QString pdf = testing::cupsPdfOfJob(out, job);
            QVERIFY2(!pdf.isEmpty(), qPrintable(QString("no PDF for job %1").arg(job)));
            QProcess info;
            info.start("pdfinfo", {pdf});
            QVERIFY(info.waitForFinished(60000));
            QCOMPARE(info.exitCode(), 0);
            QVERIFY2(QString::fromUtf8(info.readAllStandardOutput()).contains(QRegularExpression("Pages:\\s+1\\n")),
                     qPrintable(pdf));
        }
    }

    // Grading runs from the command line without a window: a scan of a page
    // printed a printer pixel too wide reads back as that bar gain.
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
        QCOMPARE(report.status, 0);
        QVERIFY2(report.out.contains(QString::fromUtf8("Palkin levenemä")), qPrintable(report.out));
        const Run missing = runProgram({"--grade", work.filePath("ei-ole.png")});
        QCOMPARE(missing.status, 2);
        QCOMPARE(missing.out, QString());
    }

    void listPrintersShowsTheTestQueueAsDefault()
    {
        const auto queue = testQueue();
        if (!queue)
            QSKIP("no CUPS test queue (scripts/cups-test-queue.sh start)");
        const Run run = runProgram({"--list-printers"});
        QCOMPARE(run.status, 0);
        bool found = false;
        for (const QString& text : run.out.split('\n', Qt::SkipEmptyParts)) {
            if (!text.startsWith(queue->first + " "))
                continue;
            found = true;
            QVERIFY2(text.startsWith(queue->first + " (oletus) · valmis · 300 dpi · A4"), qPrintable(text));
            QVERIFY2(text.contains("tulostusalue"), qPrintable(text));
        }
        QVERIFY2(found, qPrintable(run.out));
    }

    void listPrintersWithoutASchedulerSaysSo()
    {
        QProcessEnvironment env;
        env.insert("CUPS_SERVER", QDir::temp().filePath("raitakone-no-such-scheduler.sock"));
        const Run run = runProgram({"--list-printers"}, env);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.contains(QString::fromUtf8("CUPS ei ole käynnissä")), qPrintable(run.err));
    }
};

QTEST_MAIN(CommandLineTest)
#include "command_line_qtest.moc"
