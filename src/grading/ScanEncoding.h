#pragma once

// What a scan file says about its own pixel values, and the table that turns
// each 8-bit value of the measured plane into linear reflectance in per cent.
// A PNG may state sRGB, a gamma (gAMA) or an ICC profile (iCCP); a TIFF or a
// JPEG an ICC profile. A PDF image's ICCBased colour space is applied by
// poppler's colour map, whose values arrive as sRGB. A file that states
// nothing is read as sRGB.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace raitakone::grading {

using ReflectanceTable = std::array<float, 256>;

// Where the reflectance of a scan's values came from.
enum class ReflectanceSource { Srgb, Icc, Calibration, Linear };
const char* reflectanceSourceName(ReflectanceSource source); // "srgb", "icc", "calibration", "linear"

// What a decoder found in the file, before it is turned into a table.
struct StatedEncoding {
    QByteArray iccProfile;        // an embedded ICC profile, as stored
    std::optional<double> gamma;  // a PNG's gAMA: encoded = linear ^ gamma
    bool srgb = false;            // a PNG's sRGB chunk
};

struct ScanEncoding {
    ReflectanceSource source = ReflectanceSource::Srgb;
    QString description; // in Finnish, for the report: "PNG:n gAMA 0,556", the profile's own name
    ReflectanceTable table = srgbTable();
    QStringList scannerSettings; // "name=value" of what the program set on the SANE scanner that made it

    static ReflectanceTable srgbTable();
    static ReflectanceTable linearTable();
};

// The table for what the file states: an ICC profile first (the grey TRC of
// a grey profile, the red channel of a colour one), then sRGB, then a gamma,
// else sRGB. A profile LittleCMS cannot read is taken as no statement, with
// a note in the description.
ScanEncoding encodingFromFile(const StatedEncoding& stated);

} // namespace raitakone::grading
