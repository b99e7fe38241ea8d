#include "cli/CommandLine.h"

#include "app/Form1.h"
#include "app/PageSeries.h"
#include "app/PrinterDialog.h"
#include "app/TerminationSignals.h"
#include "cli/GradeCommand.h"
#include "ladder/LadderPage.h"
#include "printing/CupsPrinter.h"
#include "printing/PrinterSelection.h"
#include "surface/PictureSurface.h"
#include "surface/RuntimeError.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>

#include <QDir>

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <optional>

#ifndef RAITAKONE_VERSION
#define RAITAKONE_VERSION "0"
#endif

namespace raitakone {
namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadInput = 2;

// A bad command line: the message names the bad value.
struct UsageError {
    QString message;
};

struct Options {
    QCommandLineOption printer{"printer", QString::fromUtf8("Tulosta CUPS-tulostimelle NIMI tai sivutiedostoiksi "
                                                            "hakemistoon (file:HAKEMISTO)."),
                               "NIMI|file:HAKEMISTO"};
    QCommandLineOption dpi{"dpi", QString::fromUtf8("Sivutiedostojen tarkkuus: 600 tai 600x1200."), "DPI"};
    QCommandLineOption print{"print", QString::fromUtf8("Tulosta sivut ilman ikkunaa: all (kaikki 20 sivua) tai "
                                                        "sivujen nimet, esim. Command10:2, \"Valkea 3 (bf)\", "
                                                        "siirra, ladder (Kavennustikkaat).")};
    QCommandLineOption mark{"mark", QString::fromUtf8("Merkitse sivut (--print): sivun nimi, tulostin, tarkkuus, "
                                                      "paperi, aika ja järjestysnumero tekstinä ja QR-koodina "
                                                      "oikeaan alakulmaan.")};
    QCommandLineOption listPrinters{"list-printers", QString::fromUtf8("Luettele CUPS-tulostimet.")};
    QCommandLineOption help{QStringList{"h", "help"}, QString::fromUtf8("Näytä tämä ohje.")};
    QCommandLineOption version{QStringList{"v", "version"}, QString::fromUtf8("Näytä versio.")};

    void addTo(QCommandLineParser& parser) const
    {
        parser.setApplicationDescription(
            QString::fromUtf8("Raitakone tulostaa saman Code 128 -viivakoodin eri piirtotavoin ja testaa, miten "
                              "tulostin sen toistaa. Ilman valintoja avautuu ikkuna."));
        parser.addOptions({printer, dpi, print, mark, listPrinters});
        addGradeOptions(parser);
        parser.addOptions({help, version});
        parser.addPositionalArgument(QString::fromUtf8("SIVU"), QString::fromUtf8("Tulostettava sivu (--print)."),
                                     QString::fromUtf8("[SIVU...]"));
        parser.addPositionalArgument(QString::fromUtf8("LAITE"),
                                     QString::fromUtf8("Skanneri (--scan); ilman sitä ensimmäinen löytyvä."),
                                     QString::fromUtf8("[LAITE]"));
    }
};

QString finnishHelp(const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    text.replace("Usage:", QString::fromUtf8("Käyttö:"));
    text.replace("Options:", QString::fromUtf8("Valinnat:"));
    text.replace("Arguments:", QString::fromUtf8("Argumentit:"));
    text.replace("[options]", QString::fromUtf8("[valinnat]"));
    return text;
}

// Reads the command line; throws UsageError.
void parse(QCommandLineParser& parser, const QStringList& arguments)
{
    if (parser.parse(arguments))
        return;
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        throw UsageError{QString::fromUtf8("Tuntematon valinta: %1%2. Katso raitakone --help.")
                             .arg(unknown.first().size() == 1 ? "-" : "--", unknown.first())};
    throw UsageError{QString::fromUtf8("Virheellinen komentorivi: %1. Katso raitakone --help.")
                         .arg(parser.errorText())};
}

std::vector<PrintPage> pagesNamed(const QStringList& names)
{
    if (names.isEmpty())
        throw UsageError{QString::fromUtf8("--print tarvitsee sivut: all tai sivujen nimet (esim. Command10:2 tai "
                                           "\"Valkea 3 (bf)\").")};
    std::vector<PrintPage> pages;
    for (const QString& name : names) {
        if (name == "all") {
            pages.insert(pages.end(), allPrintPages().begin(), allPrintPages().end());
        } else if (name == kLadderControl || name == ladder::kLadderCaption) {
            pages.push_back(ladderPrintPage());
        } else if (std::optional<PrintPage> page = findPrintPage(name.toStdString())) {
            pages.push_back(*page);
        } else {
            throw UsageError{QString::fromUtf8("Tuntematon sivu \"%1\". Sivu on all, ohjausobjektin nimi "
                                               "indekseineen (Command10:2), painikkeen teksti (\"Valkea 3 (bf)\") "
                                               "tai siirra.")
                                 .arg(name)};
        }
    }
    return pages;
}

std::optional<std::string> optionValue(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    if (!parser.isSet(option))
        return std::nullopt;
    return parser.value(option).toStdString();
}

// The saved printer choice lives in the XDG config folder
// (~/.config/raitakone/raitakone.conf).
std::unique_ptr<QSettings> programSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "raitakone", "raitakone");
}

constexpr const char* kMarkPagesKey = "pages/mark";

// The printer the pages go to, chosen in the window while it runs.
struct CurrentPrinter {
    PrinterChoice choice;
    bool remember = false;

    PrinterSurface::Connector connector()
    {
        return [this] { return connectPrinter(choice); };
    }
};

int runWindow(CurrentPrinter& current)
{
    Form1 form(current.connector());
    form.setPrinterChooser([&current](QWidget* parent) {
        const std::optional<PrinterChoice> chosen = choosePrinterInDialog(parent, current.choice);
        if (!chosen || *chosen == current.choice)
            return false;
        current.choice = *chosen;
        if (current.remember) {
            savePrinterChoice(*programSettings(), current.choice);
        }
        return true;
    });
    // "Merkitse sivut" is kept beside the printer choice, whoever named the printer.
    form.setMarkPages(programSettings()->value(kMarkPagesKey, false).toBool());
    form.setMarkPagesHandler([](bool mark) { programSettings()->setValue(kMarkPagesKey, mark); });
    // A stop request closes the window as Poistu does, once the page in hand
    // is finished.
    onTermination(&form, [&form] { form.endProgram(); });
    form.show();
    return QApplication::exec();
}

} // namespace

int printSeries(const std::vector<PrintPage>& named, const PrinterSurface::Connector& connector, QTextStream& out,
                QTextStream& err, const std::function<bool()>& stopRequested, bool mark)
{
    PrinterSurface printer(connector);
    marking::PageMarker marker;
    std::vector<PrintPage> pages = named;
    try {
        pages = withLadderSheets(named, printer);
    } catch (const std::exception&) {
        // The ladder's first sheet says why when it fails to print.
    }
    // Command3's preview needs a picture box; here nobody sees it.
    PictureSurface preview(kPictureWidth, kPictureHeight);
    const auto nothingEnds = [] {};
    const auto say = [&out](const std::string& text) { out << QString::fromStdString(text) << Qt::endl; };

    int status = kDone;
    const QString total = QString::number(pages.size());
    for (size_t i = 0; i < pages.size(); ++i) {
        if (stopRequested && stopRequested())
            return kFailed;
        const PrintPage& page = pages[i];
        const QString counter = QString("[%1/%2] ").arg(i + 1).arg(total);
        try {
            printMarkedPage(page, mark, marker, std::to_string(i + 1) + "/" + total.toStdString(), printer, preview,
                            nothingEnds, say);
            printer.releasePrinter();
            const std::optional<Delivery> delivery = printer.takeLastDelivery();
            out << counter << QString::fromStdString(page.caption + " " + (delivery ? deliveryText(*delivery) : "→ ?"))
                << Qt::endl;
            if (delivery && !delivery->notice.empty())
                err << QString::fromStdString(delivery->notice) << Qt::endl;
        } catch (const std::exception& error) {
            printer.KillDoc();
            status = kFailed;
            out << counter << QString::fromStdString(page.caption) << QString::fromUtf8(" epäonnistui") << Qt::endl;
            err << QString::fromStdString(page.caption) << ": " << QString::fromStdString(error.what()) << Qt::endl;
        }
    }
    return status;
}

int listPrinters(QTextStream& out, QTextStream& err)
{
    try {
        const std::vector<CupsDestinationSummary> destinations = listCupsDestinations();
        if (destinations.empty())
            out << QString::fromUtf8("CUPS-tulostimia ei ole asennettu.") << Qt::endl;
        for (const CupsDestinationSummary& d : destinations) {
            QString line = QString::fromStdString(d.name);
            if (d.isDefault)
                line += QString::fromUtf8(" (oletus)");
            line += QString::fromUtf8(" · ") + QString::fromStdString(d.state);
            if (d.dpiX > 0)
                line += QString::fromUtf8(" · ") + QString::fromStdString(resolutionText(d.dpiX, d.dpiY));
            line += QString::fromUtf8(" · ") + QString::fromStdString(d.details);
            out << line << Qt::endl;
        }
        return kDone;
    } catch (const RuntimeError& error) {
        err << QString::fromStdString(error.what()) << Qt::endl;
        return kFailed;
    }
}

int runProgram(int argc, char** argv)
{
    // First, before any thread exists that a signal could kill.
    installTerminationHandlers();
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // The command line is read before the application exists, so that a bad
    // one is answered without a display.
    QCommandLineParser parser;
    const Options options;
    options.addTo(parser);
    std::vector<PrintPage> pages;
    CurrentPrinter current;
    try {
        parse(parser, arguments);
        if (parser.isSet(options.help)) {
            out << finnishHelp(parser);
            return kDone;
        }
        if (parser.isSet(options.version)) {
            out << "raitakone " << RAITAKONE_VERSION << Qt::endl;
            return kDone;
        }
        if (parser.isSet(options.mark) && !parser.isSet(options.print))
            throw UsageError{QString::fromUtf8("--mark merkitsee sivut, jotka tulostetaan valinnalla --print.")};
        if (parser.isSet(options.print))
            pages = pagesNamed(parser.positionalArguments());
        else if (scanRequested(parser) && parser.positionalArguments().size() > 1)
            throw UsageError{QString::fromUtf8("--scan käyttää yhtä skanneria; ylimääräinen argumentti \"%1\".")
                                 .arg(parser.positionalArguments().at(1))};
        else if (!scanRequested(parser) && !parser.positionalArguments().isEmpty())
            throw UsageError{QString::fromUtf8("Ylimääräinen argumentti \"%1\". Sivut tulostetaan valinnalla "
                                               "--print.")
                                 .arg(parser.positionalArguments().first())};
        if (!parser.isSet(options.listPrinters) && !gradeRequested(parser)) {
            const StartingPrinter start = startingPrinter(optionValue(parser, options.printer),
                                                          optionValue(parser, options.dpi),
                                                          loadPrinterChoice(*programSettings()));
            current.choice = start.choice;
            current.remember = !start.fixed;
        }
    } catch (const RuntimeError& error) {
        err << QString::fromStdString(error.what()) << Qt::endl;
        return kBadInput;
    } catch (const UsageError& error) {
        err << error.message << Qt::endl;
        return kBadInput;
    }

    const bool window = !parser.isSet(options.print) && !parser.isSet(options.listPrinters) && !gradeRequested(parser);
    if (!window && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // no window, so no display needed
    if (!window && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        // Without a desktop session there is no runtime folder; make the one
        // Qt would make, without its warning on every run.
        const QByteArray runtime = QDir::tempPath().toLocal8Bit() + "/raitakone-runtime-" + QByteArray::number(::getuid());
        struct stat folder {};
        ::mkdir(runtime.constData(), 0700);
        if (::lstat(runtime.constData(), &folder) == 0 && S_ISDIR(folder.st_mode) && folder.st_uid == ::getuid() &&
            (folder.st_mode & 077) == 0)
            qputenv("XDG_RUNTIME_DIR", runtime);
    }
    if (window && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        err << QString::fromUtf8("Ikkunaa ei voi avata, koska näyttöä ei ole (DISPLAY puuttuu). Sivut voi "
                                 "tulostaa ilman ikkunaa: raitakone --print all")
            << Qt::endl;
        return kFailed;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kMessageCaption));
    QApplication::setApplicationVersion(RAITAKONE_VERSION);

    if (parser.isSet(options.listPrinters))
        return listPrinters(out, err);
    if (gradeRequested(parser))
        return runGrade(parser, out, err);

    if (parser.isSet(options.print)) {
        const int status =
            printSeries(pages, current.connector(), out, err, terminationRequested, parser.isSet(options.mark));
        if (!terminationRequested())
            return status;
        err << QString::fromUtf8("Keskeytetty (signaali %1): loput sivut jäivät tulostamatta.")
                   .arg(terminationSignal())
            << Qt::endl;
        return 128 + terminationSignal();
    }
    return runWindow(current);
}

} // namespace raitakone
