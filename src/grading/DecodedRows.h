#pragma once

// A scan decoded a row at a time straight into the measured plane (its red
// channel, or its grey), by the format's own library: a colour page never
// takes the four bytes a pixel that a whole decoded image would.

#include "grading/ScanEncoding.h"

#include <QImage>

namespace raitakone::grading {

struct DecodedRows {
    QImage plane;            // Format_Grayscale8; null when not decoded
    bool notHere = false;    // a layout left to Qt's plugin
    bool stopped = false;
    bool outOfMemory = false; // null plane and none of these: the file is damaged
    double dpiX = 0.0;       // the resolution the file states; 0 when none
    double dpiY = 0.0;
    StatedEncoding stated;   // an ICC profile the file embeds
};

} // namespace raitakone::grading
