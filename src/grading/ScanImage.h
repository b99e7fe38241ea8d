#pragma once

// A scanned page as the grading reads it: one 8-bit plane (the red channel of
// a colour scan, as a verifier sees the symbol under 660 nm light; a grey
// scan as it is) and the scan's resolution in dots per inch.

#include <QImage>
#include <QString>

#include <optional>

namespace raitakone::grading {

struct Scan {
    QImage plane; // Format_Grayscale8
    double dpiX = 0.0;
    double dpiY = 0.0;
};

// The plane a scan is measured on: red channel, 8 bits.
QImage measuredPlane(const QImage& image);

// The resolution an image file states, or nothing when it states none (a PNG
// without its pHYs chunk, or the 72 and 96 dpi that programs write when they
// do not know).
std::optional<double> statedResolution(const QImage& image, bool fileHasResolution);

struct ScanLoad {
    std::optional<Scan> scan;
    QString error; // in Finnish, saying what to do; empty when loaded
    bool resolutionFromFile = false;
    double fileDpi = 0.0; // what the file said, 0 when nothing
    bool resolutionMissing = false; // read, but neither the file nor dpi gave a resolution
};

// Reads PNG, TIFF and JPEG through Qt's image plugins, and PDF through
// poppler: the page's one image at its own resolution. dpi, when given,
// replaces the file's resolution.
ScanLoad loadScan(const QString& path, std::optional<double> dpi);

// The resolution a scan file states, as loadScan reads it; nothing when it
// states none or cannot be read.
std::optional<double> scanFileResolution(const QString& path);

} // namespace raitakone::grading
