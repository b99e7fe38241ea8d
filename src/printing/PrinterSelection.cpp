#include "printing/PrinterSelection.h"

#include "printing/CupsPrinter.h"
#include "printing/FilePrinter.h"
#include "surface/RuntimeError.h"

#include <QSettings>
#include <QString>

#include <cmath>
#include <cstdlib>

namespace raitakone {
namespace {

constexpr const char* kPrinterVariable = "RAITAKONE_PRINTER";
constexpr const char* kDpiVariable = "RAITAKONE_DPI";
constexpr const char* kFilePrefix = "file:";
constexpr int kMaxDpi = 2400;

std::string sourceName(ChoiceSource source, bool dpi)
{
    if (source == ChoiceSource::CommandLine)
        return dpi ? "Valinnan --dpi" : "Valinnan --printer";
    if (source == ChoiceSource::Window)
        return dpi ? "Tarkkuuden" : "Kansion";
    return std::string("Ympäristömuuttujan ") + (dpi ? kDpiVariable : kPrinterVariable);
}

[[noreturn]] void badValue(ChoiceSource source, bool dpi, const std::string& value, const std::string& expected)
{
    throw RuntimeError(sourceName(source, dpi) + " arvo \"" + value + "\" ei kelpaa: " + expected);
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

std::string dpiNumber(double dpi) { return std::to_string(std::lround(dpi)); }

} // namespace

PrinterChoice parsePrinterChoice(const std::optional<std::string>& printer, const std::optional<std::string>& dpi,
                                 ChoiceSource source)
{
    PrinterChoice choice;
    if (printer) {
        const std::string& value = *printer;
        if (value.empty())
            badValue(source, false, value, "anna CUPS-tulostimen nimi tai file:KANSIO");
        if (value.rfind(kFilePrefix, 0) == 0) {
            choice.kind = PrinterChoice::Kind::Files;
            choice.name = value.substr(std::string(kFilePrefix).size());
            if (choice.name.empty())
                badValue(source, false, value, "file: tarvitsee kansion, esimerkiksi file:/tmp/sivut");
        } else {
            choice.kind = PrinterChoice::Kind::NamedCups;
            choice.name = value;
        }
    }
    if (dpi) {
        if (choice.kind != PrinterChoice::Kind::Files)
            badValue(source, true, *dpi,
                     "tarkkuuden voi antaa vain sivutiedostoille (file:KANSIO). CUPS-tulostin tulostaa aina "
                     "omalla tarkkuudellaan; poista tarkkuus tai vaihda tulostimen oletustarkkuus "
                     "(lpoptions -p NIMI -o Resolution=...).");
        const std::string expected =
            "anna tarkkuus muodossa 600 tai 600x1200 (1-" + std::to_string(kMaxDpi) + " dpi)";
        const size_t cross = dpi->find('x');
        const int x = parseDpi(dpi->substr(0, cross));
        const int y = cross == std::string::npos ? x : parseDpi(dpi->substr(cross + 1));
        if (x < 0 || y < 0)
            badValue(source, true, *dpi, expected);
        choice.dpiX = x;
        choice.dpiY = y;
    }
    return choice;
}

StartingPrinter startingPrinter(const std::optional<std::string>& commandLinePrinter,
                                const std::optional<std::string>& commandLineDpi,
                                const std::optional<PrinterChoice>& saved)
{
    const std::optional<std::string> envPrinter = environment(kPrinterVariable);
    const std::optional<std::string> envDpi = environment(kDpiVariable);
    // A bad value is an error wherever it is written, also where another
    // source overrides it.
    if (envPrinter)
        parsePrinterChoice(envPrinter, std::nullopt, ChoiceSource::Environment);
    if (envDpi)
        parsePrinterChoice(std::string(kFilePrefix) + ".", envDpi, ChoiceSource::Environment);
    if (!commandLinePrinter && !commandLineDpi && !envPrinter && !envDpi)
        return {saved.value_or(PrinterChoice{}), false};

    // Each setting on its own: the printer from the command line, else the
    // environment, else the saved choice; the page-file printer's resolution
    // from the command line, else the environment, else the saved choice's
    // when the printer is the saved one, else 600.
    PrinterChoice choice = commandLinePrinter ? parsePrinterChoice(commandLinePrinter, std::nullopt, ChoiceSource::CommandLine)
                           : envPrinter       ? parsePrinterChoice(envPrinter, std::nullopt, ChoiceSource::Environment)
                                              : saved.value_or(PrinterChoice{});
    const std::optional<std::string> folder =
        choice.kind == PrinterChoice::Kind::Files ? std::optional<std::string>(kFilePrefix + choice.name) : std::nullopt;
    if (commandLineDpi)
        return {parsePrinterChoice(folder, commandLineDpi, ChoiceSource::CommandLine), true};
    // A CUPS printer named on the command line prints at its own resolution,
    // whatever the environment says the page files' is.
    if (envDpi && !(commandLinePrinter && !folder))
        return {parsePrinterChoice(folder, envDpi, ChoiceSource::Environment), true};
    return {choice, true};
}

std::optional<PrinterChoice> loadPrinterChoice(QSettings& settings)
{
    const QString kind = settings.value("printer/kind").toString();
    PrinterChoice choice;
    choice.name = settings.value("printer/name").toString().toStdString();
    if (kind == "cups" && !choice.name.empty()) {
        choice.kind = PrinterChoice::Kind::NamedCups;
    } else if (kind == "files" && !choice.name.empty()) {
        choice.kind = PrinterChoice::Kind::Files;
        const double x = settings.value("printer/dpiX").toDouble();
        const double y = settings.value("printer/dpiY").toDouble();
        if (x < 1 || x > kMaxDpi || y < 1 || y > kMaxDpi)
            return std::nullopt;
        choice.dpiX = x;
        choice.dpiY = y;
    } else if (kind == "default") {
        choice = {};
    } else {
        return std::nullopt;
    }
    return choice;
}

void savePrinterChoice(QSettings& settings, const PrinterChoice& choice)
{
    settings.remove("printer");
    switch (choice.kind) {
    case PrinterChoice::Kind::DefaultCups:
        settings.setValue("printer/kind", "default");
        break;
    case PrinterChoice::Kind::NamedCups:
        settings.setValue("printer/kind", "cups");
        settings.setValue("printer/name", QString::fromStdString(choice.name));
        break;
    case PrinterChoice::Kind::Files:
        settings.setValue("printer/kind", "files");
        settings.setValue("printer/name", QString::fromStdString(choice.name));
        settings.setValue("printer/dpiX", choice.dpiX);
        settings.setValue("printer/dpiY", choice.dpiY);
        break;
    }
    settings.sync();
}

std::string resolutionText(double dpiX, double dpiY)
{
    if (dpiX == dpiY)
        return dpiNumber(dpiX) + " dpi";
    return dpiNumber(dpiX) + " × " + dpiNumber(dpiY) + " dpi";
}

std::unique_ptr<PrinterBackend> connectPrinter(const PrinterChoice& choice)
{
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

std::unique_ptr<PrinterBackend> connectConfiguredPrinter()
{
    return connectPrinter(parsePrinterChoice(environment(kPrinterVariable), environment(kDpiVariable)));
}

} // namespace raitakone
