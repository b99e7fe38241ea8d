#include "cli/CalibrateCommand.h"

#include "process/TerminationSignals.h"
#include "cli/UntilStopped.h"
#include "grading/Calibration.h"
#include "grading/FileErrorText.h"
#include "grading/GradeReport.h"
#include "grading/ScanImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace raitakone {
namespace {

const QString kCalibrate = QStringLiteral("calibrate");
const QString kReference = QStringLiteral("reference");
const QString kOutput = QStringLiteral("output");

constexpr int kMade = 0;
constexpr int kRefused = 1;
constexpr int kBadInput = 2;
// A CGATS reference for a step wedge is a few kilobytes.
constexpr qint64 kMaxReferenceBytes = 4 << 20;
// The steps' values need no distances, so the scan's resolution is not
// asked for; this one only lets a file that states none load.
constexpr double kAnyResolution = 300.0;

struct Work {
    grading::ScanLoad load;
    grading::CalibrationMade made;
};

QString defaultOutput(const QString& scan)
{
    const QFileInfo info(scan);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral("-kalibrointi.json"));
}

} // namespace

void addCalibrateOptions(QCommandLineParser& parser)
{
    parser.addOption({kCalibrate,
                      QStringLiteral("Kalibroi skanneri harmaan askelkiilan skannauksesta: tee sävykäyrä "
                                     "skannerin arvoista heijastavuuteen (tiedosto -o, oletus "
                                     "SKANNAUS-kalibrointi.json) käytettäväksi valitsimella --calibration."),
                      QStringLiteral("skannaus")});
    parser.addOption({kReference,
                      QStringLiteral("Askelkiilan viitearvot (--calibrate): CGATS.17-tekstitiedosto, jossa kentät "
                                     "SAMPLE_ID ja XYZ_Y tai tiheys D_RED tai D_VIS."),
                      QStringLiteral("viite.txt")});
}

bool calibrateRequested(const QCommandLineParser& parser) { return parser.isSet(kCalibrate); }

QString calibrateOptionAlone(const QCommandLineParser& parser)
{
    return !parser.isSet(kCalibrate) && parser.isSet(kReference) ? QStringLiteral("--") + kReference : QString();
}

int runCalibrate(const QCommandLineParser& parser, QTextStream& out, QTextStream& err)
{
    const QString scanPath = parser.value(kCalibrate);
    if (!parser.isSet(kReference)) {
        err << QStringLiteral("--calibrate tarvitsee askelkiilan viitearvot: lisää --reference VIITE.txt "
                              "(kiilan mukana tullut CGATS-tiedosto).")
            << Qt::endl;
        return kBadInput;
    }
    const QString referencePath = parser.value(kReference);
    const QString output = parser.isSet(kOutput) ? parser.value(kOutput) : defaultOutput(scanPath);
    QString problem = outputPathProblem(output);
    if (problem.isEmpty() && (sameFile(output, scanPath) || sameFile(output, referencePath)))
        problem = QStringLiteral("se on kalibroinnin lähtötiedosto");
    if (!problem.isEmpty()) {
        err << QStringLiteral("Kalibrointia ei voi kirjoittaa tiedostoon %1: %2. Anna valitsimelle -o toinen "
                              "tiedostonimi.")
                   .arg(output, problem)
            << Qt::endl;
        return kBadInput;
    }

    QFile referenceFile(referencePath);
    if (!QFileInfo(referencePath).isFile() || !referenceFile.open(QIODevice::ReadOnly)) {
        err << QStringLiteral("Viitetiedostoa %1 ei voi lukea.").arg(referencePath) << Qt::endl;
        return kBadInput;
    }
    const grading::ReferenceRead reference = grading::readStepReference(referenceFile.read(kMaxReferenceBytes + 1));
    if (!reference.reference) {
        err << QStringLiteral("Viitetiedostoa %1 ei voi käyttää: %2.").arg(referencePath, reference.error) << Qt::endl;
        return kBadInput;
    }

    const grading::StepReference steps = *reference.reference;
    const std::optional<Work> work = untilDoneOrStopped<Work>(
        [scanPath, steps] {
            Work w;
            w.load = grading::loadScan(scanPath, kAnyResolution, terminationRequested);
            if (!w.load.scan)
                return w;
            const grading::WedgeSteps found = grading::findWedgeSteps(w.load.scan->plane, int(steps.steps.size()));
            w.load.scan.reset();
            w.made = found.error.isEmpty() ? grading::makeCalibration(found.values, steps)
                                           : grading::CalibrationMade{std::nullopt, found.error};
            return w;
        },
        err);
    if (!work || work->load.stopped)
        return stoppedStatus(err);
    if (!work->load.error.isEmpty()) {
        err << work->load.error << Qt::endl;
        return kBadInput;
    }
    if (!work->made.calibration) {
        err << QStringLiteral("Askelkiilaa %1 ei voi käyttää kalibrointiin: %2.").arg(scanPath, work->made.error)
            << Qt::endl;
        return kRefused;
    }
    grading::Calibration calibration = *work->made.calibration;
    if (calibration.name.isEmpty())
        calibration.name = QFileInfo(referencePath).completeBaseName();
    calibration.scanFile = QFileInfo(scanPath).fileName();
    calibration.referenceFile = QFileInfo(referencePath).fileName();
    QString reason;
    if (!writeWholeFile(output, grading::calibrationJson(calibration), &reason)) {
        err << QStringLiteral("Kalibrointia ei voitu kirjoittaa tiedostoon %1: %2.").arg(output, reason) << Qt::endl;
        return kBadInput;
    }

    out << QStringLiteral("Kalibrointi »%1« kirjoitettiin tiedostoon %2 (%3 askelta).\n")
               .arg(calibration.name, output)
               .arg(calibration.steps.size());
    out << QStringLiteral("  askel   viite %   skannattu   poikkeama\n");
    for (const grading::CalibrationStep& step : calibration.steps)
        out << QStringLiteral("  %1 %2 %3 %4%5\n")
                   .arg(step.id, -6)
                   .arg(grading::reportNumber(step.reflectance, 2), 8)
                   .arg(grading::reportNumber(step.scanValue, 1), 11)
                   .arg(grading::signedReportNumber(step.residual, 2), 11)
                   .arg(step.clipped ? QStringLiteral("  leikkautuu") : QString());
    out << QStringLiteral("Poikkeama: askeleen heijastavuus käyrältä, joka on tehty ilman sitä, miinus viitearvo "
                          "(prosenttiyksikköä). Käytä kalibrointia: --calibration %1\n")
               .arg(output);
    return kMade;
}

} // namespace raitakone
