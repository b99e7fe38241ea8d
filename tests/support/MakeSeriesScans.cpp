// Writes the whole series, the twenty pages and the ladder, marked, as
// synthetic 600-dpi A4 grey scans DIR/scanNN.png in a shuffled order: the
// input of the report's benchmark and of a report to look at.

#include "app/PageSeries.h"
#include "support/MarkedScan.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using namespace raitakone;

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv); // the pages' text needs fonts
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "make_series_scans DIR [PRINTER_DPI=600] [GAIN=1]\n");
        return 2;
    }
    const QDir dir(args[1]);
    QDir().mkpath(dir.path());
    const double printerDpi = args.size() > 2 ? args[2].toDouble() : 600.0;
    const int gain = args.size() > 3 ? args[3].toInt() : 1;

    std::vector<PrintPage> pages(allPrintPages().begin(), allPrintPages().end());
    pages.push_back(ladderPrintPage(0));
    std::vector<size_t> order(pages.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(20261208));
    for (size_t k = 0; k < order.size(); ++k) {
        const size_t i = order[k];
        const std::string n = std::to_string(i + 1) + "/" + std::to_string(pages.size());
        const QImage scan = testing::seriesPageScan(pages[i], n, printerDpi, gain, {.dpi = 600, .blurSigmaMm = 0.03});
        const QString path = dir.filePath(QStringLiteral("scan%1.png").arg(k + 1, 2, 10, QLatin1Char('0')));
        if (!scan.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s  %s\n", qPrintable(path), pages[i].caption.c_str());
    }
    return 0;
}
