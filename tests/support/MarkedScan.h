#pragma once

// Scans of pages of the series: the page printed on an A4 memory
// printer (4 mm margins) with its mark, every dark run widened by gain printer pixels, and
// scanned through the synthetic scanner.

#include "app/Controls.h"
#include "support/SyntheticScan.h"

#include <QImage>

#include <string>

namespace raitakone::testing {

// n is the mark's number in the series, "3/21". Unmarked, the page is
// printed without its mark (the ladder is always marked).
QImage seriesPageScan(const PrintPage& page, const std::string& n, double printerDpi, int gain, const ScanModel& model,
                      bool marked = true);

} // namespace raitakone::testing
