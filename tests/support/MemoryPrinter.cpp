#include "support/MemoryPrinter.h"

#include "surface/RuntimeError.h"

#include <cmath>

namespace raitakone::testing {

MemoryPrinter::MemoryPrinter(PageGeometry geometry, std::shared_ptr<MemoryPrinterRecord> record)
    : geometry_(geometry), record_(std::move(record))
{
}

void MemoryPrinter::checkPrintQuality(int16_t quality)
{
    if (quality < -4 || quality == 0)
        throw RuntimeError("Tulostin ei hyväksy PrintQuality-arvoa " + std::to_string(quality));
}

Delivery MemoryPrinter::deliver(const PageRaster& page, const JobSettings& job)
{
    if (record_->failDeliveries > 0) {
        --record_->failDeliveries;
        throw RuntimeError("Tulostus epäonnistui (testi)");
    }
    record_->pages.push_back({page, job});
    // The notice plays a held queue's.
    return {record_->name, int(record_->pages.size()), {}, record_->notice, !record_->notice.empty(), {}};
}

PageGeometry a4Geometry(double dpiX, double dpiY) { return a4Sheet(dpiX, dpiY); }

PageGeometry a4Geometry(double dpi) { return a4Geometry(dpi, dpi); }

PageGeometry sheetGeometry(double dpi, double widthMm, double heightMm)
{
    const int w = int(std::lround(widthMm / 25.4 * dpi)), h = int(std::lround(heightMm / 25.4 * dpi));
    PageGeometry g{dpi, dpi, w, h, PixelRect{0, 0, w, h}};
    g.sheetWidthPoints = widthMm / 25.4 * 72;
    g.sheetHeightPoints = heightMm / 25.4 * 72;
    return g;
}

TestPrinter::TestPrinter(PageGeometry geometry)
    : printer([geometry, record = record] { return std::make_unique<MemoryPrinter>(geometry, record); })
{
    printer.setEventLog(&events);
}

std::vector<SurfaceEvent> TestPrinter::eventsNamed(const std::string& what) const
{
    std::vector<SurfaceEvent> found;
    for (const SurfaceEvent& e : events)
        if (e.what == what)
            found.push_back(e);
    return found;
}

} // namespace raitakone::testing
