#include "cli/log_command.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "production/unit_log.h"

namespace kx::cli {
namespace {

using namespace kx::production;

const char* const kColumns[] = {"time",   "station", "operator",   "port",    "address", "firmware",
                                "result", "exit",    "values_row", "applied", "settings"};

std::vector<std::string> fields(const UnitRecord& r) {
  return {r.time,   r.station,  r.operatorName, r.port, r.address, r.firmware, r.result,
          std::to_string(r.exitCode), r.valuesRow ? std::to_string(*r.valuesRow) : "",
          r.applied, r.settings};
}

std::string csvField(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string out = "\"";
  for (char c : v) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

int printUnitLog(const Options& o, std::FILE* out, std::FILE* err) {
  if (!UnitLog::isPostgres(o.file) && !std::filesystem::exists(o.file)) {
    std::fprintf(err, "kx627-cli: no unit log %s\n", o.file.c_str());
    return kExitFileError;
  }
  std::string error;
  const auto log = UnitLog::openForReading(o.file, &error);
  std::vector<UnitRecord> records;
  if (!log || !log->records(&records)) {
    std::fprintf(err, "kx627-cli: cannot read the unit log %s: %s\n", shownAddress(o.file).c_str(),
                 log ? log->error().c_str() : error.c_str());
    return kExitFileError;
  }
  constexpr std::size_t kColumnCount = std::size(kColumns);
  if (o.csv) {
    for (std::size_t c = 0; c < kColumnCount; ++c)
      std::fprintf(out, "%s%s", c ? "," : "", kColumns[c]);
    std::fputs("\r\n", out);
    for (const UnitRecord& r : records) {
      const auto f = fields(r);
      for (std::size_t c = 0; c < kColumnCount; ++c)
        std::fprintf(out, "%s%s", c ? "," : "", csvField(f[c]).c_str());
      std::fputs("\r\n", out);
    }
    return kExitOk;
  }
  // The table: every column but the settings read back, which --csv has;
  // the values sent come last, unpadded.
  constexpr std::size_t kShown = kColumnCount - 1;
  std::vector<std::size_t> width(kShown);
  for (std::size_t c = 0; c < kShown; ++c) width[c] = std::string(kColumns[c]).size();
  for (const UnitRecord& r : records) {
    const auto f = fields(r);
    for (std::size_t c = 0; c < kShown; ++c) width[c] = std::max(width[c], f[c].size());
  }
  auto line = [&](const std::vector<std::string>& f) {
    std::string text;
    for (std::size_t c = 0; c < kShown; ++c) {
      text += f[c];
      if (c + 1 < kShown) text += std::string(width[c] - f[c].size() + 2, ' ');
    }
    std::fprintf(out, "%s\n", text.c_str());
  };
  line(std::vector<std::string>(std::begin(kColumns), std::end(kColumns) - 1));
  for (const UnitRecord& r : records) line(fields(r));
  std::fprintf(out, "%zu unit(s)\n", records.size());
  return kExitOk;
}

}  // namespace kx::cli
