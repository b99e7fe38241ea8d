#pragma once

// Where the page to grade comes from: a scan file (PNG, TIFF, JPEG or PDF),
// or one of the scanners SANE finds, at a resolution; and the printer's
// resolution, which turns the bar gain into printer pixels.

#include "scanning/GradeSource.h"

#include <optional>

class QWidget;

namespace raitakone {

// A modal dialog starting at suggestion; nothing when the user cancels.
std::optional<scanning::GradeSource> chooseScanSourceInDialog(QWidget* parent,
                                                              const scanning::GradeSource& suggestion);

} // namespace raitakone
