// Which printer the pages go to: for each setting the command line over the
// environment over the saved choice over the CUPS default, and bad values
// refused by name.

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
    const Paper label{{}, 100, 150}, a5{"A5", 148, 210};
    const PrinterChoice saved{Kind::Files, "/tallennettu", 300, 300, label};
    const struct {
        const char *envPrinter, *envDpi, *envPaper;
        ChoiceValues commandLine;
        std::optional<PrinterChoice> saved;
        PrinterChoice choice;
        bool fixed;
    } cases[] = {
        {nullptr, nullptr, nullptr, {}, {}, {}, false},
        {nullptr, nullptr, nullptr, {}, saved, saved, false},
        {nullptr, nullptr, nullptr, {{}, "1200", {}}, saved, {Kind::Files, "/tallennettu", 1200, 1200, label}, true},
        {nullptr, nullptr, nullptr, {{}, {}, "a5"}, saved, {Kind::Files, "/tallennettu", 300, 300, a5}, true},
        {nullptr, nullptr, nullptr, {"file:/tmp/sivut", {}, {}}, saved, {Kind::Files, "/tmp/sivut", 600, 600}, true},
        {nullptr, nullptr, nullptr, {"file:sivut", "600x1200", "100x150mm"}, saved,
         {Kind::Files, "sivut", 600, 1200, label}, true},
        {"file:/ymparisto", "203", "A5", {}, saved, {Kind::Files, "/ymparisto", 203, 203, a5}, true},
        {"file:/ymparisto", "203", "A5", {{}, "600x1200", {}}, saved, {Kind::Files, "/ymparisto", 600, 1200, a5}, true},
        {"file:/ymparisto", "203", "A5", {{}, {}, "100x150mm"}, saved, {Kind::Files, "/ymparisto", 203, 203, label},
         true},
        {"file:/ymparisto", "203", "A5", {"Toimisto_laser", {}, {}}, saved, {Kind::NamedCups, "Toimisto_laser"}, true},
        // each setting on its own: the environment's resolution and paper for
        // the command line's folder; the saved choice's only for the saved folder
        {nullptr, "300", nullptr, {"file:/tmp/sivut", {}, {}}, saved, {Kind::Files, "/tmp/sivut", 300, 300}, true},
        {nullptr, nullptr, "A5", {"file:/tmp/sivut", {}, {}}, saved, {Kind::Files, "/tmp/sivut", 600, 600, a5}, true},
        {"file:/ymparisto", nullptr, nullptr, {}, saved, {Kind::Files, "/ymparisto", 600, 600}, true},
        {nullptr, "203", nullptr, {}, saved, {Kind::Files, "/tallennettu", 203, 203, label}, true},
        {nullptr, nullptr, "A5", {}, saved, {Kind::Files, "/tallennettu", 300, 300, a5}, true},
        {nullptr, "203", "A5", {{}, {}, "100x150mm"}, saved, {Kind::Files, "/tallennettu", 203, 203, label}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.envPrinter ? "environment, " : "") + c.commandLine.printer.value_or("-") + ", " +
                     c.commandLine.dpi.value_or("-") + ", " + c.commandLine.paper.value_or("-"));
        ScopedEnv printer("RAITAKONE_PRINTER", c.envPrinter), dpi("RAITAKONE_DPI", c.envDpi),
            paper("RAITAKONE_PAPER", c.envPaper);
        const StartingPrinter start = startingPrinter(c.commandLine, c.saved);
        EXPECT_EQ(start.choice, c.choice);
        EXPECT_EQ(start.fixed, c.fixed);
    }
    ScopedEnv printer("RAITAKONE_PRINTER", nullptr);
    EXPECT_THROW(startingPrinter({{}, "1200", {}}, {}), RuntimeError) << "a resolution for the CUPS default";
    EXPECT_THROW(startingPrinter({{}, {}, "A5"}, {}), RuntimeError) << "a paper for the CUPS default";
    {
        ScopedEnv badDpi("RAITAKONE_DPI", "abc");
        EXPECT_THROW(startingPrinter({"file:/tmp/sivut", "600", {}}, {}), RuntimeError)
            << "a bad resolution overridden is still bad";
    }
    ScopedEnv badPaper("RAITAKONE_PAPER", "A9");
    EXPECT_THROW(startingPrinter({"file:/tmp/sivut", {}, "A4"}, {}), RuntimeError)
        << "a bad paper overridden is still bad";
}

TEST(PrinterSelection, BadValuesAreErrorsNamingWhereTheyCameFromAndTheValue)
{
    auto expectRefused = [](const ChoiceValues& values, ChoiceSource source, const std::string& where,
                            const std::string& what) {
        const std::string message = testing::errorOf([&] { parsePrinterChoice(values, source); });
        EXPECT_NE(message.find(where), std::string::npos) << message;
        EXPECT_NE(message.find(what), std::string::npos) << message;
    };
    expectRefused({"", {}, {}}, ChoiceSource::Environment, "RAITAKONE_PRINTER", "\"\"");
    expectRefused({"file:", {}, {}}, ChoiceSource::CommandLine, "--printer", "\"file:\"");
    for (const std::string dpi : {"", "0", "-600", "abc", "600dpi", "600 ", " 600", "600x", "x600", "600x0", "600x-1",
                                  "600x1200x300", "1.5", "99999999999", "600X1200", "2401"}) {
        expectRefused({"file:/tmp/sivut", dpi, {}}, ChoiceSource::Environment, "RAITAKONE_DPI", "\"" + dpi + "\"");
        expectRefused({"file:/tmp/sivut", dpi, {}}, ChoiceSource::CommandLine, "--dpi", "\"" + dpi + "\"");
    }
    // Sides from 10 mm to 1 m, with a unit; names as known.
    for (const std::string paper : {"", "A7", "B5", "100x150", "100x150cm", "9x150mm", "100x1001mm", "0.3x6in",
                                    "40x6in", "x150mm", "100x150x2mm", "1..5x150mm", "-100x150mm", " A4"}) {
        expectRefused({"file:/tmp/sivut", {}, paper}, ChoiceSource::Environment, "RAITAKONE_PAPER", "\"" + paper + "\"");
        expectRefused({"file:/tmp/sivut", {}, paper}, ChoiceSource::CommandLine, "--paper", "\"" + paper + "\"");
        expectRefused({"file:/tmp/sivut", {}, paper}, ChoiceSource::Window, "Paperin", "\"" + paper + "\"");
    }
    // A CUPS printer prints at its own resolution, on its own media: asking
    // for another is an error, not ignored.
    for (const Text& printer : {Text("Toimisto_laser"), Text()}) {
        expectRefused({printer, "600", {}}, ChoiceSource::Environment, "RAITAKONE_DPI", "omalla tarkkuudellaan");
        expectRefused({printer, {}, "A4"}, ChoiceSource::CommandLine, "--paper", "oletuspaperilleen");
    }
}

// Every way of naming a paper gives its size in millimetres, portrait as given.
TEST(PrinterSelection, PapersByNameAndBySize)
{
    const struct {
        const char* text;
        Paper paper;
    } cases[] = {
        {"A4", kA4Paper},
        {"a5", {"A5", 148, 210}},
        {"LETTER", {"Letter", 215.9, 279.4}},
        {"Legal", {"Legal", 215.9, 355.6}},
        {"100x150mm", {{}, 100, 150}},
        {"150X100MM", {{}, 150, 100}},
        {"101,6x152.4mm", {{}, 101.6, 152.4}},
        {"4x6in", {"4x6in", 101.6, 152.4}},
        {"10x1000mm", {{}, 10, 1000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<Paper> paper = parsePaper(c.text);
        ASSERT_TRUE(paper.has_value());
        EXPECT_EQ(paper->name, c.paper.name);
        EXPECT_NEAR(paper->widthMm, c.paper.widthMm, 1e-9);
        EXPECT_NEAR(paper->heightMm, c.paper.heightMm, 1e-9);
        EXPECT_EQ(parsePaper(paper->optionText()), paper) << paper->optionText() << " reads back";
    }
    EXPECT_EQ(parsePaper("100x150mm")->description(), "100 × 150 mm");
    EXPECT_EQ(parsePaper("letter")->description(), "Letter, 215,9 × 279,4 mm");
}

TEST(PrinterSelection, SavedChoiceRoundTripsAndDamagedSettingsAreIgnored)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("raitakone.conf"), QSettings::IniFormat);
    EXPECT_EQ(loadPrinterChoice(settings), std::nullopt);
    for (const PrinterChoice& choice : {PrinterChoice{}, PrinterChoice{Kind::NamedCups, "Toimisto_laser"},
                                        PrinterChoice{Kind::Files, "/sivut ja ä", 600, 1200},
                                        PrinterChoice{Kind::Files, "/tarrat", 203, 203, {{}, 100, 150}}}) {
        savePrinterChoice(settings, choice);
        EXPECT_EQ(loadPrinterChoice(settings), choice);
    }
    settings.remove("printer/paper");
    EXPECT_EQ(loadPrinterChoice(settings)->paper, kA4Paper) << "saved before papers could be chosen";
    settings.setValue("printer/paper", "A9");
    EXPECT_EQ(loadPrinterChoice(settings), std::nullopt);
    settings.setValue("printer/paper", "A4");
    settings.setValue("printer/dpiX", 0);
    EXPECT_EQ(loadPrinterChoice(settings), std::nullopt);
    settings.setValue("printer/kind", "laser");
    EXPECT_EQ(loadPrinterChoice(settings), std::nullopt);
}

TEST(PrinterSelection, ConnectsThePageFilePrinterTheEnvironmentNames)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("sivut").toStdString();
    ScopedEnv printer("RAITAKONE_PRINTER", ("file:" + path).c_str()), dpi("RAITAKONE_DPI", "300x600"),
        paper("RAITAKONE_PAPER", "4x6in");
    const std::unique_ptr<PrinterBackend> backend = connectConfiguredPrinter();
    EXPECT_EQ(backend->displayName(), "sivutiedostot: " + path);
    EXPECT_EQ(backend->mediaText(), "4x6in, 101,6 × 152,4 mm");
    EXPECT_EQ(backend->geometry().paper.optionText(), "4x6in");
    EXPECT_EQ(std::make_pair(backend->geometry().dpiX, backend->geometry().dpiY), std::make_pair(300.0, 600.0));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    ScopedEnv badDpi("RAITAKONE_DPI", "600;");
    EXPECT_THROW(connectConfiguredPrinter(), RuntimeError);
}

} // namespace
} // namespace raitakone
