#pragma once

// Puts the mark on the pages a printer ends: the caller says which page
// comes next, the printer adds its own name, resolution and paper, and the
// time is taken as the page ends. One marker is one series: a run of the
// command line, or a window session.

#include "marking/PageMark.h"
#include "surface/PrinterSurface.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace raitakone::marking {

// What the caller knows of the page it is about to print.
struct PageLabel {
    std::string control;    // "Command11:2"
    std::string caption;    // "Samsung 3"
    std::string n;          // "3/20", or "7"
    std::vector<int> rungs; // a ladder page's reductions, top to bottom
};

class PageMarker {
public:
    explicit PageMarker(std::string series = newSeriesId());

    const std::string& series() const { return series_; }

    // The pages the printer ends from now on carry this label's mark.
    void markNext(PrinterSurface& printer, const PageLabel& label);

    // Where the last page's mark went; nothing when it was left out.
    std::optional<MarkPlacement> lastPlacement() const { return *last_; }

private:
    std::string series_;
    std::shared_ptr<std::optional<MarkPlacement>> last_ = std::make_shared<std::optional<MarkPlacement>>();
};

// The identity of a page as this printer ends it now.
PageIdentity identityOf(const PageLabel& label, const std::string& series, const PageGeometry& geometry,
                        const std::string& printerName);

} // namespace raitakone::marking
