#pragma once

// The --grade and --scan entries: grade a page, scanned before or scanned
// now through SANE, without a window.

#include <QCommandLineParser>
#include <QTextStream>

#include "grading/Grading.h"

#include <optional>

namespace raitakone {

// Adds --grade SCAN, --scan, --save-scan FILE, --scan-dpi N, --aperture MM, --printer-dpi N, --json,
// --plot FILE, --linear, --calibration FILE.
void addGradeOptions(QCommandLineParser& parser);
// Whether the command line asks to grade (--grade, --scan or --save-scan).
bool gradeRequested(const QCommandLineParser& parser);
// The first option that only grading reads (--json, --plot …), as written,
// when neither --grade nor --scan is given; empty otherwise.
QString gradingOptionAlone(const QCommandLineParser& parser);
// Whether it asks to scan; the scanner, if named, is the one positional argument.
bool scanRequested(const QCommandLineParser& parser);
// The options the grading entries share, read and checked.
struct GradeSettings {
    std::optional<double> scanDpi;
    grading::GradeOptions options;
    bool json = false;
    std::optional<QString> plot;
};
// Reads them; an error message naming the bad one, or empty.
QString readGradeSettings(const QCommandLineParser& parser, GradeSettings* settings);

// Grades; writes the report (or JSON) to out, messages to err; returns 0 graded, 1 no symbol, 2 bad input,
// 3 the scanner could not scan, 128 + signal when a stop signal ended the scan.
int runGrade(const QCommandLineParser& parser, QTextStream& out, QTextStream& err);

} // namespace raitakone
