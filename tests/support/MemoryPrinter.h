#pragma once

#include "surface/PrinterBackend.h"
#include "surface/PrinterSurface.h"

#include <memory>
#include <vector>

namespace raitakone::testing {

// A printer that keeps its pages in memory, for tests that read them back.
struct DeliveredPage {
    PageRaster raster;
    JobSettings job;
};

struct MemoryPrinterRecord {
    std::vector<DeliveredPage> pages;
    int failDeliveries = 0; // the next N deliveries throw
    std::string name = "muisti";
    std::string notice;        // what every delivery also has to say, as a held queue does
    std::string openingNotice; // what the printer says when it is found
};

class MemoryPrinter : public PrinterBackend {
public:
    MemoryPrinter(PageGeometry geometry, std::shared_ptr<MemoryPrinterRecord> record);

    PageGeometry geometry() override { return geometry_; }
    std::string displayName() const override { return record_->name; }
    std::string mediaText() const override { return "A4, 210 × 297 mm"; }
    std::string openingNotice() const override { return record_->openingNotice; }
    void checkPrintQuality(int16_t quality) override;
    Delivery deliver(const PageRaster& page, const JobSettings& job) override;

private:
    PageGeometry geometry_;
    std::shared_ptr<MemoryPrinterRecord> record_;
};

// An A4 sheet at the given resolution, all of it printable, stating its size
// in points as the page-file printer does.
PageGeometry a4Geometry(double dpiX, double dpiY);
PageGeometry a4Geometry(double dpi);
// Any sheet (A4, Letter, a label) at dpi, all of it printable, its size in points.
PageGeometry sheetGeometry(double dpi, double widthMm, double heightMm);

// A Printer surface on a memory printer; pages land in record.
struct TestPrinter {
    explicit TestPrinter(double dpi) : TestPrinter(a4Geometry(dpi)) {}
    explicit TestPrinter(PageGeometry geometry);

    std::shared_ptr<MemoryPrinterRecord> record = std::make_shared<MemoryPrinterRecord>();
    PrinterSurface printer;
    std::vector<SurfaceEvent> events;

    const PageRaster& lastPage() const { return record->pages.back().raster; }
    std::vector<SurfaceEvent> eventsNamed(const std::string& what) const;
};

} // namespace raitakone::testing
