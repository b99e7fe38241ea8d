// The main window, offscreen: controls against the layout table, click
// routing, the three diagnostics, error reporting and the ways the program ends.

#include "app/Form1.h"
#include "app/PrinterDialog.h"
#include "app/QtTranslations.h"
#include "printing/CupsPrinter.h"
#include "marking/MarkReader.h"
#include "printing/PrinterSelection.h"
#include "printtests/PrintTests.h"
#include "surface/RuntimeError.h"
#include "support/MemoryPrinter.h"
#include "support/ModalDialog.h"

#include <cups/cups.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QCheckBox>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>

using namespace raitakone;
using raitakone::testing::a4Geometry;
using raitakone::testing::MemoryPrinter;
using raitakone::testing::MemoryPrinterRecord;

namespace {

// The controls in tab order: name, Index (-1 for none), caption, left, top,
// width, height in twips.
struct Row { const char* name; int index; const char* caption; int left, top, width, height; };

const Row kLayout[] = {
    {"Command1", -1, "Command1", 8760, 60, 2535, 675},
    {"Command2", -1, "Command2", 8760, 840, 2535, 615},
    {"Command3", -1, "Command3", 8760, 1560, 2535, 555},
    {"picViivakoodi", -1, nullptr, 240, 5640, 11055, 1335},
    {"Command4", -1, "Viivakodi PK DrawWidth", 120, 0, 2175, 975},
    {"Command5", -1, "Viivakoodi 30.11.", 120, 1140, 1695, 1095},
    {"Command6", -1, "Command6", 120, 2880, 1695, 1335},
    {"Command7", 0, "1 00", 3960, 60, 735, 495},
    {"Command7", 1, "2 10", 3960, 660, 735, 495},
    {"Command7", 2, "3 01", 3960, 1260, 735, 495},
    {"Command7", 3, "4 11", 3960, 1860, 735, 435},
    {"Command8", -1, "Poistu", 8760, 2280, 2535, 1095},
    {"Command9", -1, "OK ", 2400, 2820, 1095, 675},
    {"Command10", 0, "Valkea 1 (perus)", 4920, 60, 1695, 495},
    {"Command10", 1, "Valkea 2  (rgb+bf)", 4920, 660, 1695, 495},
    {"Command10", 2, "Valkea 3 (bf)", 4920, 1260, 1695, 495},
    {"Command10", 3, "Valkea 4 (rgb)", 4920, 1860, 1695, 435},
    {"Command11", 0, "Samsung 1", 6840, 60, 1575, 495},
    {"Command11", 1, "Samsung 2", 6840, 660, 1575, 495},
    {"Command11", 2, "Samsung 3", 6840, 1260, 1575, 495},
    {"Command11", 3, "Samsung 4", 6840, 1860, 1575, 495},
    {"Command11", 4, "Samsung 5", 6840, 2460, 1575, 495},
    {"Command12", -1, "twips", 3720, 2520, 2415, 735},
    {"Command13", -1, "twips 1", 2400, 60, 1335, 495},
    {"Command14", -1, "twips 2", 2400, 660, 1335, 495},
    {"Command15", -1, "twips 3", 2400, 1320, 1335, 495},
};

int toPixels(int twips, int dpi) { return int(std::lround(twips * double(dpi) / 1440.0)); }

struct Message { QString caption, text; };

// A window on an in-memory printer, with its messages and program ends recorded.
struct Window {
    explicit Window(double dpi) : form(memoryConnector(a4Geometry(dpi), record)) { setUp(); }
    explicit Window(PrinterSurface::Connector connector) : form(std::move(connector)) { setUp(); }
    void setUp()
    {
        form.setMessageFunction([this](QWidget*, const QString& caption, const QString& text) {
            messages.push_back({caption, text});
        });
        form.setEndAction([this] { ++ends; });
        form.printer().setEventLog(&events);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }

    static PrinterSurface::Connector memoryConnector(PageGeometry geometry,
                                                     std::shared_ptr<MemoryPrinterRecord> record)
    {
        return [geometry, record] { return std::make_unique<MemoryPrinter>(geometry, record); };
    }

    QPushButton* button(const char* name, int index = -1)
    {
        for (QPushButton* b : form.findChildren<QPushButton*>(QString::fromLatin1(name))) {
            const QVariant i = b->property("Index");
            if (index < 0 ? !i.isValid() : i.isValid() && i.toInt() == index)
                return b;
        }
        return nullptr;
    }
    QWidget* control(const Row& row)
    {
        return row.caption ? button(row.name, row.index) : form.findChild<QWidget*>(QString::fromLatin1(row.name));
    }

    void click(const char* name, int index = -1)
    {
        QPushButton* b = button(name, index);
        QVERIFY2(b != nullptr, name);
        QTest::mouseClick(b, Qt::LeftButton);
    }

    std::shared_ptr<MemoryPrinterRecord> record = std::make_shared<MemoryPrinterRecord>();
    Form1 form;
    std::vector<Message> messages;
    std::vector<SurfaceEvent> events;
    int ends = 0;
};

bool sameEvents(const std::vector<SurfaceEvent>& a, const std::vector<SurfaceEvent>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const SurfaceEvent& x, const SurfaceEvent& y) {
        return x.what == y.what && x.values == y.values && x.text == y.text;
    });
}

} // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // Caption and client area; every control's caption and geometry, tab order
    // as in the table; the picture box shows a white 604 x 75 picture.
    void windowFollowsTheLayoutTable()
    {
        Window w(600);
        const int dx = w.form.logicalDpiX(), dy = w.form.logicalDpiY();
        QCOMPARE(w.form.windowTitle(), QString::fromUtf8("Raitakone 9.5.2006 -viivakoodin testaaja"));
        // The client area keeps its size; the status line is added below it.
        const QSize client(toPixels(11535, dx), toPixels(7260, dy));
        QWidget* statusLine = w.form.findChild<QWidget*>("statusLine");
        QVERIFY(statusLine != nullptr);
        QCOMPARE(statusLine->geometry().topLeft(), QPoint(0, client.height()));
        QCOMPARE(statusLine->width(), client.width());
        QCOMPARE(w.form.size(), QSize(client.width(), client.height() + statusLine->height()));
        std::vector<QWidget*> expected;
        for (const Row& row : kLayout) {
            QWidget* control = w.control(row);
            QVERIFY2(control != nullptr, row.name);
            if (row.caption)
                QCOMPARE(static_cast<QPushButton*>(control)->text(), QString::fromUtf8(row.caption));
            // Every button that does something says what in its tooltip, and
            // those that end the program say that too.
            const std::string name = row.name;
            if (row.caption && name != "Command9" && name != "Command12")
                QVERIFY2(!control->toolTip().isEmpty(), row.name);
            QCOMPARE(control->toolTip().contains(QStringLiteral("opettaa")),
                     name == "Command3" || name == "Command4" || name == "Command8");
            QCOMPARE(control->geometry(), QRect(toPixels(row.left, dx), toPixels(row.top, dy), toPixels(row.width, dx),
                                                toPixels(row.height, dy)));
            expected.push_back(control);
        }
        QCOMPARE(w.form.findChildren<QPushButton*>(Qt::FindDirectChildrenOnly).size(), qsizetype(25));

        std::vector<QWidget*> chain;
        QWidget* widget = expected.front();
        do {
            if (std::find(expected.begin(), expected.end(), widget) != expected.end())
                chain.push_back(widget);
            widget = widget->nextInFocusChain();
        } while (widget != expected.front() && chain.size() <= expected.size());
        QVERIFY(chain == expected);
        // The status line's controls are tabbed through as they stand, left to right.
        QWidget* before = nullptr;
        for (const char* name : {"markPages", "printLadder", "openReport", "choosePrinter", "gradeScan"}) {
            QWidget* control = w.form.findChild<QWidget*>(name);
            QVERIFY2(control != nullptr, name);
            if (before) {
                QCOMPARE(before->nextInFocusChain(), control);
                QVERIFY(!control->isVisible() || control->x() > before->x());
            }
            before = control;
        }

        const PageRaster& picture = w.form.picture().picture();
        QCOMPARE(picture.image().format(), QImage::Format_RGB32);
        QImage white(604, 75, QImage::Format_RGB32);
        white.fill(Qt::white);
        QCOMPARE(picture.image(), white);
        QWidget* box = w.form.findChild<QWidget*>("picViivakoodi");
        const QPoint inside = box->contentsRect().topLeft() + QPoint(10, 10);
        QCOMPARE(QColor(box->grab().toImage().pixel(inside)), QColor(Qt::white));
    }

    void diagnostics_data()
    {
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("pixelSizes");
        QTest::addColumn<QString>("moduleWidth");
        QTest::newRow("203 C") << 203.0 << "C" << "7.093596 - 7.093596" << "2";
        QTest::newRow("203 fi") << 203.0 << "fi_FI" << "7,093596 - 7,093596" << "2";
        QTest::newRow("300 C") << 300.0 << "C" << "4.8 - 4.8" << "3";
        QTest::newRow("300 fi") << 300.0 << "fi_FI" << "4,8 - 4,8" << "3";
        QTest::newRow("600 C") << 600.0 << "C" << "2.4 - 2.4" << "7";
        QTest::newRow("600 fi") << 600.0 << "fi_FI" << "2,4 - 2,4" << "7";
        QTest::newRow("600 sv") << 600.0 << "sv_SE" << "2,4 - 2,4" << "7";
    }

    // The three diagnostics in the C, Finnish and Swedish locales; the inert buttons.
    void diagnostics()
    {
        QFETCH(double, dpi);
        QFETCH(QString, locale);
        QFETCH(QString, pixelSizes);
        QFETCH(QString, moduleWidth);
        QLocale::setDefault(QLocale(locale));
        Window w(dpi);
        for (const char* name : {"Command1", "Command2", "Command9", "Command6", "Command12"})
            w.click(name); // OK (Command9) and twips (Command12) do nothing
        QCOMPARE(w.messages.size(), size_t(3));
        const QStringList texts{pixelSizes, "332", moduleWidth};
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(w.messages[k].caption, QString("raitakoe"));
            QCOMPARE(w.messages[k].text, texts[k]);
        }
        QVERIFY(w.events.empty() && w.record->pages.empty());
        QCOMPARE(w.ends, 0);
        QVERIFY(w.form.isVisible());
        QCOMPARE(w.form.picture().picture().pixel(5, 25), kWhite);
    }

    void clicksReachTheirProcedures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");
        const QStringList routed{"Command3", "Command4", "Command5", "Command7", "Command10", "Command11",
                                 "Command13", "Command14", "Command15"};
        for (const Row& row : kLayout)
            if (routed.contains(row.name))
                QTest::newRow(QString("%1(%2)").arg(row.name).arg(row.index).toLatin1()) << row.name << row.index;
    }

    // A click does what its procedure does when called directly with the
    // element's Index: the same printer calls, messages, pages and ends; its
    // pages carry the button's caption.
    void clicksReachTheirProcedures()
    {
        QFETCH(QString, name);
        QFETCH(int, index);

        Window w(300);
        testing::TestPrinter direct(300);
        PictureSurface picture(604, 75, w.form.logicalDpiX());
        QStringList messages; // guard messages and the error, in order
        int ends = 0;
        const EndProgram end = [&] { ++ends; };
        const ShowMessage show = [&](const std::string& text) { messages << QString::fromStdString(text); };
        PrinterSurface& p = direct.printer;
        const int16_t i = int16_t(index);
        try {
            const std::map<QString, std::function<void()>> procedures{
                {"Command3", [&] { Command3_Click(picture, p, end); }}, {"Command4", [&] { Command4_Click(p, end); }},
                {"Command5", [&] { Command5_Click(p); }}, {"Command7", [&] { Command7_Click(p, i, show); }},
                {"Command10", [&] { Command10_Click(p, i); }}, {"Command11", [&] { Command11_Click(p, i); }},
                {"Command13", [&] { Command13_Click(p); }}, {"Command14", [&] { Command14_Click(p); }},
                {"Command15", [&] { Command15_Click(p); }}};
            procedures.at(name)();
        } catch (const RuntimeError& error) {
            messages << QString::fromStdString(error.what());
        }
        w.click(name.toLatin1().constData(), index);

        QVERIFY(!direct.events.empty());
        QVERIFY(sameEvents(w.events, direct.events));
        QCOMPARE(w.form.picture().picture().image(), picture.picture().image());
        QCOMPARE(w.messages.size(), size_t(messages.size()));
        for (size_t k = 0; k < w.messages.size(); ++k) {
            QCOMPARE(w.messages[k].caption, QString("raitakoe"));
            QCOMPARE(w.messages[k].text, messages[k]);
        }
        QCOMPARE(w.record->pages.size(), direct.record->pages.size());
        QCOMPARE(w.ends, ends);
        const QString caption = w.button(name.toLatin1().constData(), index)->text();
        for (const auto& page : w.record->pages)
            QCOMPARE(QString::fromStdString(page.job.title), "Raitakone: " + caption);
    }

    void withoutAPrinterTheWindowReportsAndKeepsWorking()
    {
        const std::string noPrinter = "Tulostinta ei ole asennettu. Asenna.";
        Window w([noPrinter]() -> std::unique_ptr<PrinterBackend> { throw RuntimeError(noPrinter); });
        // The status line has the message's first sentence.
        QCOMPARE(w.form.printerStatus(), QString::fromUtf8("Tulostin: Tulostinta ei ole asennettu."));
        for (const char* name : {"Command1", "Command6", "Command4", "Command3"}) {
            w.messages.clear();
            w.click(name);
            w.click("Command2");
            QCOMPARE(w.messages.size(), size_t(2));
            QCOMPARE(w.messages[0].caption, QString("raitakoe"));
            QCOMPARE(w.messages[0].text, QString::fromStdString(noPrinter));
            QCOMPARE(w.messages[1].text, QString("332"));
        }
        QCOMPARE(w.ends, 0);
        QVERIFY(w.form.isVisible());
        // Command3 drew its preview before it needed the printer.
        QCOMPARE(w.form.picture().picture().pixel(5, 25), kBlack);
        QCOMPARE(w.form.picture().picture().pixel(336, 54), kBlack);
    }

    // At 50 dpi the module width is 0 and the pen width 0 is refused while a
    // document is open: the half page must not reach the printer later. A page
    // that cannot be delivered is reported and does not end the program.
    void failedClicksDiscardTheirDocumentAndTheProgramGoesOn()
    {
        Window w(50);
        w.form.printer().setScaleMode(Scale::Pixels);
        w.form.printer().Line(LineFlag::Box | LineFlag::StartGiven, 10, 10, 10, 20, 0);
        QVERIFY(w.form.printer().documentOpen());
        w.click("Command10", 0);
        QCOMPARE(w.messages.size(), size_t(1));
        QVERIFY(!w.form.printer().documentOpen());
        // The status line has the short form of the message: "Virhe: " and its start.
        const QString full = w.messages.back().text;
        QVERIFY(w.form.pageStatus().startsWith(QString::fromUtf8("Virhe: ")));
        QVERIFY2(full.startsWith(w.form.pageStatus().mid(7)), qPrintable(full));
        QVERIFY2(full.contains("50 dpi") && full.contains("80 dpi"), qPrintable(full));
        w.form.printer().EndDoc();
        QVERIFY(w.record->pages.empty());

        w.record->failDeliveries = 1;
        w.click("Command4");
        QCOMPARE(w.messages.size(), size_t(2));
        QCOMPARE(w.ends, 0);
        QVERIFY(w.record->pages.empty());
        w.click("Command4");
        QCOMPARE(w.messages.size(), size_t(2));
        QCOMPARE(w.ends, 1);
        QCOMPARE(w.record->pages.size(), size_t(1));
    }

    // No button prints the transfer page; the window procedure does, as the
    // procedure itself would.
    void siirraIsAWindowProcedureNoButtonCalls()
    {
        Window w(600);
        for (QPushButton* b : w.form.findChildren<QPushButton*>())
            if (!QStringList{"Command8", "Command3", "Command4", "gradeScan"}.contains(b->objectName()))
                QTest::mouseClick(b, Qt::LeftButton);
        for (const auto& page : w.record->pages)
            QVERIFY(page.job.title != "Raitakone: siirra");
        const size_t pagesFromButtons = w.record->pages.size();
        w.events.clear();
        w.form.siirra();
        QCOMPARE(w.record->pages.size(), pagesFromButtons + 1);
        QCOMPARE(QString::fromStdString(w.record->pages.back().job.title), QString("Raitakone: siirra"));
        testing::TestPrinter reference(600);
        siirra(reference.printer);
        QVERIFY(sameEvents(w.events, reference.events));
    }

    // The status line names the printer, then where each page went with its
    // notice, or the short form of what failed; then what opening found.
    void statusLineSaysWhereEachPageWent()
    {
        Window w(600);
        QCOMPARE(w.form.printerStatus(), QString::fromUtf8("muisti · 600 dpi · A4, 210 × 297 mm"));
        QVERIFY(w.form.pageStatus().contains(QString::fromUtf8("Arvioi skannaus…"))); // where to start
        w.click("Command10", 2);
        // The sliver off a first bar drawn at the edge is harmless and left
        // out; what the printer says is not.
        QCOMPARE(w.form.pageStatus(), QString::fromUtf8("Valkea 3 (bf) → muisti, työ 1"));
        w.record->notice = "Jono on pysäytetty.";
        w.click("Command5");
        QCOMPARE(w.form.pageStatus(), QString::fromUtf8("Viivakoodi 30.11. → muisti, työ 2 — Jono on pysäytetty."));
        w.record->failDeliveries = 1;
        w.click("Command13");
        QCOMPARE(w.form.pageStatus(), QString::fromUtf8("Virhe: Tulostus epäonnistui (testi)"));

        auto tidied = std::make_shared<MemoryPrinterRecord>();
        tidied->openingNotice = "0005.png siirretty.";
        Window opened(Window::memoryConnector(a4Geometry(600), tidied));
        QCOMPARE(opened.form.pageStatus(), QString("0005.png siirretty."));
    }

    // Every kind of page notice the program writes is read whole in its own
    // row: the form keeps its width, the row wraps and the form grows to hold it.
    void everyPageNoticeIsReadWhole_data()
    {
        QTest::addColumn<QString>("notice");
        const std::string queue = "raitakone-pdf-toimisto-2-kerros";
        const std::string page = "Valkea 2  (rgb+bf) → " + queue + ", työ 2117";
        const QString folder = QString::fromUtf8("/home/kayttaja/Asiakirjat/raitakone/sivut-2026-12-08");
        QTest::newRow("page") << QString::fromStdString(page);
        QTest::newRow("stopped queue") << QString::fromStdString(
            page + " — " + heldJobNotice(queue, 2117, IPP_PSTATE_STOPPED, "paused", "Pysäytetty ylläpitäjän pyynnöstä"));
        QTest::newRow("printer error") << QString::fromStdString(
            page + " — " + heldJobNotice(queue, 2117, IPP_PSTATE_PROCESSING, "media-jam-error,cover-open-error", ""));
        QTest::newRow("repaired page folder") << QString::fromUtf8(
            "twips 1 → %1/0012.png — Sivu 0011 oli jäänyt kesken (PDF-tiedosto puuttui): tiedosto %1/0011.pdf "
            "tehtiin uudelleen tiedostosta 0011.png. Sivu 0010 oli jäänyt kesken (PNG-tiedosto puuttui): tiedosto "
            "%1/0010.pdf siirrettiin nimelle 0010.pdf.incomplete.").arg(folder);
        QTest::newRow("grade") << QString::fromUtf8("Arvio 3.4/10/660 (B) · levenemä +1,99 tulostimen pikseliä — "
                                                    "/home/kayttaja/Skannaukset/valkea-1-600dpi-skannattu-1200dpi.png");
        QTest::newRow("error") << QString::fromUtf8("Virhe: Sivutiedostojen kansiota \"%1\" ei voi käyttää: "
                                                    "kansioon ei ole kirjoitusoikeutta.").arg(folder);
    }
    void everyPageNoticeIsReadWhole()
    {
        QFETCH(QString, notice);
        Window w(600);
        const int formWidth = toPixels(kForm1ClientWidthTwips, w.form.logicalDpiX());
        w.form.showNotice(notice);
        const auto* row = w.form.findChild<QLabel*>("pageStatus");
        QCOMPARE(row->text(), notice);
        QCOMPARE(w.form.width(), formWidth);
        QVERIFY(w.form.rect().contains(QRect(row->mapTo(&w.form, QPoint(0, 0)), row->size())));
        QVERIFY2(row->width() > formWidth * 9 / 10, qPrintable(QString::number(row->width())));
        const QRect room = row->contentsRect();
        const QRect needed = row->fontMetrics().boundingRect(QRect(QPoint(0, 0), QSize(room.width(), 100000)),
                                                             Qt::TextWordWrap, notice);
        QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(),
                 qPrintable(QString("%1x%2 needed, %3x%4 there")
                                .arg(needed.width()).arg(needed.height()).arg(room.width()).arg(room.height())));
    }

    // A held queue also comes as a message box, once per queue until a page
    // goes through it again.
    void heldQueueIsToldInAMessageOncePerStop()
    {
        Window w(600);
        w.record->notice = "Työ odottaa jonossa. Käynnistä jono uudelleen komennolla cupsenable muisti.";
        w.click("Command10", 0);
        w.click("Command10", 1);
        QCOMPARE(w.messages.size(), size_t(1));
        QCOMPARE(w.messages[0].caption, QString("raitakoe"));
        QCOMPARE(w.messages[0].text, QString::fromStdString(w.record->notice));
        // the status row has the queue's notice
        QVERIFY2(w.form.pageStatus().endsWith(QString::fromUtf8("— ") + QString::fromStdString(w.record->notice)),
                 qPrintable(w.form.pageStatus()));
        w.record->notice.clear();
        w.click("Command10", 2);
        w.record->notice = "Jono on taas pysäytetty.";
        w.click("Command10", 3);
        QCOMPARE(w.messages.size(), size_t(2));
        QCOMPARE(w.messages[1].text, QString::fromStdString(w.record->notice));
    }

    // "Merkitse sivut" marks the pages that follow, numbered in the window's
    // series, and tells its handler; "Kavennustikkaat" prints the ladder,
    // always marked.
    void markedPagesAndTheLadder()
    {
        Window w(300);
        const auto markOf = [&w](size_t page) {
            const PageRaster& raster = w.record->pages.at(page).raster;
            return marking::readMark(raster.image().convertToFormat(QImage::Format_Grayscale8), 300);
        };
        std::vector<bool> saved;
        w.form.setMarkPagesHandler([&saved](bool mark) { saved.push_back(mark); });
        auto* mark = w.form.findChild<QCheckBox*>("markPages");
        QVERIFY(mark != nullptr);
        QCOMPARE(mark->text(), QString::fromUtf8("&Merkitse sivut"));
        QVERIFY(!w.form.markPages());

        w.click("Command10", 2);
        QVERIFY(!markOf(0));
        QTest::mouseClick(mark, Qt::LeftButton);
        QCOMPARE(saved, std::vector<bool>{true});
        w.click("Command10", 2);
        const auto marked = markOf(1);
        QVERIFY(marked);
        QCOMPARE(marked->page.control, std::string("Command10:2"));
        QCOMPARE(marked->page.n, std::string("2"));

        QTest::mouseClick(mark, Qt::LeftButton);
        auto* ladder = w.form.findChild<QPushButton*>("printLadder");
        QVERIFY(ladder != nullptr);
        QCOMPARE(ladder->text(), QString::fromUtf8("&Kavennustikkaat"));
        QTest::mouseClick(ladder, Qt::LeftButton);
        QCOMPARE(w.record->pages.size(), size_t(3));
        const auto rungs = markOf(2);
        QVERIFY(rungs);
        QCOMPARE(rungs->page.control, std::string("ladder"));
        QCOMPARE(rungs->page.series, marked->page.series);
        QCOMPARE(rungs->page.rungs, (std::vector<int>{-1, 0, 1}));
        QCOMPARE(w.form.pageStatus(), QString::fromUtf8("Kavennustikkaat → muisti, työ 3"));
        QVERIFY(w.messages.empty());
    }

    // Each click finds the printer current when it starts: a diagnostic must
    // not pin the printer for the next page. Choosing one shows it at once.
    void everyClickFindsTheCurrentPrinter()
    {
        auto first = std::make_shared<MemoryPrinterRecord>(), second = std::make_shared<MemoryPrinterRecord>();
        std::tie(first->name, second->name) = std::make_pair("ensimmainen", "toinen");
        auto current = std::make_shared<std::shared_ptr<MemoryPrinterRecord>>(first);
        Window w([=] { return std::make_unique<MemoryPrinter>(a4Geometry(*current == first ? 600 : 300), *current); });
        w.click("Command1");
        QCOMPARE(w.messages.back().text, QString("2.4 - 2.4"));
        *current = second;
        w.click("Command10", 0);
        QCOMPARE(std::make_pair(first->pages.size(), second->pages.size()), std::make_pair(size_t(0), size_t(1)));

        *current = first;
        w.form.setPrinterChooser([=](QWidget*) { *current = second; return true; });
        QPushButton* choose = w.form.findChild<QPushButton*>("choosePrinter");
        QVERIFY(choose && !choose->isHidden());
        QVERIFY(!w.form.pageStatus().isEmpty());
        QTest::mouseClick(choose, Qt::LeftButton);
        QCOMPARE(w.form.printerStatus(), QString::fromUtf8("toinen · 300 dpi · A4, 210 × 297 mm"));
        QCOMPARE(w.form.pageStatus(), QString()); // the old printer's last page
    }

    // Real queues of the private scheduler: a refusing queue is reported and
    // the window goes on; a stopped queue's held job shows in the status line.
    void refusingAndStoppedQueuesInTheWindow()
    {
        const QByteArray server = qgetenv("RAITAKONE_CUPS_RASTER_SERVER");
        if (server.isEmpty())
            QSKIP("no private CUPS scheduler (scripts/cups-private-scheduler.sh start)");
        cupsSetServer(server.constData());
        const auto restore = qScopeGuard([] { cupsSetServer(nullptr); });
        auto queue = std::make_shared<std::string>("raitakone-rejecting");
        Window w([queue] { return connectPrinter({PrinterChoice::Kind::NamedCups, *queue}); });
        w.click("Command10", 0);
        w.click("Command2");
        QCOMPARE(w.messages.size(), size_t(2));
        QVERIFY2(w.messages[0].text.contains("cupsaccept raitakone-rejecting"), qPrintable(w.messages[0].text));
        QCOMPARE(w.messages[1].text, QString("332"));

        *queue = "raitakone-stopped";
        w.click("Command10", 0);
        const QString held = QString::fromUtf8("(?s)^Valkea 1 \\(perus\\) → raitakone-stopped, työ (\\d+) — .*");
        const QRegularExpressionMatch job = QRegularExpression(held + "cupsenable raitakone-stopped").match(w.form.pageStatus());
        QVERIFY2(job.hasMatch(), qPrintable(w.form.pageStatus()));
        cupsCancelJob2(CUPS_HTTP_DEFAULT, "raitakone-stopped", job.captured(1).toInt(), 1);
        // The stop also comes as a message box, once.
        QCOMPARE(w.messages.size(), size_t(3));
        QVERIFY2(w.messages[2].text.contains("cupsenable raitakone-stopped"), qPrintable(w.messages[2].text));
        w.click("Command10", 0);
        const QRegularExpressionMatch second = QRegularExpression(held).match(w.form.pageStatus());
        QVERIFY2(second.hasMatch(), qPrintable(w.form.pageStatus()));
        cupsCancelJob2(CUPS_HTTP_DEFAULT, "raitakone-stopped", second.captured(1).toInt(), 1);
        QCOMPARE(w.messages.size(), size_t(3));
    }

    // The printer dialog: Selaa… only for the page-file printer, an empty
    // folder asked for in words, a resolution taken as the program writes it.
    void printerDialogTakesWhatTheWindowWrites()
    {
        const QString folder = QDir::temp().filePath("raitakone-dialogi");
        QStringList seen;
        raitakone::testing::whenDialogOpens([&](QDialog* dialog) {
            auto* list = dialog->findChild<QListWidget*>("printers");
            QPushButton* browse = nullptr;
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                if (b->text() == QString::fromUtf8("&Selaa…"))
                    browse = b;
            QVERIFY(browse != nullptr);
            list->setCurrentRow(0); // the CUPS default
            seen << QString::number(browse->isEnabled());
            list->setCurrentRow(list->count() - 1); // the page-file printer
            seen << QString::number(browse->isEnabled());
            dialog->findChild<QLineEdit*>("folder")->clear();
            dialog->findChild<QLineEdit*>("dpi")->setText(QString::fromUtf8("600 × 1200 dpi"));
            auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            QTest::mouseClick(ok, Qt::LeftButton);
            seen << dialog->findChild<QLabel*>("problem")->text();
            dialog->findChild<QLineEdit*>("folder")->setText(folder);
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        const std::optional<PrinterChoice> chosen = choosePrinterInDialog(nullptr, PrinterChoice{});
        QCOMPARE(seen, QStringList({"0", "1", QString::fromUtf8("Valitse kansio, johon sivutiedostot tallennetaan.")}));
        QVERIFY(chosen.has_value());
        QCOMPARE(*chosen, (PrinterChoice{PrinterChoice::Kind::Files, folder.toStdString(), 600, 1200}));
    }

    // Qt's own buttons and file dialogs speak Finnish under a Finnish locale,
    // and stay as they are under any other.
    void qtTextsAreFinnishUnderAFinnishLocale()
    {
        const auto buttonTexts = [] {
            QDialogButtonBox box(QDialogButtonBox::Save | QDialogButtonBox::Cancel | QDialogButtonBox::Open);
            QStringList texts;
            for (QAbstractButton* button : box.buttons())
                texts << button->text().remove('&');
            texts.sort();
            QFileDialog files(nullptr, "", "");
            files.setOption(QFileDialog::DontUseNativeDialog);
            texts << files.findChild<QLabel*>("lookInLabel")->text();
            return texts;
        };
        const auto removeTranslators = qScopeGuard([] {
            for (QTranslator* t : qApp->findChildren<QTranslator*>())
                QCoreApplication::removeTranslator(t), delete t;
        });
        QVERIFY(!installQtTranslations(QLocale(QLocale::English, QLocale::UnitedStates)));
        QCOMPARE(buttonTexts(), QStringList({"Cancel", "Open", "Save", "Look in:"}));
        QVERIFY(installQtTranslations(QLocale(QLocale::Finnish, QLocale::Finland)));
        QCOMPARE(buttonTexts(), QStringList({"Avaa", "Peru", "Tallenna", QString::fromUtf8("Lähde:")}));
    }

    // The printer dialog's paper field starts at the current paper; a size
    // typed in is chosen, a bad one is named in the dialog and nothing is.
    void printerDialogChoosesThePaper()
    {
        QTemporaryDir dir;
        const PrinterChoice current{PrinterChoice::Kind::Files, dir.path().toStdString(), 300, 300, {{}, 100, 150}};
        const auto answer = [](const QString& paper, QString* problem) {
            raitakone::testing::whenDialogOpens([paper, problem](QDialog* dialog) {
                auto* field = dialog->findChild<QComboBox*>("paper");
                QCOMPARE(field->currentText(), QString("100x150mm"));
                field->setCurrentText(paper);
                auto* buttons = dialog->findChild<QDialogButtonBox*>();
                QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
                *problem = dialog->findChild<QLabel*>("problem")->text();
                if (dialog->isVisible()) // refused: still open
                    dialog->reject();
            });
        };
        QString problem;
        answer("4x6in", &problem);
        const std::optional<PrinterChoice> chosen = choosePrinterInDialog(nullptr, current);
        QVERIFY(chosen.has_value());
        QCOMPARE(QString::fromStdString(chosen->paper.description()), QString::fromUtf8("4x6in, 101,6 × 152,4 mm"));
        QCOMPARE(std::make_pair(chosen->name, chosen->dpiX), std::make_pair(current.name, 300.0));
        answer("A9", &problem);
        QVERIFY(!choosePrinterInDialog(nullptr, current).has_value());
        QVERIFY2(problem.contains(QString::fromUtf8("Paperin arvo \"A9\"")), qPrintable(problem));
    }

    void poistuEndsTheEventLoop()
    {
        auto record = std::make_shared<MemoryPrinterRecord>();
        Form1 form(Window::memoryConnector(a4Geometry(600), record)); // the default end action
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QList<QPushButton*> poistu = form.findChildren<QPushButton*>("Command8");
        QCOMPARE(poistu.size(), qsizetype(1));
        QTimer::singleShot(0, poistu[0], [b = poistu[0]] { QTest::mouseClick(b, Qt::LeftButton); });
        // Should the click not end the loop, this ends it with another code.
        QTimer::singleShot(20000, &form, [] { QCoreApplication::exit(99); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!form.isVisible());
    }
};

QTEST_MAIN(Form1Test)
#include "form1_qtest.moc"
