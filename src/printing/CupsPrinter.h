#pragma once

// A CUPS destination as the Printer's back end: the resolution its driver
// receives, its default media with the printable area, and one job of one page per
// document. The page leaves at the resolution it was drawn at, as PWG raster
// where the queue takes that at our resolution, otherwise as a PDF holding
// the page as one image at device resolution, so no filter resamples it.

#include "printing/CupsMedia.h"
#include "surface/PrinterBackend.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace raitakone {

// The IPP print-quality enum for a PrintQuality value (-1 draft .. -4 high):
// 3 draft, 4 normal, 5 high; 0 when the value asks for nothing.
int ippPrintQuality(int16_t printQuality);

// One line of the list of CUPS destinations.
struct CupsDestinationSummary {
    std::string name;
    bool isDefault = false;
    std::string state;     // "valmis", "tulostaa", "pysäytetty", "ei ota töitä vastaan"
    std::string details;   // resolution, media and printable area, or why they are unknown
    double dpiX = 0;       // 0 when the destination could not be asked
    double dpiY = 0;
};

// Every CUPS destination, the default first marked. Throws a RuntimeError
// when the scheduler does not answer.
std::vector<CupsDestinationSummary> listCupsDestinations();

// What the user must hear about a job the queue holds instead of printing:
// empty while the queue prints. A queue stopped by hand (cupsdisable), paused,
// or held by a printer that reports an error ("media-jam-error") takes jobs
// and keeps them, and without a word the user would wait for paper that does
// not come. Names the job and the way to resume (cupsenable QUEUE).
std::string heldJobNotice(const std::string& queue, int jobId, int printerState, const std::string& reasons,
                          const std::string& message);

class CupsPrinter : public PrinterBackend {
public:
    // The named destination, or the default one when there is no name.
    explicit CupsPrinter(std::optional<std::string> destinationName);
    ~CupsPrinter() override;
    CupsPrinter(const CupsPrinter&) = delete;
    CupsPrinter& operator=(const CupsPrinter&) = delete;

    PageGeometry geometry() override;
    std::string displayName() const override { return destinationName(); }
    std::string mediaText() const override;
    std::string driverText() const override;
    void checkPrintQuality(int16_t quality) override;
    Delivery deliver(const PageRaster& page, const JobSettings& job) override;

    const std::string& destinationName() const;

private:
    friend std::vector<CupsDestinationSummary> listCupsDestinations();
    struct Destination;
    std::unique_ptr<Destination> destination_;
    PageGeometry geometry_;
};

} // namespace raitakone
