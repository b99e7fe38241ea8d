#pragma once

// The page mark: the page's identity as a line of text and a QR code, in the
// bottom-right corner of the printable area, where no page draws. It is put
// on a page only where the whole of its rectangle is blank and inside the
// printable area, so it can never touch what the page drew.

#include "marking/PageIdentity.h"
#include "surface/PageGeometry.h"
#include "surface/PageRaster.h"
#include "surface/TextRun.h"

#include <optional>
#include <string>

namespace raitakone::marking {

struct MarkPlacement {
    PixelRect rect;       // all of the mark: text, code and the code's quiet zone
    PixelRect code;       // the QR code's modules, quiet zone excluded
    int textLines = 0;    // the text breaks between its parts only where the line does not fit
};

// Where the mark of this identity goes on a page of this geometry; nothing
// when it does not fit the printable area.
std::optional<MarkPlacement> placeMark(const PageGeometry& geometry, const PageIdentity& page, const TextFont& font);

// The height, in device pixels, that a page keeps free at the bottom of its
// printable area for any mark of ours.
int markReserveHeight(const PageGeometry& geometry);

struct MarkOutcome {
    std::optional<MarkPlacement> placed;
    std::string notice; // why the mark was left out; empty when it is on the page
};

// Draws the mark where placeMark puts it, if that rectangle is blank.
MarkOutcome drawMark(PageRaster& page, const PageGeometry& geometry, const PageIdentity& identity,
                     const TextFont& font);

} // namespace raitakone::marking
