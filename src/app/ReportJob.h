#pragma once

// One piece of the report dialog's work, done off the window's thread and
// free of widgets: a scan file read and graded (a PDF page by page), or
// pages taken from a scanner and graded as each comes (one page, or the
// document feeder's every page).

#include "report/SeriesReport.h"
#include "scanning/GradeSource.h"

#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace raitakone {

struct ReportJob {
    int id = 0;
    QString path;                                 // a scan file
    std::optional<double> fileDpi;                // replaces the file's resolution
    std::optional<scanning::GradeSource> scanner; // or pages from this scanner
    bool feeder = false;                          // its feeder's every page
    std::optional<double> printerDpi;
    std::atomic<bool> stop{false};
};

// "skanneri test:0"; the first one found when no device is named.
QString scannerName(const QString& device);

// Does the job: each page goes to graded as soon as it is graded (a scanner
// problem as a page with its error), and progress hears the percentage of
// the page being scanned (100 when it is in). job.stop ends it between
// reads and between the grading's steps.
void runReportJob(const ReportJob& job, const std::function<void(const report::ScannedPage&)>& graded,
                  const std::function<void(int percent)>& progress);

} // namespace raitakone
