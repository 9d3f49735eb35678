#include "cli/report_command.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/console.h"
#include "cli/log_command.h"
#include "common/text.h"
#include "production/child_processes.h"
#include "production/shift_figures.h"
#include "production/unit_log.h"

namespace kx::cli {
namespace {

using namespace kx::production;

// Without --from, the span is a shift: the 8 hours up to its end.
constexpr std::time_t kDefaultSpan = std::time_t{8} * 3600;
// The drawing takes a second; past this kx627-config is taken to hang.
constexpr int kDrawingDeadlineMs = 120000;

std::string optional(const std::optional<double>& v, const char* unit = "") {
  return v ? oneDecimal(*v) + unit : std::string("-");
}

void printText(const ShiftFigures& f, std::FILE* out) {
  std::fprintf(out, "Shift report, %s to %s\n\n", f.from.c_str(), f.to.c_str());
  const auto yield = f.firstPassYield();
  std::fprintf(out, "Passed                  %d\n", f.passed);
  std::fprintf(out, "Failed                  %d\n", f.failed);
  std::fprintf(out, "Already provisioned     %d\n", f.alreadyProvisioned);
  std::fprintf(out, "First-pass yield        %s (%d of %d units first tried)\n",
               optional(yield, " %").c_str(), f.firstPassUnits, f.units);
  std::fprintf(out, "Units in the last hour  %d\n", f.lastHour);
  std::fprintf(out, "Seconds per unit        %s\n", optional(f.secondsPerUnit).c_str());
  std::fprintf(out, "\n%-12s %7s %7s\n", f.byDay ? "day" : "hour", "passed", "failed");
  for (const auto& b : f.buckets) std::fprintf(out, "%-12s %7d %7d\n", b.label.c_str(), b.passed, b.failed);
  if (!f.reasons.empty()) {
    std::fprintf(out, "\n%-40s %7s\n", "failure reason", "count");
    for (const auto& r : f.reasons) std::fprintf(out, "%-40s %7d\n", r.reason.c_str(), r.count);
  }
  for (auto [title, list] : {std::pair{"operator", &f.operators}, std::pair{"fixture", &f.fixtures}}) {
    if (list->empty()) continue;
    std::fprintf(out, "\n%-40s %7s %7s %9s\n", title, "passed", "failed", "s/unit");
    for (const auto& g : *list)
      std::fprintf(out, "%-40s %7d %7d %9s\n", g.name.c_str(), g.passed, g.failed,
                   optional(g.secondsPerUnit).c_str());
  }
}

// Hands the figures to kx627-config beside this program, which draws the PDF.
int drawPdf(const ShiftFigures& f, const std::string& pdf, std::FILE* err) {
  const std::string drawer = ChildProcesses::besideSelf("kx627-config");
  if (drawer.empty()) {
    std::fprintf(err, "kx627-cli: the PDF is drawn by kx627-config, which is not beside %s "
                      "(--csv gives the same figures as text)\n",
                 ChildProcesses::selfPath().c_str());
    return kExitFileError;
  }
  const std::string dir = ChildProcesses::makeTempDirectory();
  if (dir.empty()) {
    std::fprintf(err, "kx627-cli: cannot make a temporary folder for the report's figures\n");
    return kExitFileError;
  }
  const std::string figures = (std::filesystem::path(dir) / "figures.json").string();
  std::string error;
  int result = kExitOk;
  if (!writeWholeFile(figures, figuresJson(f), &error)) {
    std::fprintf(err, "kx627-cli: cannot write %s: %s\n", figures.c_str(), error.c_str());
    result = kExitFileError;
  } else {
    ChildProcesses drawing(false);
    std::string messages;
    int exitCode = -1;
    if (!drawing.start(drawer, {"--report", figures, "--pdf", pdf})) {
      std::fprintf(err, "kx627-cli: cannot start %s\n", drawer.c_str());
      result = kExitFileError;
    } else {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrawingDeadlineMs);
      while (drawing.busy()) {
        std::vector<ChildProcesses::Output> output;
        std::vector<ChildProcesses::Exit> exits;
        drawing.wait(200, output, exits);
        for (const auto& o : output) messages += o.bytes;
        for (const auto& e : exits) exitCode = e.code;
        if (std::chrono::steady_clock::now() > deadline) drawing.interrupt(0, true);
      }
      if (exitCode != 0) {
        std::fprintf(err, "%s", messages.c_str());
        std::fprintf(err, "kx627-cli: %s could not draw the report (exit code %d)\n",
                     drawer.c_str(), exitCode);
        result = kExitFileError;
      }
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}

}  // namespace

int printShiftReport(const Options& o, std::FILE* out, std::FILE* err) {
  // Up to now: the rows of the current second included (the span's end is
  // whole seconds, the log's times have milliseconds).
  const std::time_t now = std::time(nullptr) + 1;
  std::optional<std::time_t> to = now, from;
  if (!o.to.empty()) to = parseUserTime(o.to);
  if (to) from = o.from.empty() ? std::optional(*to - kDefaultSpan) : parseUserTime(o.from);
  if (!to || !from) {
    std::fprintf(err, "kx627-cli: '%s' is not a time: give a local time as 2026-03-02 08:00 "
                      "(or a date, or a time ending in Z for UTC)\n",
                 (!to ? o.to : o.from).c_str());
    return kExitUsage;
  }
  if (*from >= *to) {
    std::fprintf(err, "kx627-cli: --from must come before --to\n");
    return kExitUsage;
  }
  std::vector<UnitRecord> records;
  // Every row before the span's end: the earlier ones tell which units were
  // tried before it.
  if (const int code = readUnitLogRows(o.file, utcTimestampOf(*to), &records, err); code != kExitOk)
    return code;
  const ShiftFigures figures = shiftFigures(records, *from, *to);
  if (!o.pdfPath.empty()) return drawPdf(figures, o.pdfPath, err);
  if (o.json)
    std::fprintf(out, "%s\n", figuresJson(figures).c_str());
  else if (o.csv) {
    writeBytesAsGiven(out);  // the CSV's own CR LF, not CR CR LF on Windows
    std::fputs(figuresCsv(figures).c_str(), out);
  }
  else
    printText(figures, out);
  return kExitOk;
}

}  // namespace kx::cli
