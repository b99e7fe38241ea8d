#pragma once

// Which printer the Printer's pages go to, from the environment:
//
//   RAITAKONE_PRINTER  unset        the default CUPS destination
//                      file:DIR     the page-file printer writing into DIR
//                      NAME         the CUPS destination NAME
//   RAITAKONE_DPI      600 or 600x1200: the page-file printer's resolution
//                      (horizontal x vertical); 600 when unset
//
// A value that cannot be used is an error naming the variable and the value,
// never a quiet fall-back to some other printer or resolution.

#include "surface/PrinterBackend.h"

#include <memory>
#include <optional>
#include <string>

namespace raitakone {

struct PrinterChoice {
    enum class Kind { DefaultCups, NamedCups, Files };
    Kind kind = Kind::DefaultCups;
    std::string name; // NamedCups: the destination; Files: the directory
    double dpiX = 600;
    double dpiY = 600;
};

// Reads the choice from the two variables (nullopt = unset).
PrinterChoice choosePrinter(const std::optional<std::string>& printer, const std::optional<std::string>& dpi);

// Connects to the printer the environment names.
std::unique_ptr<PrinterBackend> connectConfiguredPrinter();

} // namespace raitakone
