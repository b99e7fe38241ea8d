#pragma once

// The --calibrate entry: a scan of a grey step target and its reference
// values (CGATS.17) in, the scanner's tone curve out, for --calibration.

#include <QCommandLineParser>
#include <QTextStream>

namespace raitakone {

// Adds --calibrate SCAN and --reference REF; the file written is -o, which
// the report's options add.
void addCalibrateOptions(QCommandLineParser& parser);
bool calibrateRequested(const QCommandLineParser& parser);
// --reference without --calibrate, as written; empty otherwise.
QString calibrateOptionAlone(const QCommandLineParser& parser);

// Returns 0 made and written, 1 the target was refused, 2 bad input.
int runCalibrate(const QCommandLineParser& parser, QTextStream& out, QTextStream& err);

} // namespace raitakone
