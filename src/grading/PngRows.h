#pragma once

// A PNG decoded a row at a time straight into the measured plane (its red
// channel, or its grey), through libpng: a colour page never takes the four
// bytes a pixel that a whole decoded image would.

#include "grading/ScanEncoding.h"
#include "grading/ScanFile.h"

#include <QImage>

class QIODevice;

namespace raitakone::grading {

struct PngRows {
    QImage plane;            // Format_Grayscale8; null when not decoded
    bool interlaced = false; // not read here: its rows come in seven passes
    bool stopped = false;
    bool outOfMemory = false;
    QString error; // libpng's reason, when the file is damaged
    StatedEncoding stated; // its iCCP, sRGB and gAMA chunks
};

// Reads from the start of file; leaves its position where it was.
PngRows decodePngRows(QIODevice& file, const StopRequest& stop);

} // namespace raitakone::grading
