#pragma once

// Taking a page from a scanner through SANE: the scanners present, and one
// acquisition of the whole flatbed in grey (or colour, read through its red
// channel) at the resolution asked for. The scan carries the resolution the
// scanner says it used, which is not always the one asked for.

#include "grading/ScanImage.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

namespace raitakone::scanning {

inline constexpr int kDefaultScanDpi = 600;

struct ScannerDevice {
    QString name;        // SANE's device name, e.g. "test:0"
    QString description; // vendor, model and type, for the user
};

enum class ScanProblem {
    None,
    NoScanner, // no scanner present, or the one named is not there
    Busy,      // another program holds it
    Gone,      // unplugged or stopped answering in the middle
    Cancelled, // the user stopped it
    FeederEmpty, // the document feeder has no paper (left)
    Failed,    // anything else SANE reports
};

// Where the pages come from: as the device is set (its flatbed, as a rule),
// its document feeder, or the feeder where it has one.
enum class PaperSource { AsSet, Feeder, FeederWhenPresent };

struct ScanRequest {
    QString device; // empty: the first scanner found
    int dpi = kDefaultScanDpi;
    bool colour = false; // colour even where grey is offered; measured through its red channel
    PaperSource source = PaperSource::AsSet; // acquirePages only; acquireScan scans as the device is set
};

struct Acquisition {
    std::optional<grading::Scan> scan; // the measured plane at the scanner's own resolution
    QImage image;                      // the page as scanned (grey or RGB), resolution recorded
    QString device;                    // the scanner that scanned it
    ScanProblem problem = ScanProblem::None;
    QString error;                     // in Finnish, saying what to do; empty when scanned
};

// The scanners present. An empty list with *error set when SANE itself
// cannot start; an empty list alone when it starts and finds none.
std::vector<ScannerDevice> listScanners(QString* error);

// Scans one page. Blocks until the page is in, the scanner fails, or cancel
// turns true (checked between reads; the scan is then stopped with the
// scanner left ready). progress gets the fraction read so far, 0..1, on the
// calling thread. Scans are taken one at a time; a second caller waits.
Acquisition acquireScan(const ScanRequest& request, const std::atomic<bool>& cancel,
                        const std::function<void(double)>& progress = {});

// What ended a run of pages.
struct ScanRun {
    ScanProblem problem = ScanProblem::None; // None: the feeder ran empty, or no other page was wanted
    QString error;                           // in Finnish, saying what to do
    QString device;
    int pages = 0;                           // pages handed to onPage
    bool feeder = false;                     // the pages came from the document feeder
};

// Scans pages one after another with the device open. From the document
// feeder, until it runs empty (which ends the run normally once a page has
// come; an empty feeder at the start is FeederEmpty); otherwise one page,
// and one more each time another answers true (it may ask the user). Each
// page goes to onPage as soon as it is read, on the calling thread. cancel
// and progress (the page from 1, the fraction of it read) as acquireScan.
ScanRun acquirePages(const ScanRequest& request, const std::atomic<bool>& cancel,
                     const std::function<void(Acquisition&&)>& onPage, const std::function<bool()>& another = {},
                     const std::function<void(int page, double fraction)>& progress = {});

// Writes the scanned page as PNG with its resolution recorded; false with a
// message in Finnish when it cannot.
bool saveScan(const QImage& image, const QString& path, QString* error);

} // namespace raitakone::scanning
