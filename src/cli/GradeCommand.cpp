#include "cli/GradeCommand.h"

#include "grading/GradeReport.h"
#include "grading/Grading.h"
#include "grading/PageGrade.h"
#include "grading/ProfilePlot.h"
#include "app/TerminationSignals.h"
#include "grading/ScanImage.h"
#include "scanning/Scanner.h"

#include <QThread>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

namespace raitakone {
namespace {

const QString kGrade = QStringLiteral("grade");
const QString kScan = QStringLiteral("scan");
const QString kSaveScan = QStringLiteral("save-scan");
const QString kScanDpi = QStringLiteral("scan-dpi");
const QString kAperture = QStringLiteral("aperture");
const QString kPrinterDpi = QStringLiteral("printer-dpi");
const QString kJson = QStringLiteral("json");
const QString kPlot = QStringLiteral("plot");
const QString kLinear = QStringLiteral("linear");

constexpr int kGraded = 0;
constexpr int kNoSymbol = 1;
constexpr int kBadInput = 2;
constexpr int kScannerProblem = 3;

// A positive number from an option, or an error naming the option.
std::optional<double> positive(const QCommandLineParser& parser, const QString& name, double max, QString* error)
{
    if (!parser.isSet(name))
        return std::nullopt;
    bool ok = false;
    const QString text = parser.value(name);
    const double value = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok || !(value > 0.0) || value > max)
        *error = QStringLiteral("Valitsimen --%1 arvo \"%2\" ei kelpaa: anna positiivinen luku (enintään %3).")
                     .arg(name, text)
                     .arg(max);
    return value;
}

// The options both entries share, read and checked.
struct GradeSettings {
    std::optional<double> scanDpi;
    grading::GradeOptions options;
    bool json = false;
    std::optional<QString> plot;
};

// Reads the options; an error message naming the bad one, or empty.
QString readSettings(const QCommandLineParser& parser, GradeSettings* settings)
{
    QString error;
    settings->scanDpi = positive(parser, kScanDpi, 100000.0, &error);
    settings->options.printerDpi = positive(parser, kPrinterDpi, 100000.0, &error);
    settings->options.apertureMm = positive(parser, kAperture, 10.0, &error);
    settings->options.linear = parser.isSet(kLinear);
    settings->json = parser.isSet(kJson);
    if (parser.isSet(kPlot)) {
        const QString plot = parser.value(kPlot);
        settings->plot = plot;
        if (!plot.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
            !plot.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive))
            error = QStringLiteral("Valitsimen --plot tiedostonimen pitää päättyä .png tai .svg: %1").arg(plot);
    }
    if (parser.isSet(kGrade) && parser.isSet(kScan))
        error = QStringLiteral("Valitse joko --grade (skannattu tiedosto) tai --scan (skannaa nyt), ei molempia.");
    if (parser.isSet(kSaveScan) && !parser.isSet(kScan))
        error = QStringLiteral("--save-scan tallentaa valitsimen --scan skannauksen: lisää --scan.");
    if (parser.isSet(kSaveScan) && !parser.value(kSaveScan).endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        error = QStringLiteral("Valitsimen --save-scan tiedostonimen pitää päättyä .png: %1")
                    .arg(parser.value(kSaveScan));
    return error;
}

// Grades one page and writes its report: what --grade and --scan share.
int gradeAndReport(const grading::Scan& scan, const GradeSettings& settings, QTextStream& out, QTextStream& err)
{
    const grading::GradeResult result = grading::gradePage(scan, settings.options);
    if (result.status != grading::GradeStatus::Graded) {
        err << result.message << Qt::endl;
        return result.status == grading::GradeStatus::NoSymbol ? kNoSymbol : kBadInput;
    }

    if (!result.message.isEmpty())
        err << result.message << Qt::endl;
    if (settings.json)
        out << QString::fromUtf8(grading::gradeJson(result));
    else
        out << grading::gradeReport(result);
    out.flush();

    QString error;
    if (settings.plot && !grading::writeProfilePlot(result.symbols.front(), *settings.plot, &error)) {
        err << error << Qt::endl;
        return kBadInput;
    }
    return kGraded;
}

int gradeFile(const QCommandLineParser& parser, const GradeSettings& settings, QTextStream& out, QTextStream& err)
{
    const grading::ScanLoad load = grading::loadScan(parser.value(kGrade), settings.scanDpi);
    if (!load.scan) {
        err << load.error << Qt::endl;
        return kBadInput;
    }
    if (settings.scanDpi && load.resolutionFromFile && std::abs(load.fileDpi - *settings.scanDpi) > 0.5)
        err << QStringLiteral("Huom: tiedoston tarkkuus on %1 dpi; käytetään valitsimen --scan-dpi arvoa %2 dpi.")
                   .arg(load.fileDpi)
                   .arg(*settings.scanDpi)
            << Qt::endl;
    return gradeAndReport(*load.scan, settings, out, err);
}

// Scans on a thread of its own, so that a stop signal, noticed here, can
// cancel it between reads. A scanner stuck inside one read is left after a
// while: nothing, then, is returned and the thread still runs.
std::optional<scanning::Acquisition> scanUntilDoneOrStopped(const scanning::ScanRequest& request)
{
    constexpr int kPollMs = 20;
    constexpr int kStuckAfterMs = 15000;
    struct Shared {
        std::atomic<bool> cancel{false};
        std::atomic<bool> done{false};
        scanning::Acquisition acquisition;
    };
    // Outlives this function when the thread is left behind.
    const auto shared = std::make_shared<Shared>();
    std::thread scanner([shared, request] {
        shared->acquisition = scanning::acquireScan(request, shared->cancel);
        shared->done = true;
    });
    int waitedSinceStop = 0;
    while (!shared->done) {
        if (terminationRequested()) {
            shared->cancel = true;
            waitedSinceStop += kPollMs;
            if (waitedSinceStop > kStuckAfterMs) {
                scanner.detach();
                return std::nullopt;
            }
        }
        QThread::msleep(kPollMs);
    }
    scanner.join();
    return std::move(shared->acquisition);
}

int gradeScanner(const QCommandLineParser& parser, const GradeSettings& settings, QTextStream& out,
                 QTextStream& err)
{
    scanning::ScanRequest request;
    if (!parser.positionalArguments().isEmpty())
        request.device = parser.positionalArguments().first();
    if (settings.scanDpi)
        request.dpi = int(std::lround(*settings.scanDpi));
    const std::optional<scanning::Acquisition> scanned = scanUntilDoneOrStopped(request);
    if (!scanned) {
        // The scanning thread is still inside SANE: no orderly exit past it.
        err << QStringLiteral("Keskeytetty (signaali %1): skanneri ei vastannut, joten ohjelma lopetettiin "
                              "kesken skannauksen. Sammuta skanneri hetkeksi ennen seuraavaa skannausta.")
                   .arg(terminationSignal())
            << Qt::endl;
        std::_Exit(128 + terminationSignal());
    }
    const scanning::Acquisition& acquisition = *scanned;
    if (acquisition.problem == scanning::ScanProblem::Cancelled && terminationRequested()) {
        err << QStringLiteral("Keskeytetty (signaali %1): skannaus lopetettiin.").arg(terminationSignal())
            << Qt::endl;
        return 128 + terminationSignal();
    }
    if (!acquisition.scan) {
        err << acquisition.error << Qt::endl;
        return kScannerProblem;
    }
    err << QStringLiteral("Skannattu: %1, %2 dpi.").arg(acquisition.device).arg(acquisition.scan->dpiX) << Qt::endl;

    QString error;
    if (parser.isSet(kSaveScan) && !scanning::saveScan(acquisition.image, parser.value(kSaveScan), &error)) {
        err << error << Qt::endl;
        return kBadInput;
    }
    return gradeAndReport(*acquisition.scan, settings, out, err);
}

} // namespace

void addGradeOptions(QCommandLineParser& parser)
{
    parser.addOption({kGrade, QStringLiteral("Arvioi skannatun sivun viivakoodin laadun (ISO/IEC 15416)."),
                      QStringLiteral("skannaus")});
    parser.addOption({kScan,
                      QStringLiteral("Skannaa sivun SANE-skannerilla ja arvioi sen kuten --grade. Skanneri on "
                                     "argumentti LAITE (esim. \"genesys:libusb:001:004\", luettelo: scanimage -L); "
                                     "ilman sitä ensimmäinen löytyvä. Poistumiskoodi 3, jos skannaus ei onnistu.")});
    parser.addOption({kSaveScan, QStringLiteral("Tallentaa valitsimen --scan skannauksen PNG-tiedostoksi."),
                      QStringLiteral("tiedosto.png")});
    parser.addOption({kScanDpi,
                      QStringLiteral("Skannauksen tarkkuus (dpi): --scan pyytää sitä skannerilta (oletus %1); "
                                     "--grade käyttää sitä, kun tiedosto ei kerro tarkkuutta tai kertoo väärin.")
                          .arg(scanning::kDefaultScanDpi),
                      QStringLiteral("dpi")});
    parser.addOption({kAperture,
                      QStringLiteral("Mittausaukon halkaisija millimetreinä (oletus: 0,8 × moduulia lähin "
                                     "vertailuaukko)."),
                      QStringLiteral("mm")});
    parser.addOption({kPrinterDpi, QStringLiteral("Tulostimen tarkkuus (dpi): palkin levenemä myös pikseleinä."),
                      QStringLiteral("dpi")});
    parser.addOption({kJson, QStringLiteral("Tulostaa kaikki mitatut arvot JSON-muodossa.")});
    parser.addOption({kPlot, QStringLiteral("Piirtää keskimmäisen pyyhkäisyviivan profiilin (PNG tai SVG)."),
                      QStringLiteral("tiedosto")});
    parser.addOption({kLinear,
                      QStringLiteral("Pikseliarvot ovat lineaarisia heijastuvuuksia (ei sRGB-koodausta).")});
}

bool gradeRequested(const QCommandLineParser& parser)
{
    return parser.isSet(kGrade) || parser.isSet(kScan) || parser.isSet(kSaveScan);
}

bool scanRequested(const QCommandLineParser& parser) { return parser.isSet(kScan); }

int runGrade(const QCommandLineParser& parser, QTextStream& out, QTextStream& err)
{
    GradeSettings settings;
    if (const QString error = readSettings(parser, &settings); !error.isEmpty()) {
        err << error << Qt::endl;
        return kBadInput;
    }
    return parser.isSet(kScan) ? gradeScanner(parser, settings, out, err) : gradeFile(parser, settings, out, err);
}

} // namespace raitakone
