#pragma once

// The --grade entry: grades a scanned page without a window.

#include <QCommandLineParser>
#include <QTextStream>

namespace raitakone {

// Adds --grade SCAN, --scan-dpi N, --aperture MM, --printer-dpi N, --json, --plot FILE, --linear.
void addGradeOptions(QCommandLineParser& parser);
bool gradeRequested(const QCommandLineParser& parser);
// Grades; writes the report (or JSON) to out, messages to err; returns 0 graded, 1 no symbol, 2 bad input.
int runGrade(const QCommandLineParser& parser, QTextStream& out, QTextStream& err);

} // namespace raitakone
