#pragma once

// What a driver queue's PPD makes of a job. On a queue with a PPD, CUPS
// rasterises our PDF page for the driver at the HWResolution that the PPD's
// own PostScript sets for the job's options, and that is not always the
// queue's printer-resolution-default: hpcups sets it in OutputMode and has
// no Resolution option at all, and Gutenprint's StpQuality sets it after
// Resolution, so a queue set to 600 dpi is rasterised at 300 in its default
// quality. Read here from the PPD as Ghostscript will apply it.

#include <optional>
#include <string>

namespace raitakone {

struct DriverRaster {
    // The resolution the driver receives; 0 when no option of the PPD sets it.
    int xdpi = 0;
    int ydpi = 0;
    // An option every job must carry so the raster is at the queue's own
    // Resolution (StpQuality=High where Standard would halve it); empty when
    // the defaults already are.
    std::string pinnedOption;
    std::string pinnedChoice;
    // For the printer row: the option and choice that set the resolution
    // when it is not the Resolution option ("OutputMode=Normal").
    std::string mode;
};

// The PPD of the named queue, with its defaults, the job's media and IPP
// print-quality (3 draft .. 5 high; 0 for none) interpreted. A print quality
// picks the driver's own preset for it, which nothing is pinned against.
// nullopt when the queue has no PPD (a driverless or remote queue, which
// takes the job at printer-resolution as it asks).
std::optional<DriverRaster> driverRasterOf(const std::string& queue, const std::string& media, int printQuality = 0);

// The same, from a PPD file.
std::optional<DriverRaster> driverRasterOfPpd(const std::string& ppdFile, const std::string& media,
                                              int printQuality = 0);

} // namespace raitakone
