#include "surface/PrinterSurface.h"

#include "surface/RuntimeError.h"

namespace raitakone {

PrinterSurface::PrinterSurface(Connector connector, TextFont defaultFont)
    : Surface(std::move(defaultFont)), connector_(std::move(connector))
{
}

TextFont PrinterSurface::defaultPrinterFont() { return {"Liberation Sans", 10}; }

void PrinterSurface::access()
{
    if (!backend_)
        backend_ = connector_();
    if (!geometry_)
        geometry_ = backend_->geometry();
}

PageGeometry PrinterSurface::geometry()
{
    access();
    return *geometry_;
}

PageRaster& PrinterSurface::drawingPage()
{
    if (!page_) {
        const PageGeometry g = geometry();
        page_.emplace(g.sheetWidth, g.sheetHeight);
    }
    return *page_;
}

int16_t PrinterSurface::PrintQuality()
{
    access();
    return printQuality_;
}

void PrinterSurface::setPrintQuality(int16_t quality)
{
    access();
    backend_->checkPrintQuality(quality);
    record("PrintQuality", {double(quality)});
    printQuality_ = quality;
}

int16_t PrinterSurface::ColorMode()
{
    access();
    return colorMode_;
}

void PrinterSurface::setColorMode(int16_t mode)
{
    access();
    if (mode != 1 && mode != 2)
        throw RuntimeError("Tulostin ei hyväksy arvoa " + std::to_string(mode) + " ominaisuudelle ColorMode");
    record("ColorMode", {double(mode)});
    colorMode_ = mode;
}

void PrinterSurface::EndDoc()
{
    access();
    record("EndDoc");
    if (page_) {
        const JobSettings job{jobTitle_, printQuality_, colorMode_};
        // What fell outside the printable area is said first, then what the
        // printer has to say, then what finishing the page did.
        const PageFitNotice fitted = pageFitNotice(drawnExtent(), *geometry_);
        const std::string& fit = fitted.notice;
        try {
            const std::string finished = finisher_ ? finisher_(*page_, *geometry_, *backend_) : std::string();
            lastDelivery_ = backend_->deliver(*page_, job);
            std::string& notice = lastDelivery_->notice;
            lastDelivery_->printerNotice = std::exchange(notice, {});
            lastDelivery_->minorNotice = fitted.minor;
            for (const std::string& part : {fit, lastDelivery_->printerNotice, finished})
                if (!part.empty())
                    notice += (notice.empty() ? "" : " ") + part;
        } catch (...) {
            KillDoc();
            throw;
        }
    }
    KillDoc();
}

void PrinterSurface::releasePrinter()
{
    if (page_)
        return;
    backend_.reset();
    geometry_.reset();
}

void PrinterSurface::KillDoc()
{
    // The next document finds the printer anew: the default may have changed.
    backend_.reset();
    geometry_.reset();
    page_.reset();
    printQuality_ = 0;
    colorMode_ = 0;
    resetState();
}

} // namespace raitakone
