#pragma once

// The main window: twenty-five buttons and the picture box, laid out from one
// control table, each click routed to its diagnostic or print test. A click
// that fails shows its message and leaves the window working; a half-drawn
// page is thrown away, never sent.

#include "surface/PictureSurface.h"
#include "surface/PrinterSurface.h"

#include <QFrame>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

namespace raitakone {

inline constexpr int kForm1ClientWidthTwips = 11535;
inline constexpr int kForm1ClientHeightTwips = 7260;
inline constexpr const char* kForm1Caption = "Raitakone 9.5.2006 -viivakoodin testaaja";
// The application title: the caption of every message box.
inline constexpr const char* kMessageCaption = "raitakoe";

// The picture box: shows the picture surface's picture at its top-left
// corner, nothing of its own.
class PictureBox : public QFrame {
public:
    PictureBox(const PictureSurface& surface, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const PictureSurface& surface_;
};

class Form1 : public QWidget {
    Q_OBJECT

public:
    // Shows a modal message with an OK button: caption and text.
    using MessageFunction = std::function<void(QWidget* parent, const QString& caption, const QString& text)>;
    using EndAction = std::function<void()>;

    // The connector finds the printer when a click first needs it.
    explicit Form1(PrinterSurface::Connector connector, QWidget* parent = nullptr);
    ~Form1() override;

    // Replace the message box (tests capture the text) or the end of the
    // program (tests record it instead of stopping).
    void setMessageFunction(MessageFunction show) { showMessage_ = std::move(show); }
    void setEndAction(EndAction end) { end_ = std::move(end); }

    PrinterSurface& printer() { return printer_; }
    PictureSurface& picture() { return *picture_; }

    // The window procedure no control calls: prints the transfer page.
    void siirra();

    // Converts twips to this window's screen pixels (logical dpi).
    int twipsToPixelsX(int twips) const;
    int twipsToPixelsY(int twips) const;

private:
    void createControls();
    void click(int command, int16_t index, const QString& caption);
    // Runs one click; a RuntimeError (or anything else thrown) discards the
    // open document and is shown in a message box.
    void guarded(const std::function<void()>& action);
    void printTest(const QString& caption, const std::function<void()>& test);
    void message(const std::string& text);
    void endProgram();

    void showPixelSizes();
    void showPatternLength();
    void showModuleWidth();

    PrinterSurface printer_;
    std::unique_ptr<PictureSurface> picture_;
    PictureBox* picViivakoodi_ = nullptr;
    MessageFunction showMessage_;
    EndAction end_;
};

} // namespace raitakone
