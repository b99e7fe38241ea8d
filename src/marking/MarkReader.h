#pragma once

// Reads a page's mark back from a scan: the QR code, through ZXing-C++.

#include "marking/PageIdentity.h"

#include <QImage>
#include <QPointF>

#include <optional>
#include <string>

namespace raitakone::marking {

struct ReadMark {
    PageIdentity page;
    QPointF centre; // of the code, in scan pixels
};

// The mark a scan shows, and what the user should know of the marks it
// shows: one refused as forged or damaged, or two pages' different marks
// (the first found is used).
struct MarkReading {
    std::optional<ReadMark> mark;
    std::string notice; // in Finnish; empty when there is nothing to say
};

// plane: Format_Grayscale8 at dpi.
MarkReading readMarks(const QImage& plane, double dpi);
// Nothing when the scan shows no sound mark of ours.
std::optional<ReadMark> readMark(const QImage& plane, double dpi);

} // namespace raitakone::marking
