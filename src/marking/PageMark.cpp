#include "marking/PageMark.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/CharacterSet.h>
#include <ZXing/MultiFormatWriter.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace raitakone::marking {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kMinModuleMm = 0.5;
constexpr int kQuietModules = 4;   // the QR code's own quiet zone
constexpr double kInsetMm = 3.0;   // from the printable area's edge, so that a scan keeps the whole mark
constexpr int kEccMedium = 4;      // ZXing's 0..8 scale: 4 is level M
constexpr const char* kSeparator = " · ";

ZXing::BitMatrix qrModules(const std::string& payload)
{
    return ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
        .setEncoding(ZXing::CharacterSet::UTF8)
        .setEccLevel(kEccMedium)
        .setMargin(0)
        .encode(payload, 0, 0);
}

// Whole device pixels a module, at least 0.5 mm.
int modulePixels(double dpi) { return int(std::ceil(kMinModuleMm * dpi / kMmPerInch - 1e-9)); }

int pixels(double mm, double dpi) { return int(std::lround(mm * dpi / kMmPerInch)); }

// The part as it fits width: whole, or its end after an ellipsis (a long
// printer name or folder is told apart by its end; the code carries it
// whole). Nothing when not even the ellipsis fits.
std::optional<std::string> fitted(const std::string& part, const TextFont& font, const PageGeometry& g, int width)
{
    if (textWidth(part, font, g.dpiX, g.dpiY) <= width)
        return part;
    for (size_t cut = 1; cut <= part.size(); ++cut) {
        if ((static_cast<unsigned char>(part[cut - 1]) & 0xC0) == 0x80 ||
            (cut < part.size() && (static_cast<unsigned char>(part[cut]) & 0xC0) == 0x80))
            continue; // not between two characters
        const std::string shortened = "…" + part.substr(cut);
        if (textWidth(shortened, font, g.dpiX, g.dpiY) <= width)
            return shortened;
    }
    return std::nullopt;
}

// The parts joined into lines no wider than width, a part too wide alone
// shortened; nothing when the width holds no text at all.
std::optional<std::vector<std::string>> wrapped(const std::vector<std::string>& whole, const TextFont& font,
                                                const PageGeometry& g, int width)
{
    std::vector<std::string> parts;
    for (const std::string& part : whole) {
        const std::optional<std::string> fits = fitted(part, font, g, width);
        if (!fits)
            return std::nullopt;
        parts.push_back(*fits);
    }
    std::vector<std::string> lines;
    for (const std::string& part : parts) {
        if (!lines.empty()) {
            const std::string joined = lines.back() + kSeparator + part;
            if (textWidth(joined, font, g.dpiX, g.dpiY) <= width) {
                lines.back() = joined;
                continue;
            }
        }
        lines.push_back(part);
    }
    return lines;
}

struct Layout {
    MarkPlacement placement;
    std::vector<std::string> lines;
    ZXing::BitMatrix modules;
    int moduleX = 0;
    int moduleY = 0;
};

// The code's block (with its quiet zone) for a code side of n modules.
PixelRect codeBlock(const PageGeometry& g, int n)
{
    const int right = g.printable.right - pixels(kInsetMm, g.dpiX);
    const int bottom = g.printable.bottom - pixels(kInsetMm, g.dpiY);
    return {right - (n + 2 * kQuietModules) * modulePixels(g.dpiX),
            bottom - (n + 2 * kQuietModules) * modulePixels(g.dpiY), right, bottom};
}

std::optional<Layout> layOut(const PageGeometry& g, const PageIdentity& page, const TextFont& font)
{
    Layout layout;
    layout.modules = qrModules(markPayload(page));
    layout.moduleX = modulePixels(g.dpiX);
    layout.moduleY = modulePixels(g.dpiY);
    const int n = layout.modules.width();
    const PixelRect block = codeBlock(g, n);
    const PixelRect code{block.left + kQuietModules * layout.moduleX, block.top + kQuietModules * layout.moduleY,
                         block.right - kQuietModules * layout.moduleX, block.bottom - kQuietModules * layout.moduleY};

    // The text stands left of the code, its last line on the code's last row.
    const int textRight = block.left;
    const int textLeft = g.printable.left + pixels(kInsetMm, g.dpiX);
    const auto lines = wrapped(markTextParts(page), font, g, textRight - textLeft);
    if (!lines)
        return std::nullopt;
    int widest = 0;
    for (const std::string& line : *lines)
        widest = std::max(widest, textWidth(line, font, g.dpiX, g.dpiY));
    const int textHeight = int(lines->size()) * lineHeight(font, g.dpiX, g.dpiY);

    MarkPlacement& p = layout.placement;
    p.code = code;
    p.textLines = int(lines->size());
    p.rect = {std::min(block.left, textRight - widest), std::min(block.top, code.bottom - textHeight), block.right,
              block.bottom};
    layout.lines = *lines;
    if (p.rect.left < g.printable.left || p.rect.top < g.printable.top || p.rect.empty())
        return std::nullopt;
    return layout;
}

bool blank(const PageRaster& page, const PixelRect& rect)
{
    if (page.isBilevel()) {
        // Index 1 is black, eight pixels a byte, the first in the high bit.
        for (int y = rect.top; y < rect.bottom; ++y) {
            const uchar* line = page.image().constScanLine(y);
            for (int x = rect.left; x < rect.right; ++x)
                if ((line[x >> 3] >> (7 - (x & 7))) & 1)
                    return false;
        }
        return true;
    }
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            if (page.pixel(x, y) != kWhite)
                return false;
    return true;
}

} // namespace

std::optional<MarkPlacement> placeMark(const PageGeometry& geometry, const PageIdentity& page, const TextFont& font)
{
    const std::optional<Layout> layout = layOut(geometry, page, font);
    if (!layout)
        return std::nullopt;
    return layout->placement;
}

int markReserveHeight(const PageGeometry& geometry)
{
    // A payload longer than any page writes: a long printer name and time.
    const std::string longest(240, 'x');
    const int n = qrModules(longest).width();
    const PixelRect block = codeBlock(geometry, n);
    return geometry.printable.bottom - block.top;
}

MarkOutcome drawMark(PageRaster& page, const PageGeometry& geometry, const PageIdentity& identity,
                     const TextFont& font)
{
    const std::optional<Layout> layout = layOut(geometry, identity, font);
    if (!layout || !blank(page, layout->placement.rect))
        return {std::nullopt, "Merkintä jäi pois: sivun oikeassa alakulmassa ei ole sille tilaa."};

    const MarkPlacement& p = layout->placement;
    const ZXing::BitMatrix& modules = layout->modules;
    for (int my = 0; my < modules.height(); ++my)
        for (int mx = 0; mx < modules.width(); ++mx)
            if (modules.get(mx, my))
                page.fill({p.code.left + mx * layout->moduleX, p.code.top + my * layout->moduleY,
                           p.code.left + (mx + 1) * layout->moduleX, p.code.top + (my + 1) * layout->moduleY},
                          kBlack);

    const int line = lineHeight(font, geometry.dpiX, geometry.dpiY);
    const int textRight = p.code.left - kQuietModules * layout->moduleX;
    int top = p.code.bottom - int(layout->lines.size()) * line;
    for (const std::string& text : layout->lines) {
        const TextRun run = renderText(text, font, geometry.dpiX, geometry.dpiY);
        const int left = textRight - run.width;
        for (int y = 0; y < run.height; ++y)
            for (int x = 0; x < run.width; ++x)
                if (run.inked(x, y))
                    page.setPixel(left + x, top + y, kBlack);
        top += line;
    }
    return {p, {}};
}

} // namespace raitakone::marking
