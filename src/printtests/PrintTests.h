#pragma once

// The print test procedures, one per button or button group, each in a file
// of its own that reads like its step list. They draw only through the
// surfaces they are given; ending the program and showing a message are
// handed in by the window.

#include "surface/PrinterSurface.h"
#include "surface/Surface.h"

#include <cstdint>
#include <functional>
#include <string>

namespace raitakone {

using EndProgram = std::function<void()>;
using ShowMessage = std::function<void(const std::string& text)>;

// "Valkea 1 (perus)" .. "Valkea 4 (rgb)": the four Line forms.
void Command10_Click(PrinterSurface& Printer, int16_t Index);
// "twips 1", "twips 2", "twips 3": pages with their numbers in a text block.
void Command13_Click(PrinterSurface& Printer);
void Command14_Click(PrinterSurface& Printer);
void Command15_Click(PrinterSurface& Printer);
// "Samsung 1" .. "Samsung 5": unit switched early or late, print qualities.
void Command11_Click(PrinterSurface& Printer, int16_t Index);
// "Viivakoodi 30.11.": the symbol in the corner with a near-black fill.
void Command5_Click(PrinterSurface& Printer);
// "1 00" .. "4 11": black or near-black fill and outline.
void Command7_Click(PrinterSurface& Printer, int16_t Index, const ShowMessage& MsgBox);
// The window procedure no control calls.
void siirra(PrinterSurface& Printer);
// "Viivakodi PK DrawWidth": filled boxes in centimetres, then the program ends.
void Command4_Click(PrinterSurface& Printer, const EndProgram& End);
// "Command3": preview on the picture box, stacked lines on paper, then the end.
void Command3_Click(Surface& picViivakoodi, PrinterSurface& Printer, const EndProgram& End);

} // namespace raitakone
