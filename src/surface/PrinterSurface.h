#pragma once

// The Printer: a surface whose pages go to a printer back end, one page per
// document. The first drawing or printing operation opens a document; EndDoc
// delivers it and returns the drawing state to its defaults, so every page
// comes out the same whichever test ran before it.

#include "surface/PrinterBackend.h"
#include "surface/Surface.h"

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace raitakone {

class PrinterSurface : public Surface {
public:
    using Connector = std::function<std::unique_ptr<PrinterBackend>()>;
    // Adds to a page as it ends, before it is delivered (the page mark).
    // Returns what the user must hear about it; empty when nothing.
    using PageFinisher =
        std::function<std::string(PageRaster& page, const PageGeometry& geometry, const PrinterBackend& printer)>;

    // The connector finds the printer when the surface is first used; when it
    // throws (no printer), the access that needed the printer fails and the
    // next access tries again.
    explicit PrinterSurface(Connector connector, TextFont defaultFont = defaultPrinterFont());

    static TextFont defaultPrinterFont();

    int16_t PrintQuality();
    void setPrintQuality(int16_t quality);
    // The page-setup setting: 1 monochrome, 2 colour.
    int16_t ColorMode();
    void setColorMode(int16_t mode);

    void EndDoc();
    // Throws the open document away undelivered and resets the drawing state.
    void KillDoc();

    // Names the job of the documents that follow (the test being printed).
    void setJobTitle(std::string title) { jobTitle_ = std::move(title); }
    bool documentOpen() const { return page_.has_value(); }
    // Finishes every page that ends from now on; an empty one leaves the
    // pages exactly as drawn.
    void setPageFinisher(PageFinisher finisher) { finisher_ = std::move(finisher); }
    // The printer's resolution, sheet and printable area.
    PageGeometry pageGeometry() { return geometry(); }
    // Where the page the last EndDoc delivered went, its notice also saying
    // what of the drawing fell outside the printable area; nullopt once taken.
    std::optional<Delivery> takeLastDelivery() { return std::exchange(lastDelivery_, std::nullopt); }
    // Lets go of the printer unless a document is open, so that the next
    // access finds the printer that is current then (a diagnostic must not
    // pin the printer the next page goes to).
    void releasePrinter();

protected:
    PageGeometry geometry() override;
    PageRaster& drawingPage() override;
    void access() override;

private:
    Connector connector_;
    std::unique_ptr<PrinterBackend> backend_;
    std::optional<PageGeometry> geometry_;
    std::optional<PageRaster> page_;
    std::string jobTitle_ = "Raitakone";
    int16_t printQuality_ = 0;
    int16_t colorMode_ = 0;
    std::optional<Delivery> lastDelivery_;
    PageFinisher finisher_;
};

} // namespace raitakone
