#include "scanning/Scanner.h"

#include "process/TerminationSignals.h"
#include "grading/FileErrorText.h"
#include "scanning/ScannerOptions.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace raitakone::scanning {
namespace {

constexpr double kMetresPerInch = 0.0254;
constexpr SANE_Int kReadChunk = 64 * 1024;
// After sane_cancel a backend may still hand out what it had buffered; a
// backend that never stops is left, not waited on for ever.
constexpr int kDrainReadsAtMost = 10000;
// Statuses newer backends return that sane.h keeps out of older frontends.
constexpr int kStatusWarmingUp = 12;
constexpr int kStatusHardwareLocked = 13;

// SANE keeps global state in every backend and is not safe to call from two
// threads; every use in the process goes through this lock.
std::mutex& saneLock()
{
    static std::mutex lock;
    return lock;
}

// The cause a status names, in Finnish: SANE's own text is English.
QString statusText(SANE_Status status)
{
    switch (status) {
    case SANE_STATUS_UNSUPPORTED: return QString::fromUtf8("skanneri ei tue toimintoa");
    case SANE_STATUS_INVAL: return QString::fromUtf8("skanneri ei hyväksy asetusta");
    case SANE_STATUS_IO_ERROR: return QString::fromUtf8("tiedonsiirto skanneriin katkesi");
    case SANE_STATUS_NO_MEM: return QString::fromUtf8("muisti loppui");
    case SANE_STATUS_ACCESS_DENIED: return QString::fromUtf8("ei käyttöoikeutta");
    case SANE_STATUS_EOF: return QString::fromUtf8("kuva loppui kesken");
    default: return QString::fromUtf8("SANE-tila %1").arg(int(status));
    }
}

// Backends change the process's signal actions (the test backend's reader
// thread sets SIGTERM back to its default): the program's own are put back
// after every call that may start or end such a thread, and when SANE is left.
struct SignalHandlersKept {
    SignalHandlersKept() = default;
    SignalHandlersKept(const SignalHandlersKept&) = delete;
    SignalHandlersKept& operator=(const SignalHandlersKept&) = delete;
    ~SignalHandlersKept() { restoreTerminationHandlers(); }
};

// sane_init and sane_exit around one operation, so that each one reads the
// configuration as it is then.
class SaneSession {
public:
    SaneSession() : status_(sane_init(nullptr, nullptr)) {}
    ~SaneSession()
    {
        if (status_ == SANE_STATUS_GOOD)
            sane_exit();
    }
    SaneSession(const SaneSession&) = delete;
    SaneSession& operator=(const SaneSession&) = delete;

    bool ok() const { return status_ == SANE_STATUS_GOOD; }
    QString error() const
    {
        return QString::fromUtf8("SANE ei käynnistynyt (%1). Tarkista, että paketti libsane1 on asennettu.")
            .arg(statusText(status_));
    }

private:
    SANE_Status status_;
};

std::vector<ScannerDevice> devicesPresent()
{
    std::vector<ScannerDevice> devices;
    const SANE_Device** list = nullptr;
    if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list)
        return devices;
    for (const SANE_Device** d = list; *d; ++d) {
        const SANE_Device& device = **d;
        devices.push_back({QString::fromUtf8(device.name), QString::fromUtf8("%1 %2 (%3)")
                                                               .arg(QString::fromUtf8(device.vendor),
                                                                    QString::fromUtf8(device.model),
                                                                    QString::fromUtf8(device.type))});
    }
    return devices;
}

Acquisition failure(ScanProblem problem, const QString& message)
{
    Acquisition acquisition;
    acquisition.problem = problem;
    acquisition.error = message;
    return acquisition;
}

// What a status means for the user, and what to do about it.
Acquisition failure(SANE_Status status)
{
    const QString detail = statusText(status);
    switch (int(status)) {
    case SANE_STATUS_DEVICE_BUSY:
        return failure(ScanProblem::Busy, QString::fromUtf8("Skanneri on toisen ohjelman käytössä. Sulje se ohjelma "
                                                            "tai odota, että skannaus päättyy, ja yritä uudelleen."));
    case kStatusWarmingUp:
        return failure(ScanProblem::Busy,
                       QString::fromUtf8("Skannerin lamppu lämpenee. Odota hetki ja yritä uudelleen."));
    case SANE_STATUS_IO_ERROR:
        return failure(ScanProblem::Gone, QString::fromUtf8("Skanneri lakkasi vastaamasta (%1). Tarkista skannerin "
                                                            "kaapeli ja virta ja yritä uudelleen.")
                                              .arg(detail));
    case SANE_STATUS_CANCELLED:
        return failure(ScanProblem::Cancelled, QString::fromUtf8("Skannaus keskeytettiin."));
    case SANE_STATUS_NO_DOCS:
        return failure(ScanProblem::FeederEmpty, QString::fromUtf8("Syöttölaitteessa ei ole paperia. Aseta sivut "
                                                                   "syöttölaitteeseen ja yritä uudelleen."));
    case SANE_STATUS_JAMMED:
        return failure(ScanProblem::Failed, QString::fromUtf8("Paperi on juuttunut skanneriin. Poista juuttunut "
                                                              "paperi ja yritä uudelleen."));
    case SANE_STATUS_COVER_OPEN:
        return failure(ScanProblem::Failed,
                       QString::fromUtf8("Skannerin kansi on auki. Sulje kansi ja yritä uudelleen."));
    case kStatusHardwareLocked:
        return failure(ScanProblem::Failed, QString::fromUtf8("Skannerin kuljetuslukko on kiinni. Avaa lukko "
                                                              "(katso skannerin ohje) ja yritä uudelleen."));
    case SANE_STATUS_ACCESS_DENIED:
        return failure(ScanProblem::Failed,
                       QString::fromUtf8("Skanneriin ei ole käyttöoikeutta. Lisää käyttäjä ryhmään scanner, kirjaudu "
                                         "uudelleen sisään ja yritä uudelleen."));
    case SANE_STATUS_NO_MEM:
        return failure(ScanProblem::Failed,
                       QString::fromUtf8("Muisti loppui skannatessa. Valitse pienempi tarkkuus ja yritä uudelleen."));
    default:
        return failure(ScanProblem::Failed,
                       QString::fromUtf8("Skannaus epäonnistui (%1). Yritä uudelleen; jos vika toistuu, sammuta "
                                         "skanneri hetkeksi.")
                           .arg(detail));
    }
}

// One frame's samples as 8-bit values, one plane per channel it carries.
// In a grey frame of one bit, 1 is black; in colour, 1 is full intensity.
std::vector<std::vector<uint8_t>> samples(const SANE_Parameters& p, const std::vector<uint8_t>& data, int lines)
{
    const int channels = p.format == SANE_FRAME_RGB ? 3 : 1;
    const size_t pixels = size_t(p.pixels_per_line) * size_t(lines);
    std::vector<std::vector<uint8_t>> planes(size_t(channels), std::vector<uint8_t>(pixels, 0));
    for (int y = 0; y < lines; ++y) {
        const uint8_t* line = data.data() + size_t(y) * size_t(p.bytes_per_line);
        for (int x = 0; x < p.pixels_per_line; ++x) {
            for (int c = 0; c < channels; ++c) {
                const size_t sample = size_t(x) * size_t(channels) + size_t(c);
                uint8_t v = 0;
                if (p.depth == 1) {
                    const bool bit = (line[sample / 8] >> (7 - sample % 8)) & 1;
                    v = (p.format == SANE_FRAME_GRAY) == bit ? 0 : 255;
                } else if (p.depth == 16) {
                    uint16_t word = 0;
                    std::memcpy(&word, line + sample * 2, 2); // host byte order
                    v = uint8_t(word >> 8);
                } else {
                    v = line[sample];
                }
                planes[size_t(c)][size_t(y) * size_t(p.pixels_per_line) + size_t(x)] = v;
            }
        }
    }
    return planes;
}

bool readableFrame(const SANE_Parameters& p)
{
    const bool format = p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB || p.format == SANE_FRAME_RED ||
                        p.format == SANE_FRAME_GREEN || p.format == SANE_FRAME_BLUE;
    const int channels = p.format == SANE_FRAME_RGB ? 3 : 1;
    return format && (p.depth == 1 || p.depth == 8 || p.depth == 16) && p.pixels_per_line > 0 &&
           int64_t(p.bytes_per_line) * 8 >= int64_t(p.pixels_per_line) * channels * p.depth;
}

// An open device, closed on every way out; a scan it started is cancelled.
class Device {
public:
    Device(SANE_Handle handle) : handle_(handle) {}
    ~Device()
    {
        sane_cancel(handle_);
        sane_close(handle_);
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    SANE_Handle handle() const { return handle_; }

private:
    SANE_Handle handle_;
};

// Stops a scan under way and lets the backend finish its reads, so that the
// device is ready for the next one.
void stopScan(SANE_Handle handle)
{
    sane_cancel(handle);
    std::vector<uint8_t> sink(size_t(kReadChunk), 0);
    SANE_Int length = 0;
    for (int i = 0; i < kDrainReadsAtMost; ++i)
        if (sane_read(handle, sink.data(), kReadChunk, &length) != SANE_STATUS_GOOD)
            break;
}

// The resolution the device was set to scan at.
struct Resolution {
    double x = 0.0;
    double y = 0.0;
};

// Sets the device up for a grading scan; the resolution it will use, and
// what was set, for the record.
SANE_Status configure(SANE_Handle handle, const ScanRequest& request, Resolution* resolution, QStringList* settings)
{
    Options options(handle);
    if (const SANE_Status status = configureScan(options, request, settings); status != SANE_STATUS_GOOD)
        return status;
    const double dpi = options.number(SANE_NAME_SCAN_RESOLUTION).value_or(request.dpi);
    resolution->x = options.number(SANE_NAME_SCAN_X_RESOLUTION).value_or(dpi);
    resolution->y = options.number(SANE_NAME_SCAN_Y_RESOLUTION).value_or(dpi);
    return SANE_STATUS_GOOD;
}

// Reads one page from the device as set up, its frames to their ends.
Acquisition scanPage(SANE_Handle handle, const QString& name, Resolution resolution, const QStringList& settings,
                     const std::atomic<bool>& cancel, const std::function<void(double)>& progress)
{
    const double dpiX = resolution.x, dpiY = resolution.y;
    QImage image;
    int framesExpected = 1;
    for (int frame = 0;; ++frame) {
        if (cancel)
            return failure(SANE_STATUS_CANCELLED);
        const SANE_Status started = sane_start(handle);
        restoreTerminationHandlers();
        if (started != SANE_STATUS_GOOD)
            return failure(started);
        SANE_Parameters p{};
        if (const SANE_Status status = sane_get_parameters(handle, &p); status != SANE_STATUS_GOOD)
            return failure(status);
        if (!readableFrame(p))
            return failure(ScanProblem::Failed,
                           QString::fromUtf8("Skanneri lähetti kuvan muodossa, jota ohjelma ei osaa lukea (muoto %1, "
                                             "%2 bittiä). Valitse skannerin asetuksista harmaasävy tai väri ja "
                                             "yritä uudelleen.")
                               .arg(int(p.format))
                               .arg(p.depth));
        if (p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN || p.format == SANE_FRAME_BLUE)
            framesExpected = 3;

        const size_t expected = p.lines > 0 ? size_t(p.bytes_per_line) * size_t(p.lines) : 0;
        std::vector<uint8_t> data;
        data.reserve(expected > 0 ? expected : size_t(kReadChunk));
        for (;;) {
            if (cancel) {
                stopScan(handle);
                return failure(SANE_STATUS_CANCELLED);
            }
            // Grown as it comes: a hand scanner does not know its height.
            const size_t used = data.size();
            data.resize(used + size_t(kReadChunk));
            SANE_Int length = 0;
            const SANE_Status status = sane_read(handle, data.data() + used, kReadChunk, &length);
            restoreTerminationHandlers();
            data.resize(used + size_t(std::max<SANE_Int>(length, 0)));
            if (status == SANE_STATUS_EOF)
                break;
            if (status != SANE_STATUS_GOOD) {
                stopScan(handle);
                return failure(status);
            }
            if (progress && expected > 0)
                progress((frame + std::min(1.0, double(data.size()) / double(expected))) / framesExpected);
        }

        const int lines = int(data.size() / size_t(p.bytes_per_line));
        if (lines <= 0)
            return failure(ScanProblem::Failed, QString::fromUtf8("Skanneri ei lähettänyt kuvaa. Tarkista, että sivu "
                                                                  "on skannerissa, ja yritä uudelleen."));
        const std::vector<std::vector<uint8_t>> planes = samples(p, data, lines);
        const bool colour = p.format != SANE_FRAME_GRAY;
        if (image.isNull() || image.width() != p.pixels_per_line || image.height() < lines) {
            QImage grown(p.pixels_per_line, lines, colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
            grown.fill(Qt::black);
            image = grown;
        }
        const int channels = colour ? 3 : 1;
        for (int y = 0; y < lines; ++y) {
            uint8_t* out = image.scanLine(y);
            for (int x = 0; x < p.pixels_per_line; ++x) {
                const size_t at = size_t(y) * size_t(p.pixels_per_line) + size_t(x);
                if (p.format == SANE_FRAME_GRAY)
                    out[x] = planes[0][at];
                else if (p.format == SANE_FRAME_RGB)
                    for (int c = 0; c < 3; ++c)
                        out[x * channels + c] = planes[size_t(c)][at];
                else
                    out[x * channels + (p.format - SANE_FRAME_RED)] = planes[0][at];
            }
        }
        if (p.last_frame)
            break;
    }
    if (progress)
        progress(1.0);

    image.setDotsPerMeterX(int(std::lround(dpiX / kMetresPerInch)));
    image.setDotsPerMeterY(int(std::lround(dpiY / kMetresPerInch)));
    Acquisition acquisition;
    acquisition.scan = grading::Scan{grading::measuredPlane(image), dpiX, dpiY, {}};
    acquisition.scan->encoding.scannerSettings = settings;
    acquisition.image = image;
    acquisition.device = name;
    return acquisition;
}

// Opens the device the request names, or the first one found; a failure
// saying why not, or problem None with *handle and *name set.
Acquisition openDevice(const ScanRequest& request, SANE_Handle* handle, QString* name)
{
    const std::vector<ScannerDevice> devices = devicesPresent();
    const QString noScanner = QString::fromUtf8("Skanneria ei löytynyt. Liitä skanneri ja kytke siihen virta tai "
                                                "tarkista komennolla scanimage -L, että SANE löytää sen.");
    const QString unknown = QString::fromUtf8("Skanneria \"%1\" ei löytynyt. Tarkista nimi komennolla scanimage -L, "
                                              "tai jätä nimi pois, niin käytetään ensimmäistä skanneria.")
                                .arg(request.device);
    *name = request.device;
    if (name->isEmpty()) {
        if (devices.empty())
            return failure(ScanProblem::NoScanner, noScanner);
        *name = devices.front().name;
    }
    const bool listed = std::any_of(devices.begin(), devices.end(), [name](const ScannerDevice& d) {
        return d.name == *name;
    });

    // A name not listed may still open (a network scanner, or a backend's
    // own name alone); one listed that does not open has just gone.
    const SANE_Status opened = sane_open(name->toUtf8().constData(), handle);
    if (opened != SANE_STATUS_GOOD || !*handle) {
        if (!listed && (opened == SANE_STATUS_INVAL || opened == SANE_STATUS_UNSUPPORTED))
            return failure(ScanProblem::NoScanner, unknown);
        if (opened == SANE_STATUS_INVAL)
            return failure(ScanProblem::Gone, QString::fromUtf8("Skanneri %1 ei enää vastaa. Tarkista skannerin "
                                                                "kaapeli ja virta ja yritä uudelleen.")
                                                  .arg(*name));
        return failure(opened);
    }
    return {};
}

} // namespace

std::vector<ScannerDevice> listScanners(QString* error)
{
    const SignalHandlersKept handlers; // last out: after SANE has been left
    const std::lock_guard<std::mutex> lock(saneLock());
    const SaneSession session;
    if (!session.ok()) {
        if (error)
            *error = session.error();
        return {};
    }
    return devicesPresent();
}

Acquisition acquireScan(const ScanRequest& request, const std::atomic<bool>& cancel,
                        const std::function<void(double)>& progress)
{
    const SignalHandlersKept handlers; // last out: after SANE has been left
    const std::lock_guard<std::mutex> lock(saneLock());
    const SaneSession session;
    if (!session.ok())
        return failure(ScanProblem::Failed, session.error());

    SANE_Handle handle = nullptr;
    QString name;
    if (Acquisition failed = openDevice(request, &handle, &name); failed.problem != ScanProblem::None)
        return failed;
    const Device device(handle);
    Resolution resolution;
    QStringList settings;
    if (const SANE_Status status = configure(handle, request, &resolution, &settings); status != SANE_STATUS_GOOD)
        return failure(status);
    return scanPage(handle, name, resolution, settings, cancel, progress);
}

ScanRun acquirePages(const ScanRequest& request, const std::atomic<bool>& cancel,
                     const std::function<void(Acquisition&&)>& onPage, const std::function<bool()>& another,
                     const std::function<void(int page, double fraction)>& progress)
{
    const SignalHandlersKept handlers; // last out: after SANE has been left
    const std::lock_guard<std::mutex> lock(saneLock());
    const SaneSession session;
    ScanRun run;
    const auto ended = [&run](const Acquisition& failed) {
        run.problem = failed.problem;
        run.error = failed.error;
        return run;
    };
    if (!session.ok())
        return ended(failure(ScanProblem::Failed, session.error()));
    SANE_Handle handle = nullptr;
    if (Acquisition failed = openDevice(request, &handle, &run.device); failed.problem != ScanProblem::None)
        return ended(failed);
    const Device device(handle);
    if (request.source != PaperSource::AsSet) {
        Options options(handle);
        if (const SANE_Status status = chooseFeeder(options, &run.feeder); status != SANE_STATUS_GOOD)
            return ended(failure(status));
        if (!run.feeder && request.source == PaperSource::Feeder)
            return ended(failure(ScanProblem::Failed,
                                 QString::fromUtf8("Skannerissa %1 ei ole syöttölaitetta. Skannaa sivut yksitellen "
                                                   "tasolta.")
                                     .arg(run.device)));
    }
    Resolution resolution;
    QStringList settings;
    if (const SANE_Status status = configure(handle, request, &resolution, &settings); status != SANE_STATUS_GOOD)
        return ended(failure(status));
    for (;;) {
        const int page = run.pages + 1;
        Acquisition acquisition = scanPage(handle, run.device, resolution, settings, cancel, [&](double fraction) {
            if (progress)
                progress(page, fraction);
        });
        if (!acquisition.scan) {
            // SANE ends a feeder's batch by finding no paper for the next page.
            if (run.feeder && run.pages > 0 && acquisition.problem == ScanProblem::FeederEmpty)
                return run;
            return ended(acquisition);
        }
        ++run.pages;
        onPage(std::move(acquisition));
        if (!run.feeder && (!another || !another()))
            return run;
    }
}


bool saveScan(const QImage& image, const QString& path, QString* error)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QString::fromUtf8("Skannausta ei voitu tallentaa tiedostoon %1: %2. Tarkista, että kansio on "
                                       "olemassa ja siihen saa kirjoittaa ja että levyllä on tilaa.")
                         .arg(path, why);
        return false;
    };
    if (image.isNull())
        return fail(QString::fromUtf8("kuva puuttuu"));
    // Written beside the target and renamed over it only when whole;
    // unbuffered, so that a write the disk refuses is seen by the save file
    // itself and not lost in a flush that commit would not notice.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(writeFailureReason(path, file.error()));
    if (!image.save(&file, "PNG") || file.error() != QFileDevice::NoError) {
        const QFileDevice::FileError error = file.error() != QFileDevice::NoError ? file.error() : QFileDevice::WriteError;
        file.cancelWriting();
        return fail(writeFailureReason(path, error));
    }
    if (!file.commit())
        return fail(writeFailureReason(path, file.error()));
    return true;
}

} // namespace raitakone::scanning
