#pragma once

// What a CUPS destination prints our pages on: the resolution its driver
// receives, its default media with the printable area, and how its driver
// is set, as one lookup made when the printer is found.

#include "printing/DriverRaster.h"

#include <cups/cups.h>

#include <string>

namespace raitakone {

struct DestinationSetup {
    int xdpi = 0;
    int ydpi = 0;
    cups_size_t media{};
    std::string mediaKeyword;             // the name the media was found by, for the job
    bool hasDriver = false;               // a queue with a PPD
    DriverRaster driver;                  // what the PPD rasterises at
    bool driverResolutionUnknown = false; // a PPD that sets no resolution
};

// Throws a RuntimeError naming the destination when its resolution or media
// cannot be found.
DestinationSetup lookUpDestinationSetup(cups_dest_t* dest, cups_dinfo_t* info, const std::string& name);

// libcups's last error as text.
std::string lastCupsError();

// "NAME" in quotes, as messages name a queue.
std::string quoted(const std::string& name);

} // namespace raitakone
