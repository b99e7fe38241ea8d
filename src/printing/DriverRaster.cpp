#include "printing/DriverRaster.h"

// The PPD API is deprecated in libcups but is the only one that reads what a
// driver queue's PPD does; the filters of Debian 12 use it themselves.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include <charconv>
#include <cstring>
#include <utility>

#include <unistd.h>

namespace raitakone {
namespace {

using Resolution = std::pair<int, int>;

class OpenPpd {
public:
    explicit OpenPpd(const std::string& file) : ppd_(ppdOpenFile(file.c_str())) {}
    ~OpenPpd()
    {
        if (ppd_)
            ppdClose(ppd_);
    }
    OpenPpd(const OpenPpd&) = delete;
    OpenPpd& operator=(const OpenPpd&) = delete;
    ppd_file_t* get() const { return ppd_; }

private:
    ppd_file_t* ppd_;
};

// The resolution a choice's PostScript sets: "<</HWResolution[600 600]…".
std::optional<Resolution> resolutionSetBy(const ppd_choice_t* choice)
{
    const char* code = choice ? choice->code : nullptr;
    const char* at = code ? std::strstr(code, "HWResolution") : nullptr;
    if (!at)
        return std::nullopt;
    at += std::strlen("HWResolution");
    const char* end = at + std::strlen(at);
    while (at < end && (*at == ' ' || *at == '['))
        ++at;
    double x = 0, y = 0;
    auto first = std::from_chars(at, end, x);
    if (first.ec != std::errc())
        return std::nullopt;
    at = first.ptr;
    while (at < end && *at == ' ')
        ++at;
    if (std::from_chars(at, end, y).ec != std::errc())
        return std::nullopt;
    return Resolution{int(x + 0.5), int(y + 0.5)};
}

// HWResolution as cupsRasterInterpretPPD runs the marked choices' code in
// the PPD's order, which is what cups-filters' rasterisers do for the driver.
Resolution interpreted(ppd_file_t* ppd)
{
    cups_page_header2_t header{};
    if (cupsRasterInterpretPPD(&header, ppd, 0, nullptr, nullptr) < 0)
        return {0, 0};
    return {int(header.HWResolution[0]), int(header.HWResolution[1])};
}

bool placesThePage(const char* keyword)
{
    return !std::strcmp(keyword, "Resolution") || !std::strcmp(keyword, "PageSize")
        || !std::strcmp(keyword, "PageRegion");
}

} // namespace

std::optional<DriverRaster> driverRasterOfPpd(const std::string& ppdFile, const std::string& media, int printQuality)
{
    OpenPpd open(ppdFile);
    ppd_file_t* ppd = open.get();
    if (!ppd)
        return std::nullopt;
    ppdMarkDefaults(ppd);
    const std::string quality = std::to_string(printQuality);
    if (!media.empty()) {
        cups_option_t option{const_cast<char*>("media"), const_cast<char*>(media.c_str())};
        cupsMarkOptions(ppd, 1, &option);
    }
    if (printQuality != 0) {
        cups_option_t option{const_cast<char*>("print-quality"), const_cast<char*>(quality.c_str())};
        cupsMarkOptions(ppd, 1, &option);
    }

    DriverRaster raster;
    bool setsResolution = false;
    for (ppd_option_t* option = ppdFirstOption(ppd); option; option = ppdNextOption(ppd))
        setsResolution = setsResolution || resolutionSetBy(ppdFindMarkedChoice(ppd, option->keyword)).has_value();
    if (!setsResolution)
        return raster;

    Resolution effective = interpreted(ppd);
    // The queue's Resolution, where another option sets the resolution after
    // it: pin that option to the choice that sets the same resolution.
    const std::optional<Resolution> asked = resolutionSetBy(ppdFindMarkedChoice(ppd, "Resolution"));
    if (asked && effective != *asked && printQuality == 0) {
        for (ppd_option_t* option = ppdFirstOption(ppd); option && effective != *asked; option = ppdNextOption(ppd)) {
            ppd_choice_t* marked = ppdFindMarkedChoice(ppd, option->keyword);
            if (placesThePage(option->keyword) || !resolutionSetBy(marked))
                continue;
            const std::string before = marked->choice;
            for (int i = 0; i < option->num_choices; ++i) {
                if (resolutionSetBy(&option->choices[i]) != asked)
                    continue;
                ppdMarkOption(ppd, option->keyword, option->choices[i].choice);
                effective = interpreted(ppd);
                if (effective == *asked) {
                    raster.pinnedOption = option->keyword;
                    raster.pinnedChoice = option->choices[i].choice;
                    break;
                }
                ppdMarkOption(ppd, option->keyword, before.c_str());
                effective = interpreted(ppd);
            }
        }
    }
    raster.xdpi = effective.first;
    raster.ydpi = effective.second;

    for (ppd_option_t* option = ppdFirstOption(ppd); option; option = ppdNextOption(ppd)) {
        const ppd_choice_t* marked = ppdFindMarkedChoice(ppd, option->keyword);
        if (!placesThePage(option->keyword) && resolutionSetBy(marked) == effective) {
            raster.mode = std::string(option->keyword) + "=" + marked->choice;
            break;
        }
    }
    return raster;
}

std::optional<DriverRaster> driverRasterOf(const std::string& queue, const std::string& media, int printQuality)
{
    char file[1024] = "";
    time_t modified = 0;
    if (cupsGetPPD3(CUPS_HTTP_DEFAULT, queue.c_str(), &modified, file, sizeof file) != HTTP_STATUS_OK)
        return std::nullopt;
    std::optional<DriverRaster> raster = driverRasterOfPpd(file, media, printQuality);
    ::unlink(file);
    return raster;
}

} // namespace raitakone
