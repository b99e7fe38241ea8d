#include "grading/PageGrade.h"

#include "grading/BarGain.h"
#include "grading/GradeReport.h"
#include "ladder/LadderRecommendation.h"
#include "ladder/RungBands.h"
#include "marking/MarkReader.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <future>
#include <new>

namespace raitakone::grading {
namespace {

constexpr double kBandMarginMm = 5.0; // paper kept above and below a rung's bars

// Grades each rung of a ladder scan on its own band of rows; the symbols'
// places are those in the whole scan. Nothing when no band is found.
std::optional<GradeResult> gradeRungs(const Scan& scan, const GradeOptions& options)
{
    const std::vector<ladder::RowBand> bands = ladder::rungBands(scan.plane, scan.dpiX, scan.dpiY, kBandMarginMm);
    if (bands.empty())
        return std::nullopt;
    GradeResult all;
    all.dpiX = scan.dpiX;
    all.dpiY = scan.dpiY;
    for (const ladder::RowBand& band : bands) {
        const Scan strip{scan.plane.copy(0, band.top, scan.plane.width(), band.bottom - band.top), scan.dpiX,
                         scan.dpiY};
        GradeResult part = gradeScan(strip, options);
        if (all.message.isEmpty())
            all.message = part.message;
        for (SymbolGrade& symbol : part.symbols) {
            symbol.centreYMm += band.top * 25.4 / scan.dpiY;
            all.symbols.push_back(std::move(symbol));
        }
    }
    if (all.symbols.empty())
        return std::nullopt;
    all.status = GradeStatus::Graded;
    return all;
}

} // namespace

GradeResult gradePage(const Scan& scan, GradeOptions options)
{
    // The mark is read on a second core while the symbol is graded: only the
    // bar gain's printer pixels, set afterwards, and a ladder's rungs depend
    // on it.
    std::future<std::optional<marking::ReadMark>> reading =
        std::async(std::launch::async, [&scan] { return marking::readMark(scan.plane, std::max(scan.dpiX, scan.dpiY)); });
    GradeResult graded = gradeScan(scan, options);
    const std::optional<marking::ReadMark> mark = reading.get();
    QString note;
    if (mark && !options.printerDpi) {
        options.printerDpi = mark->page.dpiX;
    } else if (mark && std::fabs(*options.printerDpi - mark->page.dpiX) > 0.5) {
        note = QStringLiteral("Tulostimen tarkkuudeksi on annettu %1 dpi, mutta sivun merkinnän mukaan se "
                              "tulostettiin tarkkuudella %2 dpi; tulostimen pikselit lasketaan annetusta.")
                   .arg(reportNumber(*options.printerDpi, 0), reportNumber(mark->page.dpiX, 0));
    }
    std::optional<GradeResult> rungs;
    if (mark && !mark->page.rungs.empty())
        rungs = gradeRungs(scan, options);
    GradeResult result = rungs ? std::move(*rungs) : std::move(graded);
    if (!rungs && options.printerDpi)
        for (SymbolGrade& symbol : result.symbols)
            setPrinterResolution(symbol.barGain, *options.printerDpi);
    result.printerDpi = options.printerDpi;
    result.printerDpiNote = note;
    if (mark) {
        result.page = mark->page;
        if (!mark->page.rungs.empty() && result.status == GradeStatus::Graded)
            result.ladder = ladder::gradeLadder(result.symbols, mark->page);
    }
    return result;
}

GradeResult gradePageWithinMemory(const Scan& scan, const GradeOptions& options)
{
    try {
        return gradePage(scan, options);
    } catch (const std::bad_alloc&) {
        GradeResult result;
        result.status = GradeStatus::BadInput;
        const QLocale finnish(QLocale::Finnish);
        result.message = QStringLiteral("Muisti ei riitä %1 × %2 pikselin skannauksen arviointiin. Sulje muita "
                                        "ohjelmia tai skannaa sivu pienemmällä tarkkuudella, esimerkiksi 600 dpi.")
                             .arg(finnish.toString(scan.plane.width()), finnish.toString(scan.plane.height()));
        return result;
    }
}

} // namespace raitakone::grading
