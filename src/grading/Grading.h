#pragma once

// Grading of a scanned Code 128 symbol by ISO/IEC 15416: scan reflectance
// profiles along the symbol's own axis through a circular synthetic aperture,
// the profile parameters and their grades, the reference decode, and what
// the printer did to the bars (bar gain). The result is plain data that the
// text report, the JSON, the plot and the window read.

#include "grading/ScanImage.h"
#include "grading/LadderGrade.h"
#include "marking/PageIdentity.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace raitakone::grading {

struct Calibration;

struct GradeOptions {
    std::optional<double> apertureMm;  // default: the reference aperture nearest 0.8 X
    std::optional<double> printerDpi;  // gives the bar gain in printer pixels
    bool linear = false;               // pixel values are linear reflectance, not sRGB
    std::function<bool()> stopRequested = {}; // asked between the long steps; true ends the grading as Stopped
    std::shared_ptr<const Calibration> calibration = {}; // the scanner's measured tone curve; wins over the rest
};

// How the scan's values became reflectance, and whether the reflectances
// (and so SC, Rmin, Rmax and the grades built on them) can be trusted.
struct ReflectanceUse {
    ReflectanceSource source = ReflectanceSource::Srgb;
    QString description;        // the file's profile or gAMA, or the calibration's name
    QString calibrationCreated; // the calibration's date, ISO 8601
    bool trusted = true;
    QString warning;            // in Finnish: why not, and what to do
    QStringList scannerSettings; // what was set on the SANE scanner that scanned it
};

// Reflectances in per cent, MOD, Defects and decodability as fractions.
struct Parameters {
    double rmin = 0.0;
    double rmax = 0.0;
    double sc = 0.0;
    double ecmin = 0.0;
    double mod = 0.0;
    double defects = 0.0;
    double decodability = 0.0;
    bool decode = false;
};

// Grades 0..4 (F..A).
struct ParameterGrades {
    int rmin = 0; // Rmin <= 0.5 Rmax
    int sc = 0;
    int ecmin = 0;
    int mod = 0;
    int defects = 0;
    int decodability = 0;
    int decode = 0;
    int lowest() const;
};

// The scan reflectance profile of one scan line, for the plot.
struct Profile {
    double stepMm = 0.0; // sample spacing; sample 0 lies at 0 mm
    std::vector<float> reflectance;
    std::vector<double> edgesMm; // element edges: where the profile crosses (Rs + Rb) / 2
    std::vector<std::pair<double, double>> barsMm;
    double rmin = 0.0, rmax = 0.0, gt = 0.0;
};

struct ScanLine {
    double offsetMm = 0.0; // across the bars, from the middle of the bar height
    Parameters values;
    ParameterGrades grades;
    int grade = 0;
    double gt = 0.0;
    std::vector<double> elementsMm; // dark and light elements, first bar to last
    QString decodeFailure;          // empty when decoded
    Profile profile;
};

struct BarGain {
    bool measured = false;
    int bars = 0;                       // bars measured over all decoded scan lines
    double um = 0.0;
    double percentX = 0.0;
    std::optional<double> printerPixels;
    int worstIndex = 0;                 // counted from 1, left to right; the bar whose
                                        // width is furthest from the mean gain
    double worstDeviationUm = 0.0;      // its width less nominal, mean over the scan lines
    double worstFromMeanUm = 0.0;       // its deviation less the mean gain
    int worstModules = 0;               // the worst bar's nominal width
    double apertureMm = 0.0;            // the aperture the edges were measured through
};

struct SymbolGrade {
    std::string text;         // as ZXing read it; else as the reference decode read it
    bool read = false;        // ZXing read the symbol
    bool textIsPattern = false; // the 54 digits the pages carry
    double grade = 0.0;
    char letter = 'F';
    QString gradeText;        // grade/aperture/wavelength, e.g. 3.4/10/660
    double apertureMm = 0.0;
    int apertureReference = 0;
    double moduleMm = 0.0;
    double modulePixels = 0.0;
    double angleDegrees = 0.0; // of the symbol's axis in the scan
    double barHeightMm = 0.0;
    double centreXMm = 0.0;    // the middle of the bars, from the scan's top-left corner
    double centreYMm = 0.0;
    Parameters worst;         // worst value of each parameter over the scan lines
    ParameterGrades worstGrades;
    std::vector<ScanLine> lines;
    BarGain barGain;
};

enum class GradeStatus { Graded, NoSymbol, BadInput, Stopped };

struct GradeResult {
    GradeStatus status = GradeStatus::NoSymbol;
    QString message; // in Finnish: why not graded, or what was left ungraded
    double dpiX = 0.0;
    double dpiY = 0.0;
    std::vector<SymbolGrade> symbols;
    std::optional<marking::PageIdentity> page; // what the page's mark says it is
    std::optional<double> printerDpi;          // the bar gain's printer pixels: the option's, else the mark's
    QString printerDpiNote;                    // the option and the mark disagree; the option was used
    QString markNotice;                        // a mark refused as forged or damaged, or two pages' marks
    std::optional<ladder::LadderGrade> ladder; // a scan of the ladder
    ReflectanceUse reflectance;
};

inline constexpr int kScanLineCount = 10;
// The line --plot draws: the fifth of ten, just above the middle of the bars.
inline constexpr int kMiddleScanLine = kScanLineCount / 2 - 1;
inline constexpr int kWavelengthNm = 660;
// The edition whose rules the grades follow: whole-number grades of each
// parameter, a scan line's grade its lowest, the symbol's their mean.
inline constexpr const char* kGradingStandard = "ISO/IEC 15416:2000";

// The text every page's symbol carries.
const std::string& patternText();

// Grade 0..4 of each parameter, by the thresholds of the standard.
int gradeSc(double sc);
int gradeMod(double mod);
int gradeDefects(double defects);
int gradeDecodability(double decodability);
char gradeLetter(double grade);

// The reference aperture nearest 0.8 X: 0.075, 0.125, 0.150, 0.250 or 0.500 mm.
double referenceAperture(double moduleMm);

// sRGB-encoded 8-bit value to linear reflectance in per cent.
double srgbToReflectance(int value);

// The warning for reflectances that cannot be trusted, with the signs seen.
QString untrustedReflectanceWarning(const QString& signs);

GradeResult gradeScan(const Scan& scan, const GradeOptions& options);

} // namespace raitakone::grading
