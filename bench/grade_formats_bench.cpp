// Grading a 1200-dpi A4 grey scan (9921 × 14031 pixels, 139 megapixels) of
// the "Valkea 3" page from each file format the grader reads: PNG, TIFF,
// JPEG and PDF (the image Flate-compressed, as scanners write it). Each
// grading runs in a process of its own, started from this program, so that
// peak_rss_MB is that grading's own high-water mark (VmHWM): the program, the
// decoded page and the grading, from start to exit.
//
//   QT_QPA_PLATFORM=offscreen grade_formats_bench

#include "grading/Grading.h"

#include "BenchSupport.h"
#include "ScannedSheet.h"

#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstring>

#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

namespace raitakone {
namespace {

constexpr double kDpi = 1200;
constexpr const char* kChildFlag = "--grade-one-file";

// A PDF as a scanner writes it: one page the size of the image.
QByteArray scannerPdf(const QImage& grey)
{
    const double width = grey.width() * 72.0 / kDpi, height = grey.height() * 72.0 / kDpi;
    QByteArray pixels;
    pixels.reserve(qsizetype(grey.width()) * grey.height());
    for (int y = 0; y < grey.height(); ++y)
        pixels.append(reinterpret_cast<const char*>(grey.constScanLine(y)), grey.width());
    const QByteArray deflated = qCompress(pixels, 6).mid(4); // a zlib stream after Qt's length
    pixels.clear();
    const QByteArray content = QString("q %1 0 0 %2 0 0 cm /Scan Do Q").arg(width).arg(height).toLatin1();
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        QString("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %1 %2] /Contents 4 0 R "
                "/Resources << /XObject << /Scan 5 0 R >> >> >>")
            .arg(width)
            .arg(height)
            .toLatin1(),
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
        QString("<< /Type /XObject /Subtype /Image /Width %1 /Height %2 /ColorSpace /DeviceGray "
                "/BitsPerComponent 8 /Filter /FlateDecode /Length %3 >>\nstream\n")
                .arg(grey.width())
                .arg(grey.height())
                .arg(deflated.size())
                .toLatin1() +
            deflated + "\nendstream"};
    QByteArray file = "%PDF-1.4\n";
    QByteArray xref = "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype i = 0; i < objects.size(); ++i) {
        xref += QByteArray::number(file.size()).rightJustified(10, '0') + " 00000 n \n";
        file += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype start = file.size();
    return file + xref + "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(start) + "\n%%EOF\n";
}

// The scan in each format, written once.
const QString& scanFile(const QString& format)
{
    static QTemporaryDir dir;
    static std::map<QString, QString> files;
    if (files.empty()) {
        QImage sheet = scannedA4Sheet(kDpi);
        sheet.setDotsPerMeterX(int(std::lround(kDpi / 0.0254)));
        sheet.setDotsPerMeterY(int(std::lround(kDpi / 0.0254)));
        for (const char* f : {"png", "tiff", "jpeg"}) {
            const QString path = dir.filePath(QStringLiteral("scan.") + f);
            if (sheet.save(path, f, QString(f) == "jpeg" ? 92 : -1))
                files[f] = path;
        }
        QFile pdf(dir.filePath("scan.pdf"));
        if (pdf.open(QIODevice::WriteOnly) && pdf.write(scannerPdf(sheet)) > 0)
            files["pdf"] = pdf.fileName();
    }
    static const QString none;
    const auto found = files.find(format);
    return found == files.end() ? none : found->second;
}

void BM_GradeA4Scan1200(benchmark::State& state, const char* format)
{
    const QByteArray path = QFile::encodeName(scanFile(format));
    if (path.isEmpty()) {
        state.SkipWithError("the scan could not be written");
        return;
    }
    double peakMb = 0.0;
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        state.SkipWithError("no path to this program");
        return;
    }
    const QByteArray command = QByteArray("exec '") + self + "' " + kChildFlag + " '" + path + "'";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        FILE* child = ::popen(command.constData(), "r");
        char line[64] = {};
        const bool said = child && std::fgets(line, sizeof line, child);
        const int status = child ? ::pclose(child) : -1;
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (!said || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the scan was not graded");
            return;
        }
        peakMb = std::max(peakMb, std::atof(line) / 1024.0);
    }
    state.counters["peak_rss_MB"] = peakMb;
}
BENCHMARK_CAPTURE(BM_GradeA4Scan1200, png, "png")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GradeA4Scan1200, tiff, "tiff")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GradeA4Scan1200, jpeg, "jpeg")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GradeA4Scan1200, pdf, "pdf")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The child: reads and grades one file as --grade does; 0 when graded.
int gradeOneFile(const char* path)
{
    const grading::ScanLoad load = grading::loadScan(QFile::decodeName(path), std::nullopt);
    if (!load.scan)
        return 2;
    const grading::GradeResult result = grading::gradeScan(*load.scan, {});
    // The high-water mark of this process alone: a child's getrusage figure
    // would include the benchmark's own, which execve carries over.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                std::printf("%s\n", line.mid(6).trimmed().constData());
    return result.status == grading::GradeStatus::Graded && result.symbols.size() == 1 ? 0 : 1;
}

} // namespace
} // namespace raitakone

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], raitakone::kChildFlag) == 0)
        return raitakone::gradeOneFile(argv[2]);
    return raitakone::runBenchmarksOffscreen(argc, argv);
}
