#pragma once

// Which printer the Printer's pages go to, and each of its settings. Four
// places can name them; for each setting the first that does wins:
//
//   the command line   --printer NAME | file:DIR, --dpi 600 | 600x1200,
//                      --paper A4 | Letter | 100x150mm | 4x6in ...
//   the environment    RAITAKONE_PRINTER, RAITAKONE_DPI, RAITAKONE_PAPER (same values)
//   the saved choice   what the user last chose in the window
//   CUPS               the default destination
//
// A value that cannot be used is an error naming where it came from and the
// value, never a quiet fall-back to some other printer or resolution. A
// resolution and a paper only belong to the page-file printer: a CUPS
// printer prints at its own, on its own default media.

#include "surface/Paper.h"
#include "surface/PrinterBackend.h"

#include <memory>
#include <optional>
#include <string>

class QSettings;

namespace raitakone {

struct PrinterChoice {
    enum class Kind { DefaultCups, NamedCups, Files };
    Kind kind = Kind::DefaultCups;
    std::string name; // NamedCups: the destination; Files: the directory
    double dpiX = 600;
    double dpiY = 600;
    Paper paper = kA4Paper; // Files only

    bool operator==(const PrinterChoice&) const = default;
};

// Where a printer, resolution and paper were written, for the error that
// names them.
enum class ChoiceSource { CommandLine, Environment, Window };

// One source's printer, resolution and paper values (nullopt = not given).
struct ChoiceValues {
    std::optional<std::string> printer;
    std::optional<std::string> dpi;
    std::optional<std::string> paper;
};

// Reads one source's values.
PrinterChoice parsePrinterChoice(const ChoiceValues& values, ChoiceSource source = ChoiceSource::Environment);

// The printer the program starts on, each setting on its own: the printer
// from the command line, else the environment, else the saved one (nullopt =
// none saved), else the CUPS default; the page-file printer's resolution and
// paper each from the command line, else the environment, else the saved
// choice's when the printer is the saved one, else 600 dpi and A4. A bad
// value in the environment is an error even where the command line overrides
// it; the environment's resolution and paper do not apply to a CUPS printer
// named on the command line. `fixed` tells whether the command line or the
// environment named anything, in which case a choice made in the window is
// not saved.
struct StartingPrinter {
    PrinterChoice choice;
    bool fixed = false;
};
StartingPrinter startingPrinter(const ChoiceValues& commandLine, const std::optional<PrinterChoice>& saved);

// The choice saved in the settings, and saving one.
std::optional<PrinterChoice> loadPrinterChoice(QSettings& settings);
void savePrinterChoice(QSettings& settings, const PrinterChoice& choice);

// "600 dpi" or "600 × 1200 dpi".
std::string resolutionText(double dpiX, double dpiY);

// Connects to the chosen printer; throws a RuntimeError when it cannot.
std::unique_ptr<PrinterBackend> connectPrinter(const PrinterChoice& choice);

// Connects to the printer the environment names (tests and tools that have
// no command line of their own).
std::unique_ptr<PrinterBackend> connectConfiguredPrinter();

} // namespace raitakone
