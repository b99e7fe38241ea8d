#include "support/MarkedScan.h"

#include "app/PageSeries.h"
#include "support/MemoryPrinter.h"
#include "surface/PictureSurface.h"

#include <cmath>

namespace raitakone::testing {

QImage seriesPageScan(const PrintPage& page, const std::string& n, double printerDpi, int gain, const ScanModel& model,
                      bool marked)
{
    // A4 with 4 mm the printer cannot print on, as office printers have:
    // the pages' symbols start at the printable edge, with paper outside it.
    PageGeometry a4 = a4Geometry(printerDpi);
    const int margin = int(std::ceil(4.0 / 25.4 * printerDpi));
    a4.printable = PixelRect{margin, margin, a4.sheetWidth - margin, a4.sheetHeight - margin};
    TestPrinter printer(a4);
    PictureSurface picture(kPictureWidth, kPictureHeight);
    marking::PageMarker marker("5e1e5e1e");
    printMarkedPage(page, marked, marker, n, printer.printer, picture, [] {}, [](const std::string&) {});
    const PageRaster& raster = printer.lastPage();
    ScanModel whole = model;
    whole.marginMm = 0.0; // the sheet is the whole scan
    return scan(printed(raster, printerDpi, QRect(0, 0, raster.width(), raster.height()), gain), whole);
}

} // namespace raitakone::testing
