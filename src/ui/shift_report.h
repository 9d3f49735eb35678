// The shift report: a PDF of the figures of a span of the unit log
// (production/shift_figures.h) that a supervisor would rather look at than
// read: the counts and the first-pass yield in large print, the units per
// hour as a bar chart, the failure reasons as a Pareto chart (bars, most
// frequent first, and their cumulative share as a line), then the operators
// and fixtures. Drawn with QPainter on a QPdfWriter, as the manuals are made.
// The production window's Report button and `kx627-config --report` (which
// `kx627-cli report --pdf` runs) both draw it here.
//
// Threading: the user-interface thread (or the only thread of --report).
#pragma once

#include <QString>
#include <string>

#include "production/shift_figures.h"

namespace kx {

// Writes the report to `path`; false, with the reason in *error, when it
// could not be written.
bool writeShiftReport(const production::ShiftFigures& figures, const QString& path,
                      QString* error);

// `kx627-config --report FIGURES --pdf FILE`: reads the figures (JSON, as
// `kx627-cli report --json` writes them) and writes the PDF without a
// display. Run before any QApplication exists. The exit code.
int drawShiftReportCommand(int argc, char** argv, const std::string& figuresPath,
                           const std::string& pdfPath);

}  // namespace kx
