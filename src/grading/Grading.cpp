#include "grading/Grading.h"

#include "grading/BarGain.h"
#include "grading/Calibration.h"
#include "grading/GradeReport.h"
#include "grading/LevelStretch.h"
#include "grading/ProfileParameters.h"
#include "grading/ScanProfile.h"
#include "grading/SymbolFinder.h"
#include "grading/SymbolPlacement.h"
#include "pattern/BarPattern.h"

#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace raitakone::grading {
namespace {

constexpr double kQuietZoneModules = 10.0;
constexpr double kSamplesPerModule = 10.0;
constexpr double kEdgeMarginMm = 3.0; // a symbol this near the scan's edge has no room for its quiet zones
constexpr double kLineOverrunModules = 1.0; // scan lines reach this far past the quiet zones
constexpr double kPi = 3.14159265358979323846;

// The pages' symbol as element widths in modules, first bar to last.
const std::vector<int>& patternElementModules()
{
    static const std::vector<int> modules = [] {
        std::vector<int> widths;
        for (size_t i = 0, j = 0; i < kBarPattern.size(); i = j) {
            while (j < kBarPattern.size() && kBarPattern[j] == kBarPattern[i])
                ++j;
            widths.push_back(int(j - i));
        }
        return widths;
    }();
    return modules;
}

int apertureReference(double mm) { return int(std::lround(mm / 0.0254)); }

QString formatGrade(double grade) { return QString::number(grade, 'f', 1); }

Parameters worstOf(const std::vector<ScanLine>& lines)
{
    Parameters w = lines.front().values;
    for (const ScanLine& l : lines) {
        w.rmin = std::max(w.rmin, l.values.rmin);
        w.rmax = std::min(w.rmax, l.values.rmax);
        w.sc = std::min(w.sc, l.values.sc);
        w.ecmin = std::min(w.ecmin, l.values.ecmin);
        w.mod = std::min(w.mod, l.values.mod);
        w.defects = std::max(w.defects, l.values.defects);
        w.decodability = std::min(w.decodability, l.values.decodability);
        w.decode = w.decode && l.values.decode;
    }
    return w;
}

ParameterGrades worstGradesOf(const std::vector<ScanLine>& lines)
{
    ParameterGrades w = lines.front().grades;
    for (const ScanLine& l : lines) {
        w.rmin = std::min(w.rmin, l.grades.rmin);
        w.sc = std::min(w.sc, l.grades.sc);
        w.ecmin = std::min(w.ecmin, l.grades.ecmin);
        w.mod = std::min(w.mod, l.grades.mod);
        w.defects = std::min(w.defects, l.grades.defects);
        w.decodability = std::min(w.decodability, l.grades.decodability);
        w.decode = std::min(w.decode, l.grades.decode);
    }
    return w;
}

// The gain lines whose elements are known in modules: each that decodes,
// and each whose elements' edge-to-similar-edge measurements name the
// symbol's own characters where a later check failed (bars spread past the
// bar-sum check): the symbol as another line decoded it, or as the pages
// carry it where its text is theirs or no line decoded.
std::vector<MeasuredElements> knownElements(const std::vector<LineMeasurement>& graded,
                                            const std::vector<LineMeasurement>& gainLines, const std::string& text)
{
    std::vector<int> known;
    for (const auto* lines : {&graded, &gainLines})
        for (const LineMeasurement& m : *lines)
            if (known.empty() && m.decode.decoded)
                known = m.decode.elementModules;
    if (known.empty() && (text.empty() || text == patternText()))
        known = patternElementModules();
    std::vector<MeasuredElements> result;
    for (const LineMeasurement& m : gainLines) {
        const std::vector<int>& modules = m.decode.elementModules;
        if (modules.size() == m.line.elementsMm.size() && (m.decode.decoded || modules == known))
            result.push_back({m.line.elementsMm, modules});
    }
    return result;
}

Profile profileOf(const LineMeasurement& m, double stepMm)
{
    Profile profile;
    profile.stepMm = stepMm;
    profile.reflectance = m.profile;
    profile.edgesMm = m.edgesMm;
    profile.rmin = m.line.values.rmin;
    profile.rmax = m.line.values.rmax;
    profile.gt = m.line.gt;
    // Bars from a falling edge to the next rising one; the line's ends close
    // a bar it starts or ends in.
    std::vector<double> edges = m.edgesMm;
    if (!m.profile.empty() && m.profile.front() < m.line.gt)
        edges.insert(edges.begin(), 0.0);
    if (edges.size() % 2 != 0)
        edges.push_back(double(m.profile.size() - 1) * stepMm);
    for (size_t k = 0; k + 1 < edges.size(); k += 2)
        profile.barsMm.emplace_back(edges[k], edges[k + 1]);
    return profile;
}

// The lowest scan resolution at which a module is at least four pixels.
int resolutionForModule(double moduleMm)
{
    const double needed = 4.0 * kMmPerInch / moduleMm;
    for (int dpi : {300, 600, 1200, 2400, 4800})
        if (dpi >= needed)
            return dpi;
    return int(std::ceil(needed / 100.0)) * 100;
}

} // namespace

int ParameterGrades::lowest() const { return std::min({rmin, sc, ecmin, mod, defects, decodability, decode}); }

const std::string& patternText()
{
    static const std::string text = [] {
        std::vector<int> values;
        for (size_t at = 0; at < kBarPattern.size();) {
            // Read the modules back into element widths, then characters.
            std::vector<int> widths;
            const size_t characterModules = at + 13 == kBarPattern.size() ? 13 : 11;
            size_t i = at;
            while (i < at + characterModules) {
                size_t j = i;
                while (j < at + characterModules && kBarPattern[j] == kBarPattern[i])
                    ++j;
                widths.push_back(int(j - i));
                i = j;
            }
            for (int value = 0; value <= kCode128Stop; ++value)
                if (code128Pattern(value) == widths)
                    values.push_back(value);
            at += characterModules;
        }
        return code128Text(values);
    }();
    return text;
}

int gradeSc(double sc) { return sc >= 70.0 ? 4 : sc >= 55.0 ? 3 : sc >= 40.0 ? 2 : sc >= 20.0 ? 1 : 0; }
int gradeMod(double mod) { return mod >= 0.70 ? 4 : mod >= 0.60 ? 3 : mod >= 0.50 ? 2 : mod >= 0.40 ? 1 : 0; }
int gradeDefects(double d) { return d <= 0.15 ? 4 : d <= 0.20 ? 3 : d <= 0.25 ? 2 : d <= 0.30 ? 1 : 0; }
int gradeDecodability(double v) { return v >= 0.62 ? 4 : v >= 0.50 ? 3 : v >= 0.37 ? 2 : v >= 0.25 ? 1 : 0; }

char gradeLetter(double grade)
{
    return grade >= 3.5 ? 'A' : grade >= 2.5 ? 'B' : grade >= 1.5 ? 'C' : grade >= 0.5 ? 'D' : 'F';
}

double referenceAperture(double moduleMm)
{
    const double wanted = 0.8 * moduleMm;
    double best = 0.075;
    for (double a : {0.075, 0.125, 0.150, 0.250, 0.500})
        if (std::fabs(a - wanted) < std::fabs(best - wanted))
            best = a;
    return best;
}

double srgbToReflectance(int value)
{
    const double c = value / 255.0;
    return 100.0 * (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

QString untrustedReflectanceWarning(const QString& signs)
{
    return QStringLiteral("Heijastavuuksiin ei voi luottaa: skannauksen tasot näyttävät venytetyiltä (%1). SC, Rmin, "
                          "Rmax ja niihin perustuvat arvosanat kertovat silloin skannerin asetuksista eivätkä "
                          "tulosteesta. Kalibroi skanneri harmaalla askelkiilalla (raitakone --calibrate) tai skannaa "
                          "ilman automaattista tasojen säätöä. Palkkien levenemä, dekoodaus ja dekoodattavuus on "
                          "mitattu silti.")
        .arg(signs);
}

GradeResult gradeScan(const Scan& scan, const GradeOptions& options)
{
    GradeResult result;
    result.dpiX = scan.dpiX;
    result.dpiY = scan.dpiY;
    const auto stopped = [&result, &options] {
        if (!options.stopRequested || !options.stopRequested())
            return false;
        result.status = GradeStatus::Stopped;
        result.message = QStringLiteral("Arviointi keskeytettiin.");
        result.symbols.clear();
        return true;
    };
    // One stage turns values into reflectance: a calibration of the scanner,
    // else linear when told, else what the file says of itself.
    ReflectanceTable table = scan.encoding.table;
    result.reflectance.source = scan.encoding.source;
    result.reflectance.description = scan.encoding.description;
    result.reflectance.scannerSettings = scan.encoding.scannerSettings;
    if (options.calibration) {
        table = options.calibration->table;
        result.reflectance.source = ReflectanceSource::Calibration;
        result.reflectance.description = options.calibration->name;
        result.reflectance.calibrationCreated = options.calibration->created;
    } else {
        if (options.linear) {
            table = ScanEncoding::linearTable();
            result.reflectance.source = ReflectanceSource::Linear;
            result.reflectance.description.clear();
        }
        const QString stretched = stretchedLevels(scan.plane, table);
        if (!stretched.isEmpty()) {
            result.reflectance.trusted = false;
            result.reflectance.warning = untrustedReflectanceWarning(stretched);
        }
    }
    const ReflectanceField field(scan, table);
    const double pixelMm = field.pixelMm();
    if (stopped())
        return result;
    const std::vector<FoundSymbol> found = findSymbols(scan.plane, 1.0 / pixelMm, scan.dpiY / scan.dpiX,
                                                       [&options] { return options.stopRequested && options.stopRequested(); });
    if (stopped())
        return result;

    const QString quietZoneOutside =
        QStringLiteral("Viivakoodi ulottuu skannauksen reunaan asti, joten sen hiljaiset alueet (10 moduulia "
                       "kummallakin puolella) puuttuvat kuvasta. Skannaa arkki niin, että viivakoodin ympärille "
                       "jää paperia.");
    for (const FoundSymbol& symbol : found) {
        const std::optional<Placement> placed = symbol.atImageEdge ? std::nullopt : place(field, scan.plane, symbol);
        if (!placed) {
            // A symbol the finder saw this near the scan's edge cannot be
            // measured: the scan lines would leave the image.
            const QPolygonF corners{symbol.topLeft, symbol.topRight, symbol.bottomRight, symbol.bottomLeft};
            const QRectF inner = QRectF(scan.plane.rect()).adjusted(kEdgeMarginMm * field.pxPerMmX(),
                                                                    kEdgeMarginMm * field.pxPerMmY(),
                                                                    -kEdgeMarginMm * field.pxPerMmX(),
                                                                    -kEdgeMarginMm * field.pxPerMmY());
            if (symbol.atImageEdge || !inner.contains(corners.boundingRect()))
                result.message = quietZoneOutside;
            continue;
        }
        const Placement& p = *placed;
        if (p.moduleMm / pixelMm < 4.0) {
            result.status = GradeStatus::BadInput;
            result.message = QStringLiteral("Moduuli on skannauksessa vain %1 pikseliä; mittaus tarvitsee vähintään 4. "
                                            "Skannaa sivu uudelleen tarkkuudella %2 dpi tai suuremmalla.")
                                 .arg(reportNumber(p.moduleMm / pixelMm, 1))
                                 .arg(resolutionForModule(p.moduleMm));
            result.symbols.clear();
            return result;
        }

        SymbolGrade grade;
        grade.text = symbol.text;
        grade.read = symbol.read;
        grade.moduleMm = p.moduleMm;
        grade.modulePixels = p.moduleMm / pixelMm;
        grade.angleDegrees = std::atan2(p.axis.y, p.axis.x) * 180.0 / kPi;
        grade.barHeightMm = p.barHeightMm;
        grade.centreXMm = p.centre.x;
        grade.centreYMm = p.centre.y;
        grade.apertureMm = options.apertureMm.value_or(referenceAperture(p.moduleMm));
        grade.apertureReference = apertureReference(grade.apertureMm);

        // Ten scan lines over the middle 80 % of the bar height, each through
        // both quiet zones, sampled at least ten times a module.
        const double step = p.moduleMm / kSamplesPerModule;
        const double overrun = (kQuietZoneModules + kLineOverrunModules) * p.moduleMm;
        const double lineStart = p.startMm - overrun;
        const int count = int(std::ceil((p.endMm + overrun - lineStart) / step)) + 1;
        const Vec lineEnds[] = {p.centre + p.axis * lineStart + p.across * (p.barHeightMm * 0.4),
                                p.centre + p.axis * lineStart - p.across * (p.barHeightMm * 0.4),
                                p.centre + p.axis * (lineStart + count * step) + p.across * (p.barHeightMm * 0.4),
                                p.centre + p.axis * (lineStart + count * step) - p.across * (p.barHeightMm * 0.4)};
        if (!std::all_of(std::begin(lineEnds), std::end(lineEnds), [&](Vec v) { return field.contains(v); })) {
            result.message = quietZoneOutside;
            continue;
        }
        auto measureLines = [&](double apertureMm) {
            std::vector<LineMeasurement> measured;
            for (int i = 0; i < kScanLineCount && !stopped(); ++i) {
                const double offset = p.barHeightMm * (-0.4 + 0.8 * i / (kScanLineCount - 1));
                const Vec from = p.centre + p.axis * lineStart + p.across * offset;
                LineMeasurement m = measureLine(sampleLineThrough(field, from, p.axis, step, count, apertureMm), step);
                m.line.offsetMm = offset;
                measured.push_back(std::move(m));
            }
            return measured;
        };
        const std::vector<LineMeasurement> measured = measureLines(grade.apertureMm);
        if (stopped())
            return result;

        for (const LineMeasurement& m : measured)
            if (grade.text.empty() && m.decode.decoded)
                grade.text = m.decode.text;
        grade.textIsPattern = grade.text == patternText();

        double sum = 0.0;
        for (const LineMeasurement& m : measured) {
            grade.lines.push_back(m.line);
            grade.lines.back().profile = profileOf(m, step);
            sum += m.line.grade;
        }
        grade.grade = sum / kScanLineCount;
        grade.letter = gradeLetter(grade.grade);
        grade.gradeText = QStringLiteral("%1/%2/%3")
                              .arg(formatGrade(grade.grade))
                              .arg(grade.apertureReference, 2, 10, QLatin1Char('0'))
                              .arg(kWavelengthNm);
        grade.worst = worstOf(grade.lines);
        grade.worstGrades = worstGradesOf(grade.lines);

        // Bar gain through the finest aperture the scan resolves, whatever
        // aperture grades the symbol: the spaces that heavy spread leaves
        // narrower than the grading aperture are still measured.
        const double gainAperture = finestResolvedAperture(pixelMm);
        const std::vector<LineMeasurement> gainMeasured =
            gainAperture == grade.apertureMm ? measured : measureLines(gainAperture);
        if (stopped())
            return result;
        const std::vector<MeasuredElements> gainLines = knownElements(measured, gainMeasured, grade.text);
        grade.moduleMm = symbolModule(gainLines).value_or(p.moduleMm);
        grade.modulePixels = grade.moduleMm / pixelMm;
        grade.barGain = barGainOf(gainLines, grade.moduleMm, options.printerDpi);
        grade.barGain.apertureMm = gainAperture;

        result.symbols.push_back(std::move(grade));
    }

    if (result.symbols.empty() && !result.message.isEmpty()) {
        result.status = GradeStatus::BadInput;
    } else if (result.symbols.empty()) {
        result.status = GradeStatus::NoSymbol;
        result.message = QStringLiteral("Skannauksesta ei löytynyt Code 128 -viivakoodia. Aseta tulostettu sivu "
                                        "skannerin lasille koko viivakoodi näkyvissä, paperia sen ympärillä ja "
                                        "skannaa uudelleen.");
    } else {
        result.status = GradeStatus::Graded;
    }
    return result;
}

} // namespace raitakone::grading
