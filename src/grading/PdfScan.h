#pragma once

// A scan saved as PDF: the image the first page draws, read pixel for pixel
// a row at a time (nothing rendered), at the resolution at which the page
// draws it.

#include "grading/ScanImage.h"

class QFile;

namespace raitakone::grading {

ScanLoad loadPdf(QFile& file, const QString& path, const StopRequest& stop);

} // namespace raitakone::grading
