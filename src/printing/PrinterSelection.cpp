#include "printing/PrinterSelection.h"

#include "printing/CupsPrinter.h"
#include "printing/FilePrinter.h"
#include "surface/RuntimeError.h"

#include <cstdlib>

namespace raitakone {
namespace {

constexpr const char* kPrinterVariable = "RAITAKONE_PRINTER";
constexpr const char* kDpiVariable = "RAITAKONE_DPI";
constexpr const char* kFilePrefix = "file:";
constexpr int kMaxDpi = 2400;

[[noreturn]] void badValue(const char* variable, const std::string& value, const std::string& expected)
{
    throw RuntimeError("Ympäristömuuttujan " + std::string(variable) + " arvo \"" + value + "\" ei kelpaa: " +
                       expected);
}

std::optional<std::string> environment(const char* variable)
{
    if (const char* value = std::getenv(variable))
        return std::string(value);
    return std::nullopt;
}

// A resolution of 1 .. kMaxDpi written as plain decimal digits; -1 otherwise.
int parseDpi(const std::string& text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const int value = std::stoi(text);
    return value >= 1 && value <= kMaxDpi ? value : -1;
}

} // namespace

PrinterChoice choosePrinter(const std::optional<std::string>& printer, const std::optional<std::string>& dpi)
{
    PrinterChoice choice;
    if (!printer)
        return choice;

    const std::string& value = *printer;
    if (value.empty())
        badValue(kPrinterVariable, value, "anna CUPS-tulostimen nimi tai file:HAKEMISTO");
    if (value.rfind(kFilePrefix, 0) != 0) {
        choice.kind = PrinterChoice::Kind::NamedCups;
        choice.name = value;
        return choice;
    }

    choice.kind = PrinterChoice::Kind::Files;
    choice.name = value.substr(std::string(kFilePrefix).size());
    if (choice.name.empty())
        badValue(kPrinterVariable, value, "file: tarvitsee hakemiston, esimerkiksi file:/tmp/sivut");
    if (dpi) {
        const std::string expected =
            "anna tarkkuus muodossa 600 tai 600x1200 (1-" + std::to_string(kMaxDpi) + " dpi)";
        const size_t cross = dpi->find('x');
        const int x = parseDpi(dpi->substr(0, cross));
        const int y = cross == std::string::npos ? x : parseDpi(dpi->substr(cross + 1));
        if (x < 0 || y < 0)
            badValue(kDpiVariable, *dpi, expected);
        choice.dpiX = x;
        choice.dpiY = y;
    }
    return choice;
}

std::unique_ptr<PrinterBackend> connectConfiguredPrinter()
{
    const PrinterChoice choice = choosePrinter(environment(kPrinterVariable), environment(kDpiVariable));
    switch (choice.kind) {
    case PrinterChoice::Kind::Files:
        return std::make_unique<FilePrinter>(choice.name, choice.dpiX, choice.dpiY);
    case PrinterChoice::Kind::NamedCups:
        return std::make_unique<CupsPrinter>(choice.name);
    case PrinterChoice::Kind::DefaultCups:
        break;
    }
    return std::make_unique<CupsPrinter>(std::nullopt);
}

} // namespace raitakone
