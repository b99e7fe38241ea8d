#pragma once

// The drawing surface every print test draws through: a unit, a current
// position, pen, fill and font state, Line and Print. The members carry the
// names the tests are written against. Positions are held as physical points
// in device pixels, so changing ScaleMode never moves the current position.

#include "surface/PageFit.h"
#include "surface/PageGeometry.h"
#include "surface/PageRaster.h"
#include "surface/TextRun.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace raitakone {

// Line flags: bits that select the form of a Line call.
namespace LineFlag {
inline constexpr int16_t ColorGiven = 0x02;
inline constexpr int16_t StartGiven = 0x04;
inline constexpr int16_t Box = 0x10;
inline constexpr int16_t FilledBox = 0x20;
} // namespace LineFlag

namespace Scale {
inline constexpr int16_t Twips = 1;
inline constexpr int16_t Points = 2;
inline constexpr int16_t Pixels = 3;
inline constexpr int16_t Inches = 5;
inline constexpr int16_t Millimetres = 6;
inline constexpr int16_t Centimetres = 7;
} // namespace Scale

// One item of a Print statement: text as it stands, or a number written as
// a sign space, its digits and a trailing space. A float is a Single (7
// significant digits), a double or int keeps up to 15.
struct PrintItem {
    PrintItem(const char* text) : value(std::string(text)) {}
    PrintItem(std::string text) : value(std::move(text)) {}
    PrintItem(float number) : value(number) {}
    PrintItem(double number) : value(number) {}
    PrintItem(int number) : value(double(number)) {}
    std::string text() const;

    std::variant<std::string, float, double> value;
};

// Everything a surface was asked to do, in order, for tests that check the
// steps of a print test rather than its pixels.
struct SurfaceEvent {
    std::string what;           // "ScaleMode", "Line", "Print", "EndDoc", "Font.Name", ...
    std::vector<double> values; // Line: flags, X1, Y1, X2, Y2, Color; a property: its value
    std::string text;           // Print: the statement's text; Font.Name: the name
};

class Surface;

// The Font member: Size and Name are set separately, Size first in every test.
class SurfaceFont {
public:
    explicit SurfaceFont(Surface& owner) : owner_(owner) {}
    float Size() const;
    void setSize(float points);
    const std::string& Name() const;
    void setName(const std::string& name);

private:
    Surface& owner_;
};

class Surface {
public:
    explicit Surface(TextFont defaultFont);
    virtual ~Surface() = default;
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    int16_t ScaleMode();
    void setScaleMode(int16_t mode);
    float CurrentX();
    void setCurrentX(float x);
    float CurrentY();
    void setCurrentY(float y);
    int16_t DrawWidth();
    void setDrawWidth(int16_t pixels);
    int16_t DrawStyle();
    void setDrawStyle(int16_t style);
    int16_t DrawMode();
    void setDrawMode(int16_t mode);
    int16_t FillStyle();
    void setFillStyle(int16_t style);
    Colour FillColor();
    void setFillColor(Colour colour);
    Colour ForeColor();
    void setForeColor(Colour colour);
    bool FontTransparent();
    void setFontTransparent(bool transparent);
    SurfaceFont& Font();
    float TwipsPerPixelX();
    float TwipsPerPixelY();

    void Line(int16_t flags, float x1, float y1, float x2, float y2, Colour colour);
    void Print(std::initializer_list<PrintItem> items = {});

    // Records every call into the log until detached (nullptr).
    void setEventLog(std::vector<SurfaceEvent>* log) { log_ = log; }

protected:
    // The target's page geometry; may fail (no printer).
    virtual PageGeometry geometry() = 0;
    // The page being drawn; a printer opens its document here.
    virtual PageRaster& drawingPage() = 0;
    // Called before every member access; a printer checks it has a device.
    virtual void access() {}
    // After a page has been drawn on.
    virtual void pageChanged() {}

    void resetState();
    // What the page drew since the state was last reset, before clipping.
    const DrawnExtent& drawnExtent() const { return drawn_; }
    void record(const std::string& what, std::vector<double> values = {}, std::string text = {});

private:
    friend class SurfaceFont;

    struct State {
        int16_t scaleMode = Scale::Twips;
        double x = 0; // device pixels from the printable origin
        double y = 0;
        int16_t drawWidth = 1;
        int16_t drawStyle = 0;
        int16_t drawMode = 13;
        int16_t fillStyle = 1;
        Colour fillColor = kBlack;
        Colour foreColor = kBlack;
        bool fontTransparent = true;
        TextFont font;
    };

    double pixelsPerUnitX();
    double pixelsPerUnitY();
    double pixelsPerUnit(int16_t mode, double dpi);
    void drawBox(const PageGeometry& g, PageRaster& page, double x1, double y1, double x2, double y2,
                 Colour outline, bool filled, Colour lineColour);
    void drawStraightLine(const PageGeometry& g, PageRaster& page, double x1, double y1, double x2, double y2,
                          Colour colour);
    void paint(PageRaster& page, const PageGeometry& g, PixelRect rect, Colour colour);
    void printText(const std::string& text);

    TextFont defaultFont_;
    State state_;
    DrawnExtent drawn_;
    SurfaceFont font_{*this};
    std::vector<SurfaceEvent>* log_ = nullptr;
};

} // namespace raitakone
