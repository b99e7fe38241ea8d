// Reflectance from scanners that are not sRGB: the file's own gAMA or ICC profile, a calibration made from a
// synthetic step wedge scanned through the same tone curve as the page, and the flag on stretched levels.

#include "grading/Calibration.h"
#include "grading/GradeReport.h"
#include "grading/Grading.h"
#include "scanning/GradeSource.h"
#include "scanning/ScannerCalibrations.h"
#include "support/SyntheticScan.h"
#include "surface/NumberText.h"

#include <QBuffer>
#include <QColorSpace>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <lcms2.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <functional>

#include <jpeglib.h>

using namespace raitakone;
using namespace raitakone::grading;
using namespace raitakone::testing;

namespace {

constexpr double kPrinterDpi = 600;
constexpr int kGain = 2;

double srgbEncoded(double r) { return r <= 0.0031308 ? 12.92 * r : 1.055 * std::pow(r, 1.0 / 2.4) - 0.055; }

// Paper 85 %, ink 4 %, every bar 2 printer pixels wider at 600 dpi, scanned at 1200 dpi with a flatbed's blur.
ScanModel flatbed(std::function<double(double)> tone = {})
{
    return {.dpi = 1200, .blurSigmaMm = 0.07, .paper = 85, .ink = 4, .tone = std::move(tone)};
}

struct Curve {
    const char* name;
    std::function<double(double)> tone;
};
const Curve kCurves[] = {
    {"linear", [](double r) { return r; }},
    {"gamma 1.8", [](double r) { return std::pow(r, 1.0 / 1.8); }},
    // Levels stretched on the sRGB values: the ink to 0, the paper to 255.
    {"levels stretched",
     [](double r) { return (srgbEncoded(r) - srgbEncoded(0.04)) / (srgbEncoded(0.85) - srgbEncoded(0.04)); }},
};

// A 20-step grey scale: densities 0.05 to 1.95 in steps of 0.10.
std::vector<double> wedgeDensities()
{
    std::vector<double> d;
    for (int i = 0; i < 20; ++i)
        d.push_back(0.05 + 0.1 * i);
    return d;
}
std::vector<double> reflectancesOf(const std::vector<double>& densities)
{
    std::vector<double> r;
    for (double d : densities)
        r.push_back(100.0 * std::pow(10.0, -d));
    return r;
}

QByteArray cgats(const std::vector<double>& densities)
{
    QByteArray text = "CGATS.17\nORIGINATOR \"test\"\nDESCRIPTOR \"synthetic 20-step wedge\"\nNUMBER_OF_FIELDS 2\n"
                      "BEGIN_DATA_FORMAT\nSAMPLE_ID D_VIS\nEND_DATA_FORMAT\nNUMBER_OF_SETS " +
                      QByteArray::number(qsizetype(densities.size())) + "\nBEGIN_DATA\n";
    for (size_t i = 0; i < densities.size(); ++i)
        text += QByteArray::number(qsizetype(i + 1)) + " " + QByteArray::fromStdString(fixedDecimal(densities[i], 2)) +
                "\n";
    return text + "END_DATA\n";
}

// The wedge (in the order given) scanned through the model and calibrated against the reference.
CalibrationMade calibrateFrom(const std::vector<double>& scanned, ScanModel model, bool apart,
                              const QByteArray& reference, double rotationDegrees = 0.0)
{
    model.rotationDegrees = rotationDegrees;
    model.dpi = 300; // the steps' values need no finer scan, and the test keeps its time
    const ReferenceRead read = readStepReference(reference);
    if (!read.reference)
        return {std::nullopt, read.error};
    const WedgeSteps steps = findWedgeSteps(measuredPlane(stepWedgeScan(scanned, model, apart)),
                                            int(read.reference->steps.size()));
    if (!steps.error.isEmpty())
        return {std::nullopt, steps.error};
    return makeCalibration(steps.values, *read.reference);
}

SymbolGrade gradeImage(const QImage& image, const GradeOptions& options, GradeResult* whole = nullptr)
{
    const GradeResult result = gradeScan({measuredPlane(image), 1200, 1200, {}}, options);
    if (whole)
        *whole = result;
    EXPECT_EQ(result.status, GradeStatus::Graded) << result.message.toStdString();
    return result.symbols.empty() ? SymbolGrade{} : result.symbols.front();
}

const Coverage& printedPage()
{
    static const Coverage page = printed(symbolPage(kPrinterDpi), kPrinterDpi, symbolRegion(kPrinterDpi), kGain);
    return page;
}

const SymbolGrade& truth()
{
    static const SymbolGrade s = gradeImage(scan(printedPage(), flatbed()), {.apertureMm = {}, .printerDpi = kPrinterDpi});
    return s;
}

void expectAsTruth(const SymbolGrade& s)
{
    const SymbolGrade& t = truth();
    EXPECT_NEAR(s.worst.sc, t.worst.sc, 2.0);
    EXPECT_NEAR(s.worst.rmin, t.worst.rmin, 1.0);
    ASSERT_TRUE(s.barGain.printerPixels && t.barGain.printerPixels);
    EXPECT_NEAR(*s.barGain.printerPixels, *t.barGain.printerPixels, 0.1);
    EXPECT_NEAR(*t.barGain.printerPixels, kGain, 0.3); // through this blur and aperture
    EXPECT_DOUBLE_EQ(s.grade, t.grade);
}

// A PNG with a chunk put in after IHDR.
QByteArray withChunk(const QImage& image, const QByteArray& type, const QByteArray& data)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    QByteArray chunk;
    const quint32 length = quint32(data.size());
    for (int shift : {24, 16, 8, 0})
        chunk += char((length >> shift) & 0xff);
    const QByteArray body = type + data;
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size())));
    chunk += body;
    for (int shift : {24, 16, 8, 0})
        chunk += char((crc >> shift) & 0xff);
    return png.insert(33, chunk); // signature 8, IHDR 25
}

// The profile as an ICC file's bytes; the profile is closed.
QByteArray profileBytes(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// An RGB profile with sRGB's primaries and every channel's curve a gamma.
QByteArray rgbProfile(double gamma)
{
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    const QByteArray bytes = profileBytes(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

QByteArray asTiff(QImage image, const QByteArray& profile)
{
    image.setColorSpace(QColorSpace::fromIccProfile(profile));
    QByteArray tiff;
    QBuffer buffer(&tiff);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "TIFF");
    return tiff;
}

// A one-page PDF holding the grey image at its resolution, its colour space ICCBased on the profile.
QByteArray pdfWithProfile(const QImage& grey, const QByteArray& profile)
{
    QByteArray pixels;
    for (int y = 0; y < grey.height(); ++y)
        pixels.append(reinterpret_cast<const char*>(grey.constScanLine(y)), grey.width());
    const QByteArray data = qCompress(pixels).mid(4); // a zlib stream, as FlateDecode reads
    const QByteArray w = QByteArray::fromStdString(plainDecimal(grey.width() * 72.0 / 1200, 4)),
                     h = QByteArray::fromStdString(plainDecimal(grey.height() * 72.0 / 1200, 4));
    const QByteArray content = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q";
    const QByteArray objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h +
            "] /Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(grey.width()) + " /Height " +
            QByteArray::number(grey.height()) + " /BitsPerComponent 8 /ColorSpace [/ICCBased 6 0 R] /Filter "
            "/FlateDecode /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream",
        "<< /N 1 /Length " + QByteArray::number(profile.size()) + " >>\nstream\n" + profile + "\nendstream",
    };
    QByteArray pdf = "%PDF-1.4\n", xref = "xref\n0 7\n0000000000 65535 f \n";
    for (int i = 0; i < 6; ++i) {
        xref += QByteArray::number(pdf.size()).rightJustified(10, '0') + " 00000 n \n";
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    return pdf + xref + "trailer\n<< /Size 7 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(pdf.size()) +
           "\n%%EOF\n";
}

// A grey JPEG at quality 100 carrying the ICC profile in its APP2 segments.
QByteArray jpegWithProfile(const QImage& grey, const QByteArray& profile)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(grey.width());
    cinfo.image_height = JDIMENSION(grey.height());
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.density_unit = 1; // dots per inch
    cinfo.X_density = cinfo.Y_density = 1200;
    jpeg_start_compress(&cinfo, TRUE);
    jpeg_write_icc_profile(&cinfo, reinterpret_cast<const JOCTET*>(profile.constData()), unsigned(profile.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(grey.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const QByteArray jpeg(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return jpeg;
}

QByteArray greyProfile(double gamma)
{
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    const QByteArray bytes = profileBytes(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

} // namespace

TEST(ScannerCalibration, ACalibrationFromAWedgeThroughTheSameCurveGradesAsTheSrgbTruth)
{
    for (const Curve& curve : kCurves) {
        SCOPED_TRACE(curve.name);
        const ScanModel model = flatbed(curve.tone);
        const CalibrationMade made =
            calibrateFrom(reflectancesOf(wedgeDensities()), model, false, cgats(wedgeDensities()));
        ASSERT_TRUE(made.calibration) << made.error.toStdString();
        const auto calibration = std::make_shared<const Calibration>(*made.calibration);
        const QImage page = scan(printedPage(), model);
        GradeResult result;
        const SymbolGrade s = gradeImage(page, {.apertureMm = {}, .printerDpi = kPrinterDpi, .calibration = calibration}, &result);
        expectAsTruth(s);
        EXPECT_EQ(result.reflectance.source, ReflectanceSource::Calibration);
        EXPECT_EQ(result.reflectance.description, made.calibration->name);
        EXPECT_TRUE(result.reflectance.trusted);
        // Read as sRGB, the same scan is off: the calibration is what brings it back.
        const SymbolGrade raw = gradeImage(page, {.apertureMm = {}, .printerDpi = kPrinterDpi});
        EXPECT_GT(std::fabs(raw.worst.sc - truth().worst.sc) + std::fabs(raw.worst.rmin - truth().worst.rmin), 1.5);
    }
}

TEST(ScannerCalibration, StepsAreFoundTouchingOrApartFromEitherEndAndWhatDoesNotMatchIsRefused)
{
    const std::vector<double> d = wedgeDensities();
    std::vector<double> reversed = reflectancesOf(d);
    std::reverse(reversed.begin(), reversed.end());
    std::vector<double> swapped = reflectancesOf(d);
    std::swap(swapped[4], swapped[12]);
    const std::vector<double> blank(20, 85.0);
    const std::vector<double> fewer(d.begin(), d.end() - 1);
    const struct {
        const char* what;
        std::vector<double> scanned;
        bool apart;
        QByteArray reference;
        const char* refusal; // a word the reason holds; nullptr when calibrated
        double rotationDegrees = 0.0;
        bool noisyLinear = false; // values stored linearly with two levels of noise
    } cases[] = {
        {"touching", reflectancesOf(d), false, cgats(d), nullptr},
        {"apart", reflectancesOf(d), true, cgats(d), nullptr},
        {"light end first", reversed, true, cgats(d), nullptr},
        {"tilted half a degree", reflectancesOf(d), false, cgats(d), nullptr, 0.5},
        {"apart, tilted the other way", reflectancesOf(d), true, cgats(d), nullptr, -0.7},
        {"noisy linear scanner, dark steps alike", reflectancesOf(d), false, cgats(d), nullptr, 0.0, true},
        {"a step short in the reference", reflectancesOf(d), false, cgats(fewer), "löytyi 20 askelta"},
        {"two steps swapped", swapped, false, cgats(d), "monotoninen"},
        {"no steps", blank, false, cgats(d), "ei löytynyt"},
        {"not CGATS", reflectancesOf(d), false, "SAMPLE_ID D_VIS\n1 0.05\n", "CGATS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScanModel model = flatbed(c.noisyLinear ? kCurves[0].tone : nullptr);
        model.noise = c.noisyLinear ? 2.0 : 0.0;
        const CalibrationMade made = calibrateFrom(c.scanned, model, c.apart, c.reference, c.rotationDegrees);
        if (c.refusal) {
            EXPECT_FALSE(made.calibration);
            EXPECT_TRUE(made.error.contains(QString::fromUtf8(c.refusal))) << made.error.toStdString();
            continue;
        }
        ASSERT_TRUE(made.calibration) << made.error.toStdString();
        // The curve is the scanner's over the wedge's range.
        for (int v = 30; v <= 240; v += 10)
            EXPECT_NEAR(made.calibration->table[size_t(v)], c.noisyLinear ? v * 100.0 / 255 : srgbToReflectance(v), 1.0)
                << v;
        for (const CalibrationStep& step : made.calibration->steps)
            EXPECT_LT(std::fabs(step.residual), c.noisyLinear ? 2.5 : 1.5) << step.id.toStdString();
    }
}

TEST(ScannerCalibration, ACalibrationFileReadsBackToTheSameCurve)
{
    // A noisy linear scanner: its darkest steps read alike, a little out of order.
    ScanModel model = flatbed(kCurves[0].tone);
    model.noise = 2.0;
    const CalibrationMade made = calibrateFrom(reflectancesOf(wedgeDensities()), model, false, cgats(wedgeDensities()));
    ASSERT_TRUE(made.calibration) << made.error.toStdString();
    QTemporaryDir dir;
    QFile file(dir.filePath("kalibrointi.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(calibrationJson(*made.calibration));
    file.close();
    const CalibrationRead read = readCalibration(file.fileName());
    ASSERT_TRUE(read.calibration) << read.error.toStdString();
    EXPECT_EQ(read.calibration->name, made.calibration->name);
    EXPECT_EQ(read.calibration->created, made.calibration->created);
    for (size_t v = 0; v < 256; ++v)
        EXPECT_NEAR(read.calibration->table[v], made.calibration->table[v], 0.01) << v;
    // Read by the rule that made it: a lighter step half a level darker passes, five levels darker does not.
    for (const auto& [inverted, reads] : {std::pair{0.5, true}, std::pair{5.0, false}}) {
        Calibration made2 = *made.calibration;
        made2.steps = {{"1", 1.1, 10.0, 0.0, false}, {"2", 1.4, 10.0 - inverted, 0.0, false},
                       {"3", 10.0, 40.0, 0.0, false}, {"4", 50.0, 150.0, 0.0, false}};
        EXPECT_EQ(parseCalibration(calibrationJson(made2), "k.json").calibration.has_value(), reads) << inverted;
    }
    QFile other(dir.filePath("muu.json"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("{\"format\": \"jotain\"}");
    other.close();
    EXPECT_FALSE(readCalibration(other.fileName()).calibration);
}

TEST(ScannerCalibration, OneMadeForADeviceAtAResolutionIsUsedForItsScansThereUntilCleared)
{
    const CalibrationMade made = calibrateFrom(reflectancesOf(wedgeDensities()), flatbed(kCurves[0].tone), false,
                                               cgats(wedgeDensities()));
    ASSERT_TRUE(made.calibration) << made.error.toStdString();
    QTemporaryDir dir;
    QSettings settings(dir.filePath("raitakone.conf"), QSettings::IniFormat);
    const QString device = "genesys:libusb:001/004";
    scanning::rememberCalibration(settings, device, 1200, *made.calibration);
    const std::optional<Calibration> remembered = scanning::rememberedCalibration(settings, device, 1200);
    ASSERT_TRUE(remembered);
    EXPECT_EQ(remembered->name, made.calibration->name);
    EXPECT_FALSE(scanning::rememberedCalibration(settings, device, 600));
    EXPECT_FALSE(scanning::rememberedCalibration(settings, "genesys:libusb:001/005", 1200));

    // The window's grading reads the page through the calibration its source carries.
    const QString page = dir.filePath("sivu.png");
    ASSERT_TRUE(scan(printedPage(), flatbed(kCurves[0].tone)).save(page));
    scanning::GradeSource source;
    source.file = page;
    source.printerDpi = kPrinterDpi;
    source.calibration = std::make_shared<const Calibration>(*remembered);
    const std::atomic<bool> cancel{false};
    const scanning::GradeOutcome outcome = scanning::gradeFromSource(source, cancel);
    ASSERT_TRUE(outcome.result) << outcome.error.toStdString();
    EXPECT_EQ(outcome.result->reflectance.source, ReflectanceSource::Calibration);
    expectAsTruth(outcome.result->symbols.front());

    scanning::forgetCalibration(settings, device, 1200);
    EXPECT_FALSE(scanning::rememberedCalibration(settings, device, 1200));
}

TEST(ScanEncoding, AScanThatStatesItsGammaOrProfileGradesAsTheTruthWithoutCalibration)
{
    // The scan stored with gamma 1.8 and saying so: gAMA 1/1.8, an iCCP grey profile of gamma 1.8, a colour
    // TIFF whose embedded RGB profile has gamma 1.8 (read through its red channel), a grey JPEG with the grey
    // profile, or a PDF whose image is ICCBased on it (which poppler's colour management turns into sRGB).
    const QImage stored = scan(printedPage(), flatbed(kCurves[1].tone));
    const QByteArray profile = greyProfile(1.8);
    const struct {
        const char* what;
        QByteArray file;
    } cases[] = {
        {"gAMA", withChunk(stored, "gAMA", QByteArray("\x00\x00\xd9\x04", 4))}, // 55556 = 100000 / 1.8
        {"iCCP", withChunk(stored, "iCCP", QByteArray("grey 1.8\0\0", 10) + qCompress(profile).mid(4))},
        {"TIFF", asTiff(asColourScan(stored), rgbProfile(1.8))},
        {"JPEG", jpegWithProfile(stored, profile)},
        {"PDF", pdfWithProfile(stored, profile)},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(QString::fromLatin1(c.what));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.file);
        file.close();
        const ScanLoad load = loadScan(path, std::nullopt);
        ASSERT_TRUE(load.scan) << load.error.toStdString();
        EXPECT_EQ(load.scan->encoding.source, ReflectanceSource::Icc);
        const GradeResult result = gradeScan(*load.scan, {.apertureMm = {}, .printerDpi = kPrinterDpi});
        ASSERT_EQ(result.symbols.size(), 1u) << result.message.toStdString();
        expectAsTruth(result.symbols.front());
        EXPECT_TRUE(result.reflectance.trusted) << result.reflectance.warning.toStdString();
        EXPECT_EQ(reflectanceJson(result.reflectance).value("source").toString(), u"icc");
    }
}

TEST(ScanEncoding, StretchedLevelsWithoutCalibrationAreFlaggedAndTheTruthIsNot)
{
    GradeResult stretched, plain;
    gradeImage(scan(printedPage(), flatbed(kCurves[2].tone)), {.apertureMm = {}, .printerDpi = kPrinterDpi}, &stretched);
    gradeImage(scan(printedPage(), flatbed()), {.apertureMm = {}, .printerDpi = kPrinterDpi}, &plain);
    EXPECT_FALSE(stretched.reflectance.trusted);
    EXPECT_TRUE(stretched.reflectance.warning.contains(u"Kalibroi skanneri")) << stretched.reflectance.warning.toStdString();
    EXPECT_FALSE(reflectanceJson(stretched.reflectance).value("trusted").toBool(true));
    EXPECT_TRUE(gradeReport(stretched).contains(u"VAROITUS"));
    // The bar gain is still reported.
    ASSERT_EQ(stretched.symbols.size(), 1u);
    EXPECT_TRUE(stretched.symbols.front().barGain.measured);
    EXPECT_TRUE(plain.reflectance.trusted) << plain.reflectance.warning.toStdString();
    EXPECT_EQ(reflectanceJson(plain.reflectance).value("source").toString(), u"srgb");
}
