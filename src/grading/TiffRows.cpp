#include "grading/TiffRows.h"

#include <QIODevice>

#include <cstdarg>
#include <memory>
#include <vector>

#include <tiffio.h>

namespace raitakone::grading {
namespace {

// libtiff reads the file through these, from the device already opened and
// checked.
tmsize_t readProc(thandle_t handle, void* data, tmsize_t size)
{
    return tmsize_t(static_cast<QIODevice*>(handle)->read(static_cast<char*>(data), qint64(size)));
}
tmsize_t writeProc(thandle_t, void*, tmsize_t) { return -1; }
toff_t seekProc(thandle_t handle, toff_t offset, int whence)
{
    QIODevice* device = static_cast<QIODevice*>(handle);
    const qint64 base = whence == SEEK_CUR ? device->pos() : whence == SEEK_END ? device->size() : 0;
    const qint64 to = base + qint64(offset);
    return to >= 0 && device->seek(to) ? toff_t(to) : toff_t(-1);
}
int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t handle) { return toff_t(static_cast<QIODevice*>(handle)->size()); }
int mapProc(thandle_t, void**, toff_t*) { return 0; }
void unmapProc(thandle_t, void*, toff_t) {}

// libtiff's errors for this file make it damaged; its warnings (a tag it
// does not know) say nothing about the pixels and are dropped. Neither goes
// to stderr.
int onError(TIFF*, void* user, const char*, const char*, va_list)
{
    *static_cast<bool*>(user) = true;
    return 1;
}
int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct Closer {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

double dpiOf(float value, uint16_t unit)
{
    if (unit == RESUNIT_INCH)
        return value;
    if (unit == RESUNIT_CENTIMETER)
        return value * 2.54;
    return 0.0;
}

} // namespace

DecodedRows decodeTiffRows(QIODevice& file, const StopRequest& stop)
{
    const qint64 start = file.pos();
    file.seek(0);
    DecodedRows result;
    bool failed = false;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &failed);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, nullptr);
    const std::unique_ptr<TIFF, Closer> tif(TIFFClientOpenExt("scan", "rm", &file, readProc, writeProc, seekProc,
                                                              closeProc, sizeProc, mapProc, unmapProc, options));
    TIFFOpenOptionsFree(options);
    const auto done = [&](DecodedRows rows) {
        file.seek(start);
        return rows;
    };
    if (!tif)
        return done(std::move(result)); // damaged
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE, planar = PLANARCONFIG_CONTIG,
             orientation = ORIENTATION_TOPLEFT, unit = RESUNIT_INCH;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    const bool palette = photometric == PHOTOMETRIC_PALETTE && bits == 8 &&
                         TIFFGetField(tif.get(), TIFFTAG_COLORMAP, &red, &green, &blue) && red;
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const bool layout = !TIFFIsTiled(tif.get()) && orientation == ORIENTATION_TOPLEFT &&
                        (planar == PLANARCONFIG_CONTIG || samples == 1) && width > 0 && height > 0 &&
                        ((grey && (bits == 1 || bits == 8 || bits == 16)) ||
                         (photometric == PHOTOMETRIC_RGB && samples >= 3 && (bits == 8 || bits == 16)) || palette);
    // TIFF tag 34675: the ICC profile the values are encoded in.
    uint32_t iccLength = 0;
    void* icc = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc && iccLength > 0)
        result.stated.iccProfile = QByteArray(static_cast<const char*>(icc), qsizetype(iccLength));
    if (!layout) {
        result.notHere = true;
        return done(std::move(result));
    }
    float xres = 0, yres = 0;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &yres)) {
        result.dpiX = dpiOf(xres, unit);
        result.dpiY = dpiOf(yres, unit);
    }

    result.plane = QImage(int(width), int(height), QImage::Format_Grayscale8);
    if (result.plane.isNull()) {
        DecodedRows short_;
        short_.outOfMemory = true;
        return done(std::move(short_));
    }
    std::vector<uint8_t> row(size_t(TIFFScanlineSize(tif.get())));
    const bool white = photometric == PHOTOMETRIC_MINISWHITE;
    for (uint32_t y = 0; y < height; ++y) {
        if ((y & 63) == 0 && stop && stop()) {
            DecodedRows stopped;
            stopped.stopped = true;
            return done(std::move(stopped));
        }
        if (TIFFReadScanline(tif.get(), row.data(), y, 0) < 0 || failed)
            return done(DecodedRows{}); // damaged
        uchar* out = result.plane.scanLine(int(y));
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t v;
            if (bits == 1)
                v = ((row[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
            else if (bits == 16)
                v = uint8_t(reinterpret_cast<const uint16_t*>(row.data())[size_t(x) * samples] >> 8);
            else
                v = row[size_t(x) * samples];
            if (palette)
                v = uint8_t(red[v] >> 8);
            out[x] = white ? uchar(255 - v) : v; // red, or the grey
        }
    }
    return done(std::move(result));
}

} // namespace raitakone::grading
