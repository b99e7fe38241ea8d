#include "grading/JpegRows.h"

#include <QIODevice>

#include <array>
#include <csetjmp>
#include <cstdlib>
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace raitakone::grading {
namespace {

// libjpeg's errors end the decoding through a jump back; its warnings
// (corrupt data it reads past) are counted. Neither goes to stderr.
struct Errors {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    int warnings = 0;
};

void onError(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<Errors*>(cinfo->err)->jump, 1); }

void onMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        ++reinterpret_cast<Errors*>(cinfo->err)->warnings;
}

// The file read through a buffer of its own, so that only the buffer and
// the plane are in memory, not the compressed file.
struct Source {
    jpeg_source_mgr manager{};
    QIODevice* device = nullptr;
    std::array<JOCTET, 64 * 1024> buffer{};
};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillBuffer(j_decompress_ptr cinfo)
{
    Source* source = reinterpret_cast<Source*>(cinfo->src);
    qint64 n = source->device->read(reinterpret_cast<char*>(source->buffer.data()), qint64(source->buffer.size()));
    if (n <= 0) {
        // The file ends before its image: an end marker in its place, and
        // a warning that makes the file damaged.
        ++reinterpret_cast<Errors*>(cinfo->err)->warnings;
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        n = 2;
    }
    source->manager.next_input_byte = source->buffer.data();
    source->manager.bytes_in_buffer = size_t(n);
    return TRUE;
}

void skipData(j_decompress_ptr cinfo, long count)
{
    Source* source = reinterpret_cast<Source*>(cinfo->src);
    while (count > long(source->manager.bytes_in_buffer)) {
        count -= long(source->manager.bytes_in_buffer);
        fillBuffer(cinfo);
    }
    if (count > 0) {
        source->manager.next_input_byte += count;
        source->manager.bytes_in_buffer -= size_t(count);
    }
}

double dpiOf(UINT16 density, UINT8 unit)
{
    if (unit == 1)
        return density;
    if (unit == 2)
        return density * 2.54;
    return 0.0;
}

// Everything the decoding touches after the jump point lives here, so that
// a jump back finds it as it was left.
struct Decoding {
    jpeg_decompress_struct cinfo{};
    Errors errors;
    Source source;
    std::vector<JSAMPLE> row;
    DecodedRows result;
};

} // namespace

DecodedRows decodeJpegRows(QIODevice& file, const StopRequest& stop)
{
    const qint64 start = file.pos();
    file.seek(0);
    auto d = std::make_unique<Decoding>();
    d->cinfo.err = jpeg_std_error(&d->errors.manager);
    d->errors.manager.error_exit = onError;
    d->errors.manager.emit_message = onMessage;
    if (setjmp(d->errors.jump)) {
        jpeg_destroy_decompress(&d->cinfo);
        file.seek(start);
        return DecodedRows{};
    }
    jpeg_create_decompress(&d->cinfo);
    d->source.device = &file;
    d->source.manager.init_source = initSource;
    d->source.manager.fill_input_buffer = fillBuffer;
    d->source.manager.skip_input_data = skipData;
    d->source.manager.resync_to_restart = jpeg_resync_to_restart;
    d->source.manager.term_source = termSource;
    d->cinfo.src = &d->source.manager;
    // The APP2 segments may carry an ICC profile, split in pieces.
    jpeg_save_markers(&d->cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d->cinfo, TRUE);

    DecodedRows& result = d->result;
    const J_COLOR_SPACE space = d->cinfo.jpeg_color_space;
    if (space != JCS_GRAYSCALE && space != JCS_YCbCr && space != JCS_RGB) {
        jpeg_destroy_decompress(&d->cinfo);
        file.seek(start);
        DecodedRows other;
        other.notHere = true;
        return other;
    }
    d->cinfo.out_color_space = space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    if (jpeg_read_icc_profile(&d->cinfo, &icc, &iccLength) && icc) {
        result.stated.iccProfile = QByteArray(reinterpret_cast<const char*>(icc), qsizetype(iccLength));
        std::free(icc);
    }
    if (d->cinfo.saw_JFIF_marker) {
        result.dpiX = dpiOf(d->cinfo.X_density, d->cinfo.density_unit);
        result.dpiY = dpiOf(d->cinfo.Y_density, d->cinfo.density_unit);
    }
    jpeg_start_decompress(&d->cinfo);
    const int width = int(d->cinfo.output_width), height = int(d->cinfo.output_height);
    const int components = d->cinfo.output_components;
    result.plane = QImage(width, height, QImage::Format_Grayscale8);
    if (result.plane.isNull()) {
        jpeg_destroy_decompress(&d->cinfo);
        file.seek(start);
        DecodedRows short_;
        short_.outOfMemory = true;
        return short_;
    }
    d->row.resize(size_t(width) * size_t(components));
    while (d->cinfo.output_scanline < d->cinfo.output_height) {
        const int y = int(d->cinfo.output_scanline);
        if ((y & 63) == 0 && stop && stop()) {
            jpeg_destroy_decompress(&d->cinfo);
            file.seek(start);
            DecodedRows stopped;
            stopped.stopped = true;
            return stopped;
        }
        JSAMPROW rows[] = {d->row.data()};
        jpeg_read_scanlines(&d->cinfo, rows, 1);
        uchar* out = result.plane.scanLine(y);
        for (int x = 0; x < width; ++x)
            out[x] = d->row[size_t(x) * size_t(components)]; // red, or the grey
    }
    jpeg_finish_decompress(&d->cinfo);
    jpeg_destroy_decompress(&d->cinfo);
    file.seek(start);
    if (d->errors.warnings > 0)
        return DecodedRows{}; // damaged
    return std::move(result);
}

} // namespace raitakone::grading
