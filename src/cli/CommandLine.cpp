#include "cli/CommandLine.h"

#include "app/EnterPressesButtons.h"
#include "app/Form1.h"
#include "app/PageSeries.h"
#include "app/PrinterDialog.h"
#include "app/QtTranslations.h"
#include "cli/CalibrateCommand.h"
#include "process/TerminationSignals.h"
#include "cli/GradeCommand.h"
#include "cli/ReportCommand.h"
#include "grading/ScanFile.h"
#include "ladder/LadderPage.h"
#include "printing/CupsPrinter.h"
#include "printing/PrinterSelection.h"
#include "surface/PictureSurface.h"
#include "surface/RuntimeError.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>
#include <QRegularExpression>
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
                                                            "kansioon (file:KANSIO)."),
                               "NIMI|file:KANSIO"};
    QCommandLineOption dpi{"dpi", QString::fromUtf8("Anna sivutiedostojen tarkkuus: 600 tai 600x1200."), "DPI"};
    QCommandLineOption paper{"paper", QString::fromUtf8("Anna sivutiedostojen paperi: A4 (oletus), A5, A6, A3, "
                                                        "Letter, Legal tai koko, esim. 100x150mm tai 4x6in."),
                             "PAPERI"};
    QCommandLineOption print{"print", QString::fromUtf8("Tulosta sivut ilman ikkunaa: all (kaikki 20 sivua) tai "
                                                        "sivujen nimet (luettelo alla).")};
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
        parser.addOptions({printer, dpi, paper, print, mark, listPrinters});
        addGradeOptions(parser);
        addReportOptions(parser);
        addCalibrateOptions(parser);
        parser.addOptions({help, version});
        parser.addPositionalArgument(QString::fromUtf8("SIVU"), QString::fromUtf8("Tulostettava sivu (--print)."),
                                     QString::fromUtf8("[SIVU...]"));
        parser.addPositionalArgument(QString::fromUtf8("SKANNAUS"),
                                     QString::fromUtf8("Raportoitava skannaus (--report): PNG, TIFF, JPEG tai PDF."),
                                     QString::fromUtf8("[SKANNAUS...]"));
        parser.addPositionalArgument(QString::fromUtf8("LAITE"),
                                     QString::fromUtf8("Skanneri (--scan); ilman sitä ensimmäinen löytyvä."),
                                     QString::fromUtf8("[LAITE]"));
    }
};

// "Command10:1 "Valkea 2  (rgb+bf)"", or the name alone where the caption is
// the name; width pads the name.
QString pageTitle(const PrintPage& page, int width = 0)
{
    const QString name = QString::fromStdString(page.name());
    if (page.caption == page.name())
        return name;
    return QString::fromUtf8("%1 \"%2\"").arg(name, -width).arg(QString::fromStdString(page.caption));
}

// The pages --print takes: each by its control name and its caption.
QString pageList()
{
    QString text = QString::fromUtf8("\nSivut (--print): all (kaikki) tai seuraavat nimellä tai painikkeen "
                                     "tekstillä:\n");
    for (const PrintPage& page : allPrintPages())
        text += QStringLiteral("  ") + pageTitle(page, 13) + QLatin1Char('\n');
    return text;
}

QString finnishHelp(const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    // The parser is read before the application exists, so it does not
    // know the program's name.
    text.replace("<executable_name>", QStringLiteral("raitakone"));
    text.replace("Usage:", QString::fromUtf8("Käyttö:"));
    text.replace("Options:", QString::fromUtf8("Valinnat:"));
    text.replace("Arguments:", QString::fromUtf8("Argumentit:"));
    text.replace("[options]", QString::fromUtf8("[valinnat]"));
    return text + pageList();
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
    // Qt words the rest in English: the two it can say, in Finnish.
    static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'\\.$"));
    static const QRegularExpression unexpected(QStringLiteral("^Unexpected value after '(.*)'\\.$"));
    QString why = parser.errorText();
    if (const QRegularExpressionMatch m = missing.match(why); m.hasMatch())
        why = QString::fromUtf8("valinnalta %1 puuttuu arvo").arg(m.captured(1));
    else if (const QRegularExpressionMatch m = unexpected.match(why); m.hasMatch())
        why = QString::fromUtf8("valinta %1 ei ota arvoa").arg(m.captured(1));
    throw UsageError{QString::fromUtf8("Virheellinen komentorivi: %1. Katso raitakone --help.").arg(why)};
}

// A caption as typed on a command line: spaces run together and case
// forgotten, "valkea 2 (RGB+BF)" for "Valkea 2  (rgb+bf)".
QString looseName(const QString& name) { return name.simplified().toCaseFolded(); }

} // namespace

std::optional<PrintPage> pageNamedLoosely(const QString& name, QString* error)
{
    if (std::optional<PrintPage> page = findPrintPage(name.toStdString()))
        return *page;
    std::vector<PrintPage> fits;
    for (const PrintPage& page : allPrintPages())
        if (looseName(QString::fromStdString(page.caption)) == looseName(name) ||
            looseName(QString::fromStdString(page.name())) == looseName(name))
            fits.push_back(page);
    if (fits.size() == 1)
        return fits.front();
    QStringList names;
    for (const PrintPage& page : fits.empty() ? std::vector<PrintPage>(allPrintPages().begin(), allPrintPages().end())
                                              : fits)
        names << pageTitle(page);
    *error = QString::fromUtf8(fits.empty() ? "Tuntematon sivu \"%1\". Sivu on jokin näistä, nimellä tai painikkeen "
                                              "tekstillä: %2."
                                            : "Sivun nimi \"%1\" sopii usealle sivulle: %2. Kirjoita nimi "
                                              "tarkemmin.")
                 .arg(name, names.join(QStringLiteral(", ")));
    return std::nullopt;
}

namespace {

// The page a name means; a usage error listing the names otherwise.
PrintPage pageNamed(const QString& name)
{
    QString error;
    if (std::optional<PrintPage> page = pageNamedLoosely(name, &error))
        return *page;
    throw UsageError{error + QString::fromUtf8(" Kaikki sivut: all.")};
}

// Options that cannot go together, or one without the entry that reads it:
// each is a usage error, never silently ignored.
void checkCombinations(const QCommandLineParser& parser, const Options& options)
{
    const bool grading = gradeRequested(parser) || reportRequested(parser);
    if (reportRequested(parser)) {
        for (const QString& name : {QStringLiteral("grade"), QStringLiteral("plot")})
            if (parser.isSet(name))
                throw UsageError{QString::fromUtf8("--report arvioi koko sarjan, ja profiilit ovat raportissa; "
                                                   "--%1 kuuluu yhden skannauksen arviointiin (--grade).")
                                     .arg(name)};
    }
    if (calibrateRequested(parser)) {
        if (grading || parser.isSet(options.print) || parser.isSet(options.listPrinters))
            throw UsageError{QString::fromUtf8("--calibrate tekee skannerin kalibroinnin; anna arviointi, tulostus "
                                               "tai luettelo eri komennolla.")};
        if (parser.isSet(QStringLiteral("page")) || !parser.positionalArguments().isEmpty())
            throw UsageError{QString::fromUtf8("--calibrate lukee yhden askelkiilan skannauksen ja valitsimen "
                                               "--reference viitetiedoston; muita argumentteja ei käytetä.")};
        for (const QCommandLineOption* printing : {&options.printer, &options.dpi, &options.paper, &options.mark})
            if (parser.isSet(*printing))
                throw UsageError{QString::fromUtf8("--%1 ei kuulu kalibrointiin (--calibrate).")
                                     .arg(printing->names().constLast())};
        if (const QString alone = gradingOptionAlone(parser); !alone.isEmpty())
            throw UsageError{QString::fromUtf8("%1 ei kuulu kalibrointiin (--calibrate).").arg(alone)};
        return;
    }
    if (const QString alone = calibrateOptionAlone(parser); !alone.isEmpty())
        throw UsageError{QString::fromUtf8("%1 kuuluu kalibrointiin: lisää --calibrate SKANNAUS.").arg(alone)};
    if (const QString alone = reportOptionAlone(parser); !alone.isEmpty())
        throw UsageError{QString::fromUtf8("%1 kuuluu raporttiin: lisää --report.").arg(alone)};
    if (parser.isSet(options.print) && (grading || parser.isSet(options.listPrinters)))
        throw UsageError{QString::fromUtf8("--print tulostaa sivut; sitä ei voi yhdistää valintoihin %1. Anna ne "
                                           "eri komennoilla.")
                             .arg(grading ? "--grade/--scan/--report" : "--list-printers")};
    if (grading && parser.isSet(options.listPrinters))
        throw UsageError{QString::fromUtf8("--list-printers ja --grade/--scan/--report ovat eri komentoja; anna ne erikseen.")};
    for (const QCommandLineOption* printing : {&options.printer, &options.dpi, &options.paper})
        if (grading && parser.isSet(*printing))
            throw UsageError{QString::fromUtf8("--%1 valitsee tulostimen sivuille, mutta arviointi ei tulosta. "
                                               "Tulostimen tarkkuuden arvioinnille antaa valitsin --printer-dpi.")
                                 .arg(printing->names().constFirst())};
    if (const QString alone = gradingOptionAlone(parser); !alone.isEmpty())
        throw UsageError{QString::fromUtf8("%1 kuuluu arviointiin: lisää --grade SKANNAUS tai --scan.").arg(alone)};
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
        } else {
            pages.push_back(pageNamed(name));
        }
    }
    return pages;
}

std::optional<std::string> optionValue(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    if (!parser.isSet(option))
        return std::nullopt;
    return grading::encodeFileName(parser.value(option)).toStdString();
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
                QTextStream& err, const std::function<bool()>& stopRequested, SeriesCount* count, bool mark)
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
    if (count)
        *count = {0, int(pages.size())};
    for (size_t i = 0; i < pages.size(); ++i) {
        if (stopRequested && stopRequested()) {
            if (count)
                count->handled = int(i);
            return kFailed;
        }
        const PrintPage& page = pages[i];
        const QString counter = QString("[%1/%2] ").arg(i + 1).arg(total);
        try {
            printMarkedPage(page, mark, marker, std::to_string(i + 1) + "/" + total.toStdString(), printer, preview,
                            nothingEnds, say);
            printer.releasePrinter();
            const std::optional<Delivery> delivery = printer.takeLastDelivery();
            out << counter << QString::fromStdString(page.caption + " " + (delivery ? deliveryText(*delivery) : "→ ?"))
                << Qt::endl;
            if (delivery)
                for (const std::string* notice : {&delivery->minorNotice, &delivery->notice})
                    if (!notice->empty())
                        err << QString::fromStdString(page.caption + ": " + *notice) << Qt::endl;
        } catch (const std::exception& error) {
            printer.KillDoc();
            status = kFailed;
            out << counter << QString::fromStdString(page.caption) << QString::fromUtf8(" epäonnistui") << Qt::endl;
            err << QString::fromStdString(page.caption) << ": " << QString::fromStdString(error.what()) << Qt::endl;
        }
    }
    if (count)
        count->handled = int(pages.size());
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
        arguments << grading::decodeFileName(argv[i]); // file names as the file system has them

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
        checkCombinations(parser, options);
        if (parser.isSet(options.mark) && !parser.isSet(options.print))
            throw UsageError{QString::fromUtf8("--mark merkitsee sivut, jotka tulostetaan valinnalla --print.")};
        if (parser.isSet(options.print))
            pages = pagesNamed(parser.positionalArguments());
        else if (scanRequested(parser) && parser.positionalArguments().size() > 1)
            throw UsageError{QString::fromUtf8("--scan käyttää yhtä skanneria; ylimääräinen argumentti \"%1\".")
                                 .arg(parser.positionalArguments().at(1))};
        else if (!scanRequested(parser) && !reportRequested(parser) && !parser.positionalArguments().isEmpty())
            throw UsageError{QString::fromUtf8("Ylimääräinen argumentti \"%1\". Sivut tulostetaan valinnalla "
                                               "--print.")
                                 .arg(parser.positionalArguments().first())};
        if (!parser.isSet(options.listPrinters) && !gradeRequested(parser) && !reportRequested(parser) &&
            !calibrateRequested(parser)) {
            const StartingPrinter start = startingPrinter({optionValue(parser, options.printer),
                                                           optionValue(parser, options.dpi),
                                                           optionValue(parser, options.paper)},
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

    const bool window = !parser.isSet(options.print) && !parser.isSet(options.listPrinters) &&
                        !gradeRequested(parser) && !reportRequested(parser) && !calibrateRequested(parser);
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
    installQtTranslations(QLocale::system());
    installEnterPressesButtons();
    QApplication::setApplicationName(QString::fromUtf8(kMessageCaption));
    QApplication::setApplicationVersion(RAITAKONE_VERSION);

    if (parser.isSet(options.listPrinters))
        return listPrinters(out, err);
    if (calibrateRequested(parser))
        return runCalibrate(parser, out, err);
    if (reportRequested(parser))
        return runReport(parser, out, err);
    if (gradeRequested(parser))
        return runGrade(parser, out, err);

    if (parser.isSet(options.print)) {
        SeriesCount count;
        const int status = printSeries(pages, current.connector(), out, err, terminationRequested, &count,
                                       parser.isSet(options.mark));
        if (!terminationRequested())
            return status;
        if (count.handled == count.total)
            err << QString::fromUtf8("Keskeytetty (signaali %1) viimeisen sivun jälkeen: kaikki %2 sivua käsiteltiin.")
                       .arg(terminationSignal())
                       .arg(count.total)
                << Qt::endl;
        else
            err << QString::fromUtf8("Keskeytetty (signaali %1): %2/%3 sivua käsiteltiin; loput %4 jäivät "
                                     "tulostamatta.")
                       .arg(terminationSignal())
                       .arg(count.handled)
                       .arg(count.total)
                       .arg(count.total - count.handled)
                << Qt::endl;
        return 128 + terminationSignal();
    }
    return runWindow(current);
}

} // namespace raitakone
