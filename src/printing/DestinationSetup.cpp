#include "printing/DestinationSetup.h"

#include "surface/RuntimeError.h"

#include <cmath>
#include <cstdlib>

namespace raitakone {

std::string lastCupsError()
{
    const char* text = cupsLastErrorString();
    std::string reason = text && *text ? text : ippErrorString(cupsLastError());
    return reason;
}

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

DestinationSetup lookUpDestinationSetup(cups_dest_t* dest, cups_dinfo_t* info, const std::string& name)
{
    DestinationSetup setup;
    // The resolution the queue prints at when a job names none. A queue that
    // names no default (a raw queue, some network printers) still lists the
    // resolutions it takes; any of those will do, because every job asks for
    // the one we drew at with printer-resolution, so the page still leaves at
    // the resolution it was drawn at.
    ipp_attribute_t* resolution = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, "printer-resolution");
    if (!resolution || ippGetValueTag(resolution) != IPP_TAG_RESOLUTION)
        resolution = cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest, info, "printer-resolution");
    if (!resolution || ippGetValueTag(resolution) != IPP_TAG_RESOLUTION)
        throw RuntimeError("Tulostin " + quoted(name)
                           + " ei kerro tarkkuuttaan (printer-resolution-default puuttuu), joten pikselin "
                             "kokoa ei tiedetä.");
    ipp_res_t units = IPP_RES_PER_INCH;
    int yres = 0;
    const int xres = ippGetResolution(resolution, 0, &yres, &units);
    const double perInch = units == IPP_RES_PER_CM ? 2.54 : 1.0;
    setup.xdpi = int(std::lround(xres * perInch));
    setup.ydpi = int(std::lround(yres * perInch));
    if (setup.xdpi <= 0 || setup.ydpi <= 0)
        throw RuntimeError("Tulostimen " + quoted(name) + " tarkkuus " + std::to_string(xres) + "x"
                           + std::to_string(yres) + " ei kelpaa.");

    // The default media: the user's own default for this destination
    // (lpoptions), else the printer's media-default, looked up by name for
    // its size and margins. cupsGetDestMediaDefault alone is not enough: the
    // libcups of Debian 12 answers US Letter for a queue whose media-default
    // is A4 when the user has no media option of their own.
    const char* mediaName = cupsGetOption("media", dest->num_options, dest->options);
    if (!mediaName) {
        if (ipp_attribute_t* a = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, "media"))
            mediaName = ippGetString(a, 0, nullptr);
    }
    // libcups 2.4 answers a custom_… size with another custom size on the
    // first lookup in a process, before it has built its list of the
    // printer's sizes, and rightly on the next: the size a self-describing
    // name states decides whether to look again.
    const auto lookUp = [&] {
        return cupsGetDestMediaByName(CUPS_HTTP_DEFAULT, dest, info, mediaName, CUPS_MEDIA_FLAGS_DEFAULT, &setup.media);
    };
    bool haveMedia = mediaName && lookUp();
    if (haveMedia)
        if (const pwg_media_t* stated = pwgMediaForPWG(mediaName);
            stated && (std::abs(stated->width - setup.media.width) > 1 || std::abs(stated->length - setup.media.length) > 1))
            haveMedia = lookUp();
    if (haveMedia)
        setup.mediaKeyword = mediaName;
    else
        haveMedia = cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest, info, CUPS_MEDIA_FLAGS_DEFAULT, &setup.media);
    if (!haveMedia || setup.media.width <= 0 || setup.media.length <= 0)
        throw RuntimeError("Tulostimen " + quoted(name) + " oletuspaperia ei saatu selville: " + lastCupsError());

    // A driver queue rasterises at what its PPD sets for the job, which can
    // differ from printer-resolution-default; a PPD that sets nothing leaves
    // the default unconfirmed, and the printer row says so.
    if (std::optional<DriverRaster> driver = driverRasterOf(name, setup.mediaKeyword)) {
        setup.hasDriver = true;
        setup.driver = std::move(*driver);
        setup.driverResolutionUnknown = setup.driver.xdpi <= 0;
        if (!setup.driverResolutionUnknown) {
            setup.xdpi = setup.driver.xdpi;
            setup.ydpi = setup.driver.ydpi;
        }
    }
    return setup;
}

} // namespace raitakone
