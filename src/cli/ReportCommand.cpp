#include "cli/ReportCommand.h"

#include "app/Controls.h"
#include "cli/CommandLine.h"
#include "cli/GradeCommand.h"
#include "cli/UntilStopped.h"
#include "grading/GradeReport.h"
#include "report/SeriesGrading.h"
#include "app/PageSeries.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace raitakone {
namespace {

const QString kReport = QStringLiteral("report");
const QString kOutput = QStringLiteral("output");
const QString kPage = QStringLiteral("page");
const QString kScan = QStringLiteral("scan");
const QString kSaveScan = QStringLiteral("save-scan");
const QString kDefaultReport = QStringLiteral("raitakone-raportti.html");

constexpr int kBadInput = 2;

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

// Writes data to path whole or not at all; an error message, or empty.
QString writeWhole(const QString& path, const QByteArray& data, const QString& what)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(data) == data.size() && file.commit())
        return {};
    file.cancelWriting();
    return QStringLiteral("%1 %2 ei voi kirjoittaa: %3. Tarkista, että kansio on olemassa ja siihen saa kirjoittaa "
                          "ja että levyllä on tilaa.")
        .arg(what, path, file.errorString());
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
    QString error = writeWhole(output, report::seriesHtml(series), QStringLiteral("Raporttia"));
    const QFileInfo info(output);
    const QString jsonPath = info.dir().filePath(info.completeBaseName() + QStringLiteral(".json"));
    if (error.isEmpty() && json)
        error = writeWhole(jsonPath, report::seriesJson(series), QStringLiteral("JSON-tiedostoa"));
    if (!error.isEmpty()) {
        err << error << Qt::endl;
        return kBadInput;
    }
    err << QStringLiteral("Raportti: %1%2 (skannauksia %3, arvioitu %4)")
               .arg(output, json ? QStringLiteral(" ja ") + jsonPath : QString())
               .arg(series.scans)
               .arg(series.graded)
        << Qt::endl;
    return report::seriesStatus(series);
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
    const report::ReportContext context{QDate::currentDate(), settings.options.printerDpi};
    settings.options.stopRequested = terminationRequested;

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
