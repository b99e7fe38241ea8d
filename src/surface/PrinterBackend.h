#pragma once

// The seam between the printer surface and whatever takes its pages: a CUPS
// queue, the page-file printer, or a test's in-memory sink.

#include "surface/PageGeometry.h"
#include "surface/PageRaster.h"

#include <cstdint>
#include <memory>
#include <string>

namespace raitakone {

struct JobSettings {
    std::string title;         // names the program and the test
    int16_t printQuality = 0;  // 0 = not set; -1 draft .. -4 high
    int16_t colorMode = 0;     // 0 = not set; 1 monochrome, 2 colour
};

// Where a delivered page went, for the user to see.
struct Delivery {
    std::string queue;  // the CUPS destination; empty for the page-file printer
    int job = 0;        // the CUPS job number
    std::string file;   // the page-file printer: the PNG written
    std::string notice; // what the user must also hear (a stopped queue); empty when nothing
    bool held = false;  // the queue took the job but will not print it until resumed
    // PrinterSurface puts what of the page fell outside the printable area in
    // front of the notice, and keeps the printer's own part here.
    std::string printerNotice;
    // True but harmless (a sliver off a bar drawn at the printable edge):
    // said on the command line, kept out of the window's status line.
    std::string minorNotice;
};

class PrinterBackend {
public:
    virtual ~PrinterBackend() = default;

    // For the user: what the printer is called ("raitakone-pdf",
    // "sivutiedostot: DIR") and its paper ("A4, 210 × 297 mm").
    virtual std::string displayName() const { return {}; }
    virtual std::string mediaText() const { return {}; }
    // How the printer's driver is set for our pages, where that matters to
    // the pixels ("ajurin tila OutputMode=Normal"); empty when nothing.
    virtual std::string driverText() const { return {}; }
    // What the user must hear about the printer as it was found (a page
    // folder tidied up after a killed run); empty when nothing.
    virtual std::string openingNotice() const { return {}; }

    // Resolution, sheet and printable area of the pages this printer takes.
    virtual PageGeometry geometry() = 0;

    // Throws a RuntimeError when the printer refuses the value.
    virtual void checkPrintQuality(int16_t quality) = 0;

    // Hands one finished page over in full, or throws a RuntimeError: a page
    // that cannot be delivered whole is not delivered at all.
    virtual Delivery deliver(const PageRaster& page, const JobSettings& job) = 0;
};

} // namespace raitakone
