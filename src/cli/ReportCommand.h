#pragma once

// The --report entry: a series of scans, given as files or scanned now,
// graded together into one HTML report (and its JSON).

#include <QCommandLineParser>
#include <QTextStream>

namespace raitakone {

// Adds --report, -o/--output FILE and --page SCAN=NAME. The scans are the
// positional arguments; --scan, --save-scan DIR, --scan-dpi, --printer-dpi,
// --aperture, --linear and --json are the grading options, read the same way.
void addReportOptions(QCommandLineParser& parser);
bool reportRequested(const QCommandLineParser& parser);
// The first option only the report reads, as written, when --report is not
// given; empty otherwise.
QString reportOptionAlone(const QCommandLineParser& parser);

// Grades and writes the report; progress and messages go to err, the report
// to its file (or to out with -o -). Returns 0 when a scan was graded, 1
// when none was, 2 when an input could not be read or the report not
// written, 3 when the scanner could not scan, 128 + signal when stopped.
int runReport(const QCommandLineParser& parser, QTextStream& out, QTextStream& err);

} // namespace raitakone
