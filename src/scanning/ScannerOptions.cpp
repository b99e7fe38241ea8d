#include "scanning/ScannerOptions.h"

namespace raitakone::scanning {
namespace {

// Grey preferred; colour, read through its red channel, when grey is not
// offered or colour is asked for.
bool isGreyMode(const QString& mode)
{
    return mode.contains(QLatin1String("gray"), Qt::CaseInsensitive) ||
           mode.contains(QLatin1String("grey"), Qt::CaseInsensitive);
}
bool isColourMode(const QString& mode)
{
    return mode.contains(QLatin1String("color"), Qt::CaseInsensitive) ||
           mode.contains(QLatin1String("colour"), Qt::CaseInsensitive);
}

} // namespace

bool isFeederSource(const QString& source)
{
    return source.contains(QLatin1String("feeder"), Qt::CaseInsensitive) ||
           source.contains(QLatin1String("ADF"), Qt::CaseSensitive);
}

SANE_Status chooseFeeder(Options& options, bool* present)
{
    return options.setString(SANE_NAME_SCAN_SOURCE, isFeederSource, present);
}

SANE_Status configureScan(Options& options, const ScanRequest& request, QStringList* applied)
{
    bool set = false;
    SANE_Status status = SANE_STATUS_GOOD;
    if (!request.colour)
        status = options.setString(SANE_NAME_SCAN_MODE, isGreyMode, &set);
    if (status == SANE_STATUS_GOOD && !set)
        status = options.setString(SANE_NAME_SCAN_MODE, isColourMode, &set);
    if (status == SANE_STATUS_GOOD)
        status = options.setNumber(SANE_NAME_BIT_DEPTH, 8);
    for (const char* name : {SANE_NAME_SCAN_RESOLUTION, SANE_NAME_SCAN_X_RESOLUTION, SANE_NAME_SCAN_Y_RESOLUTION})
        if (status == SANE_STATUS_GOOD)
            status = options.setNumber(name, request.dpi);
    for (const char* name : {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y})
        if (status == SANE_STATUS_GOOD)
            status = options.setExtreme(name, false);
    for (const char* name : {SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y})
        if (status == SANE_STATUS_GOOD)
            status = options.setExtreme(name, true);
    // Options whose automatic or custom setting would make one scan's values
    // differ from the next one's, as backends name them; set last, since a
    // mode or a depth may make them active or inactive.
    for (const char* name : {SANE_NAME_CUSTOM_GAMMA, "auto-level", "auto-levels", "auto-exposure",
                             "auto-brightness", "auto-contrast"}) {
        bool off = false;
        if (status == SANE_STATUS_GOOD)
            status = options.setBool(name, false, &off);
        if (off && applied)
            *applied << QStringLiteral("%1=no").arg(QString::fromLatin1(name));
    }
    if (applied) {
        // What the device holds now: setting one option may move another.
        if (const std::optional<QString> mode = options.text(SANE_NAME_SCAN_MODE))
            *applied << QStringLiteral("%1=%2").arg(QString::fromLatin1(SANE_NAME_SCAN_MODE), *mode);
        for (const char* name : {SANE_NAME_BIT_DEPTH, SANE_NAME_SCAN_RESOLUTION})
            if (const std::optional<double> value = options.number(name))
                *applied << QStringLiteral("%1=%2").arg(QString::fromLatin1(name)).arg(*value);
    }
    return status;
}

} // namespace raitakone::scanning
