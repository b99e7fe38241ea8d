// What users will feed the grader from scanners, e-mail and shared folders,
// run as they run it: files that claim far more than they hold, files cut
// short, things that are not files, absurd resolutions; stop signals in the
// middle of a grading and of a scan; outputs on a full filesystem. Every
// input is made here, a few hundred bytes each.

#include "support/SyntheticScan.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <QPainter>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Finished {
    int status = -1; // exit status; 1000 + n when signal n killed it
    QString err;
    QString out;
    double peakMb = 0.0;  // the child's own high-water mark
    double stopMs = -1.0; // from the signal sent to the end, when one was sent
};

// Runs the program in a child of its own; getrusage's figure for that child
// alone is its peak resident memory. With signalAfterMs it gets SIGTERM then.
// The arguments are bytes, as a file name may be that is not UTF-8.
Finished runChild(const QList<QByteArray>& arguments, const QString& saneConfig = {}, int signalAfterMs = -1)
{
    QTemporaryDir dir;
    const QByteArray errPath = QFile::encodeName(dir.filePath("err"));
    const QByteArray outPath = QFile::encodeName(dir.filePath("out"));
    std::vector<QByteArray> args{RAITAKONE_PROGRAM};
    for (const QByteArray& a : arguments)
        args.push_back(a);
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray sane = QFile::encodeName(saneConfig.isEmpty() ? dir.path() : saneConfig);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("SANE_CONFIG_DIR", sane.constData(), 1);
        ::unsetenv("RAITAKONE_PRINTER");
        ::unsetenv("RAITAKONE_DPI");
        ::unsetenv("RAITAKONE_PAPER");
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Finished finished;
    QElapsedTimer clock, sinceSignal;
    clock.start();
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (signalAfterMs >= 0 && !sinceSignal.isValid() && clock.elapsed() >= signalAfterMs) {
            ::kill(pid, SIGTERM);
            sinceSignal.start();
        }
        if (clock.elapsed() > 120000) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            break;
        }
        ::usleep(2000);
    }
    if (sinceSignal.isValid())
        finished.stopMs = double(sinceSignal.nsecsElapsed()) / 1e6;
    finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    finished.peakMb = double(usage.ru_maxrss) / 1024.0;
    QFile err(dir.filePath("err"));
    if (err.open(QIODevice::ReadOnly))
        finished.err = QString::fromUtf8(err.readAll()); // Finnish numbers group digits with a no-break space
    QFile out(dir.filePath("out"));
    if (out.open(QIODevice::ReadOnly))
        finished.out = QString::fromUtf8(out.readAll());
    for (QString* text : {&finished.err, &finished.out})
        text->replace(QChar(0x00A0), QLatin1Char(' ')).replace(QChar(0x202F), QLatin1Char(' '));
    return finished;
}

Finished runChild(const QStringList& arguments, const QString& saneConfig = {}, int signalAfterMs = -1)
{
    QList<QByteArray> bytes;
    for (const QString& a : arguments)
        bytes.push_back(QFile::encodeName(a));
    return runChild(bytes, saneConfig, signalAfterMs);
}

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray be32(quint32 v)
{
    const char bytes[] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data)
{
    return be32(quint32(data.size())) + type + data + be32(crc32(type + data));
}

// A grey PNG header claiming width × height, a little data, an end.
QByteArray pngClaiming(quint32 width, quint32 height)
{
    const QByteArray ihdr = be32(width) + be32(height) + QByteArray("\x08\x00\x00\x00\x00", 5);
    const QByteArray idat = QByteArray::fromHex("789c6360000000020001"); // one zero byte, deflated
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + pngChunk("IDAT", idat) +
           pngChunk("IEND", {});
}

// A small PNG whose pHYs chunk says x × y dots per metre.
QByteArray pngWithPhys(quint32 x, quint32 y)
{
    QImage image(32, 32, QImage::Format_Grayscale8);
    image.fill(200);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    QByteArray bytes = buffer.data();
    const qsizetype at = bytes.indexOf("pHYs") - 4;
    const QByteArray phys = be32(x) + be32(y) + QByteArray(1, '\x01');
    return bytes.left(at) + pngChunk("pHYs", phys) + bytes.mid(at + 4 + 4 + 9 + 4);
}

QByteArray jpegOf(const QImage& image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return buffer.data();
}

// A real small JPEG whose frame header is made to claim size × size.
QByteArray jpegClaiming(quint16 size)
{
    QImage image(16, 16, QImage::Format_Grayscale8);
    image.fill(128);
    QByteArray bytes = jpegOf(image);
    const qsizetype sof = bytes.indexOf("\xFF\xC0");
    for (int k : {5, 7}) {
        bytes[sof + k] = char(size >> 8);
        bytes[sof + k + 1] = char(size & 0xFF);
    }
    return bytes;
}

// A baseline TIFF of one grey strip claiming width × height.
QByteArray tiffClaiming(quint32 width, quint32 height)
{
    const auto le16 = [](quint16 v) {
        const char bytes[] = {char(v), char(v >> 8)};
        return QByteArray(bytes, 2);
    };
    const auto le32 = [](quint32 v) {
        const char bytes[] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        return QByteArray(bytes, 4);
    };
    const auto entry = [&](quint16 tag, quint16 type, quint32 value) {
        return le16(tag) + le16(type) + le32(1) + (type == 3 ? le16(quint16(value)) + le16(0) : le32(value));
    };
    const quint32 data = 8 + 2 + 9 * 12 + 4;
    QByteArray ifd = le16(9) + entry(256, 4, width) + entry(257, 4, height) + entry(258, 3, 8) + entry(259, 3, 1) +
                     entry(262, 3, 1) + entry(273, 4, data) + entry(277, 3, 1) + entry(278, 4, height) +
                     entry(279, 4, 16) + le32(0);
    return QByteArray("II*\0", 4) + le32(8) + ifd + QByteArray(16, '\x80');
}

// A one-page PDF drawing one grey image of width × height pixels over the
// page, with the stream bytes given; extra goes into a comment.
QByteArray pdfDrawing(int width, int height, const QByteArray& pixels, const QByteArray& extra = {},
                      const QByteArray& before = {}, const QByteArray& filter = {})
{
    const double w = width * 72.0 / 600, h = height * 72.0 / 600;
    const QByteArray content = before + QString("q %1 0 0 %2 0 0 cm /Im Do Q").arg(w).arg(h).toLatin1();
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        QString("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %1 %2] /Contents 4 0 R "
                "/Resources << /XObject << /Im 5 0 R >> >> >>")
            .arg(w)
            .arg(h)
            .toLatin1(),
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
        QString("<< /Type /XObject /Subtype /Image /Width %1 /Height %2 /ColorSpace /DeviceGray "
                "/BitsPerComponent 8 %4/Length %3 >>\nstream\n")
                .arg(width)
                .arg(height)
                .arg(pixels.size())
                .arg(QString::fromLatin1(filter))
                .toLatin1() +
            pixels + "\nendstream"};
    QByteArray file = "%PDF-1.4\n" + extra + "\n";
    QByteArray xref = "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype i = 0; i < objects.size(); ++i) {
        xref += QByteArray::number(file.size()).rightJustified(10, '0') + " 00000 n \n";
        file += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype start = file.size();
    return file + xref + "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(start) + "\n%%EOF\n";
}

QString written(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return file.fileName();
}

// A scan that grades: a symbol page's scan at 600 dpi.
QImage gradeableScan()
{
    using namespace raitakone::testing;
    return scan(printed(symbolPage(600), 600, symbolRegion(600)), ScanModel{});
}

// The scan with a QR code of the payload below it, 12 pixels (0.5 mm) a
// module, as a page's mark is printed.
QImage withMark(const QImage& scanned, const std::string& payload)
{
    const ZXing::BitMatrix code = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode).setMargin(4).encode(payload, 0, 0);
    QImage page(scanned.width(), scanned.height() + 12 * code.height(), QImage::Format_Grayscale8);
    page.fill(scanned.pixelColor(0, 0));
    page.setDotsPerMeterX(scanned.dotsPerMeterX());
    page.setDotsPerMeterY(scanned.dotsPerMeterY());
    QPainter painter(&page);
    painter.drawImage(0, 0, scanned);
    for (int y = 0; y < code.height(); ++y)
        for (int x = 0; x < code.width(); ++x)
            if (code.get(x, y))
                painter.fillRect(12 * x, scanned.height() + 12 * y, 12, 12, Qt::black);
    return page;
}

// Two scans side by side, as two pages on one bed.
QImage twoAcross(const QImage& left, const QImage& right)
{
    QImage bed(left.width() + right.width(), std::max(left.height(), right.height()), QImage::Format_Grayscale8);
    bed.fill(left.pixelColor(0, 0));
    bed.setDotsPerMeterX(left.dotsPerMeterX());
    bed.setDotsPerMeterY(left.dotsPerMeterY());
    QPainter painter(&bed);
    painter.drawImage(0, 0, left);
    painter.drawImage(left.width(), 0, right);
    return bed;
}

constexpr char kForgedLadderMark[] = "RK1;page=ladder;caption=Kavennustikkaat;printer=x;dpi=600x1e49;paper=210x297;"
                                     "time=2026-12-09T10:00:00+02:00;series=0badcafe;n=1/1;k=-1,0,1";
constexpr char kFirstPageMark[] = "RK1;page=Command10:0;caption=Valkea 1 (perus);printer=x;dpi=600x600;"
                                  "paper=210x297;time=2026-12-09T10:00:00+02:00;series=0badcafe;n=1/20";
constexpr char kSecondPageMark[] = "RK1;page=Command10:1;caption=Valkea 2;printer=x;dpi=600x600;"
                                   "paper=210x297;time=2026-12-09T10:00:00+02:00;series=0badcafe;n=2/20";
constexpr char kTerminalEscapeMark[] = "RK1;page=Command10:0;caption=\x1b]0%3Bhei\x07\x1b[2J;printer=x;dpi=600x600;"
                                       "paper=210x297;time=2026-12-09T10:00:00+02:00;series=0badcafe;n=1/1";

} // namespace

class HostileGradingTest : public QObject {
    Q_OBJECT

private slots:
    void hostileInputs_data()
    {
        QTest::addColumn<QString>("kind"); // how the input is made
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        const auto row = [](const char* name, const char* kind, const QStringList& extra, int status, const char* said) {
            QTest::newRow(name) << QString(kind) << extra << status << QString::fromUtf8(said);
        };
        row("FIFO", "fifo", {}, 2, "nimetty putki");
        row("directory", "directory", {}, 2, "kansio");
        row("not an image", "text", {}, 2, "ei ole PNG");
        row("PNG claiming 40000²", "png-bomb", {}, 2, "40 000 × 40 000");
        row("PNG claiming 20000², holding one byte", "png-short", {"--scan-dpi", "600"}, 2, "vioittunut");
        row("JPEG claiming 46000²", "jpeg-bomb", {}, 2, "46 000 × 46 000");
        row("TIFF claiming 50000²", "tiff-bomb", {}, 2, "50 000 × 50 000");
        row("PDF image claiming 40000²", "pdf-bomb", {}, 2, "40 000 × 40 000");
        row("PDF image claiming 14000×19800, holding 100 bytes", "pdf-short", {}, 2, "katkennut");
        row("PDF with a megabyte of /Image in a comment", "pdf-comment", {}, 2, "ei näytä skannattua kuvaa");
        row("PDF holding a 40000² image it never draws", "pdf-undrawn", {}, 1, "viivakoodia");
        row("JPEG cut at a tenth", "jpeg-cut", {"--scan-dpi", "600"}, 2, "katkennut kesken");
        row("pHYs of 1 px/m", "phys-1", {}, 2, "0,0254 dpi");
        row("pHYs of 600 dpi × 0", "phys-600x0", {}, 2, "600 × 0 dpi");
        row("--scan-dpi 0.0001", "scan", {"--scan-dpi", "0.0001"}, 2, "50–10 000 dpi");
        row("plot over the scan", "scan", {"--plot", "@input"}, 2, "skannauksen");
        row("plot into a FIFO", "scan", {"--plot", "@fifo.png"}, 2, "ei ole tavallinen tiedosto");
        row("20 GB of zeros named .png", "zeros", {}, 2, "ei ole PNG");
        row("%PDF-1.4 and 20 GB of zeros", "pdf-zeros", {}, 2, "vioittunut");
        row("JPEG cut at 60 % with its end put back", "jpeg-cut-ended", {"--scan-dpi", "600"}, 2, "vioittunut");
        row("PDF page nesting 1 500 saved states", "pdf-q-flood", {}, 2, "grafiikkatilaa");
        row("PDF JPEG 2000 image coded as 16000²", "pdf-jpx", {}, 2, "256 megapikseliä");
        row("PDF JBIG2 image coded as 40000²", "pdf-jbig2", {}, 2, "1600 megapikseliä");
        row("two pages on one bed", "two-pages", {}, 0, "Symboli 2:");
        row("a forged mark: rungs at 600 × 1e49 dpi", "forged-mark", {}, 0, "merkintä jätettiin huomiotta");
        row("two pages' marks on one bed", "two-marks", {}, 0, "kahden eri sivun merkinnät");
        row("a mark with terminal escapes", "escape-mark", {}, 0, "Sivu: ]0;hei[2J");
    }

    void hostileInputs()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, extra);
        QFETCH(int, status);
        QFETCH(QString, said);
        QTemporaryDir dir;
        QString input;
        if (kind == "fifo") {
            input = dir.filePath("sivu.png");
            QVERIFY(::mkfifo(QFile::encodeName(input).constData(), 0600) == 0);
        } else if (kind == "directory") {
            input = dir.filePath("kansio.png");
            QVERIFY(QDir().mkdir(input));
        } else if (kind == "text") {
            input = written(dir, "sivu.png", "Tämä ei ole kuva.\n");
        } else if (kind == "png-bomb") {
            input = written(dir, "sivu.png", pngClaiming(40000, 40000));
        } else if (kind == "png-short") {
            input = written(dir, "sivu.png", pngClaiming(20000, 20000));
        } else if (kind == "jpeg-bomb") {
            input = written(dir, "sivu.jpg", jpegClaiming(46000));
        } else if (kind == "tiff-bomb") {
            input = written(dir, "sivu.tif", tiffClaiming(50000, 50000));
        } else if (kind == "pdf-bomb") {
            input = written(dir, "sivu.pdf", pdfDrawing(40000, 40000, QByteArray(100, '\x80')));
        } else if (kind == "pdf-short") {
            input = written(dir, "sivu.pdf", pdfDrawing(14000, 19800, QByteArray(100, '\x80')));
        } else if (kind == "pdf-comment") {
            QByteArray comment = "%";
            while (comment.size() < (1 << 20))
                comment += "/Image << /Width 1 /Height 1 ";
            input = written(dir, "sivu.pdf", pdfDrawing(1, 1, "", comment).replace("/Im Do", "   "));
        } else if (kind == "pdf-undrawn") {
            const QByteArray unused = "9 0 obj\n<< /Type /XObject /Subtype /Image /Width 40000 /Height 40000 "
                                      "/ColorSpace /DeviceGray /BitsPerComponent 8 /Length 1 >>\nstream\nx\n"
                                      "endstream\nendobj";
            input = written(dir, "sivu.pdf", pdfDrawing(600, 600, QByteArray(600 * 600, '\xe0'), unused));
        } else if (kind == "jpeg-cut") {
            QImage noise(600, 600, QImage::Format_Grayscale8);
            for (int y = 0; y < 600; ++y)
                for (int x = 0; x < 600; ++x)
                    noise.scanLine(y)[x] = uchar((x * 7 + y * 13) % 251);
            const QByteArray whole = jpegOf(noise);
            input = written(dir, "sivu.jpg", whole.left(whole.size() / 10));
        } else if (kind == "two-pages" || kind == "two-marks" || kind == "forged-mark" || kind == "escape-mark") {
            input = dir.filePath("sivu.png");
            const QImage made = kind == "two-pages" ? twoAcross(gradeableScan(), gradeableScan())
                                : kind == "two-marks"
                                    ? twoAcross(withMark(gradeableScan(), kFirstPageMark),
                                                withMark(gradeableScan(), kSecondPageMark))
                                : kind == "forged-mark" ? withMark(gradeableScan(), kForgedLadderMark)
                                                        : withMark(gradeableScan(), kTerminalEscapeMark);
            QVERIFY(made.save(input));
        } else if (kind == "zeros" || kind == "pdf-zeros") {
            // Sparse: no disk is spent on the zeros.
            input = written(dir, kind == "zeros" ? "sivu.png" : "sivu.pdf", kind == "zeros" ? "" : "%PDF-1.4\n");
            QVERIFY(::truncate(QFile::encodeName(input).constData(), 20LL << 30) == 0);
        } else if (kind == "pdf-q-flood") {
            input = written(dir, "sivu.pdf", pdfDrawing(600, 600, QByteArray(600 * 600, '\xe0'), {},
                                                         QByteArray("q ").repeated(1500)));
        } else if (kind == "pdf-jpx") {
            // A codestream's start and size marker: 16000 × 16000, one component.
            const QByteArray siz = QByteArray::fromHex("ff4fff510029000000003e8000003e8000000000000000000000"
                                                       "3e8000003e800000000000000000000107010101");
            input = written(dir, "sivu.pdf", pdfDrawing(600, 600, siz, {}, {}, "/Filter /JPXDecode "));
        } else if (kind == "pdf-jbig2") {
            // Segment 0, page information, page 1, 19 bytes: 40000 × 40000.
            const QByteArray page = QByteArray::fromHex("0000000030000100000013"
                                                        "00009c4000009c40000000000000000000000000");
            input = written(dir, "sivu.pdf", pdfDrawing(600, 600, page, {}, {}, "/Filter /JBIG2Decode "));
        } else if (kind == "jpeg-cut-ended") {
            const QByteArray whole = jpegOf(gradeableScan());
            input = written(dir, "sivu.jpg", whole.left(whole.size() * 6 / 10) + "\xFF\xD9");
        } else if (kind == "phys-1") {
            input = written(dir, "sivu.png", pngWithPhys(1, 1));
        } else if (kind == "phys-600x0") {
            input = written(dir, "sivu.png", pngWithPhys(23622, 0));
        } else {
            input = dir.filePath("sivu.png");
            QVERIFY(gradeableScan().save(input));
        }
        QVERIFY(!input.isEmpty());
        const QByteArray before = kind == "scan" ? [&] {
            QFile f(input);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }() : QByteArray();
        extra.replaceInStrings("@input", input);
        if (extra.join(' ').contains("@fifo.png")) {
            extra.replaceInStrings("@fifo.png", dir.filePath("kuvaaja.png"));
            QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("kuvaaja.png")).constData(), 0600) == 0);
        }

        const Finished run = runChild(QStringList{"--grade", input} + extra);
        qInfo("exit %d, peak %.0f MB", run.status, run.peakMb);
        QVERIFY2(run.status == status, qPrintable(QString("exit %1: %2").arg(run.status).arg(run.err)));
        QVERIFY2((status == 0 ? run.out : run.err).contains(said), qPrintable(run.err + run.out));
        QVERIFY2(!run.out.contains(QChar(0x1b)) && !run.err.contains(QChar(0x1b)), "an escape reached the terminal");
        // The program with its libraries is about 40 MB before it reads anything.
        QVERIFY2(run.peakMb < 120.0, qPrintable(QString("peak %1 MB").arg(run.peakMb)));
        if (kind == "scan") {
            QFile after(input);
            QVERIFY(after.open(QIODevice::ReadOnly));
            QVERIFY2(after.readAll() == before, "the scan was changed");
        }
    }

    // A file whose name is not UTF-8 (Latin-1 "ä") is read by that name.
    void aNameThatIsNotUtf8()
    {
        QTemporaryDir dir;
        const QByteArray name = QFile::encodeName(dir.path()) + "/skannaus-\xe4.png";
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        QVERIFY(gradeableScan().save(&png, "PNG"));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, png.data().constData(), size_t(png.data().size())), ssize_t(png.data().size()));
        ::close(fd);
        const Finished run = runChild(QList<QByteArray>{"--grade", name});
        // In the report the name is shown as \xE4, the HTML well-formed and the JSON valid.
        const QString html = dir.filePath("r.html");
        const Finished report = runChild(QList<QByteArray>{"--report", name, "-o", QFile::encodeName(html), "--json"});
        ::unlink(name.constData()); // a name QTemporaryDir cannot spell
        QVERIFY2(run.status == 0, qPrintable(QString("exit %1: %2").arg(run.status).arg(run.err)));
        QVERIFY2(report.status == 0, qPrintable(report.err));
        QFile page(html), json(dir.filePath("r.json"));
        QVERIFY(page.open(QIODevice::ReadOnly) && json.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&page);
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(json.readAll(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(object["pages"].toArray().at(0)["source"].toString().endsWith("skannaus-\\xE4.png"));
    }

    // A stop signal in the middle of grading a 1200-dpi A4 page ends the
    // program as --print ends: 128 + the signal, with a message.
    void sigtermStopsAGrading()
    {
        QTemporaryDir dir;
        const QString input = dir.filePath("a4.png");
        QImage page(9921, 14031, QImage::Format_Grayscale8);
        page.fill(230);
        page.setDotsPerMeterX(47244);
        page.setDotsPerMeterY(47244);
        QVERIFY(page.save(input, "PNG", 100));
        page = QImage();
        // Signalled a tenth of the way through (the file being read) and half
        // way (the page being searched), whatever this machine's pace.
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runChild(QStringList{"--grade", input}).status, 1); // a blank page: no symbol
        const int wholeMs = int(clock.elapsed());
        for (int afterMs : {wholeMs / 10, wholeMs / 2}) {
            const Finished run = runChild(QStringList{"--grade", input}, {}, afterMs);
            qInfo("SIGTERM %d ms in: stopped %.0f ms after the signal, peak %.0f MB", afterMs, run.stopMs, run.peakMb);
            QVERIFY2(run.status == 128 + SIGTERM, qPrintable(QString("exit %1: %2").arg(run.status).arg(run.err)));
            QVERIFY2(run.err.contains("Keskeytetty (signaali 15)"), qPrintable(run.err));
            QVERIFY2(run.stopMs < 2000.0, qPrintable(QString("%1 ms").arg(run.stopMs)));
        }
    }

    // SANE's test backend resets SIGTERM in its reader thread: the program's
    // own handling must hold through a scan.
    void sigtermStopsAScan()
    {
        QTemporaryDir sane;
        const auto write = [&sane](const char* name, const QByteArray& text) {
            QFile file(sane.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        };
        write("dll.conf", "test\n");
        write("test.conf", "read-limit true\nread-limit-size 4096\nread-delay true\nread-delay-duration 20000\n");
        const Finished run = runChild(QStringList{"--scan", "test:0", "--scan-dpi", "300"}, sane.path(), 1500);
        qInfo("--scan: stopped %.0f ms after the signal", run.stopMs);
        QVERIFY2(run.status == 128 + SIGTERM, qPrintable(QString("exit %1: %2").arg(run.status).arg(run.err)));
        QVERIFY2(run.err.contains("skannaus lopetettiin"), qPrintable(run.err));
    }

    // Outputs on a full filesystem: a small tmpfs in a mount namespace of
    // its own. An existing file is replaced whole or not at all (the plot,
    // the saved scan), a new one is not left empty, and each failure is an
    // error, a report on a full standard output too.
    void outputsOnAFullFilesystem()
    {
        if (QProcess::execute("unshare", {"-m", "true"}) != 0)
            QSKIP("no private mount namespace here (unshare -m needs root or user namespaces)");
        QTemporaryDir dir;
        const QString input = dir.filePath("scan.png");
        QVERIFY(gradeableScan().save(input));
        QTemporaryDir sane;
        QFile dll(sane.filePath("dll.conf"));
        QVERIFY(dll.open(QIODevice::WriteOnly) && dll.write("test\n") == 5);
        dll.close();
        const QString full = dir.filePath("full");
        QVERIFY(QDir().mkdir(full));
        const QString script =
            QString("mount -t tmpfs -o size=256k none '%1' || exit 99; printf vanha > '%1/old.png'; "
                    "printf vanha > '%1/r.html'; printf vanha > '%1/r.json'; "
                    "cat /dev/zero > '%1/fill' 2>/dev/null; "
                    "'%2' --grade '%3' --plot '%1/old.png' >/dev/null 2>&1; echo \"old $? $(cat '%1/old.png')\"; "
                    "'%2' --grade '%3' --plot '%1/new.svg' >/dev/null 2>&1; echo \"svg $? $(ls '%1' | tr '\\n' ' ')\"; "
                    "SANE_CONFIG_DIR='%4' '%2' --scan test:0 --scan-dpi 75 --save-scan '%1/old.png' >/dev/null 2>&1; "
                    "echo \"scan $? $(cat '%1/old.png')\"; "
                    "'%2' --grade '%3' --json >/dev/full 2>/dev/null; echo \"stdout $?\"; "
                    "'%2' --report '%3' -o '%1/r.html' --json >/dev/null 2>&1; "
                    "echo \"pair $? $(cat '%1/r.html') $(cat '%1/r.json')\"")
                .arg(full, RAITAKONE_PROGRAM, input, sane.path());
        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        shell.setProcessEnvironment(env);
        shell.start("unshare", {"-m", "sh", "-c", script});
        QVERIFY(shell.waitForFinished(120000));
        if (shell.exitCode() == 99)
            QSKIP("tmpfs cannot be mounted here");
        const QStringList lines = QString::fromUtf8(shell.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QString("old 2 vanha"));
        QCOMPARE(lines[1], QString("svg 2 fill old.png r.html r.json "));
        QCOMPARE(lines[2], QString("scan 2 vanha"));
        QCOMPARE(lines[3], QString("stdout 2"));
        QCOMPARE(lines[4], QString("pair 2 vanha vanha"));
    }

    // A report killed while writing leaves its save file's copy; the next
    // run removes it, when it is a minute old and holds a report, and only it.
    void aKilledReportsCopyGoesAndNothingElse()
    {
        QTemporaryDir dir;
        const QString scan = dir.filePath("scan.png");
        QVERIFY(gradeableScan().save(scan));
        const auto left = [&dir](const char* name, const QByteArray& text, int ageSeconds) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush());
            file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
        };
        left("r.html.Ab3dE9", "<!DOCTYPE html><html>", 120);
        left("r.html.fresh1", "<!DOCTYPE html><html>", 0);
        left("r.html.notes1", "omat muistiinpanot", 120);
        const Finished run = runChild(QStringList{"--report", scan, "-o", dir.filePath("r.html")});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(QDir(dir.path()).entryList({"r.html*"}, QDir::Files, QDir::Name),
                 QStringList({"r.html", "r.html.fresh1", "r.html.notes1"}));
    }

    // --report -o never replaces a scan, through a link or a linked folder,
    // nor a device, nor its own JSON; an output that cannot be written is
    // refused before any scan is graded.
    void reportOutputsNeverReplaceAScanOrADevice_data()
    {
        QTest::addColumn<QStringList>("output");
        QTest::addColumn<QString>("said");
        QTest::newRow("a link to the scan") << QStringList{"-o", "@dir/link.html"} << "skannauksen";
        QTest::newRow("through a linked folder") << QStringList{"-o", "@dir/linked/scan.png"} << "skannauksen";
        QTest::newRow("its JSON through a link") << QStringList{"-o", "@dir/r.html", "--json"} << "skannauksen";
        QTest::newRow("a device") << QStringList{"-o", "/dev/null"} << "ei ole tavallinen tiedosto";
        QTest::newRow("the JSON as the report") << QStringList{"-o", "@dir/uusi.json", "--json"} << "samaan tiedostoon";
        QTest::newRow("no name") << QStringList{"-o", ""} << "tyhjä";
        QTest::newRow("a missing folder") << QStringList{"-o", "@dir/ei/r.html"} << "ei ole";
    }

    void reportOutputsNeverReplaceAScanOrADevice()
    {
        QFETCH(QStringList, output);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString scan = dir.filePath("scan.png");
        QVERIFY(gradeableScan().save(scan));
        QVERIFY(QFile::link("scan.png", dir.filePath("link.html")) && QFile::link("scan.png", dir.filePath("r.json")));
        QVERIFY(QFile::link(dir.path(), dir.filePath("linked")));
        QFile before(scan);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray bytes = before.readAll();
        output.replaceInStrings("@dir", dir.path());
        const Finished run = runChild(QStringList{"--report", scan} + output);
        QVERIFY2(run.status == 2 && run.err.contains(said), qPrintable(QString("exit %1: %2").arg(run.status).arg(run.err)));
        QVERIFY2(!run.err.contains("A)"), "refused only after grading");
        QFile after(scan);
        QVERIFY(after.open(QIODevice::ReadOnly) && after.readAll() == bytes);
    }
};

QTEST_MAIN(HostileGradingTest)
#include "hostile_grading_qtest.moc"
