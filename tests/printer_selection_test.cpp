// Which printer the pages go to: the command line over the environment over
// the saved choice over the CUPS default, and bad values refused by name.

#include "printing/FilePrinter.h"
#include "printing/PrinterSelection.h"
#include "support/ErrorText.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace raitakone {
namespace {

namespace fs = std::filesystem;
using testing::errorOf;
using Kind = PrinterChoice::Kind;

// Sets (or with nullptr unsets) an environment variable for the scope.
struct ScopedEnv {
    ScopedEnv(const char* name, const char* value) : name(name)
    {
        if (const char* previous = std::getenv(name))
            old = previous;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

TEST(PrinterSelection, ReadsCupsOrFilesWithTheirResolution)
{
    auto expectChoice = [](std::optional<std::string> printer, std::optional<std::string> dpi, Kind kind,
                           const std::string& name, double dpiX = 600, double dpiY = 600) {
        const PrinterChoice c = parsePrinterChoice(printer, dpi);
        EXPECT_EQ(c.kind, kind) << printer.value_or("unset");
        EXPECT_EQ(c.name, name);
        EXPECT_EQ(std::make_pair(c.dpiX, c.dpiY), std::make_pair(dpiX, dpiY)) << dpi.value_or("unset");
    };
    expectChoice(std::nullopt, std::nullopt, Kind::DefaultCups, "");
    expectChoice("Toimisto_laser", std::nullopt, Kind::NamedCups, "Toimisto_laser");
    expectChoice("file:/tmp/sivut", std::nullopt, Kind::Files, "/tmp/sivut");
    expectChoice("file:sivut", "300", Kind::Files, "sivut", 300, 300);
    expectChoice("file:sivut", "600x1200", Kind::Files, "sivut", 600, 1200);
}

TEST(PrinterSelection, BadValuesAreErrorsNamingWhereTheyCameFromAndTheValue)
{
    auto expectRefused = [](const std::string& printer, const std::optional<std::string>& dpi, ChoiceSource source,
                            const std::string& where) {
        const std::string message = errorOf([&] { parsePrinterChoice(printer, dpi, source); });
        EXPECT_NE(message.find(where), std::string::npos) << message;
        EXPECT_NE(message.find("\"" + dpi.value_or(printer) + "\""), std::string::npos) << message;
    };
    expectRefused("", std::nullopt, ChoiceSource::Environment, "RAITAKONE_PRINTER");
    expectRefused("file:", std::nullopt, ChoiceSource::CommandLine, "--printer");
    for (const char* dpi : {"", "0", "-600", "abc", "600dpi", "600 ", " 600", "600x", "x600", "600x0", "600x-1",
                            "600x1200x300", "1.5", "99999999999", "600X1200", "2401"}) {
        expectRefused("file:/tmp/sivut", dpi, ChoiceSource::Environment, "RAITAKONE_DPI");
        expectRefused("file:/tmp/sivut", dpi, ChoiceSource::CommandLine, "--dpi");
    }
    // A CUPS printer prints at its own resolution: asking for another one is
    // an error that says so, not a value quietly ignored.
    for (const std::optional<std::string>& printer : {std::optional<std::string>("Toimisto_laser"),
                                                     std::optional<std::string>()}) {
        const std::string message = errorOf([&] { parsePrinterChoice(printer, "600"); });
        EXPECT_NE(message.find("RAITAKONE_DPI"), std::string::npos) << message;
        EXPECT_NE(message.find("omalla tarkkuudellaan"), std::string::npos) << message;
    }
}

TEST(PrinterSelection, CommandLineWinsOverEnvironmentOverSavedChoiceOverDefault)
{
    const PrinterChoice saved{Kind::Files, "/tallennettu", 300, 300};
    {
        ScopedEnv printer("RAITAKONE_PRINTER", nullptr);
        ScopedEnv dpi("RAITAKONE_DPI", nullptr);
        EXPECT_EQ(startingPrinter(std::nullopt, std::nullopt, std::nullopt).choice, PrinterChoice{});
        EXPECT_FALSE(startingPrinter(std::nullopt, std::nullopt, std::nullopt).fixed);
        const StartingPrinter fromSettings = startingPrinter(std::nullopt, std::nullopt, saved);
        EXPECT_EQ(fromSettings.choice, saved);
        EXPECT_FALSE(fromSettings.fixed);
        // A resolution alone re-sets the saved page-file printer's.
        EXPECT_EQ(startingPrinter(std::nullopt, "1200", saved).choice,
                  (PrinterChoice{Kind::Files, "/tallennettu", 1200, 1200}));
        EXPECT_THROW(startingPrinter(std::nullopt, "1200", std::nullopt), RuntimeError);
    }
    ScopedEnv printer("RAITAKONE_PRINTER", "file:/ymparisto");
    ScopedEnv dpi("RAITAKONE_DPI", "203");
    const StartingPrinter fromEnvironment = startingPrinter(std::nullopt, std::nullopt, saved);
    EXPECT_EQ(fromEnvironment.choice, (PrinterChoice{Kind::Files, "/ymparisto", 203, 203}));
    EXPECT_TRUE(fromEnvironment.fixed);
    EXPECT_EQ(startingPrinter(std::nullopt, "600x1200", saved).choice,
              (PrinterChoice{Kind::Files, "/ymparisto", 600, 1200}));
    const StartingPrinter fromCommandLine = startingPrinter("Toimisto_laser", std::nullopt, saved);
    EXPECT_EQ(fromCommandLine.choice, (PrinterChoice{Kind::NamedCups, "Toimisto_laser"}));
    EXPECT_TRUE(fromCommandLine.fixed);
}

TEST(PrinterSelection, SavedChoiceRoundTripsAndDamagedSettingsAreIgnored)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("raitakone.conf"), QSettings::IniFormat);
    EXPECT_EQ(loadPrinterChoice(settings), std::nullopt);
    for (const PrinterChoice& choice : {PrinterChoice{}, PrinterChoice{Kind::NamedCups, "Toimisto_laser"},
                                        PrinterChoice{Kind::Files, "/sivut ja ä", 600, 1200}}) {
        savePrinterChoice(settings, choice);
        EXPECT_EQ(loadPrinterChoice(settings), choice);
    }
    settings.setValue("printer/dpiX", 0);
    EXPECT_EQ(loadPrinterChoice(settings), std::nullopt);
    settings.setValue("printer/kind", "laser");
    EXPECT_EQ(loadPrinterChoice(settings), std::nullopt);
}

TEST(PrinterSelection, ConnectsThePageFilePrinterTheEnvironmentNames)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("sivut").toStdString();
    ScopedEnv printer("RAITAKONE_PRINTER", ("file:" + path).c_str());
    {
        ScopedEnv dpi("RAITAKONE_DPI", "300x600");
        const std::unique_ptr<PrinterBackend> backend = connectConfiguredPrinter();
        const auto* files = dynamic_cast<const FilePrinter*>(backend.get());
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(files->directory(), path);
        EXPECT_EQ(std::make_pair(backend->geometry().dpiX, backend->geometry().dpiY), std::make_pair(300.0, 600.0));
        EXPECT_EQ(backend->displayName(), "sivutiedostot: " + path);
        EXPECT_TRUE(fs::is_directory(path));
    }
    ScopedEnv dpi("RAITAKONE_DPI", "600;");
    EXPECT_THROW(connectConfiguredPrinter(), RuntimeError);
}

} // namespace
} // namespace raitakone
