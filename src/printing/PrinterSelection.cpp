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
constexpr const char* kPaperVariable = "RAITAKONE_PAPER";
constexpr const char* kFilePrefix = "file:";
constexpr int kMaxDpi = 2400;

enum class Value { Printer, Dpi, Paper };

std::string sourceName(ChoiceSource source, Value value)
{
    static const char* const options[] = {"--printer", "--dpi", "--paper"};
    static const char* const variables[] = {kPrinterVariable, kDpiVariable, kPaperVariable};
    static const char* const fields[] = {"Kansion", "Tarkkuuden", "Paperin"};
    const int at = int(value);
    if (source == ChoiceSource::CommandLine)
        return std::string("Valinnan ") + options[at];
    if (source == ChoiceSource::Window)
        return fields[at];
    return std::string("Ympäristömuuttujan ") + variables[at];
}

[[noreturn]] void badValue(ChoiceSource source, Value value, const std::string& text, const std::string& expected)
{
    throw RuntimeError(sourceName(source, value) + " arvo \"" + text + "\" ei kelpaa: " + expected);
}

std::optional<std::string> environment(const char* variable)
{
    if (const char* value = std::getenv(variable))
        return std::string(value);
    return std::nullopt;
}

ChoiceValues environmentValues()
{
    return {environment(kPrinterVariable), environment(kDpiVariable), environment(kPaperVariable)};
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

// Sets the resolution and paper the values give on a page-file printer.
void applyPageFileValues(PrinterChoice& choice, const ChoiceValues& values, ChoiceSource source)
{
    if (values.dpi) {
        if (choice.kind != PrinterChoice::Kind::Files)
            badValue(source, Value::Dpi, *values.dpi,
                     "tarkkuuden voi antaa vain sivutiedostoille (file:KANSIO). CUPS-tulostin tulostaa aina "
                     "omalla tarkkuudellaan; poista tarkkuus tai vaihda tulostimen oletustarkkuus "
                     "(lpoptions -p NIMI -o Resolution=...).");
        const std::string expected =
            "anna tarkkuus muodossa 600 tai 600x1200 (1-" + std::to_string(kMaxDpi) + " dpi)";
        const size_t cross = values.dpi->find('x');
        const int x = parseDpi(values.dpi->substr(0, cross));
        const int y = cross == std::string::npos ? x : parseDpi(values.dpi->substr(cross + 1));
        if (x < 0 || y < 0)
            badValue(source, Value::Dpi, *values.dpi, expected);
        choice.dpiX = x;
        choice.dpiY = y;
    }
    if (values.paper) {
        if (choice.kind != PrinterChoice::Kind::Files)
            badValue(source, Value::Paper, *values.paper,
                     "paperin voi antaa vain sivutiedostoille (file:KANSIO). CUPS-tulostin tulostaa aina "
                     "oletuspaperilleen; poista paperi tai vaihda tulostimen oletuspaperi "
                     "(lpoptions -p NIMI -o media=...).");
        const std::optional<Paper> paper = parsePaper(*values.paper);
        if (!paper)
            badValue(source, Value::Paper, *values.paper,
                     "anna paperin nimi (A4, A5, A6, A3, Letter, Legal) tai koko muodossa 100x150mm tai 4x6in, "
                     "kumpikin sivu 10-1000 mm");
        choice.paper = *paper;
    }
}

} // namespace

PrinterChoice parsePrinterChoice(const ChoiceValues& values, ChoiceSource source)
{
    PrinterChoice choice;
    if (values.printer) {
        const std::string& value = *values.printer;
        if (value.empty())
            badValue(source, Value::Printer, value, "anna CUPS-tulostimen nimi tai file:KANSIO");
        if (value.rfind(kFilePrefix, 0) == 0) {
            choice.kind = PrinterChoice::Kind::Files;
            choice.name = value.substr(std::string(kFilePrefix).size());
            if (choice.name.empty())
                badValue(source, Value::Printer, value, "file: tarvitsee kansion, esimerkiksi file:/tmp/sivut");
        } else {
            choice.kind = PrinterChoice::Kind::NamedCups;
            choice.name = value;
        }
    }
    applyPageFileValues(choice, values, source);
    return choice;
}

StartingPrinter startingPrinter(const ChoiceValues& commandLine, const std::optional<PrinterChoice>& saved)
{
    const ChoiceValues env = environmentValues();
    // A bad value is an error wherever it is written, also where another
    // source overrides it.
    if (env.printer)
        parsePrinterChoice({env.printer, std::nullopt, std::nullopt}, ChoiceSource::Environment);
    if (env.dpi || env.paper)
        parsePrinterChoice({std::string(kFilePrefix) + ".", env.dpi, env.paper}, ChoiceSource::Environment);
    if (!commandLine.printer && !commandLine.dpi && !commandLine.paper && !env.printer && !env.dpi && !env.paper)
        return {saved.value_or(PrinterChoice{}), false};

    // Each setting on its own: the printer from the command line, else the
    // environment, else the saved choice; the page-file printer's resolution
    // and paper each from the command line, else the environment, else the
    // saved choice's when the printer is the saved one, else 600 dpi and A4.
    const ChoiceValues printerOnly{commandLine.printer ? commandLine.printer : env.printer, std::nullopt, std::nullopt};
    PrinterChoice choice = commandLine.printer ? parsePrinterChoice(printerOnly, ChoiceSource::CommandLine)
                           : env.printer       ? parsePrinterChoice(printerOnly, ChoiceSource::Environment)
                                               : saved.value_or(PrinterChoice{});
    applyPageFileValues(choice, {std::nullopt, commandLine.dpi, commandLine.paper}, ChoiceSource::CommandLine);
    // A CUPS printer named on the command line prints at its own resolution
    // on its own media, whatever the environment says the page files' are.
    if (!(commandLine.printer && choice.kind != PrinterChoice::Kind::Files))
        applyPageFileValues(choice,
                            {std::nullopt, commandLine.dpi ? std::nullopt : env.dpi,
                             commandLine.paper ? std::nullopt : env.paper},
                            ChoiceSource::Environment);
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
        // A choice saved before papers could be chosen is on A4.
        const QVariant paper = settings.value("printer/paper");
        const std::optional<Paper> read = paper.isValid() ? parsePaper(paper.toString().toStdString()) : kA4Paper;
        if (!read)
            return std::nullopt;
        choice.paper = *read;
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
        settings.setValue("printer/paper", QString::fromStdString(choice.paper.optionText()));
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
        return std::make_unique<FilePrinter>(choice.name, choice.dpiX, choice.dpiY, choice.paper);
    case PrinterChoice::Kind::NamedCups:
        return std::make_unique<CupsPrinter>(choice.name);
    case PrinterChoice::Kind::DefaultCups:
        break;
    }
    return std::make_unique<CupsPrinter>(std::nullopt);
}

std::unique_ptr<PrinterBackend> connectConfiguredPrinter()
{
    return connectPrinter(parsePrinterChoice(environmentValues()));
}

} // namespace raitakone
