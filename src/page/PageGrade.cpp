#include "page/PageGrade.h"

#include "grading/BarGain.h"
#include "grading/GradeReport.h"
#include "ladder/LadderRecommendation.h"
#include "ladder/RungBands.h"
#include "marking/MarkReader.h"
#include "surface/RuntimeError.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <future>
#include <system_error>
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
                         scan.dpiY, scan.encoding};
        if (strip.plane.isNull())
            throw std::bad_alloc();
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
    // Where no thread can be had (memory is short), it is read after the
    // grading, on this one.
    const auto readTheMark = [&scan] { return marking::readMarks(scan.plane, std::max(scan.dpiX, scan.dpiY)); };
    std::future<marking::MarkReading> reading;
    try {
        reading = std::async(std::launch::async, readTheMark);
    } catch (const std::system_error&) {
        reading = std::async(std::launch::deferred, readTheMark);
    }
    GradeResult graded = gradeScan(scan, options);
    const marking::MarkReading marks = reading.get();
    const std::optional<marking::ReadMark>& mark = marks.mark;
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
    // The reflectance stage and its check belong to the whole scan.
    const ReflectanceUse reflectance = graded.reflectance;
    GradeResult result = rungs ? std::move(*rungs) : std::move(graded);
    result.reflectance = reflectance;
    if (!rungs && options.printerDpi)
        for (SymbolGrade& symbol : result.symbols)
            setPrinterResolution(symbol.barGain, *options.printerDpi);
    result.printerDpi = options.printerDpi;
    result.printerDpiNote = note;
    result.markNotice = QString::fromStdString(marks.notice);
    if (mark) {
        result.page = mark->page;
        if (!mark->page.rungs.empty() && result.status == GradeStatus::Graded)
            result.ladder = ladder::gradeLadder(result.symbols, mark->page);
    }
    return result;
}

GradeResult gradePageWithinMemory(const Scan& scan, const GradeOptions& options)
{
    GradeResult refused;
    refused.status = GradeStatus::BadInput;
    try {
        return gradePage(scan, options);
    } catch (const std::bad_alloc&) {
    } catch (const std::system_error&) {
        // No thread or other resource to be had: as short of memory.
    } catch (const RuntimeError& error) {
        refused.message = QString::fromStdString(error.what());
        return refused;
    }
    const QLocale finnish(QLocale::Finnish);
    refused.message = QStringLiteral("Muisti ei riitä %1 × %2 pikselin skannauksen arviointiin. Sulje muita "
                                     "ohjelmia tai skannaa sivu pienemmällä tarkkuudella, esimerkiksi 600 dpi.")
                          .arg(finnish.toString(scan.plane.width()), finnish.toString(scan.plane.height()));
    return refused;
}

} // namespace raitakone::grading
