#pragma once

// A scan saved as PDF: the image a page draws, read pixel for pixel
// a row at a time (nothing rendered), at the resolution at which the page
// draws it.

#include "grading/ScanImage.h"

class QFile;

namespace raitakone::grading {

// page counts from 1; the load says how many pages the file has.
ScanLoad loadPdf(QFile& file, const QString& path, const StopRequest& stop, int page = 1);

} // namespace raitakone::grading
