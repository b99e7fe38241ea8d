#include "marking/PageMarker.h"

#include <QDateTime>

#include <cmath>

namespace raitakone::marking {
namespace {

int sheetMm(double points, int pixels, double dpi)
{
    return int(std::lround(points > 0 ? points / 72.0 * 25.4 : pixels / dpi * 25.4));
}

} // namespace

PageMarker::PageMarker(std::string series) : series_(std::move(series)) {}

PageIdentity identityOf(const PageLabel& label, const std::string& series, const PageGeometry& g,
                        const std::string& printerName)
{
    PageIdentity page;
    page.control = label.control;
    page.caption = label.caption;
    page.printer = printerName;
    page.dpiX = g.dpiX;
    page.dpiY = g.dpiY;
    page.paperWidthMm = sheetMm(g.sheetWidthPoints, g.sheetWidth, g.dpiX);
    page.paperHeightMm = sheetMm(g.sheetHeightPoints, g.sheetHeight, g.dpiY);
    const QDateTime now = QDateTime::currentDateTime();
    page.time = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate).toStdString();
    page.series = series;
    page.n = label.n;
    page.rungs = label.rungs;
    return page;
}

void PageMarker::markNext(PrinterSurface& printer, const PageLabel& label)
{
    printer.setPageFinisher([label, series = series_, last = last_](PageRaster& page, const PageGeometry& g,
                                                                   const PrinterBackend& backend) {
        const MarkOutcome outcome = drawMark(page, g, identityOf(label, series, g, backend.displayName()),
                                             PrinterSurface::defaultPrinterFont());
        *last = outcome.placed;
        return outcome.notice;
    });
}

} // namespace raitakone::marking
