#pragma once

// The page-file printer: an A4 printer of any resolution whose pages become
// files in a directory, NNNN.png and NNNN.pdf for each document, numbered on
// from the highest number already there. A file appears under its final name
// only when it has been written in full; an existing file is never replaced.

#include "surface/PrinterBackend.h"

#include <string>

namespace raitakone {

class FilePrinter : public PrinterBackend {
public:
    // Creates the directory when it is missing; throws a RuntimeError naming
    // it when it cannot be created or is not a directory.
    FilePrinter(std::string directory, double dpiX, double dpiY);

    // A4 (210 x 297 mm) at the printer's resolution, the whole sheet printable.
    PageGeometry geometry() override;
    std::string displayName() const override { return "sivutiedostot: " + directory_; }
    std::string mediaText() const override { return "A4, 210 × 297 mm"; }
    // -1 .. -4, or a resolution equal to the horizontal one.
    void checkPrintQuality(int16_t quality) override;
    Delivery deliver(const PageRaster& page, const JobSettings& job) override;

    const std::string& directory() const { return directory_; }

private:
    std::string directory_;
    double dpiX_;
    double dpiY_;
};

} // namespace raitakone
