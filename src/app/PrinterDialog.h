#pragma once

// The window's printer choice: every CUPS destination with its resolution,
// the CUPS default, and the page-file printer with its folder, resolution and
// paper.

#include "printing/PrinterSelection.h"

#include <optional>

class QWidget;

namespace raitakone {

// Shows the choice as a modal dialog starting at `current`; nullopt when
// the user cancels.
std::optional<PrinterChoice> choosePrinterInDialog(QWidget* parent, const PrinterChoice& current);

} // namespace raitakone
