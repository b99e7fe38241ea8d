#pragma once

// A series of scans graded together, ranked into one report: the printer
// and resolution the pages were printed for, the ladder's recommendation
// when its sheet is among the scans, the pages best symbol grade first, the
// pages that did not decode with their reason, and the scans with no
// symbol or not read. The HTML and the JSON are both written from this one
// model, so they carry the same values.

#include "grading/Grading.h"
#include "marking/PageIdentity.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace raitakone::report {

// One scan as it came back from grading.
struct ScannedPage {
    QString source;                              // the file, "FILE, sivu 2", or the scanner's page
    std::optional<grading::GradeResult> result;  // graded, or found no symbol
    QString error;                               // not read: why, in Finnish
    std::optional<marking::PageIdentity> named;  // the page, as the user named an unmarked scan
    bool suggested = false;                      // named is the program's guess, not the user's word
    QString notice;                              // what the user should know though the scan was read
};

// What the report's header says of the printer when the marks do not.
struct ReportContext {
    QDate date;
    std::optional<double> printerDpi; // as given on the command line or in the window
    // A page's place in the series (1 for the first) by its control name,
    // the one numbering the report shows; nothing for a page outside it.
    std::function<std::optional<int>(const std::string& control)> seriesPlace = {};
};

// Where a ranked page's name comes from.
enum class PageSource { None, Mark, User, Suggested };

// A graded page as the ranking lists it; every number is the shown symbol's.
struct RankedPage {
    int scan = 0;           // index into the scans
    QString source;
    QString n;              // its place in the series, else the mark's "3/21"; empty when unknown
    QString caption;
    QString control;
    PageSource pageSource = PageSource::None;
    double grade = 0.0;
    char letter = 'F';
    grading::Parameters worst;
    grading::ParameterGrades grades;
    std::optional<double> gainPx;
    std::optional<double> gainUm;
    QString decodeFailure;  // why no scan line decoded; empty when one did
    grading::ReflectanceUse reflectance;
    const grading::SymbolGrade* symbol = nullptr;
};

struct UnreadScan {
    QString source;
    QString message;
    bool badInput = false;  // the file could not be read; else it held no symbol
};

struct SeriesReport {
    QDate date;
    QStringList printers;   // the printers the marks name, in the order met
    QStringList resolutions; // "600 dpi", "600 × 1200 dpi"
    QStringList papers;     // "210 × 297 mm"
    int scans = 0;
    int graded = 0;
    std::optional<RankedPage> ladderPage;
    const ladder::LadderGrade* ladder = nullptr;
    std::vector<RankedPage> pages;      // decoded, best grade first
    std::vector<RankedPage> undecoded;  // graded, no scan line decoded
    std::vector<UnreadScan> unread;     // no symbol, or not read
    std::vector<double> aperturesMm;
    std::vector<double> scanResolutions;
    std::vector<double> gainAperturesMm;
    QStringList reflectanceMethods; // how the values became reflectance, each way once
    QStringList untrustedScans;     // scans whose levels look stretched
};

// Ranks the scans. The report points into scans, which must outlive it.
SeriesReport rankSeries(const std::vector<ScannedPage>& scans, const ReportContext& context);

// The exit status the series earns: 2 when a scan could not be read, else
// 0 when one was graded, else 1.
int seriesStatus(const SeriesReport& report);

QByteArray seriesJson(const SeriesReport& report);
QByteArray seriesHtml(const SeriesReport& report);

} // namespace raitakone::report
