#pragma once

// A finished page as a file: PNG and PDF, both carrying the raster 1:1 at
// the device resolution, so nothing between us and the paper resamples it.
//
// Both formats hold the pixels as the same zlib stream of PNG scanlines (a
// filter byte, then the packed pixels of one row): PNG as its IDAT data, PDF
// as a Flate image with the PNG predictor. The page is therefore compressed
// once however many files are written from it.

#include "surface/PageGeometry.h"
#include "surface/PageRaster.h"
#include "surface/PrinterBackend.h"

#include <QByteArray>
#include <QList>
#include <QRgb>

namespace raitakone {

struct CompressedPage {
    enum class Pixels {
        Bilevel, // 1 bit a pixel, MSB first, bit set = black
        Palette, // 8 bits a pixel, index into palette
        Rgb,     // 8 bits each of red, green, blue
    };

    int width = 0;
    int height = 0;
    Pixels pixels = Pixels::Bilevel;
    QList<QRgb> palette;   // Palette only
    QByteArray scanlines;  // zlib stream: per row one filter byte 0 and the row's bytes

    int bytesPerRow() const;
};

// Compresses the page's rows. Fast on what pages are made of: rows equal to
// the row above (bars, margins) and long runs of one byte.
CompressedPage compressPage(const PageRaster& page);

// The page as a PNG: device pixels 1:1 (one bit a pixel for a bilevel page),
// the resolution in its pHYs chunk, and the job's title, PrintQuality and
// ColorMode and the paper (where the geometry states one) as text chunks, so
// a page file records how it was asked for.
QByteArray encodePng(const CompressedPage& page, const PageGeometry& g, const JobSettings& job);
QByteArray encodePng(const PageRaster& page, const PageGeometry& g, const JobSettings& job);

// The page as a one-page PDF 1.4 whose MediaBox is the sheet as the geometry
// states it in points (the pixel grid's size where it states none), and whose
// only content is the raster as one image hung from the sheet's top-left
// corner, one image pixel to one device pixel, never interpolated.
QByteArray encodePdf(const CompressedPage& page, const PageGeometry& g);
QByteArray encodePdf(const PageRaster& page, const PageGeometry& g);

} // namespace raitakone
