#include "surface/Surface.h"

#include "surface/NumberText.h"
#include "surface/RuntimeError.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace raitakone {
namespace {

// Device coordinate to pixel: v lands on pixel floor(v + 0.5).
int pixelOf(double v)
{
    const double p = std::floor(v + 0.5);
    return int(std::clamp(p, -1e9, 1e9));
}

// Binary raster operations of DrawMode 2..15 on 24-bit colours.
Colour rasterOp(int16_t mode, Colour pen, Colour dst)
{
    Colour r = pen;
    switch (mode) {
    case 2: r = ~(pen | dst); break;
    case 3: r = ~pen & dst; break;
    case 4: r = ~pen; break;
    case 5: r = pen & ~dst; break;
    case 6: r = ~dst; break;
    case 7: r = pen ^ dst; break;
    case 8: r = ~(pen & dst); break;
    case 9: r = pen & dst; break;
    case 10: r = ~(pen ^ dst); break;
    case 11: r = dst; break;
    case 12: r = ~pen | dst; break;
    case 14: r = pen | ~dst; break;
    case 15: r = pen | dst; break;
    default: break;
    }
    return r & 0xFFFFFF;
}

std::string refused(const std::string& member, long value)
{
    return "Tulostin ei hyväksy arvoa " + std::to_string(value) + " ominaisuudelle " + member;
}

} // namespace

std::string PrintItem::text() const
{
    if (const auto* s = std::get_if<std::string>(&value))
        return *s;
    const double number = std::holds_alternative<float>(value) ? double(std::get<float>(value)) : std::get<double>(value);
    const std::string digits = std::holds_alternative<float>(value) ? singleToText(std::get<float>(value))
                                                                   : doubleToText(number);
    return (number < 0 ? "" : " ") + digits + " ";
}

float SurfaceFont::Size() const { owner_.access(); return owner_.state_.font.size; }
const std::string& SurfaceFont::Name() const { owner_.access(); return owner_.state_.font.name; }

void SurfaceFont::setSize(float points)
{
    owner_.access();
    if (!(points > 0 && points <= 2048))
        throw RuntimeError("Virheellinen fonttikoko " + singleToText(points));
    owner_.record("Font.Size", {points});
    owner_.state_.font.size = points;
}

void SurfaceFont::setName(const std::string& name)
{
    owner_.access();
    if (name.empty())
        throw RuntimeError("Fontin nimi puuttuu");
    owner_.record("Font.Name", {}, name);
    owner_.state_.font.name = name;
}

Surface::Surface(TextFont defaultFont) : defaultFont_(std::move(defaultFont)) { resetState(); }

void Surface::resetState()
{
    state_ = State{};
    state_.font = defaultFont_;
    drawn_ = {};
}

void Surface::record(const std::string& what, std::vector<double> values, std::string text)
{
    if (log_)
        log_->push_back({what, std::move(values), std::move(text)});
}

int16_t Surface::ScaleMode() { access(); return state_.scaleMode; }

void Surface::setScaleMode(int16_t mode)
{
    access();
    if (mode != Scale::Twips && mode != Scale::Points && mode != Scale::Pixels && mode != Scale::Inches
        && mode != Scale::Millimetres && mode != Scale::Centimetres)
        throw RuntimeError(refused("ScaleMode", mode));
    record("ScaleMode", {double(mode)});
    state_.scaleMode = mode;
}

double Surface::pixelsPerUnit(int16_t mode, double dpi)
{
    double twipsPerUnit = 1;
    switch (mode) {
    case Scale::Pixels: return 1.0;
    case Scale::Points: twipsPerUnit = 20; break;
    case Scale::Inches: twipsPerUnit = 1440; break;
    case Scale::Millimetres: twipsPerUnit = 56.7; break;
    case Scale::Centimetres: twipsPerUnit = 567; break;
    default: break;
    }
    return twipsPerUnit * dpi / 1440.0;
}

double Surface::pixelsPerUnitX() { return pixelsPerUnit(state_.scaleMode, geometry().dpiX); }
double Surface::pixelsPerUnitY() { return pixelsPerUnit(state_.scaleMode, geometry().dpiY); }

float Surface::CurrentX() { access(); return float(state_.x / pixelsPerUnitX()); }
float Surface::CurrentY() { access(); return float(state_.y / pixelsPerUnitY()); }

void Surface::setCurrentX(float x)
{
    access();
    record("CurrentX", {x});
    state_.x = double(x) * pixelsPerUnitX();
}

void Surface::setCurrentY(float y)
{
    access();
    record("CurrentY", {y});
    state_.y = double(y) * pixelsPerUnitY();
}

int16_t Surface::DrawWidth() { access(); return state_.drawWidth; }

void Surface::setDrawWidth(int16_t pixels)
{
    access();
    if (pixels < 1) {
        // A module narrower than a pixel is what makes a test ask for this.
        const PageGeometry g = geometry();
        throw RuntimeError(refused("DrawWidth", pixels) + ": kynän leveys " + std::to_string(pixels) +
                           " pikseliä ei piirrä mitään. Tulostimen tarkkuus on " +
                           std::to_string(std::lround(g.dpiX)) + " dpi, joten viivakoodin moduuli olisi " +
                           std::to_string(std::max(0, int(pixels))) +
                           " pikseliä leveä. Valitse tulostin tai tarkkuus, jossa on vähintään noin 80 dpi.");
    }
    record("DrawWidth", {double(pixels)});
    state_.drawWidth = pixels;
}

int16_t Surface::DrawStyle() { access(); return state_.drawStyle; }

void Surface::setDrawStyle(int16_t style)
{
    access();
    if (style < 0 || style > 6)
        throw RuntimeError(refused("DrawStyle", style));
    record("DrawStyle", {double(style)});
    state_.drawStyle = style;
}

int16_t Surface::DrawMode() { access(); return state_.drawMode; }

void Surface::setDrawMode(int16_t mode)
{
    access();
    if (mode < 1 || mode > 16)
        throw RuntimeError(refused("DrawMode", mode));
    record("DrawMode", {double(mode)});
    state_.drawMode = mode;
}

int16_t Surface::FillStyle() { access(); return state_.fillStyle; }

void Surface::setFillStyle(int16_t style)
{
    access();
    if (style < 0 || style > 7)
        throw RuntimeError(refused("FillStyle", style));
    record("FillStyle", {double(style)});
    state_.fillStyle = style;
}

Colour Surface::FillColor() { access(); return state_.fillColor; }

void Surface::setFillColor(Colour colour)
{
    access();
    if (colour > 0xFFFFFF)
        throw RuntimeError(refused("FillColor", long(colour)));
    record("FillColor", {double(colour)});
    state_.fillColor = colour;
}

Colour Surface::ForeColor() { access(); return state_.foreColor; }

void Surface::setForeColor(Colour colour)
{
    access();
    if (colour > 0xFFFFFF)
        throw RuntimeError(refused("ForeColor", long(colour)));
    record("ForeColor", {double(colour)});
    state_.foreColor = colour;
}

bool Surface::FontTransparent() { access(); return state_.fontTransparent; }

void Surface::setFontTransparent(bool transparent)
{
    access();
    record("FontTransparent", {transparent ? 1.0 : 0.0});
    state_.fontTransparent = transparent;
}

SurfaceFont& Surface::Font() { access(); return font_; }

float Surface::TwipsPerPixelX() { access(); return float(1440.0 / geometry().dpiX); }
float Surface::TwipsPerPixelY() { access(); return float(1440.0 / geometry().dpiY); }

void Surface::Line(int16_t flags, float x1, float y1, float x2, float y2, Colour colour)
{
    access();
    record("Line", {double(flags), x1, y1, x2, y2, double(colour)});
    const double fx = pixelsPerUnitX();
    const double fy = pixelsPerUnitY();
    const double startX = (flags & LineFlag::StartGiven) ? double(x1) * fx : state_.x;
    const double startY = (flags & LineFlag::StartGiven) ? double(y1) * fy : state_.y;
    const double endX = double(x2) * fx;
    const double endY = double(y2) * fy;
    const Colour lineColour = (flags & LineFlag::ColorGiven) ? (colour & 0xFFFFFF) : state_.foreColor;

    const PageGeometry g = geometry();
    PageRaster& page = drawingPage();
    if (flags & LineFlag::FilledBox)
        drawBox(g, page, startX, startY, endX, endY, lineColour, true, lineColour);
    else if (flags & LineFlag::Box)
        drawBox(g, page, startX, startY, endX, endY, lineColour, false, lineColour);
    else
        drawStraightLine(g, page, startX, startY, endX, endY, lineColour);
    pageChanged();

    state_.x = endX;
    state_.y = endY;
}

void Surface::paint(PageRaster& page, const PageGeometry& g, PixelRect rect, Colour colour)
{
    drawn_.addBars(rect, {0, 0, g.printable.right - g.printable.left, g.printable.bottom - g.printable.top});
    rect = {rect.left + g.printable.left, rect.top + g.printable.top, rect.right + g.printable.left,
            rect.bottom + g.printable.top};
    rect = rect.intersected(g.printable);
    if (rect.empty())
        return;
    switch (state_.drawMode) {
    case 1: page.fill(rect, kBlack); return;
    case 11: return;
    case 13: page.fill(rect, colour); return;
    case 16: page.fill(rect, kWhite); return;
    default:
        for (int y = rect.top; y < rect.bottom; ++y)
            for (int x = rect.left; x < rect.right; ++x)
                page.setPixel(x, y, rasterOp(state_.drawMode, colour, page.pixel(x, y)));
    }
}

// A box covers the pixels from pixelOf(X1) up to, not including, pixelOf(X2)
// (at least one column) and likewise in y: neighbouring boxes that share an
// edge coordinate meet without gap or overlap. The outline's vertical edges
// are pen-wide bands centred on the first and last column (odd widths centred,
// even widths one pixel more on the left); its horizontal edges stay inside
// the rows, so a bar from y = 0 to h is exactly h rows high.
void Surface::drawBox(const PageGeometry& g, PageRaster& page, double x1, double y1, double x2, double y2,
                      Colour outline, bool filled, Colour lineColour)
{
    int left = pixelOf(x1), right = pixelOf(x2), top = pixelOf(y1), bottom = pixelOf(y2);
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    if (top == bottom) {
        drawStraightLine(g, page, x1, y1, x2, y2, outline);
        return;
    }
    const int lastColumn = std::max(left, right - 1);
    const int w = state_.drawWidth;
    const int half = w / 2;

    if (filled)
        paint(page, g, {left, top, lastColumn + 1, bottom}, lineColour);
    else if (state_.fillStyle == 0)
        paint(page, g, {left, top, lastColumn + 1, bottom}, state_.fillColor);

    if (state_.drawStyle == 5) // invisible pen
        return;
    paint(page, g, {left - half, top, left - half + w, bottom}, outline);
    paint(page, g, {lastColumn - half, top, lastColumn - half + w, bottom}, outline);
    paint(page, g, {left - half, top, lastColumn - half + w, std::min(top + w, bottom)}, outline);
    paint(page, g, {left - half, std::max(bottom - w, top), lastColumn - half + w, bottom}, outline);
}

void Surface::drawStraightLine(const PageGeometry& g, PageRaster& page, double x1, double y1, double x2,
                               double y2, Colour colour)
{
    if (state_.drawStyle == 5)
        return;
    const int w = state_.drawWidth;
    const int half = w / 2;
    int c1 = pixelOf(x1), r1 = pixelOf(y1);
    const int c2 = pixelOf(x2), r2 = pixelOf(y2);
    if (c1 == c2 && r1 != r2) {
        paint(page, g, {c1 - half, std::min(r1, r2), c1 - half + w, std::max(r1, r2)}, colour);
        return;
    }
    if (r1 == r2) {
        paint(page, g, {std::min(c1, c2), r1 - half, std::max(std::max(c1, c2), std::min(c1, c2) + 1), r1 - half + w},
              colour);
        return;
    }
    // Bresenham, the end point excluded, a pen-wide square at every step.
    const int dc = std::abs(c2 - c1), dr = -std::abs(r2 - r1);
    const int sc = c1 < c2 ? 1 : -1, sr = r1 < r2 ? 1 : -1;
    int err = dc + dr;
    while (c1 != c2 || r1 != r2) {
        paint(page, g, {c1 - half, r1 - half, c1 - half + w, r1 - half + w}, colour);
        const int e2 = 2 * err;
        if (e2 >= dr) { err += dr; c1 += sc; }
        if (e2 <= dc) { err += dc; r1 += sr; }
    }
}

void Surface::Print(std::initializer_list<PrintItem> items)
{
    access();
    std::string statement;
    for (const PrintItem& item : items)
        statement += item.text();
    record("Print", {}, statement);
    const PageGeometry g = geometry();
    drawingPage(); // even an empty statement opens the document
    if (!statement.empty())
        printText(statement);
    state_.x = 0;
    state_.y += lineHeight(state_.font, g.dpiX, g.dpiY);
    pageChanged();
}

void Surface::printText(const std::string& text)
{
    const PageGeometry g = geometry();
    PageRaster& page = drawingPage();
    const TextRun run = renderText(text, state_.font, g.dpiX, g.dpiY);
    const int left = pixelOf(state_.x) + g.printable.left;
    const int top = pixelOf(state_.y) + g.printable.top;
    if (!state_.fontTransparent)
        page.fill(PixelRect{left, top, left + run.width, top + run.height}.intersected(g.printable), kWhite);
    PixelRect inked{run.width, run.height, 0, 0};
    for (int y = 0; y < run.height; ++y)
        for (int x = 0; x < run.width; ++x) {
            if (!run.inked(x, y))
                continue;
            inked = {std::min(inked.left, x), std::min(inked.top, y), std::max(inked.right, x + 1),
                     std::max(inked.bottom, y + 1)};
            const int px = left + x, py = top + y;
            if (px >= g.printable.left && px < g.printable.right && py >= g.printable.top && py < g.printable.bottom)
                page.setPixel(px, py, state_.foreColor);
        }
    const int fromLeft = left - g.printable.left, fromTop = top - g.printable.top;
    drawn_.addText({inked.left + fromLeft, inked.top + fromTop, inked.right + fromLeft, inked.bottom + fromTop});
    state_.x += run.width;
}

} // namespace raitakone
