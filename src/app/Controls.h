#pragma once

// The controls of the main window, in tab order, and the pages its print
// buttons make. The window builds itself from this table and the command
// line prints from it, so a page is the same whichever of them asked for it.

#include "printtests/PrintTests.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace raitakone {

// One control. Positions and sizes are in twips; index is the element number
// inside a button group, -1 for a single control.
struct ControlRow {
    const char* name;
    int index;
    const char* caption; // nullptr: the picture box
    int left;
    int top;
    int width;
    int height;
};

// What a button does, for its tooltip, in Finnish: the technique its page
// is drawn with, and a word when it ends the program; empty for the
// buttons that do nothing.
std::string controlHint(const ControlRow& control);

// 7 for "Command7"; 0 for a name that is not a command button's.
int commandNumber(std::string_view controlName);

std::span<const ControlRow> form1Controls();

// The picture box starts with a white picture of this many pixels.
inline constexpr int kPictureWidth = 604;
inline constexpr int kPictureHeight = 75;

// A page the program prints: one of the window's print buttons, or the
// transfer page that no button prints.
struct PrintPage {
    std::string control; // "Command10", or "siirra"
    int index = -1;      // the button's Index, -1 for a single button
    std::string caption; // as on the button; "siirra" for the transfer page

    // "Command10:2", "Command5", "siirra".
    std::string name() const;
};

// The ladder page; its PrintPage's index is the sheet, from 0.
inline constexpr const char* kLadderControl = "ladder";

// The print buttons in the window's tab order, then the transfer page.
std::span<const PrintPage> allPrintPages();

// The page's place in allPrintPages(), 1 for the first, by its name
// ("Command10:2"); nothing for a page outside the series (the ladder).
std::optional<int> seriesPlaceOf(const std::string& name);

// The page a name means: a control name with its index where it has one
// ("Command10:2"), a caption exactly as on its button, or "siirra".
std::optional<PrintPage> findPrintPage(const std::string& name);

// The page of a print button, if the control is one.
std::optional<PrintPage> printPageOf(const ControlRow& control);

// Where a delivered page went, as the user reads it: "→ sivut/0003.png" or
// "→ raitakone-pdf, työ 17".
std::string deliveryText(const Delivery& delivery);

// Draws the page on the Printer and ends it. The two pages that end the
// program call end once their page is delivered; Command3 draws its preview
// on the picture surface first; the bit-pair pages may show a message.
void printPage(const PrintPage& page, PrinterSurface& Printer, Surface& picViivakoodi, const EndProgram& end,
               const ShowMessage& message);

} // namespace raitakone
