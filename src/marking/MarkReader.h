#pragma once

// Reads a page's mark back from a scan: the QR code, through ZXing-C++.

#include "marking/PageIdentity.h"

#include <QImage>
#include <QPointF>

#include <optional>

namespace raitakone::marking {

struct ReadMark {
    PageIdentity page;
    QPointF centre; // of the code, in scan pixels
};

// plane: Format_Grayscale8 at dpi. Nothing when the scan shows no mark of ours.
std::optional<ReadMark> readMark(const QImage& plane, double dpi);

} // namespace raitakone::marking
