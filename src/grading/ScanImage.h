#pragma once

// A scanned page as the grading reads it: one 8-bit plane (the red channel of
// a colour scan, as a verifier sees the symbol under 660 nm light; a grey
// scan as it is) and the scan's resolution in dots per inch.
//
// Scan files come from scanners, e-mail and shared folders, so loading
// trusts nothing a file claims: the size an image states is checked before
// anything is decoded, the decoded page is never held at more than the
// plane's one byte a pixel beside the decoder's own, a file cut short is
// refused, and the resolution must be one a scanner could have used.

#include "grading/ScanEncoding.h"
#include "grading/ScanFile.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

namespace raitakone::grading {

struct Scan {
    QImage plane; // Format_Grayscale8
    double dpiX = 0.0;
    double dpiY = 0.0;
    ScanEncoding encoding; // how the file encodes reflectance in the plane's values
};

// The largest scan read: an A3 sheet at 2400 dpi (28 063 × 39 685 pixels)
// is 1.11 gigapixels, a gigabyte at one byte a pixel.
inline constexpr qint64 kMaxScanPixels = 1'150'000'000;
// Scan resolutions that a scanner could have used.
inline constexpr double kMinScanDpi = 50.0;
inline constexpr double kMaxScanDpi = 10000.0;

// The plane a scan is measured on: red channel, 8 bits, converted a row at
// a time. A null image when there is not memory for it.
QImage measuredPlane(const QImage& image);

// The resolution an image file states, or nothing when it states none (a PNG
// without its pHYs chunk, or the 72 and 96 dpi that programs write when they
// do not know).
std::optional<double> statedResolution(const QImage& image, bool fileHasResolution);

// Messages that name a cause beyond the file's own content, shared by the
// loaders of each format.
QString scanTooLargeError(const QString& path, QSize size);
QString outOfMemoryError(const QString& path, QSize size);

struct ScanLoad {
    std::optional<Scan> scan;
    QString error; // in Finnish, saying what to do; empty when loaded
    bool resolutionFromFile = false;
    double fileDpi = 0.0;  // what the file said, 0 when nothing
    QString notice;        // in Finnish, what the user should know though the page loaded
    bool stopped = false;  // a stop request ended the loading
    bool resolutionMissing = false; // read, but neither the file nor dpi gave a resolution
    int pages = 1;         // a PDF's pages
};

// Reads PNG, TIFF and JPEG through Qt's image plugins, and PDF through
// poppler: the page's image at its own resolution. dpi, when given,
// replaces the file's resolution. stop, when it turns true, ends the
// loading at the decoder's next read. pdfPage, counted from 1, is the page
// read of a PDF.
ScanLoad loadScan(const QString& path, std::optional<double> dpi, const StopRequest& stop = {}, int pdfPage = 1);

// The resolution a scan file states, as loadScan reads it; nothing when it
// states none or cannot be read.
std::optional<double> scanFileResolution(const QString& path);

// Why the file cannot be a scan, told from what it is and its first bytes
// (not a regular file, not PNG, TIFF, JPEG or PDF), in Finnish; empty when
// it may be one. Nothing is decoded.
QString scanFileFormatProblem(const QString& path);

} // namespace raitakone::grading
