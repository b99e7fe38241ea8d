#pragma once

#include "surface/PageRaster.h"
#include "surface/Paper.h"

namespace raitakone {

// What a drawing target tells the surface about its pages: the device
// resolution and the sheet in device pixels, with the printable area whose
// top-left corner is the drawing origin.
struct PageGeometry {
    double dpiX = 600;
    double dpiY = 600;
    int sheetWidth = 0;  // pixels
    int sheetHeight = 0; // pixels
    PixelRect printable; // pixels, within the sheet
    // The sheet as the printer states it, in points (1/72 in), for the page
    // formats that carry a physical size (PDF); 0 means the pixel grid's size.
    double sheetWidthPoints = 0;
    double sheetHeightPoints = 0;
    // The paper the sheet is, by name and size; not stated() when the
    // printer does not say.
    Paper paper = {};
    // A printer driver that may clip more off the edges than the printable
    // area declares (any CUPS queue with a PPD driver): drawing near them
    // is worth a word.
    bool driverMayClip = false;
};

// The paper at the resolution, all of it printable.
PageGeometry paperSheet(const Paper& paper, double dpiX, double dpiY);
// An A4 sheet (210 x 297 mm) at the resolution, all of it printable.
PageGeometry a4Sheet(double dpiX, double dpiY);

} // namespace raitakone
