#include "printing/CupsPrinter.h"

#include "printing/CupsMedia.h"
#include "printing/DestinationSetup.h"
#include "printing/DriverRaster.h"
#include "printing/PageEncoders.h"
#include "surface/RuntimeError.h"

#include <cups/cups.h>
#include <cups/raster.h>

#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace raitakone {
namespace {

// Whether the scheduler answers. libcups reports a destination it could
// not ask for as one that does not exist, so a missing printer is only
// believed once the scheduler is known to be there.
bool schedulerAnswers()
{
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 5000, nullptr);
    if (!http)
        return false;
    httpClose(http);
    return true;
}

bool schedulerUnreachable()
{
    return cupsLastError() == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || !schedulerAnswers();
}

[[noreturn]] void throwSchedulerDown(const std::optional<std::string>& destination = std::nullopt)
{
    const std::string what = destination ? "Tulostinta " + quoted(*destination) + " ei voi käyttää: t" : "T";
    const char* server = cupsServer();
    throw RuntimeError(what + "ulostuspalvelu CUPS ei ole käynnissä (" + (server ? server : "") + " ei vastaa). "
                       + "Käynnistä se (systemctl start cups) ja yritä uudelleen, tai tulosta sivut tiedostoiksi: "
                         "valitse Vaihda tulostin… -painikkeella sivutiedostot (komentoriviltä --printer file:KANSIO).");
}

// Options of one job, freed with the job.
class Options {
public:
    ~Options() { cupsFreeOptions(count_, options_); }
    void add(const char* name, const std::string& value) { count_ = cupsAddOption(name, value.c_str(), count_, &options_); }
    int count() const { return count_; }
    cups_option_t* data() const { return options_; }

private:
    int count_ = 0;
    cups_option_t* options_ = nullptr;
};

ssize_t writeToRequest(void* context, unsigned char* buffer, size_t length)
{
    auto* http = static_cast<http_t*>(context);
    if (cupsWriteRequestData(http, reinterpret_cast<const char*>(buffer), length) != HTTP_STATUS_CONTINUE)
        return -1;
    return ssize_t(length);
}

// The queue's state as the scheduler tells it now, for the notice: state,
// reasons and the message that says why (the destination list lacks it).
std::string stoppedQueueNotice(const std::string& name, int jobId)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     name.c_str());
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    static const char* const wanted[] = {"printer-state", "printer-state-reasons", "printer-state-message"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (!response)
        return {};
    int state = 0;
    std::string reasons, message;
    if (ipp_attribute_t* a = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM))
        state = ippGetInteger(a, 0);
    if (ipp_attribute_t* a = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD))
        for (int i = 0; i < ippGetCount(a); ++i)
            reasons += (i ? "," : "") + std::string(ippGetString(a, i, nullptr));
    if (ipp_attribute_t* a = ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT))
        message = ippGetString(a, 0, nullptr);
    ippDelete(response);
    return heldJobNotice(name, jobId, state, reasons, message);
}

} // namespace

int ippPrintQuality(int16_t printQuality)
{
    switch (printQuality) {
    case -1:
    case -2:
        return IPP_QUALITY_DRAFT;
    case -3:
        return IPP_QUALITY_NORMAL;
    case -4:
        return IPP_QUALITY_HIGH;
    default:
        return 0;
    }
}

std::string heldJobNotice(const std::string& queue, int jobId, int printerState, const std::string& reasons,
                          const std::string& message)
{
    // Reasons are keywords separated by commas; "-error" ones stop the printer.
    bool paused = false, error = false;
    for (size_t at = 0; at <= reasons.size();) {
        const size_t end = std::min(reasons.find(',', at), reasons.size());
        const std::string reason = reasons.substr(at, end - at);
        paused = paused || reason == "paused" || reason == "moving-to-paused";
        error = error || reason.ends_with("-error");
        at = end + 1;
    }
    if (printerState != IPP_PSTATE_STOPPED && !paused && !error)
        return {};
    std::string notice = "Työ " + std::to_string(jobId) + " odottaa jonossa " + quoted(queue) + ", mutta "
        + (error ? "tulostin ilmoittaa virheestä" : "jono on pysäytetty") + " eikä mitään tulostu";
    if (!message.empty())
        notice += " (" + message + ")";
    else if (!reasons.empty() && reasons != "none")
        notice += " (" + reasons + ")";
    notice += std::string(error ? ". Korjaa vika ja k" : ". K") + "äynnistä jono uudelleen komennolla cupsenable "
        + queue + "; työ tulostuu silloin.";
    return notice;
}

struct CupsPrinter::Destination : DestinationSetup {
    ~Destination()
    {
        if (info)
            cupsFreeDestInfo(info);
        if (dest)
            cupsFreeDests(1, dest);
    }

    cups_dest_t* dest = nullptr;
    cups_dinfo_t* info = nullptr;
    std::string name;

    bool supports(const char* option, const std::string& value) const
    {
        return cupsCheckDestSupported(CUPS_HTTP_DEFAULT, dest, info, option, value.c_str()) != 0;
    }
    ipp_attribute_t* supported(const char* option) const
    {
        return cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest, info, option);
    }
    std::string resolutionText() const
    {
        return xdpi == ydpi ? std::to_string(xdpi) + "dpi" : std::to_string(xdpi) + "x" + std::to_string(ydpi) + "dpi";
    }
};

CupsPrinter::CupsPrinter(std::optional<std::string> destinationName)
    : destination_(std::make_unique<Destination>())
{
    Destination& d = *destination_;
    d.dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, destinationName ? destinationName->c_str() : nullptr, nullptr);
    if (!d.dest) {
        if (schedulerUnreachable())
            throwSchedulerDown(destinationName);
        if (destinationName)
            throw RuntimeError("Tulostinta " + quoted(*destinationName)
                               + " ei löydy. Tarkista nimi (lpstat -p luettelee asennetut tulostimet).");
        throw RuntimeError("Oletustulostinta ei ole asennettu. Asenna tulostin tai valitse oletustulostin "
                           "(lpadmin -d NIMI).");
    }
    d.name = d.dest->name;

    d.info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, d.dest);
    if (!d.info) {
        if (schedulerUnreachable())
            throwSchedulerDown(d.name);
        throw RuntimeError("Tulostimen " + quoted(d.name) + " tietoja ei saatu: " + lastCupsError());
    }

    static_cast<DestinationSetup&>(d) = lookUpDestinationSetup(d.dest, d.info, d.name);

    const MediaSize media{d.media.width, d.media.length, d.media.left, d.media.top, d.media.right, d.media.bottom};
    geometry_ = pageGeometryForMedia(media, d.xdpi, d.ydpi);
    geometry_.driverMayClip = d.hasDriver;
    geometry_.paper = {commonMediaName(d.mediaKeyword.empty() ? d.media.media : d.mediaKeyword),
                       d.media.width / 100.0, d.media.length / 100.0};
    if (geometry_.printable.empty())
        throw RuntimeError("Tulostimen " + quoted(d.name) + " paperilla " + d.media.media + " ei ole tulostusaluetta.");
}

CupsPrinter::~CupsPrinter() = default;

std::string CupsPrinter::mediaText() const
{
    const Destination& d = *destination_;
    return mediaDescription(d.mediaKeyword.empty() ? d.media.media : d.mediaKeyword, d.media.width, d.media.length);
}

// What a print quality does to the driver's raster, when it is not the
// resolution the page was drawn at; empty otherwise.
static std::string printQualityNotice(const std::string& queue, const std::string& media, int quality, int xdpi,
                                      int ydpi)
{
    const std::optional<DriverRaster> raster = driverRasterOf(queue, media, quality);
    if (!raster || raster->xdpi <= 0 || (raster->xdpi == xdpi && raster->ydpi == ydpi))
        return {};
    const char* name = quality == IPP_QUALITY_DRAFT ? "luonnos" : quality == IPP_QUALITY_HIGH ? "paras" : "normaali";
    return std::string("Tulostuslaadulla ") + name + " tulostimen ajuri rasteroi sivun " + std::to_string(raster->xdpi)
        + " dpi:n tarkkuudella (" + raster->mode + "), mutta sivu piirrettiin " + std::to_string(xdpi)
        + " dpi:lle: palkit eivät osu kokonaisiin tulostimen pisteisiin.";
}

std::string CupsPrinter::driverText() const
{
    const Destination& d = *destination_;
    if (d.driverResolutionUnknown)
        return "ajuri ei kerro tarkkuuttaan, oletetaan " + std::to_string(d.xdpi) + " dpi";
    if (!d.driver.pinnedOption.empty())
        return "ajurille " + d.driver.pinnedOption + "=" + d.driver.pinnedChoice;
    return d.driver.mode.empty() ? std::string() : "ajurin tila " + d.driver.mode;
}

std::vector<CupsDestinationSummary> listCupsDestinations()
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    if (count == 0 && schedulerUnreachable())
        throwSchedulerDown();

    std::vector<CupsDestinationSummary> list;
    for (int i = 0; i < count; ++i) {
        const cups_dest_t& dest = dests[i];
        if (dest.instance)
            continue; // an instance is the same queue with other options
        CupsDestinationSummary summary;
        summary.name = dest.name;
        summary.isDefault = dest.is_default != 0;
        const char* state = cupsGetOption("printer-state", dest.num_options, dest.options);
        const char* accepting = cupsGetOption("printer-is-accepting-jobs", dest.num_options, dest.options);
        if (accepting && std::strcmp(accepting, "false") == 0)
            summary.state = "ei ota töitä vastaan";
        else if (state && std::strcmp(state, "5") == 0)
            summary.state = "pysäytetty";
        else if (state && std::strcmp(state, "4") == 0)
            summary.state = "tulostaa";
        else
            summary.state = "valmis";
        try {
            CupsPrinter printer(summary.name);
            const PageGeometry g = printer.geometry();
            const CupsPrinter::Destination& d = *printer.destination_;
            summary.dpiX = g.dpiX;
            summary.dpiY = g.dpiY;
            const std::string driver = printer.driverText();
            summary.details = (driver.empty() ? "" : driver + " · ") + printer.mediaText() + ", tulostusalue "
                + mediaMillimetres(d.media.width - d.media.left - d.media.right) + " × "
                + mediaMillimetres(d.media.length - d.media.top - d.media.bottom) + " mm";
        } catch (const RuntimeError& error) {
            summary.details = error.what();
        }
        list.push_back(std::move(summary));
    }
    cupsFreeDests(count, dests);
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return a.isDefault && !b.isDefault; });
    return list;
}

const std::string& CupsPrinter::destinationName() const { return destination_->name; }

PageGeometry CupsPrinter::geometry() { return geometry_; }

void CupsPrinter::checkPrintQuality(int16_t quality)
{
    if (ippPrintQuality(quality) == 0)
        throw RuntimeError("Tulostin ei hyväksy arvoa " + std::to_string(quality)
                           + " ominaisuudelle PrintQuality (sallitut -1, -2, -3 ja -4).");
}

Delivery CupsPrinter::deliver(const PageRaster& page, const JobSettings& job)
{
    Destination& d = *destination_;

    // Everything that could make a filter scale or resample the page is
    // pinned: the sheet we drew on, the resolution we drew at, no scaling.
    // The queue's own lpoptions defaults are not applied by the destinations
    // API, so the media is named explicitly to match the geometry.
    Options options;
    const std::string media = d.mediaKeyword.empty() ? std::string(d.media.media) : d.mediaKeyword;
    if (!media.empty() && d.supports("media", media))
        options.add("media", media);
    if (d.supports("printer-resolution", d.resolutionText()))
        options.add("printer-resolution", d.resolutionText());
    if (d.supports("print-scaling", "none"))
        options.add("print-scaling", "none");
    // Unscaled, the PDF filter (pdftopdf) centres a page that differs from
    // the paper, and crops one that is larger; either moves every pixel by a
    // fraction and a renderer smears each edge over two pixels. Our page is
    // the paper's width and its height in whole points (0.11 pt more than A4's
    // 841.89, 0.2 pt less than a 100 x 150 mm label's): laid down by its
    // bottom-left corner, where the rasteriser anchors it, the filter only
    // trims or pads at the top, above the raster's first row.
    options.add("position", "bottom-left");
    if ((page.isBilevel() || job.colorMode == 1) && d.supports("print-color-mode", "monochrome"))
        options.add("print-color-mode", "monochrome");
    // A printer with fewer qualities prints every page at the one it has;
    // asking for one it lacks can make an IPP printer refuse the whole job.
    // The driver's own quality option is otherwise set so it rasterises at
    // the resolution we drew at; a page that asks for a print quality keeps
    // what that means to the driver, and hears when that is another resolution.
    std::string qualityNotice;
    if (const int quality = ippPrintQuality(job.printQuality);
        quality != 0 && d.supports("print-quality", std::to_string(quality))) {
        options.add("print-quality", std::to_string(quality));
        if (!d.driver.mode.empty() || !d.driver.pinnedOption.empty())
            qualityNotice = printQualityNotice(d.name, d.mediaKeyword, quality, d.xdpi, d.ydpi);
    } else if (!d.driver.pinnedOption.empty())
        options.add(d.driver.pinnedOption.c_str(), d.driver.pinnedChoice);

    // PWG raster, where the queue takes it at our resolution; anything else
    // would be scaled on the way. A driverless (IPP Everywhere) printer gets
    // it as it stands; a driver queue has CUPS turn it into PDF and raster it
    // again for the driver, which keeps it pixel for pixel.
    bool sendRaster = false;
    std::string rasterType;
    if (d.supports("document-format", "image/pwg-raster")) {
        if (ipp_attribute_t* res = d.supported("pwg-raster-document-resolution")) {
            for (int i = 0; i < ippGetCount(res); ++i) {
                int y = 0;
                ipp_res_t units = IPP_RES_PER_INCH;
                const int x = ippGetResolution(res, i, &y, &units);
                if (units == IPP_RES_PER_INCH && x == d.xdpi && y == d.ydpi)
                    sendRaster = true;
            }
        }
        // A bilevel page keeps one bit a pixel where the printer takes that.
        const std::vector<const char*> wanted = page.isBilevel()
            ? std::vector<const char*>{"black_1", "sgray_1", "sgray_8", "srgb_8"}
            : std::vector<const char*>{"srgb_8"};
        rasterType.clear();
        for (const char* type : wanted) {
            if (d.supports("pwg-raster-document-type", type)) {
                rasterType = type;
                break;
            }
        }
        if (rasterType.empty())
            sendRaster = false;
    }

    QByteArray pdf;
    if (!sendRaster)
        pdf = encodePdf(page, geometry_);

    const std::string title = job.title.empty() ? std::string("Raitakone") : job.title;
    int jobId = 0;
    const ipp_status_t created = cupsCreateDestJob(CUPS_HTTP_DEFAULT, d.dest, d.info, &jobId, title.c_str(),
                                                   options.count(), options.data());
    if (created >= IPP_STATUS_REDIRECTION_OTHER_SITE || jobId <= 0) {
        if (schedulerUnreachable())
            throwSchedulerDown(d.name);
        if (cupsLastError() == IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS)
            throw RuntimeError("Tulostin " + quoted(d.name) + " ei ota nyt töitä vastaan (" + lastCupsError()
                               + "), joten sivua ei tulostettu. Salli työt komennolla cupsaccept " + d.name
                               + " ja yritä uudelleen.");
        throw RuntimeError("Tulostin " + quoted(d.name) + " ei ottanut työtä vastaan: " + lastCupsError());
    }

    auto fail = [&](const std::string& what) {
        const std::string reason = lastCupsError();
        cupsCancelDestJob(CUPS_HTTP_DEFAULT, d.dest, jobId);
        throw RuntimeError("Sivun lähetys tulostimelle " + quoted(d.name) + " epäonnistui (" + what + "): " + reason
                           + ". Työ peruttiin.");
    };

    const char* format = sendRaster ? "image/pwg-raster" : CUPS_FORMAT_PDF;
    if (cupsStartDestDocument(CUPS_HTTP_DEFAULT, d.dest, d.info, jobId, title.c_str(), format, 0, nullptr, 1)
        != HTTP_STATUS_CONTINUE)
        fail("asiakirjan aloitus");

    if (sendRaster) {
        // The sheet exactly as the queue reported it: a standard size from the
        // PWG table can differ from the printer's own by a fraction of a mm.
        pwg_media_t sheet{};
        if (const pwg_media_t* known = pwgMediaForPWG(media.c_str()))
            sheet = *known;
        sheet.width = d.media.width;
        sheet.length = d.media.length;
        cups_page_header2_t header;
        if (!cupsRasterInitPWGHeader(&header, &sheet, rasterType.c_str(), d.xdpi, d.ydpi, "one-sided", nullptr))
            fail("rasterin otsake");
        // libcups truncates the sheet to whole pixels (A4 is 1753.9 rows at
        // 150 dpi, so 1753); the raster is the page we drew, rounded as the
        // geometry rounds it, so no row or column of it is dropped.
        header.cupsWidth = unsigned(geometry_.sheetWidth);
        header.cupsHeight = unsigned(geometry_.sheetHeight);
        header.cupsBytesPerLine = (header.cupsWidth * header.cupsBitsPerPixel + 7) / 8;
        cups_raster_t* raster = cupsRasterOpenIO(writeToRequest, nullptr, CUPS_RASTER_WRITE_PWG);
        if (!raster)
            fail("rasterin avaus");
        bool written = cupsRasterWriteHeader2(raster, &header) != 0;

        // The full sheet, line by line; the page raster is the same sheet at
        // the same resolution, anything beyond it is white paper.
        const QImage& image = page.image();
        QImage source;
        if (rasterType == "sgray_8")
            source = image.convertToFormat(QImage::Format_Grayscale8);
        else if (rasterType == "srgb_8")
            source = image.convertToFormat(QImage::Format_RGB888);
        else
            source = image; // bilevel: Format_Mono, bit 1 = black
        const bool oneBit = rasterType == "black_1" || rasterType == "sgray_1";
        const bool invertBits = rasterType == "sgray_1"; // sgray_1 counts white, not black
        const unsigned bytesPerLine = header.cupsBytesPerLine;
        const unsigned copyBytes = std::min<unsigned>(bytesPerLine, unsigned(source.bytesPerLine()));
        std::vector<unsigned char> line(bytesPerLine);
        for (unsigned y = 0; written && y < header.cupsHeight; ++y) {
            // One-bit lines are built as black bits (0 = paper), eight-bit
            // ones as grey or RGB levels (0xFF = paper).
            std::fill(line.begin(), line.end(), oneBit ? 0x00 : 0xFF);
            if (int(y) < source.height()) {
                std::memcpy(line.data(), source.constScanLine(int(y)), copyBytes);
                // The bits past the page's last column are padding, not ink.
                if (oneBit)
                    for (unsigned x = unsigned(source.width()); x < copyBytes * 8; ++x)
                        line[x / 8] &= uchar(~(0x80u >> (x % 8)));
            }
            if (invertBits)
                for (unsigned char& byte : line)
                    byte = uchar(~byte);
            written = cupsRasterWritePixels(raster, line.data(), bytesPerLine) == bytesPerLine;
        }
        cupsRasterClose(raster);
        if (!written)
            fail("rasterin kirjoitus");
    } else {
        constexpr qsizetype chunk = 64 * 1024;
        for (qsizetype at = 0; at < pdf.size(); at += chunk) {
            const size_t length = size_t(std::min(chunk, pdf.size() - at));
            if (cupsWriteRequestData(CUPS_HTTP_DEFAULT, pdf.constData() + at, length) != HTTP_STATUS_CONTINUE)
                fail("PDF:n kirjoitus");
        }
    }

    if (cupsFinishDestDocument(CUPS_HTTP_DEFAULT, d.dest, d.info) >= IPP_STATUS_REDIRECTION_OTHER_SITE)
        fail("asiakirjan lopetus");
    Delivery delivery{d.name, jobId, {}, stoppedQueueNotice(d.name, jobId)};
    delivery.held = !delivery.notice.empty();
    if (!qualityNotice.empty())
        delivery.notice += std::string(delivery.notice.empty() ? "" : " ") + qualityNotice;
    if (d.driverResolutionUnknown)
        delivery.notice += std::string(delivery.notice.empty() ? "" : " ") + "Tulostimen " + quoted(d.name)
            + " ajuri (PPD) ei kerro, millä tarkkuudella se rasteroi sivun; sivu piirrettiin jonon ilmoittamalla "
            + std::to_string(d.xdpi) + " dpi:n tarkkuudella. Jos palkit tulostuvat epätasaisina, valitse jonolle "
              "tarkkuus (lpoptions -p " + d.name + " -l).";
    return delivery;
}

} // namespace raitakone
