#include "grading/PngRows.h"

#include <QIODevice>

#include <png.h>

#include <csetjmp>
#include <string_view>
#include <vector>

namespace raitakone::grading {
namespace {

constexpr const char* kEndsEarly = "the file ends before its image does";

void readFromDevice(png_structp png, png_bytep data, png_size_t length)
{
    auto* device = static_cast<QIODevice*>(png_get_io_ptr(png));
    if (device->read(reinterpret_cast<char*>(data), qint64(length)) != qint64(length))
        png_error(png, kEndsEarly);
}

// libpng's own messages are English: the user is told the cause in Finnish.
void fail(png_structp png, png_const_charp message)
{
    *static_cast<QString*>(png_get_error_ptr(png)) = QString::fromUtf8(
        std::string_view(message) == kEndsEarly ? "tiedoston loppu puuttuu" : "PNG-kuvan tiedot ovat viallisia");
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

} // namespace

PngRows decodePngRows(QIODevice& file, const StopRequest& stop)
{
    PngRows result;
    const qint64 start = file.pos();
    file.seek(0);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &result.error, fail, ignoreWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        result.outOfMemory = true;
        return result;
    }
    // Everything libpng may jump over lives outside this function's frame
    // or is plain data.
    std::vector<png_byte>* row = new std::vector<png_byte>;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        delete row;
        result.plane = QImage();
        file.seek(start);
        return result;
    }
    png_set_read_fn(png, &file, readFromDevice);
    // Each chunk's CRC already covers the compressed image; zlib's own
    // checksum of it again costs a tenth of the decoding and finds nothing more.
#ifdef PNG_IGNORE_ADLER32
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
    png_read_info(png, info);
    // The chunks that say how the values are encoded, before the pixels.
    png_charp iccName = nullptr;
    int compression = 0;
    png_bytep icc = nullptr;
    png_uint_32 iccLength = 0;
    if (png_get_iCCP(png, info, &iccName, &compression, &icc, &iccLength) && icc && iccLength > 0)
        result.stated.iccProfile = QByteArray(reinterpret_cast<const char*>(icc), qsizetype(iccLength));
    int intent = 0;
    result.stated.srgb = png_get_sRGB(png, info, &intent) != 0;
    double gamma = 0.0;
    if (png_get_gAMA(png, info, &gamma) && gamma > 0.0)
        result.stated.gamma = gamma;
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) {
        result.interlaced = true;
        png_longjmp(png, 1);
    }
    // To 8 bits a sample, palette to RGB, alpha dropped: the first sample of
    // each pixel is then its grey or its red.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_read_update_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    const int channels = png_get_channels(png, info);
    result.plane = QImage(int(width), int(height), QImage::Format_Grayscale8);
    if (result.plane.isNull()) {
        result.outOfMemory = true;
        png_longjmp(png, 1);
    }
    row->resize(png_get_rowbytes(png, info));
    for (png_uint_32 y = 0; y < height; ++y) {
        if ((y & 63) == 0 && stop && stop()) {
            result.stopped = true;
            png_longjmp(png, 1);
        }
        uchar* out = result.plane.scanLine(int(y));
        if (channels == 1) {
            png_read_row(png, out, nullptr); // grey: straight into the plane
            continue;
        }
        png_bytep in = row->data();
        png_read_row(png, in, nullptr);
        for (png_uint_32 x = 0; x < width; ++x, in += channels)
            out[x] = *in;
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    delete row;
    file.seek(start);
    return result;
}

} // namespace raitakone::grading
