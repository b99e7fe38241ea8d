#include "app/Form1.h"

#include "pattern/BarPattern.h"
#include "printtests/PrintTests.h"
#include "surface/NumberText.h"
#include "surface/RuntimeError.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>

#include <cmath>
#include <exception>
#include <vector>

namespace raitakone {
namespace {

// One row of the control table. Positions and sizes are in twips; index is
// the element number inside a button group, -1 for a single control.
struct ControlRow {
    const char* name;
    int index;
    const char* caption; // nullptr: the picture box
    int left;
    int top;
    int width;
    int height;
};

// Every control of the window, in tab order.
const ControlRow kControls[] = {
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

// The picture box starts with a white picture of this many pixels.
constexpr int kPictureWidth = 604;
constexpr int kPictureHeight = 75;

int twipsToPixels(int twips, double dpi) { return int(std::lround(twips * dpi / 1440.0)); }

// "Command7" -> 7.
int commandNumber(const char* name) { return QString::fromLatin1(name).mid(7).toInt(); }

void showMessageBox(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

PictureBox::PictureBox(const PictureSurface& surface, QWidget* parent) : QFrame(parent), surface_(surface)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setFocusPolicy(Qt::TabFocus);
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setClipRect(contentsRect());
    painter.drawImage(contentsRect().topLeft(), surface_.picture().image());
}

Form1::Form1(PrinterSurface::Connector connector, QWidget* parent)
    : QWidget(parent), printer_(std::move(connector)), showMessage_(showMessageBox),
      end_([this] {
          close();
          QCoreApplication::exit(0);
      })
{
    setObjectName("Form1");
    setWindowTitle(QString::fromUtf8(kForm1Caption));
    resize(twipsToPixelsX(kForm1ClientWidthTwips), twipsToPixelsY(kForm1ClientHeightTwips));
    picture_ = std::make_unique<PictureSurface>(kPictureWidth, kPictureHeight, logicalDpiX());
    createControls();
}

Form1::~Form1() = default;

int Form1::twipsToPixelsX(int twips) const { return twipsToPixels(twips, logicalDpiX()); }
int Form1::twipsToPixelsY(int twips) const { return twipsToPixels(twips, logicalDpiY()); }

void Form1::createControls()
{
    QWidget* previous = nullptr;
    for (const ControlRow& row : kControls) {
        QWidget* control = nullptr;
        if (row.caption == nullptr) {
            picViivakoodi_ = new PictureBox(*picture_, this);
            picture_->setChangedHandler([box = picViivakoodi_] { box->update(); });
            control = picViivakoodi_;
        } else {
            const QString caption = QString::fromUtf8(row.caption);
            auto* button = new QPushButton(caption, this);
            const int command = commandNumber(row.name);
            const auto index = int16_t(row.index);
            connect(button, &QPushButton::clicked, this, [this, command, index, caption] { click(command, index, caption); });
            control = button;
        }
        control->setObjectName(QString::fromLatin1(row.name));
        if (row.index >= 0)
            control->setProperty("Index", row.index);
        control->setGeometry(twipsToPixelsX(row.left), twipsToPixelsY(row.top), twipsToPixelsX(row.width),
                             twipsToPixelsY(row.height));
        if (previous != nullptr)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

void Form1::click(int command, int16_t index, const QString& caption)
{
    switch (command) {
    case 1: guarded([this] { showPixelSizes(); }); break;
    case 2: guarded([this] { showPatternLength(); }); break;
    case 3:
        printTest(caption, [this] {
            Command3_Click(*picture_, printer_, [this] {
                // Let the preview reach the screen before the window goes.
                picViivakoodi_->repaint();
                endProgram();
            });
        });
        break;
    case 4: printTest(caption, [this] { Command4_Click(printer_, [this] { endProgram(); }); }); break;
    case 5: printTest(caption, [this] { Command5_Click(printer_); }); break;
    case 6: guarded([this] { showModuleWidth(); }); break;
    case 7:
        printTest(caption, [this, index] {
            Command7_Click(printer_, index, [this](const std::string& text) { message(text); });
        });
        break;
    case 8: endProgram(); break;
    case 10: printTest(caption, [this, index] { Command10_Click(printer_, index); }); break;
    case 11: printTest(caption, [this, index] { Command11_Click(printer_, index); }); break;
    case 13: printTest(caption, [this] { Command13_Click(printer_); }); break;
    case 14: printTest(caption, [this] { Command14_Click(printer_); }); break;
    case 15: printTest(caption, [this] { Command15_Click(printer_); }); break;
    default: break; // Command9 and Command12 do nothing
    }
}

void Form1::siirra()
{
    printTest(QStringLiteral("siirra"), [this] { raitakone::siirra(printer_); });
}

void Form1::printTest(const QString& caption, const std::function<void()>& test)
{
    guarded([&] {
        printer_.setJobTitle("Raitakone: " + caption.toStdString());
        test();
    });
}

void Form1::guarded(const std::function<void()>& action)
{
    std::string failure;
    try {
        action();
        return;
    } catch (const RuntimeError& error) {
        failure = error.what();
    } catch (const std::exception& error) {
        failure = std::string("Odottamaton virhe: ") + error.what();
    }
    printer_.KillDoc();
    message(failure);
}

void Form1::message(const std::string& text)
{
    showMessage_(this, QString::fromUtf8(kMessageCaption), QString::fromStdString(text));
}

void Form1::endProgram() { end_(); }

void Form1::showPixelSizes()
{
    const float x = printer_.TwipsPerPixelX();
    const float y = printer_.TwipsPerPixelY();
    message(singleToText(x) + " - " + singleToText(y));
}

void Form1::showPatternLength() { message(doubleToText(double(kBarPattern.size()))); }

void Form1::showModuleWidth() { message(doubleToText(moduleWidth(printer_.TwipsPerPixelX()))); }

} // namespace raitakone
