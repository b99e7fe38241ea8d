#include "cli/GradeCommand.h"

#include "grading/GradeReport.h"
#include "grading/Grading.h"
#include "grading/ProfilePlot.h"
#include "grading/ScanImage.h"

#include <optional>

namespace raitakone {
namespace {

const QString kGrade = QStringLiteral("grade");
const QString kScanDpi = QStringLiteral("scan-dpi");
const QString kAperture = QStringLiteral("aperture");
const QString kPrinterDpi = QStringLiteral("printer-dpi");
const QString kJson = QStringLiteral("json");
const QString kPlot = QStringLiteral("plot");
const QString kLinear = QStringLiteral("linear");

constexpr int kGraded = 0;
constexpr int kNoSymbol = 1;
constexpr int kBadInput = 2;

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

} // namespace

void addGradeOptions(QCommandLineParser& parser)
{
    parser.addOption({kGrade, QStringLiteral("Arvioi skannatun sivun viivakoodin laadun (ISO/IEC 15416)."),
                      QStringLiteral("skannaus")});
    parser.addOption({kScanDpi,
                      QStringLiteral("Skannauksen tarkkuus (dpi), kun tiedosto ei kerro sitä tai kertoo väärin."),
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

bool gradeRequested(const QCommandLineParser& parser) { return parser.isSet(kGrade); }

int runGrade(const QCommandLineParser& parser, QTextStream& out, QTextStream& err)
{
    QString error;
    const std::optional<double> scanDpi = positive(parser, kScanDpi, 100000.0, &error);
    const std::optional<double> printerDpi = positive(parser, kPrinterDpi, 100000.0, &error);
    const std::optional<double> aperture = positive(parser, kAperture, 10.0, &error);
    const QString plot = parser.value(kPlot);
    if (parser.isSet(kPlot) && !plot.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
        !plot.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive))
        error = QStringLiteral("Valitsimen --plot tiedostonimen pitää päättyä .png tai .svg: %1").arg(plot);
    if (!error.isEmpty()) {
        err << error << Qt::endl;
        return kBadInput;
    }

    const grading::ScanLoad load = grading::loadScan(parser.value(kGrade), scanDpi);
    if (!load.scan) {
        err << load.error << Qt::endl;
        return kBadInput;
    }
    if (scanDpi && load.resolutionFromFile && std::abs(load.fileDpi - *scanDpi) > 0.5)
        err << QStringLiteral("Huom: tiedoston tarkkuus on %1 dpi; käytetään valitsimen --scan-dpi arvoa %2 dpi.")
                   .arg(load.fileDpi)
                   .arg(*scanDpi)
            << Qt::endl;

    grading::GradeOptions options;
    options.apertureMm = aperture;
    options.printerDpi = printerDpi;
    options.linear = parser.isSet(kLinear);
    const grading::GradeResult result = grading::gradeScan(*load.scan, options);
    if (result.status != grading::GradeStatus::Graded) {
        err << result.message << Qt::endl;
        return result.status == grading::GradeStatus::NoSymbol ? kNoSymbol : kBadInput;
    }

    if (!result.message.isEmpty())
        err << result.message << Qt::endl;
    if (parser.isSet(kJson))
        out << QString::fromUtf8(grading::gradeJson(result));
    else
        out << grading::gradeReport(result);
    out.flush();

    if (parser.isSet(kPlot) && !grading::writeProfilePlot(result.symbols.front(), plot, &error)) {
        err << error << Qt::endl;
        return kBadInput;
    }
    return kGraded;
}

} // namespace raitakone
