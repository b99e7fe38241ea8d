#pragma once

// A JPEG decoded a row at a time straight into the measured plane (its red
// channel, or its grey), through libjpeg: a colour page never takes the four
// bytes a pixel that a whole decoded image would. Data that libjpeg finds
// corrupt, even where it reads on, is a damaged file.

#include "grading/ScanFile.h"

#include "grading/DecodedRows.h"

class QIODevice;

namespace raitakone::grading {


// Reads from the start of file; leaves its position where it was.
DecodedRows decodeJpegRows(QIODevice& file, const StopRequest& stop);

} // namespace raitakone::grading
