#pragma once

// A TIFF's first page decoded a row at a time straight into the measured
// plane (its red channel, or its grey), through libtiff: a colour page never
// takes the four bytes a pixel that a whole decoded image would. Tiled or
// turned pages and rare sample layouts are left to Qt's plugin.

#include "grading/ScanFile.h"

#include "grading/DecodedRows.h"

class QIODevice;

namespace raitakone::grading {


// Reads from the start of file; leaves its position where it was.
DecodedRows decodeTiffRows(QIODevice& file, const StopRequest& stop);

} // namespace raitakone::grading
