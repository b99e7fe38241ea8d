// The --grade entry: scan files (PNG, TIFF, PDF), resolution rules, exit statuses, JSON names, plots.

#include "cli/GradeCommand.h"
#include "grading/ProfilePlot.h"
#include "support/Decode.h"
#include "support/SyntheticScan.h"

#include <QFile>
#include <QRegularExpression>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace raitakone;
using namespace raitakone::testing;

namespace {

struct CommandRun {
    int status = -1;
    QString out, err;
};

CommandRun runGradeWith(const QStringList& arguments)
{
    QCommandLineParser parser;
    addGradeOptions(parser);
    EXPECT_TRUE(parser.parse(QStringList{"raitakone", "--grade"} + arguments)) << parser.errorText().toStdString();
    CommandRun run;
    QTextStream out(&run.out), err(&run.err);
    run.status = runGrade(parser, out, err);
    out.flush();
    err.flush();
    return run;
}

// A PDF as a scanner writes it: one page the size of the image, its grey pixels stored as they are.
bool writeScannerPdf(const QImage& grey, double dpi, const QString& path)
{
    const double width = grey.width() * 72.0 / dpi, height = grey.height() * 72.0 / dpi;
    QByteArray pixels;
    for (int y = 0; y < grey.height(); ++y)
        pixels.append(reinterpret_cast<const char*>(grey.constScanLine(y)), grey.width());
    const QByteArray content = QString("q %1 0 0 %2 0 0 cm /Scan Do Q").arg(width).arg(height).toLatin1();
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        QString("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %1 %2] /Contents 4 0 R "
                "/Resources << /XObject << /Scan 5 0 R >> >> >>").arg(width).arg(height).toLatin1(),
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
        QString("<< /Type /XObject /Subtype /Image /Width %1 /Height %2 /ColorSpace /DeviceGray "
                "/BitsPerComponent 8 /Length %3 >>\nstream\n").arg(grey.width()).arg(grey.height()).arg(pixels.size())
                .toLatin1() + pixels + "\nendstream"};
    const QByteArray count = QByteArray::number(objects.size() + 1);
    QByteArray file = "%PDF-1.4\n", xref = "xref\n0 " + count + "\n0000000000 65535 f \n";
    for (qsizetype i = 0; i < objects.size(); ++i) {
        xref += QByteArray::number(file.size()).rightJustified(10, '0') + " 00000 n \n";
        file += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const QByteArray start = QByteArray::number(file.size());
    file += xref + "trailer\n<< /Size " + count + " /Root 1 0 R >>\nstartxref\n" + start + "\n%%EOF\n";
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
}

const QImage& pageScan()
{
    static const QImage image = scan(printed(symbolPage(600), 600, symbolRegion(600)), ScanModel{});
    return image;
}

class GradeCommand : public ::testing::Test {
protected:
    QString saved(const QImage& image, const QString& name, const char* format = nullptr) const
    {
        EXPECT_TRUE(image.save(dir_.filePath(name), format));
        return dir_.filePath(name);
    }
    QTemporaryDir dir_;
};

} // namespace

TEST_F(GradeCommand, PngTiffAndPdfGiveTheJsonNamesScriptsRead)
{
    const QString pdf = dir_.filePath("scan.pdf");
    ASSERT_TRUE(writeScannerPdf(pageScan(), 600, pdf));
    // Qt's default allocation limit refuses an A4 page at 600 dpi: scans are read whatever the limit.
    const struct Limit {
        int before = QImageReader::allocationLimit();
        ~Limit() { QImageReader::setAllocationLimit(before); }
    } limit;
    QImageReader::setAllocationLimit(1);
    QJsonObject png;
    // TIFFs as scanners write them: grey, 16-bit grey, a grey palette, and colour read through its red.
    const QImage colour = asColourScan(pageScan());
    QImage palette = pageScan().convertToFormat(QImage::Format_Indexed8);
    for (const QString& file : {saved(pageScan(), "scan.png"), saved(pageScan(), "scan.tif", "TIFF"),
                                saved(pageScan().convertToFormat(QImage::Format_Grayscale16), "scan16.tif", "TIFF"),
                                saved(palette, "palette.tif", "TIFF"), saved(colour, "colour.tif", "TIFF"), pdf}) {
        SCOPED_TRACE(file.toStdString());
        const CommandRun run = runGradeWith({file, "--json", "--printer-dpi", "600"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const QJsonObject top = QJsonDocument::fromJson(run.out.toUtf8()).object();
        EXPECT_NEAR(top["scan_dpi"].toDouble(), 600.0, 0.01);
        EXPECT_EQ(top["standard"].toString(), "ISO/IEC 15416:2000");
        ASSERT_EQ(top["symbols"].toArray().size(), 1);
        const QJsonObject s = top["symbols"][0].toObject();
        // None is resampled, so every value is the PNG's.
        EXPECT_EQ(s, png.isEmpty() ? (png = s) : png);
        EXPECT_EQ(s["text"].toString(), QString::fromLatin1(kPatternDigits));
        EXPECT_EQ(s["letter"].toString() + " " + s["grade_text"].toString(), "A 4.0/10/660");
        const QJsonValue gain = s["bar_gain"], worstBar = s["worst_bar"];
        for (const QJsonValue& number : {s["grade"], s["aperture_mm"], s["module_mm"], gain["um"], gain["percent_x"],
                                         gain["printer_pixels"], gain["aperture_mm"], worstBar["index"],
                                         worstBar["deviation_um"]})
            EXPECT_TRUE(number.isDouble()) << run.out.toStdString();
        EXPECT_EQ(gain["printer_dpi"].toDouble(), 600.0); // what the printer pixels assume
        for (const char* name : {"rmin", "rmax", "sc", "ecmin", "mod", "defects", "decodability"})
            EXPECT_TRUE(s["parameters"][name].isDouble()) << name;
        EXPECT_TRUE(s["parameters"]["decode"].toBool());
        const QJsonArray lines = s["scan_lines"].toArray();
        ASSERT_EQ(lines.size(), 10);
        for (const QJsonValue& line : lines) {
            EXPECT_EQ(line["grade"].toInt(), 4);
            EXPECT_EQ(line["elements"].toArray().size(), 181);
        }
    }
}

// A JPEG, grey or colour, is decoded as it is; its rounding leaves the grade.
TEST_F(GradeCommand, JpegScansGradeAsTheirPixels)
{
    for (const QImage& image : {pageScan(), asColourScan(pageScan())}) {
        const CommandRun run = runGradeWith({saved(image, "scan.jpg", "JPEG"), "--json"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const QJsonObject top = QJsonDocument::fromJson(run.out.toUtf8()).object();
        EXPECT_NEAR(top["scan_dpi"].toDouble(), 600.0, 0.01);
        EXPECT_EQ(top["symbols"][0]["letter"].toString(), "A");
    }
}

TEST_F(GradeCommand, ExitStatusSaysWhatWentWrong)
{
    // Qt always writes a pHYs chunk; take it out again.
    QFile png(saved(pageScan(), "bare.png"));
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    QByteArray bytes = png.readAll();
    png.close();
    const qsizetype at = bytes.indexOf("pHYs");
    ASSERT_GT(at, 4);
    bytes.remove(at - 4, 4 + 4 + 9 + 4); // length, type, data, CRC
    ASSERT_TRUE(png.open(QIODevice::WriteOnly | QIODevice::Truncate) && png.write(bytes) == bytes.size());
    png.close();

    // The scan cut through the left quiet zone, as at the very edge of the sheet.
    const int cut = int(std::lround(6.0 / 25.4 * 600)) + 2 * modulePixels(600) - 10;
    const QString file = saved(pageScan(), "scan.png");
    // Unreadable files are named with their cause in Finnish, not Qt's English.
    QFile whole(file), cutShort(dir_.filePath("katkennut.png")), notImage(dir_.filePath("teksti.png"));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly) && cutShort.open(QIODevice::WriteOnly) &&
                notImage.open(QIODevice::WriteOnly));
    cutShort.write(whole.read(100)); // ends before the pixels begin
    notImage.write("ei kuva\n");
    cutShort.close();
    notImage.close();
    const struct {
        QStringList arguments;
        int status;
        const char* said;
    } cases[] = {
        {{png.fileName()}, 2, "--scan-dpi"},
        {{png.fileName(), "--scan-dpi", "600"}, 0, "4.0/10/660 (A)"},
        {{saved(pageScan().copy(0, 0, 140, 200), "paper.png")}, 1, "viivakoodia"}, // the margin, no bars
        // A 300-dpi module of 3 printer pixels is 2 scan pixels at 200 dpi.
        {{saved(scan(printed(symbolPage(300), 300, symbolRegion(300)), {.dpi = 200}), "coarse.png")}, 2, "600 dpi"},
        {{saved(pageScan().copy(cut, 0, pageScan().width() - cut, pageScan().height()), "cut.png")}, 2,
         "hiljaiset alueet"},
        {{cutShort.fileName()}, 2, "katkennut kesken (tiedoston loppu puuttuu)"},
        {{notImage.fileName()}, 2, "ei ole PNG-, TIFF- eikä JPEG-kuva"},
        {{file, "--aperture", "leveä"}, 2, "--aperture"},
        {{file, "--scan-dpi", "0"}, 2, "--scan-dpi"},
        {{file, "--plot", dir_.filePath("profile.gif")}, 2, "--plot"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const CommandRun run = runGradeWith(c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE((c.status ? run.err : run.out).contains(QString::fromUtf8(c.said))) << run.err.toStdString();
    }
}

TEST_F(GradeCommand, PlotsTheMiddleScanLinesProfile)
{
    const QString png = dir_.filePath("profile.png"), svg = dir_.filePath("profile.svg");
    for (const QString& plot : {png, svg})
        ASSERT_EQ(runGradeWith({saved(pageScan(), "scan.png"), "--plot", plot}).status, 0);
    // The bars' shade crosses the plot's middle row: under the profile's bottom near Rmin.
    const QImage image(png);
    int shaded = 0;
    for (int x = 0; x < image.width(); ++x)
        shaded += image.pixelColor(x, image.height() / 2) == QColor(215, 215, 215);
    EXPECT_GT(shaded, grading::kPlotWidth / 5);
    // The SVG opens at its size on screen, its levels written with a decimal comma.
    QFile text(svg);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QString drawing = QString::fromUtf8(text.readAll());
    EXPECT_TRUE(drawing.contains("width=\"317.5mm\"")) << drawing.left(400).toStdString();
    EXPECT_TRUE(QRegularExpression("GT \\d+,\\d %").match(drawing).hasMatch());
}
