// The main window, offscreen: controls against the layout table, click
// routing, the three diagnostics, error reporting and the ways the program ends.

#include "app/Form1.h"
#include "printtests/PrintTests.h"
#include "surface/RuntimeError.h"
#include "support/MemoryPrinter.h"

#include <QApplication>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>

using namespace raitakone;
using raitakone::testing::a4Geometry;
using raitakone::testing::MemoryPrinter;
using raitakone::testing::MemoryPrinterRecord;

namespace {

// The window's controls in tab order: name, Index (-1 for none), caption,
// left, top, width, height in twips.
struct Row {
    const char* name;
    int index;
    const char* caption;
    int left, top, width, height;
};

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

struct Message {
    QString caption;
    QString text;
};

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
            if ((index < 0 && !i.isValid()) || (index >= 0 && i.isValid() && i.toInt() == index))
                return b;
        }
        return nullptr;
    }

    void click(const char* name, int index = -1)
    {
        QPushButton* b = button(name, index);
        QVERIFY2(b != nullptr, name);
        QTest::mouseClick(b, Qt::LeftButton);
    }

    QString lastMessage() const { return messages.empty() ? QString() : messages.back().text; }

    std::shared_ptr<MemoryPrinterRecord> record = std::make_shared<MemoryPrinterRecord>();
    Form1 form;
    std::vector<Message> messages;
    std::vector<SurfaceEvent> events;
    int ends = 0;
};

bool sameEvents(const std::vector<SurfaceEvent>& a, const std::vector<SurfaceEvent>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (a[k].what != b[k].what || a[k].values != b[k].values || a[k].text != b[k].text)
            return false;
    return true;
}

// What one procedure does when called directly on its own printer.
struct Outcome {
    std::vector<SurfaceEvent> events;
    std::vector<QString> messages; // guard messages and the error, in order
    size_t pages = 0;
    int ends = 0;
};

using Procedure = std::function<void(PrinterSurface&, Surface& picture, const EndProgram&, const ShowMessage&)>;

} // namespace

Q_DECLARE_METATYPE(Procedure)

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void windowHasItsCaptionAndClientArea()
    {
        Window w(600);
        QCOMPARE(w.form.windowTitle(), QString::fromUtf8("Raitakone 9.5.2006 -viivakoodin testaaja"));
        QCOMPARE(w.form.size(), QSize(toPixels(11535, w.form.logicalDpiX()), toPixels(7260, w.form.logicalDpiY())));
    }

    void everyControlHasItsCaptionAndGeometry()
    {
        Window w(600);
        const int dx = w.form.logicalDpiX(), dy = w.form.logicalDpiY();
        int buttons = 0;
        for (const Row& row : kLayout) {
            QWidget* control = nullptr;
            if (row.caption == nullptr) {
                control = w.form.findChild<QWidget*>(QString::fromLatin1(row.name));
            } else {
                QPushButton* b = w.button(row.name, row.index);
                QVERIFY2(b != nullptr, row.name);
                QCOMPARE(b->text(), QString::fromUtf8(row.caption));
                control = b;
                ++buttons;
            }
            QVERIFY2(control != nullptr, row.name);
            QCOMPARE(control->geometry(), QRect(toPixels(row.left, dx), toPixels(row.top, dy), toPixels(row.width, dx),
                                                toPixels(row.height, dy)));
        }
        QCOMPARE(buttons, 25);
        QCOMPARE(w.form.findChildren<QPushButton*>().size(), qsizetype(25));
    }

    void tabOrderFollowsTheTable()
    {
        Window w(600);
        std::vector<QWidget*> expected;
        for (const Row& row : kLayout)
            expected.push_back(row.caption ? w.button(row.name, row.index)
                                           : w.form.findChild<QWidget*>(QString::fromLatin1(row.name)));
        std::vector<QWidget*> chain;
        QWidget* widget = expected.front();
        do {
            if (std::find(expected.begin(), expected.end(), widget) != expected.end())
                chain.push_back(widget);
            widget = widget->nextInFocusChain();
        } while (widget != expected.front() && chain.size() <= expected.size());
        QCOMPARE(chain.size(), expected.size());
        for (size_t k = 0; k < expected.size(); ++k)
            QCOMPARE(chain[k]->objectName() + "/" + chain[k]->property("Index").toString(),
                     expected[k]->objectName() + "/" + expected[k]->property("Index").toString());
    }

    void pictureBoxStartsWithAWhitePicture()
    {
        Window w(600);
        const PageRaster& picture = w.form.picture().picture();
        QCOMPARE(picture.width(), 604);
        QCOMPARE(picture.height(), 75);
        QCOMPARE(picture.image().format(), QImage::Format_RGB32);
        for (int y = 0; y < 75; ++y)
            for (int x = 0; x < 604; ++x)
                QCOMPARE(picture.pixel(x, y), kWhite);
        // The box shows the picture and nothing else: its inside is white
        // where the picture is.
        QWidget* box = w.form.findChild<QWidget*>("picViivakoodi");
        const QImage shown = box->grab().toImage();
        const QRect inside = box->contentsRect();
        QCOMPARE(QColor(shown.pixel(inside.left() + 10, inside.top() + 10)), QColor(Qt::white));
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
    }

    void diagnostics()
    {
        QFETCH(double, dpi);
        QFETCH(QString, locale);
        QFETCH(QString, pixelSizes);
        QFETCH(QString, moduleWidth);
        QLocale::setDefault(QLocale(locale));
        Window w(dpi);
        w.click("Command1");
        w.click("Command2");
        w.click("Command6");
        QCOMPARE(w.messages.size(), size_t(3));
        for (const Message& m : w.messages)
            QCOMPARE(m.caption, QString("raitakoe"));
        QCOMPARE(w.messages[0].text, pixelSizes);
        QCOMPARE(w.messages[1].text, QString("332"));
        QCOMPARE(w.messages[2].text, moduleWidth);
        QVERIFY(w.record->pages.empty());
        QCOMPARE(w.ends, 0);
    }

    void clicksReachTheirProcedures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");
        QTest::addColumn<Procedure>("procedure");
        auto add = [](const char* name, int index, Procedure p) {
            QTest::newRow(QString("%1(%2)").arg(name).arg(index).toLatin1()) << QString(name) << index << p;
        };
        add("Command3", -1, [](PrinterSurface& p, Surface& pic, const EndProgram& end, const ShowMessage&) {
            Command3_Click(pic, p, end);
        });
        add("Command4", -1, [](PrinterSurface& p, Surface&, const EndProgram& end, const ShowMessage&) {
            Command4_Click(p, end);
        });
        add("Command5", -1, [](PrinterSurface& p, Surface&, const EndProgram&, const ShowMessage&) { Command5_Click(p); });
        for (int16_t i = 0; i < 4; ++i)
            add("Command7", i, [i](PrinterSurface& p, Surface&, const EndProgram&, const ShowMessage& msg) {
                Command7_Click(p, i, msg);
            });
        for (int16_t i = 0; i < 4; ++i)
            add("Command10", i, [i](PrinterSurface& p, Surface&, const EndProgram&, const ShowMessage&) {
                Command10_Click(p, i);
            });
        for (int16_t i = 0; i < 5; ++i)
            add("Command11", i, [i](PrinterSurface& p, Surface&, const EndProgram&, const ShowMessage&) {
                Command11_Click(p, i);
            });
        add("Command13", -1, [](PrinterSurface& p, Surface&, const EndProgram&, const ShowMessage&) { Command13_Click(p); });
        add("Command14", -1, [](PrinterSurface& p, Surface&, const EndProgram&, const ShowMessage&) { Command14_Click(p); });
        add("Command15", -1, [](PrinterSurface& p, Surface&, const EndProgram&, const ShowMessage&) { Command15_Click(p); });
    }

    // A click does exactly what its procedure does when called directly with
    // the element's Index: the same calls on the printer, the same messages,
    // the same pages, the same end. Its pages carry the button's caption.
    void clicksReachTheirProcedures()
    {
        QFETCH(QString, name);
        QFETCH(int, index);
        QFETCH(Procedure, procedure);

        Window w(300);
        Outcome direct;
        {
            testing::TestPrinter reference(300);
            PictureSurface picture(604, 75, w.form.logicalDpiX());
            try {
                procedure(reference.printer, picture, [&] { ++direct.ends; },
                          [&](const std::string& text) { direct.messages.push_back(QString::fromStdString(text)); });
            } catch (const RuntimeError& error) {
                direct.messages.push_back(QString::fromStdString(error.what()));
            }
            direct.events = reference.events;
            direct.pages = reference.record->pages.size();
            w.click(name.toLatin1().constData(), index);
            if (name == "Command3")
                QCOMPARE(w.form.picture().picture().image(), picture.picture().image());
        }

        QVERIFY(!direct.events.empty());
        QVERIFY(sameEvents(w.events, direct.events));
        QCOMPARE(w.messages.size(), direct.messages.size());
        for (size_t k = 0; k < w.messages.size(); ++k) {
            QCOMPARE(w.messages[k].caption, QString("raitakoe"));
            QCOMPARE(w.messages[k].text, direct.messages[k]);
        }
        QCOMPARE(w.record->pages.size(), direct.pages);
        QCOMPARE(w.ends, direct.ends);
        const QString caption = w.button(name.toLatin1().constData(), index)->text();
        for (const auto& page : w.record->pages)
            QCOMPARE(QString::fromStdString(page.job.title), "Raitakone: " + caption);
    }

    void testsThatEndTheProgramEndItOnceAfterTheirPage()
    {
        for (const char* name : {"Command3", "Command4"}) {
            Window w(600);
            size_t pagesAtEnd = 0;
            w.form.setEndAction([&] {
                ++w.ends;
                pagesAtEnd = w.record->pages.size();
            });
            w.click(name);
            QCOMPARE(w.ends, 1);
            QCOMPARE(pagesAtEnd, size_t(1));
            QVERIFY(w.messages.empty());
        }
    }

    void withoutAPrinterTheWindowReportsAndKeepsWorking()
    {
        const std::string noPrinter = "Tulostinta ei ole asennettu";
        Window w([noPrinter]() -> std::unique_ptr<PrinterBackend> { throw RuntimeError(noPrinter); });
        for (const char* name : {"Command1", "Command6", "Command4", "Command3"}) {
            w.messages.clear();
            w.click(name);
            QCOMPARE(w.messages.size(), size_t(1));
            QCOMPARE(w.messages[0].caption, QString("raitakoe"));
            QCOMPARE(w.messages[0].text, QString::fromStdString(noPrinter));
            w.click("Command2");
            QCOMPARE(w.lastMessage(), QString("332"));
        }
        QCOMPARE(w.ends, 0);
        QVERIFY(w.form.isVisible());
        // The preview was drawn before the printer was needed.
        QCOMPARE(w.form.picture().picture().pixel(5, 25), kBlack);
    }

    void aFailedClickDiscardsItsDocument()
    {
        // At 50 dpi the module width is 0 and the pen width 0 is refused while
        // a document is open: the half page must not reach the printer later.
        Window w(50);
        w.form.printer().setScaleMode(Scale::Pixels);
        w.form.printer().Line(LineFlag::Box | LineFlag::StartGiven, 10, 10, 10, 20, 0);
        QVERIFY(w.form.printer().documentOpen());
        w.click("Command10", 0);
        QCOMPARE(w.messages.size(), size_t(1));
        QVERIFY(!w.form.printer().documentOpen());
        w.form.printer().EndDoc();
        QVERIFY(w.record->pages.empty());
    }

    void aPageThatCannotBeDeliveredIsReportedAndTheProgramGoesOn()
    {
        Window w(600);
        w.record->failDeliveries = 1;
        w.click("Command4");
        QCOMPARE(w.messages.size(), size_t(1));
        QCOMPARE(w.ends, 0);
        QVERIFY(w.record->pages.empty());
        w.click("Command4");
        QCOMPARE(w.messages.size(), size_t(1));
        QCOMPARE(w.ends, 1);
        QCOMPARE(w.record->pages.size(), size_t(1));
    }

    void inertButtonsDoNothing()
    {
        Window w(600);
        w.click("Command9");
        w.click("Command12");
        QVERIFY(w.messages.empty());
        QVERIFY(w.events.empty());
        QVERIFY(w.record->pages.empty());
        QCOMPARE(w.ends, 0);
        QVERIFY(w.form.isVisible());
        QCOMPARE(w.form.picture().picture().pixel(5, 25), kWhite);
    }

    void siirraIsAWindowProcedureNoButtonCalls()
    {
        Window w(600);
        for (QPushButton* b : w.form.findChildren<QPushButton*>()) {
            if (b->objectName() == "Command8" || b->objectName() == "Command3" || b->objectName() == "Command4")
                continue;
            QTest::mouseClick(b, Qt::LeftButton);
        }
        const size_t pagesFromButtons = w.record->pages.size();
        for (const auto& page : w.record->pages)
            QVERIFY(page.job.title != "Raitakone: siirra");
        w.events.clear();
        w.form.siirra();
        QCOMPARE(w.record->pages.size(), pagesFromButtons + 1);
        QCOMPARE(QString::fromStdString(w.record->pages.back().job.title), QString("Raitakone: siirra"));

        testing::TestPrinter reference(600);
        siirra(reference.printer);
        QVERIFY(sameEvents(w.events, reference.events));
    }

    void poistuEndsTheEventLoop()
    {
        auto record = std::make_shared<MemoryPrinterRecord>();
        Form1 form(Window::memoryConnector(a4Geometry(600), record)); // the default end action
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QPushButton* poistu = nullptr;
        for (QPushButton* b : form.findChildren<QPushButton*>("Command8"))
            poistu = b;
        QVERIFY(poistu != nullptr);
        QTimer::singleShot(0, poistu, [poistu] { QTest::mouseClick(poistu, Qt::LeftButton); });
        // Should the click not end the loop, this ends it with a distinct code.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(20000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!form.isVisible());
    }
};

QTEST_MAIN(Form1Test)
#include "form1_qtest.moc"
