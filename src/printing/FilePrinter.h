#pragma once

// The page-file printer: a printer of any paper and resolution, the whole
// sheet printable, whose pages become files in a directory, NNNN.png and NNNN.pdf for each document, numbered on
// from the highest number already there. A file appears under its final name
// only when it has been written in full; an existing file is never replaced.
//
// A page is a pair or nothing: SIGTERM, SIGINT and SIGHUP are held back while
// a page is written, and opening a folder puts right what a killed instance
// left there (see PageFolder.h): stale temporary files are removed and a half
// pair is completed or moved aside, which the user is told.

#include "surface/PrinterBackend.h"

#include <functional>
#include <string>
#include <vector>

namespace raitakone {

class FilePrinter : public PrinterBackend {
public:
    // Creates the directory when it is missing; throws a RuntimeError naming
    // it when it cannot be created or is not a directory. Then clears up
    // after killed instances.
    FilePrinter(std::string directory, double dpiX, double dpiY, Paper paper = kA4Paper);

    // The paper at the printer's resolution, the whole sheet printable.
    PageGeometry geometry() override;
    std::string displayName() const override { return "sivutiedostot: " + directory_; }
    std::string mediaText() const override { return paper_.description(); }
    // -1 .. -4, or a resolution equal to the horizontal one.
    void checkPrintQuality(int16_t quality) override;
    // The first delivered page's notice holds the recovery notices.
    Delivery deliver(const PageRaster& page, const JobSettings& job) override;

    const std::string& directory() const { return directory_; }

    // What opening the folder put right, one Finnish sentence for each half
    // pair completed or moved aside; empty when there was nothing to do.
    const std::vector<std::string>& recoveryNotices() const { return recoveryNotices_; }
    std::string openingNotice() const override;

    // For tests: called after a page's PNG is published and before its PDF is,
    // where a killed program leaves half a pair.
    void setBetweenHalvesHook(std::function<void()> hook) { betweenHalves_ = std::move(hook); }

private:
    std::string directory_;
    double dpiX_;
    double dpiY_;
    Paper paper_;
    std::vector<std::string> recoveryNotices_;
    bool noticesDelivered_ = false;
    std::function<void()> betweenHalves_;
};

} // namespace raitakone
