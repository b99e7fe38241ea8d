// Which printer the pages go to: the command line over the environment over
// the saved choice over the CUPS default, and bad values refused by name.

#include "printing/PrinterSelection.h"
#include "support/ErrorText.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace raitakone {
namespace {

using Kind = PrinterChoice::Kind;
using Text = std::optional<std::string>;

// Sets (or with nullptr unsets) an environment variable for the scope.
struct ScopedEnv {
    const char* name;
    Text old = std::getenv(name) ? Text(std::getenv(name)) : Text();
    ScopedEnv(const char* name, const char* value) : name(name) { value ? setenv(name, value, 1) : unsetenv(name); }
    ~ScopedEnv() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
};

TEST(PrinterSelection, CommandLineWinsOverEnvironmentOverSavedChoiceOverDefault)
{
    const PrinterChoice saved{Kind::Files, "/tallennettu", 300, 300};
    const struct {
        const char *envPrinter, *envDpi;
        Text printer, dpi;
        std::optional<PrinterChoice> saved;
        PrinterChoice choice;
        bool fixed;
    } cases[] = {
        {nullptr, nullptr, {}, {}, {}, {}, false},
        {nullptr, nullptr, {}, {}, saved, saved, false},
        {nullptr, nullptr, {}, "1200", saved, {Kind::Files, "/tallennettu", 1200, 1200}, true}, // re-sets the saved one's
        {nullptr, nullptr, "file:/tmp/sivut", {}, saved, {Kind::Files, "/tmp/sivut", 600, 600}, true},
        {nullptr, nullptr, "file:sivut", "600x1200", saved, {Kind::Files, "sivut", 600, 1200}, true},
        {"file:/ymparisto", "203", {}, {}, saved, {Kind::Files, "/ymparisto", 203, 203}, true},
        {"file:/ymparisto", "203", {}, "600x1200", saved, {Kind::Files, "/ymparisto", 600, 1200}, true},
        {"file:/ymparisto", "203", "Toimisto_laser", {}, saved, {Kind::NamedCups, "Toimisto_laser"}, true},
        // each setting on its own: the environment's resolution for the command line's folder
        {nullptr, "300", "file:/tmp/sivut", {}, saved, {Kind::Files, "/tmp/sivut", 300, 300}, true},
        {"file:/ymparisto", nullptr, {}, {}, saved, {Kind::Files, "/ymparisto", 600, 600}, true},
        {nullptr, "300", {}, {}, saved, {Kind::Files, "/tallennettu", 300, 300}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.envPrinter ? "environment, " : "") + c.printer.value_or("-") + ", " + c.dpi.value_or("-"));
        ScopedEnv printer("RAITAKONE_PRINTER", c.envPrinter), dpi("RAITAKONE_DPI", c.envDpi);
        const StartingPrinter start = startingPrinter(c.printer, c.dpi, c.saved);
        EXPECT_EQ(start.choice, c.choice);
        EXPECT_EQ(start.fixed, c.fixed);
    }
    ScopedEnv printer("RAITAKONE_PRINTER", nullptr);
    EXPECT_THROW(startingPrinter({}, "1200", {}), RuntimeError) << "a resolution for the CUPS default";
    ScopedEnv badDpi("RAITAKONE_DPI", "abc");
    EXPECT_THROW(startingPrinter("file:/tmp/sivut", "600", {}), RuntimeError) << "a bad value overridden is still bad";
}

TEST(PrinterSelection, BadValuesAreErrorsNamingWhereTheyCameFromAndTheValue)
{
    auto expectRefused = [](const Text& printer, const Text& dpi, ChoiceSource source, const std::string& where,
                            const std::string& what) {
        const std::string message = testing::errorOf([&] { parsePrinterChoice(printer, dpi, source); });
        EXPECT_NE(message.find(where), std::string::npos) << message;
        EXPECT_NE(message.find(what), std::string::npos) << message;
    };
    expectRefused("", {}, ChoiceSource::Environment, "RAITAKONE_PRINTER", "\"\"");
    expectRefused("file:", {}, ChoiceSource::CommandLine, "--printer", "\"file:\"");
    for (const std::string dpi : {"", "0", "-600", "abc", "600dpi", "600 ", " 600", "600x", "x600", "600x0", "600x-1",
                                  "600x1200x300", "1.5", "99999999999", "600X1200", "2401"}) {
        expectRefused("file:/tmp/sivut", dpi, ChoiceSource::Environment, "RAITAKONE_DPI", "\"" + dpi + "\"");
        expectRefused("file:/tmp/sivut", dpi, ChoiceSource::CommandLine, "--dpi", "\"" + dpi + "\"");
    }
    // A CUPS printer prints at its own resolution: asking for another is an error, not ignored.
    for (const Text& printer : {Text("Toimisto_laser"), Text()})
        expectRefused(printer, "600", ChoiceSource::Environment, "RAITAKONE_DPI", "omalla tarkkuudellaan");
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
    ScopedEnv printer("RAITAKONE_PRINTER", ("file:" + path).c_str()), dpi("RAITAKONE_DPI", "300x600");
    const std::unique_ptr<PrinterBackend> backend = connectConfiguredPrinter();
    EXPECT_EQ(backend->displayName(), "sivutiedostot: " + path);
    EXPECT_EQ(std::make_pair(backend->geometry().dpiX, backend->geometry().dpiY), std::make_pair(300.0, 600.0));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    ScopedEnv badDpi("RAITAKONE_DPI", "600;");
    EXPECT_THROW(connectConfiguredPrinter(), RuntimeError);
}

} // namespace
} // namespace raitakone
