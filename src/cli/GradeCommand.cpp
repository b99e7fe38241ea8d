#include "cli/GradeCommand.h"

#include "grading/Calibration.h"
#include "grading/FileErrorText.h"
#include "grading/GradeReport.h"
#include "grading/Grading.h"
#include "page/PageGrade.h"
#include "grading/ProfilePlot.h"
#include "process/TerminationSignals.h"
#include "grading/ScanImage.h"
#include "scanning/Scanner.h"
#include "cli/ReportCommand.h"
#include "cli/UntilStopped.h"

#include <QFileInfo>
#include <QLocale>
#include <QThread>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <thread>

#include <sys/stat.h>

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
const QString kCalibration = QStringLiteral("calibration");

constexpr int kGraded = 0;
constexpr int kNoSymbol = 1;
constexpr int kBadInput = 2;
constexpr int kScannerProblem = 3;

// A number from an option within [min, max], or an error naming the option
// and what it may be.
std::optional<double> number(const QCommandLineParser& parser, const QString& name, double min, double max,
                             const QString& meaning, QString* error)
{
    if (!parser.isSet(name))
        return std::nullopt;
    bool ok = false;
    const QString text = parser.value(name);
    const double value = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok || !(value >= min) || !(value <= max))
        *error = QStringLiteral("Valitsimen --%1 arvo \"%2\" ei kelpaa: %3.").arg(name, text, meaning);
    return value;
}

// Reads the options; an error message naming the bad one, or empty.
} // namespace

QString readGradeSettings(const QCommandLineParser& parser, GradeSettings* settings)
{
    QString error;
    settings->scanDpi = number(parser, kScanDpi, grading::kMinScanDpi, grading::kMaxScanDpi,
                               QStringLiteral("skannauksen tarkkuus on %1–%2 dpi")
                                   .arg(grading::kMinScanDpi)
                                   .arg(QLocale(QLocale::Finnish).toString(int(grading::kMaxScanDpi))),
                               &error);
    settings->options.printerDpi =
        number(parser, kPrinterDpi, 1.0, 100000.0, QStringLiteral("anna tulostimen tarkkuus, esimerkiksi 600"), &error);
    settings->options.apertureMm = number(parser, kAperture, 0.01, 10.0,
                                          QStringLiteral("anna mittausaukon halkaisija millimetreinä (0,01–10)"), &error);
    settings->options.linear = parser.isSet(kLinear);
    if (parser.isSet(kCalibration)) {
        const grading::CalibrationRead read = grading::readCalibration(parser.value(kCalibration));
        if (read.calibration)
            settings->options.calibration = std::make_shared<const grading::Calibration>(*read.calibration);
        else
            error = read.error;
        if (parser.isSet(kLinear))
            error = QStringLiteral("Valitse joko --linear tai --calibration: kalibrointi kertoo jo, miten skannerin "
                                   "arvot muuttuvat heijastavuudeksi.");
    }
    settings->json = parser.isSet(kJson);
    if (parser.isSet(kPlot)) {
        const QString plot = parser.value(kPlot);
        settings->plot = plot;
        if (!plot.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
            !plot.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive))
            error = QStringLiteral("Valitsimen --plot tiedostonimen pitää päättyä .png tai .svg: %1").arg(plot);
        else if (const QString problem = outputPathProblem(plot); !problem.isEmpty())
            error = QStringLiteral("Kuvaajaa ei voi kirjoittaa: %1. Anna valitsimelle --plot toinen tiedostonimi.")
                        .arg(problem);
        if (parser.isSet(kGrade) && sameFile(plot, parser.value(kGrade)))
            error = QStringLiteral("Kuvaaja kirjoitettaisiin skannauksen %1 päälle. Anna valitsimelle --plot toinen "
                                   "tiedostonimi.")
                        .arg(parser.value(kGrade));
    }
    if (parser.isSet(kGrade) && parser.isSet(kScan))
        error = QStringLiteral("Valitse joko --grade (skannattu tiedosto) tai --scan (skannaa nyt), ei molempia.");
    if (reportRequested(parser))
        return error; // the report reads --save-scan as a folder
    if (parser.isSet(kSaveScan) && !parser.isSet(kScan))
        error = QStringLiteral("--save-scan tallentaa valitsimen --scan skannauksen: lisää --scan.");
    if (parser.isSet(kSaveScan) && !parser.value(kSaveScan).endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        error = QStringLiteral("Valitsimen --save-scan tiedostonimen pitää päättyä .png: %1")
                    .arg(parser.value(kSaveScan));
    else if (parser.isSet(kSaveScan))
        if (const QString problem = outputPathProblem(parser.value(kSaveScan)); !problem.isEmpty())
            error = QStringLiteral("Skannausta ei voi tallentaa: %1. Anna valitsimelle --save-scan toinen "
                                   "tiedostonimi.")
                        .arg(problem);
    return error;
}

namespace {

// Grades a page, as a stop signal allows.
std::optional<grading::GradeResult> gradeStoppably(const grading::Scan& scan, grading::GradeOptions options,
                                                   QTextStream& err)
{
    options.stopRequested = terminationRequested;
    return untilDoneOrStopped<grading::GradeResult>(
        [&scan, options] { return grading::gradePageWithinMemory(scan, options); }, err);
}

// Writes the report of a graded page: what --grade and --scan share.
int report(const grading::GradeResult& result, const GradeSettings& settings, QTextStream& out, QTextStream& err)
{
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
    if (out.status() != QTextStream::Ok) {
        err << QStringLiteral("Raporttia ei voitu kirjoittaa loppuun (vakiotuloste: levy täynnä tai putki "
                              "suljettu).")
            << Qt::endl;
        return kBadInput;
    }

    QString error;
    if (settings.plot && !grading::writeProfilePlot(result.symbols.front(), *settings.plot, &error)) {
        err << error << Qt::endl;
        return kBadInput;
    }
    return kGraded;
}

int gradeFile(const QCommandLineParser& parser, const GradeSettings& settings, QTextStream& out, QTextStream& err)
{
    const QString path = parser.value(kGrade);
    struct Loaded {
        grading::ScanLoad load;
        std::optional<grading::GradeResult> result;
    };
    grading::GradeOptions options = settings.options;
    options.stopRequested = terminationRequested;
    const std::optional<double> scanDpi = settings.scanDpi;
    const std::optional<Loaded> loaded = untilDoneOrStopped<Loaded>(
        [path, scanDpi, options] {
            Loaded l;
            l.load = grading::loadScan(path, scanDpi, terminationRequested);
            if (l.load.scan && !terminationRequested())
                l.result = grading::gradePageWithinMemory(*l.load.scan, options);
            l.load.scan.reset(); // the page's memory goes with the thread's work
            return l;
        },
        err);
    if (!loaded || loaded->load.stopped || (loaded->result && loaded->result->status == grading::GradeStatus::Stopped))
        return stoppedStatus(err);
    const grading::ScanLoad& load = loaded->load;
    if (!loaded->result) {
        err << load.error << Qt::endl;
        return kBadInput;
    }
    if (!load.notice.isEmpty())
        err << load.notice << Qt::endl;
    if (settings.scanDpi && load.resolutionFromFile && std::abs(load.fileDpi - *settings.scanDpi) > 0.5)
        err << QStringLiteral("Huom: tiedoston tarkkuus on %1 dpi; käytetään valitsimen --scan-dpi arvoa %2 dpi.")
                   .arg(load.fileDpi)
                   .arg(*settings.scanDpi)
            << Qt::endl;
    return report(*loaded->result, settings, out, err);
}

int gradeScanner(const QCommandLineParser& parser, const GradeSettings& settings, QTextStream& out,
                 QTextStream& err)
{
    scanning::ScanRequest request;
    if (!parser.positionalArguments().isEmpty())
        request.device = parser.positionalArguments().first();
    if (settings.scanDpi)
        request.dpi = int(std::lround(*settings.scanDpi));
    const std::optional<scanning::Acquisition> scanned = scanUntilDoneOrStopped<scanning::Acquisition>(
        [request](const std::atomic<bool>& cancel) { return scanning::acquireScan(request, cancel); });
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
    const std::optional<grading::GradeResult> result = gradeStoppably(*acquisition.scan, settings.options, err);
    if (!result || result->status == grading::GradeStatus::Stopped)
        return stoppedStatus(err);
    return report(*result, settings, out, err);
}

} // namespace

void addGradeOptions(QCommandLineParser& parser)
{
    parser.addOption({kGrade, QStringLiteral("Arvioi skannatun sivun viivakoodin laatu (ISO/IEC 15416)."),
                      QStringLiteral("skannaus")});
    parser.addOption({kScan,
                      QStringLiteral("Skannaa sivu SANE-skannerilla ja arvioi se kuten --grade. Skanneri on "
                                     "argumentti LAITE (esim. \"genesys:libusb:001:004\", luettelo: scanimage -L); "
                                     "ilman sitä ensimmäinen löytyvä. Poistumiskoodi 3, jos skannaus ei onnistu.")});
    parser.addOption({kSaveScan,
                      QStringLiteral("Tallenna valitsimen --scan skannaus PNG-tiedostoksi; --report --scan "
                                     "tallentaa jokaisen sivun kansioon KANSIO/NNNN.png."),
                      QStringLiteral("tiedosto.png|KANSIO")});
    parser.addOption({kScanDpi,
                      QStringLiteral("Käytä skannauksen tarkkuutta dpi: --scan pyytää sitä skannerilta (oletus %1); "
                                     "--grade käyttää sitä, kun tiedosto ei kerro tarkkuutta tai kertoo väärin.")
                          .arg(scanning::kDefaultScanDpi),
                      QStringLiteral("dpi")});
    parser.addOption({kAperture,
                      QStringLiteral("Mittaa aukolla, jonka halkaisija on mm millimetriä (oletus: 0,8 × moduuli, "
                                     "lähin vertailuaukko)."),
                      QStringLiteral("mm")});
    parser.addOption({kPrinterDpi, QStringLiteral("Kerro sivun tulostaneen tulostimen tarkkuus dpi: palkin levenemä "
                                                   "annetaan silloin myös tulostimen pikseleinä."),
                      QStringLiteral("dpi")});
    parser.addOption({kJson, QStringLiteral("Tulosta kaikki mitatut arvot JSON-muodossa.")});
    parser.addOption({kPlot, QStringLiteral("Piirrä keskimmäisen pyyhkäisyviivan profiili tiedostoon (PNG tai SVG)."),
                      QStringLiteral("tiedosto")});
    parser.addOption({kLinear,
                      QStringLiteral("Lue pikseliarvot lineaarisina heijastuvuuksina (ei sRGB-koodausta).")});
    parser.addOption({kCalibration,
                      QStringLiteral("Muunna skannerin arvot heijastavuudeksi kalibroinnilla, jonka --calibrate "
                                     "teki samalla skannerilla ja samoilla asetuksilla."),
                      QStringLiteral("kalibrointi.json")});
}

bool gradeRequested(const QCommandLineParser& parser)
{
    return parser.isSet(kGrade) || parser.isSet(kScan) || parser.isSet(kSaveScan);
}

bool scanRequested(const QCommandLineParser& parser) { return parser.isSet(kScan); }

QString gradingOptionAlone(const QCommandLineParser& parser)
{
    if (parser.isSet(kGrade) || parser.isSet(kScan) || reportRequested(parser))
        return {};
    for (const QString& name : {kScanDpi, kAperture, kPrinterDpi, kJson, kPlot, kLinear, kCalibration})
        if (parser.isSet(name))
            return QStringLiteral("--") + name;
    return {};
}

int runGrade(const QCommandLineParser& parser, QTextStream& out, QTextStream& err)
{
    GradeSettings settings;
    if (const QString error = readGradeSettings(parser, &settings); !error.isEmpty()) {
        err << error << Qt::endl;
        return kBadInput;
    }
    return parser.isSet(kScan) ? gradeScanner(parser, settings, out, err) : gradeFile(parser, settings, out, err);
}

} // namespace raitakone
