#include "cli/ReportCommand.h"

#include "app/Controls.h"
#include "cli/CommandLine.h"
#include "cli/GradeCommand.h"
#include "cli/UntilStopped.h"
#include "grading/FileErrorText.h"
#include "grading/GradeReport.h"
#include "report/SeriesGrading.h"
#include "app/PageSeries.h"

#include "scanning/Scanner.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <poll.h>
#include <unistd.h>

#include <cstdio>

namespace raitakone {
namespace {

const QString kReport = QStringLiteral("report");
const QString kOutput = QStringLiteral("output");
const QString kPage = QStringLiteral("page");
const QString kScan = QStringLiteral("scan");
const QString kSaveScan = QStringLiteral("save-scan");
const QString kDefaultReport = QStringLiteral("raitakone-raportti.html");

constexpr int kBadInput = 2;
constexpr int kScannerProblem = 3;

// The page each --page SCAN=NAME names, or an error; the scans must be among
// those given.
QString namedPages(const QCommandLineParser& parser, std::vector<report::ScanInput>& inputs)
{
    for (const QString& value : parser.values(kPage)) {
        const qsizetype equals = value.lastIndexOf(QLatin1Char('='));
        if (equals <= 0 || equals == value.size() - 1)
            return QStringLiteral("Valitsimen --page arvo \"%1\" ei kelpaa: anna SKANNAUS=SIVU, esimerkiksi "
                                  "--page skannaus3.png=\"Valkea 3 (bf)\".")
                .arg(value);
        const QString scan = value.left(equals), name = value.mid(equals + 1);
        const auto input = std::find_if(inputs.begin(), inputs.end(), [&scan](const report::ScanInput& i) {
            return i.path == scan || QFileInfo(i.path).absoluteFilePath() == QFileInfo(scan).absoluteFilePath();
        });
        if (input == inputs.end())
            return QStringLiteral("--page nimeää skannauksen %1, jota ei ole annettu raportoitavaksi.").arg(scan);
        QString error;
        const std::optional<PrintPage> page = pageNamedLoosely(name, &error);
        if (!page)
            return QStringLiteral("--page %1: %2").arg(scan, error);
        input->named = unmarkedPageIdentity(*page);
    }
    return {};
}

// What one graded scan gave, in a line of progress.
QString progressLine(const report::ScannedPage& page)
{
    const grading::GradeResult* result = page.result ? &*page.result : nullptr;
    if (!result)
        return QStringLiteral("%1: %2").arg(page.source, page.error);
    if (result->status != grading::GradeStatus::Graded || result->symbols.empty())
        return QStringLiteral("%1: %2").arg(page.source, result->message);
    const report::SeriesReport one = report::rankSeries({page}, {});
    const report::RankedPage& p = one.ladderPage ? *one.ladderPage : one.pages.empty() ? one.undecoded.front()
                                                                                      : one.pages.front();
    QString line = QStringLiteral("%1: %2%3 (%4)")
                       .arg(page.source, p.caption.isEmpty() ? QString() : p.caption + QStringLiteral(", "),
                            grading::reportNumber(p.grade, 1))
                       .arg(QLatin1Char(p.letter));
    if (p.gainPx)
        line += QStringLiteral(", levenemä %1 px").arg(grading::signedReportNumber(*p.gainPx, 2));
    if (!p.decodeFailure.isEmpty())
        line += QStringLiteral(", ei dekoodautunut");
    return line;
}

// FILE.json beside FILE.html.
QString jsonBeside(const QString& html)
{
    const QFileInfo info(html);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".json"));
}

// What a report run killed while writing left of its output: the save
// file's temporary copy, FILE.XXXXXX, a minute old and holding a report or
// its JSON. Anything else of such a name is not ours and stays.
void removeLeftCopies(const QString& output)
{
    const QFileInfo target(output);
    const QDir folder = target.absoluteDir();
    static const QRegularExpression copy(QStringLiteral("^\\.[A-Za-z0-9]{6}$"));
    for (const QFileInfo& left : folder.entryInfoList({target.fileName() + QStringLiteral(".??????")},
                                                       QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        if (!copy.match(left.fileName().mid(target.fileName().size())).hasMatch() ||
            left.lastModified().secsTo(QDateTime::currentDateTime()) < 60)
            continue;
        QFile file(left.filePath());
        const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(64) : QByteArray();
        file.close();
        if (head.startsWith("<!DOCTYPE html>") || head.startsWith("{\n    \"date\""))
            QFile::remove(left.filePath());
    }
}

// The report, and its JSON beside it or on out.
int writeReport(const report::SeriesReport& series, const QString& output, bool json, QTextStream& out,
                QTextStream& err)
{
    if (output == QStringLiteral("-")) {
        out << QString::fromUtf8(json ? report::seriesJson(series) : report::seriesHtml(series));
        out.flush();
        if (out.status() != QTextStream::Ok) {
            err << QStringLiteral("Raporttia ei voitu kirjoittaa loppuun (vakiotuloste: levy täynnä tai putki "
                                  "suljettu).")
                << Qt::endl;
            return kBadInput;
        }
        return report::seriesStatus(series);
    }
    // The HTML and its JSON are a pair: both are written, or neither.
    const QString jsonPath = jsonBeside(output);
    removeLeftCopies(output);
    if (json)
        removeLeftCopies(jsonPath);
    std::vector<std::pair<QString, QByteArray>> files{{output, report::seriesHtml(series)}};
    if (json)
        files.emplace_back(jsonPath, report::seriesJson(series));
    QString failed, reason;
    if (!writeWholeFiles(files, &failed, &reason)) {
        err << QStringLiteral("%1 %2 ei voi kirjoittaa: %3.")
                   .arg(failed == output ? QStringLiteral("Raporttia") : QStringLiteral("JSON-tiedostoa"), failed,
                        reason)
            << Qt::endl;
        return kBadInput;
    }
    err << QStringLiteral("Raportti: %1%2 (skannauksia %3, arvioitu %4)")
               .arg(output, json ? QStringLiteral(" ja ") + jsonPath : QString())
               .arg(series.scans)
               .arg(series.graded)
        << Qt::endl;
    return report::seriesStatus(series);
}

// Why the report (and its JSON) cannot go to output, checked before any
// scan is graded; empty when it can. Neither may replace a scan, through
// whatever links, nor anything but a regular file, nor each other.
QString outputError(const QString& output, bool json, const std::vector<report::ScanInput>& inputs)
{
    const QString jsonPath = jsonBeside(output);
    QString problem = outputPathProblem(output);
    if (problem.isEmpty() && json)
        problem = outputPathProblem(jsonPath);
    if (!problem.isEmpty())
        return QStringLiteral("Raporttia ei voi kirjoittaa: %1. Anna valitsimelle -o toinen tiedostonimi.").arg(problem);
    if (json && sameFile(output, jsonPath))
        return QStringLiteral("Raportti ja sen JSON kirjoitettaisiin samaan tiedostoon %1. Anna valitsimelle -o "
                              ".html-päätteinen nimi; JSON kirjoitetaan sen viereen.")
            .arg(output);
    for (const report::ScanInput& input : inputs)
        if (sameFile(input.path, output) || (json && sameFile(input.path, jsonPath)))
            return QStringLiteral("Raportti kirjoitettaisiin skannauksen %1 päälle. Anna valitsimelle -o toinen "
                                  "tiedostonimi.")
                .arg(input.path);
    return {};
}

// The scans, each file once however often it was named.
std::vector<report::ScanInput> withoutRepeats(std::vector<report::ScanInput> inputs, QTextStream& err)
{
    std::vector<report::ScanInput> once;
    for (report::ScanInput& input : inputs) {
        const auto earlier = std::find_if(once.begin(), once.end(),
                                          [&](const report::ScanInput& o) { return sameFile(o.path, input.path); });
        if (earlier == once.end())
            once.push_back(std::move(input));
        else
            err << QStringLiteral("%1 on sama tiedosto kuin %2; se arvioidaan kerran.").arg(input.path, earlier->path)
                << Qt::endl;
    }
    return once;
}

// The next free DIR/NNNN.png, numbered on from the scans already there.
QString nextScanFile(const QDir& dir)
{
    static const QRegularExpression numbered(QStringLiteral("^(\\d{4,})\\.png$"));
    qint64 last = 0;
    for (const QString& name : dir.entryList(QDir::Files))
        if (const QRegularExpressionMatch m = numbered.match(name); m.hasMatch())
            last = std::max(last, m.captured(1).toLongLong());
    return dir.filePath(QStringLiteral("%1.png").arg(last + 1, 4, 10, QLatin1Char('0')));
}

// Asks on the terminal whether to scan another page from the flatbed; no
// when there is no terminal, at the end of input, or once stop turns true.
bool anotherPageWanted(const std::atomic<bool>& stop, QTextStream& err)
{
    if (!::isatty(STDIN_FILENO))
        return false;
    err << QStringLiteral("Skannataanko toinen sivu? Vaihda sivu tasolle ja paina Enter, tai kirjoita e ja Enter, "
                          "niin raportti kirjoitetaan: ")
        << Qt::flush;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (!stop) {
        if (::poll(&input, 1, 100) <= 0)
            continue;
        char line[64] = {};
        if (!std::fgets(line, sizeof line, stdin))
            return false;
        const QString answer = QString::fromLocal8Bit(line).trimmed().toLower();
        return answer.isEmpty() || answer == QStringLiteral("k") || answer == QStringLiteral("kyllä");
    }
    return false;
}

struct ScannedSeries {
    std::vector<report::ScannedPage> pages;
    scanning::ScanRun run;
    QString error; // a page that could not be saved
};

// Scans pages from the scanner (its feeder, where it has one), keeping each
// as DIR/NNNN.png when asked and grading it as it comes, on a thread of its
// own: a stop signal, seen here, cancels the scan between reads. Nothing
// when the scanner is stuck past the stop.
std::optional<ScannedSeries> scanSeries(const QCommandLineParser& parser, const GradeSettings& settings,
                                        const std::optional<QDir>& saveFolder, QTextStream& err)
{
    scanning::ScanRequest request;
    request.source = scanning::PaperSource::FeederWhenPresent;
    if (!parser.positionalArguments().isEmpty())
        request.device = parser.positionalArguments().first();
    if (settings.scanDpi)
        request.dpi = int(std::lround(*settings.scanDpi));
    const grading::GradeOptions options = settings.options;
    return scanUntilDoneOrStopped<ScannedSeries>([request, saveFolder, options, &err](const std::atomic<bool>& cancel) {
        ScannedSeries series;
        const auto onPage = [&](scanning::Acquisition&& page) {
            QString source = QStringLiteral("%1, sivu %2").arg(page.device).arg(series.pages.size() + 1);
            if (saveFolder) {
                const QString path = nextScanFile(*saveFolder);
                QString error;
                if (scanning::saveScan(page.image, path, &error))
                    source = path;
                else
                    series.error = error;
            }
            series.pages.push_back(report::gradeScannedPage(*page.scan, source, std::nullopt, options));
            err << progressLine(series.pages.back()) << Qt::endl;
        };
        series.run = scanning::acquirePages(request, cancel, onPage, [&] { return anotherPageWanted(cancel, err); });
        return series;
    });
}

} // namespace

void addReportOptions(QCommandLineParser& parser)
{
    parser.addOption({kReport, QStringLiteral("Arvioi sarjan skannaukset (argumentit SKANNAUS…, tai --scan) ja "
                                              "kirjoita niistä yksi HTML-raportti: tekniikat parhaasta alkaen ja "
                                              "kavennustikkaiden suositus.")});
    parser.addOption({{QStringLiteral("o"), kOutput},
                      QStringLiteral("Raportin tiedosto (oletus %1); - kirjoittaa vakiotulosteeseen (--json: JSON).")
                          .arg(kDefaultReport),
                      QStringLiteral("tiedosto.html")});
    parser.addOption({kPage,
                      QStringLiteral("Nimeä merkitsemättömän skannauksen sivu raporttiin: SKANNAUS=SIVU (sivun nimi "
                                     "tai painikkeen teksti)."),
                      QStringLiteral("SKANNAUS=SIVU")});
}

bool reportRequested(const QCommandLineParser& parser) { return parser.isSet(kReport); }

QString reportOptionAlone(const QCommandLineParser& parser)
{
    if (parser.isSet(kReport))
        return {};
    for (const QString& name : {kOutput, kPage})
        if (parser.isSet(name))
            return QStringLiteral("--") + name;
    return {};
}

int runReport(const QCommandLineParser& parser, QTextStream& out, QTextStream& err)
{
    GradeSettings settings;
    QString error = readGradeSettings(parser, &settings);
    const QString output = parser.isSet(kOutput) ? parser.value(kOutput) : kDefaultReport;
    std::vector<report::ScanInput> inputs;
    if (!parser.isSet(kScan))
        for (const QString& path : parser.positionalArguments())
            inputs.push_back({path, std::nullopt});
    if (error.isEmpty())
        error = namedPages(parser, inputs);
    if (error.isEmpty() && output != QStringLiteral("-"))
        error = outputError(output, settings.json, inputs);
    if (error.isEmpty())
        inputs = withoutRepeats(std::move(inputs), err);
    if (error.isEmpty() && !parser.isSet(kScan) && inputs.empty())
        error = QStringLiteral("--report tarvitsee skannaukset: raitakone --report SKANNAUS… tai raitakone --report "
                               "--scan.");
    if (error.isEmpty() && parser.isSet(kSaveScan) && !parser.isSet(kScan))
        error = QStringLiteral("--save-scan tallentaa valitsimen --scan skannaukset kansioon: lisää --scan.");
    if (error.isEmpty() && parser.isSet(kPage) && parser.isSet(kScan))
        error = QStringLiteral("--page nimeää annetun skannaustiedoston sivun; skannerilta tulevat sivut luetaan "
                               "niiden merkinnästä.");
    if (!error.isEmpty()) {
        err << error << Qt::endl;
        return kBadInput;
    }
    const report::ReportContext context{QDate::currentDate(), settings.options.printerDpi, seriesPlaceOf};
    settings.options.stopRequested = terminationRequested;

    if (parser.isSet(kScan)) {
        std::optional<QDir> saveFolder;
        if (parser.isSet(kSaveScan)) {
            saveFolder = QDir(parser.value(kSaveScan));
            if (!saveFolder->mkpath(QStringLiteral("."))) {
                err << QStringLiteral("Kansiota %1 ei voi luoda skannauksille. Tarkista nimi ja oikeudet.")
                           .arg(parser.value(kSaveScan))
                    << Qt::endl;
                return kBadInput;
            }
        }
        const std::optional<ScannedSeries> scanned = scanSeries(parser, settings, saveFolder, err);
        if (!scanned) {
            // The scanning thread is still inside SANE: no orderly exit past it.
            err << QStringLiteral("Keskeytetty (signaali %1): skanneri ei vastannut, joten ohjelma lopetettiin "
                                  "kesken skannauksen.")
                       .arg(terminationSignal())
                << Qt::endl;
            std::_Exit(128 + terminationSignal());
        }
        if (terminationRequested())
            return stoppedStatus(err);
        const scanning::ScanRun& run = scanned->run;
        if (scanned->pages.empty()) {
            err << run.error << Qt::endl;
            return kScannerProblem;
        }
        err << QStringLiteral("Skannattu %1 sivua laitteella %2%3.")
                   .arg(run.pages)
                   .arg(run.device, run.feeder ? QStringLiteral(" syöttölaitteesta") : QString())
            << Qt::endl;
        if (!scanned->error.isEmpty())
            err << scanned->error << Qt::endl;
        if (run.problem != scanning::ScanProblem::None)
            err << run.error << Qt::endl;
        const int status = writeReport(report::rankSeries(scanned->pages, context), output, settings.json, out, err);
        if (status == 0 && run.problem != scanning::ScanProblem::None)
            return kScannerProblem;
        return status == 0 && !scanned->error.isEmpty() ? kBadInput : status;
    }

    report::SeriesOptions options;
    options.scanDpi = settings.scanDpi;
    options.grading = settings.options;
    const auto graded = [&err](const report::ScannedPage& page) {
        err << progressLine(page) << Qt::endl;
        if (!page.notice.isEmpty())
            err << page.notice << Qt::endl;
    };
    const std::optional<std::vector<report::ScannedPage>> scans = untilDoneOrStopped<std::vector<report::ScannedPage>>(
        [inputs, options, graded] { return report::gradeSeries(inputs, options, graded); }, err);
    if (!scans)
        return stoppedStatus(err);
    const report::SeriesReport series = report::rankSeries(*scans, context);
    return writeReport(series, output, settings.json, out, err);
}

} // namespace raitakone
