// The --grade entry: reading scan files (PNG, TIFF, PDF), the resolution
// rules, exit statuses, the report, the JSON names and the plot files.

#include "cli/GradeCommand.h"
#include "grading/ProfilePlot.h"
#include "support/Decode.h"
#include "support/SyntheticScan.h"

#include <QFile>
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
    QString out;
    QString err;
};

// Runs --grade FILE with the other arguments given.
CommandRun runGradeWith(const QStringList& arguments)
{
    QCommandLineParser parser;
    addGradeOptions(parser);
    EXPECT_TRUE(parser.parse(QStringList{"raitakone", "--grade"} + arguments)) << parser.errorText().toStdString();
    EXPECT_TRUE(gradeRequested(parser));
    CommandRun run;
    QTextStream out(&run.out), err(&run.err);
    run.status = runGrade(parser, out, err);
    out.flush();
    err.flush();
    return run;
}

// The first symbol of a --json report.
QJsonObject firstSymbol(const CommandRun& run)
{
    return QJsonDocument::fromJson(run.out.toUtf8()).object()["symbols"][0].toObject();
}

// A PDF as a scanner writes it: one page the size of the image, the image
// drawn over all of it, its grey pixels stored as they are.
bool writeScannerPdf(const QImage& grey, double dpi, const QString& path)
{
    const double width = grey.width() * 72.0 / dpi, height = grey.height() * 72.0 / dpi;
    QByteArray pixels;
    for (int y = 0; y < grey.height(); ++y)
        pixels.append(reinterpret_cast<const char*>(grey.constScanLine(y)), grey.width());
    const QByteArray content = QString("q %1 0 0 %2 0 0 cm /Scan Do Q").arg(width).arg(height).toLatin1();
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        QString("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %1 %2] /Contents 4 0 R "
                "/Resources << /XObject << /Scan 5 0 R >> >> >>").arg(width).arg(height).toLatin1(),
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
        QString("<< /Type /XObject /Subtype /Image /Width %1 /Height %2 /ColorSpace /DeviceGray "
                "/BitsPerComponent 8 /Length %3 >>\nstream\n").arg(grey.width()).arg(grey.height()).arg(pixels.size())
                .toLatin1() + pixels + "\nendstream"};
    QByteArray file = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(file.size());
        file += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = file.size();
    file += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        file += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    file += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
            QByteArray::number(xref) + "\n%%EOF\n";
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
}

class GradeCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ScanModel model;
        model.dpi = 600;
        scan_ = new QImage(scan(printed(symbolPage(600), 600, symbolRegion(600)), model));
    }
    static void TearDownTestSuite() { delete scan_; }

    QString path(const QString& name) const { return dir_.filePath(name); }
    QString saved(const QString& name, const char* format = nullptr) const
    {
        EXPECT_TRUE(scan_->save(path(name), format));
        return path(name);
    }

    static QImage* scan_;
    QTemporaryDir dir_;
};

QImage* GradeCommand::scan_ = nullptr;

} // namespace

TEST_F(GradeCommand, ReportsTheGradeInFinnish)
{
    const CommandRun run = runGradeWith({saved("scan.png")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    for (const char* expected : {"laatu 4.0/10/660 (A)", "Symbolikontrasti SC", "Modulaatio MOD", "Dekoodattavuus",
                                 "Palkin levenemä", "Poikkeavin palkki", "Pyyhkäisyviivat", kPatternDigits})
        EXPECT_NE(run.out.indexOf(QString::fromUtf8(expected)), -1) << expected << "\n" << run.out.toStdString();
    // One table row for each of the ten scan lines, each graded A.
    EXPECT_EQ(run.out.count("4 (A)"), 10);
}

TEST_F(GradeCommand, JsonHasTheNamesScriptsRead)
{
    const CommandRun run = runGradeWith({saved("scan.png"), "--json", "--printer-dpi", "600"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    QJsonParseError error;
    const QJsonObject top = QJsonDocument::fromJson(run.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_DOUBLE_EQ(top["scan_dpi"].toDouble(), 600.0);
    const QJsonArray symbols = top["symbols"].toArray();
    ASSERT_EQ(symbols.size(), 1);
    const QJsonObject s = symbols[0].toObject();
    EXPECT_EQ(s["text"].toString(), QString::fromLatin1(kPatternDigits));
    EXPECT_DOUBLE_EQ(s["grade"].toDouble(), 4.0);
    EXPECT_EQ(s["letter"].toString(), "A");
    EXPECT_EQ(s["grade_text"].toString(), "4.0/10/660");
    EXPECT_DOUBLE_EQ(s["aperture_mm"].toDouble(), 0.25);
    EXPECT_NEAR(s["module_mm"].toDouble(), 7 * 25.4 / 600, 0.001);

    const QStringList parameters{"rmin", "rmax", "sc", "ecmin", "mod", "defects", "decodability"};
    const QJsonObject worst = s["parameters"].toObject();
    for (const QString& name : parameters)
        EXPECT_TRUE(worst[name].isDouble()) << name.toStdString();
    EXPECT_TRUE(worst["decode"].toBool());
    EXPECT_NEAR(worst["sc"].toDouble(), 80.0, 1.0);
    EXPECT_LE(worst["mod"].toDouble(), 1.0);

    const QJsonArray lines = s["scan_lines"].toArray();
    ASSERT_EQ(lines.size(), 10);
    for (const QJsonValue& value : lines) {
        const QJsonObject line = value.toObject();
        for (const QString& name : parameters)
            EXPECT_TRUE(line[name].isDouble()) << name.toStdString();
        EXPECT_EQ(line["grade"].toInt(), 4);
        const QJsonArray elements = line["elements"].toArray();
        ASSERT_EQ(elements.size(), 181);
        double width = 0.0;
        for (const QJsonValue& e : elements)
            width += e.toDouble();
        EXPECT_NEAR(width, 332 * 7 * 25.4 / 600, 0.1);
    }

    const QJsonObject gain = s["bar_gain"].toObject();
    EXPECT_NEAR(gain["um"].toDouble(), 0.0, 3.0);
    EXPECT_TRUE(gain["percent_x"].isDouble());
    EXPECT_NEAR(gain["printer_pixels"].toDouble(-99), 0.0, 0.1);
    const QJsonObject worstBar = s["worst_bar"].toObject();
    EXPECT_GE(worstBar["index"].toInt(), 1);
    EXPECT_LE(worstBar["index"].toInt(), 91);
    EXPECT_TRUE(worstBar["deviation_um"].isDouble());

    // Without the printer's resolution the gain in its pixels is null.
    const QJsonObject plain = firstSymbol(runGradeWith({path("scan.png"), "--json"}));
    EXPECT_TRUE(plain["bar_gain"]["printer_pixels"].isNull());
}

TEST_F(GradeCommand, APngWithoutResolutionNeedsScanDpi)
{
    // Qt always writes a pHYs chunk; take it out again.
    const QString file = saved("bare.png");
    QFile png(file);
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    QByteArray bytes = png.readAll();
    png.close();
    const qsizetype at = bytes.indexOf("pHYs");
    ASSERT_GT(at, 4);
    bytes.remove(at - 4, 4 + 4 + 9 + 4); // length, type, data, CRC
    ASSERT_TRUE(png.open(QIODevice::WriteOnly | QIODevice::Truncate));
    png.write(bytes);
    png.close();

    const CommandRun refused = runGradeWith({file});
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_NE(refused.err.indexOf("--scan-dpi"), -1) << refused.err.toStdString();
    EXPECT_NE(refused.err.indexOf("tarkkuutta"), -1) << refused.err.toStdString();

    const CommandRun graded = runGradeWith({file, "--scan-dpi", "600"});
    EXPECT_EQ(graded.status, 0) << graded.err.toStdString();
    EXPECT_NE(graded.out.indexOf("4.0/10/660"), -1);
}

TEST_F(GradeCommand, AScanIsReadWhateverQtsImageSizeLimit)
{
    // Qt refuses images over its allocation limit (128 MB by default, which
    // an A4 page at 600 dpi exceeds); here the limit is set below this scan.
    const QString file = saved("scan.png");
    const int limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);
    const CommandRun run = runGradeWith({file});
    EXPECT_EQ(QImageReader::allocationLimit(), 1);
    QImageReader::setAllocationLimit(limit);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
}

TEST_F(GradeCommand, TiffAndPdfScansGradeAsThePng)
{
    const QJsonObject expected = firstSymbol(runGradeWith({saved("scan.png"), "--json"}));

    // A scanner's PDF: the page is one grey image at the scan resolution.
    const QString pdf = path("scan.pdf");
    ASSERT_TRUE(writeScannerPdf(*scan_, 600, pdf));
    for (const QString& file : {saved("scan.tif", "TIFF"), pdf}) {
        SCOPED_TRACE(file.toStdString());
        const CommandRun run = runGradeWith({file, "--json"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const QJsonObject top = QJsonDocument::fromJson(run.out.toUtf8()).object();
        EXPECT_NEAR(top["scan_dpi"].toDouble(), 600.0, 0.01);
        const QJsonObject s = top["symbols"][0].toObject();
        EXPECT_EQ(s["grade_text"].toString(), expected["grade_text"].toString());
        // Both hold the scan's pixels as they are: nothing resampled, so
        // every value is the same.
        EXPECT_NEAR(s["module_mm"].toDouble(), expected["module_mm"].toDouble(), 1e-6);
        EXPECT_NEAR(s["parameters"]["sc"].toDouble(), expected["parameters"]["sc"].toDouble(), 1e-6);
        EXPECT_NEAR(s["parameters"]["mod"].toDouble(), expected["parameters"]["mod"].toDouble(), 1e-6);
        EXPECT_NEAR(s["bar_gain"]["um"].toDouble(), expected["bar_gain"]["um"].toDouble(), 0.01);
    }
}

TEST_F(GradeCommand, ExitStatusSaysWhatWentWrong)
{
    QImage blank(800, 600, QImage::Format_Grayscale8);
    blank.fill(230);
    blank.setDotsPerMeterX(23622);
    blank.setDotsPerMeterY(23622);
    ASSERT_TRUE(blank.save(path("blank.png")));
    const CommandRun none = runGradeWith({path("blank.png")});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.indexOf("viivakoodia"), -1) << none.err.toStdString();

    // The scan cut through the left quiet zone, as when the symbol is
    // printed at the very edge of the sheet.
    const int firstBar = int(std::lround(6.0 / 25.4 * 600)) + 2 * modulePixels(600);
    QImage cut = scan_->copy(firstBar - 10, 0, scan_->width() - firstBar + 10, scan_->height());
    ASSERT_TRUE(cut.save(path("cut.png")));
    const CommandRun edge = runGradeWith({path("cut.png")});
    EXPECT_EQ(edge.status, 2);
    EXPECT_NE(edge.err.indexOf("hiljaiset alueet"), -1) << edge.err.toStdString();

    const CommandRun missing = runGradeWith({path("missing.png")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.indexOf("missing.png"), -1);

    const QString scanFile = saved("scan.png");
    for (const QStringList& bad : {QStringList{"--aperture", "leveä"}, QStringList{"--scan-dpi", "0"},
                                   QStringList{"--plot", path("profile.gif")}}) {
        const CommandRun run = runGradeWith(QStringList{scanFile} + bad);
        EXPECT_EQ(run.status, 2) << bad.join(' ').toStdString();
        EXPECT_NE(run.err.indexOf(bad.front()), -1) << run.err.toStdString();
    }
}

TEST_F(GradeCommand, PlotsTheMiddleScanLinesProfile)
{
    const QString png = path("profile.png");
    const QString svg = path("profile.svg");
    const QString scanFile = saved("scan.png");
    for (const QString& plot : {png, svg}) {
        const CommandRun run = runGradeWith({scanFile, "--plot", plot});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
    }
    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(grading::kPlotWidth, grading::kPlotHeight));
    // The bars are shaded: the shade is in the plot, under the profile's
    // bottom near Rmin and away from its top near Rmax.
    const QColor shade(215, 215, 215);
    int shaded = 0;
    for (int x = 0; x < image.width(); ++x)
        shaded += image.pixelColor(x, image.height() / 2) == shade;
    EXPECT_GT(shaded, image.width() / 5);

    QFile file(svg);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("<svg"));
    EXPECT_TRUE(text.contains("GT "));
}
