#include "cli/log_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/console.h"
#include "common/text.h"
#include "production/shift_figures.h"
#include "production/unit_log.h"

namespace kx::cli {
namespace {

using namespace kx::production;

const char* const kColumns[] = {"time",   "station", "operator",   "port",    "address", "firmware",
                                "result", "exit",    "values_row", "applied", "settings"};

std::vector<std::string> fields(const UnitRecord& r) {
  return {unitTimeText(r.time),   r.station,  r.operatorName, r.port, r.address, r.firmware, r.result,
          std::to_string(r.exitCode), r.valuesRow ? std::to_string(*r.valuesRow) : "",
          r.applied, r.settings};
}

}  // namespace

std::string unitTimeText(const std::string& stored) {
  using namespace std::chrono;
  const auto t = parseLogTime(stored);
  int ms = 0;
  if (!t || std::sscanf(stored.c_str() + stored.size() - 5, ".%3dZ", &ms) != 1) return stored;
  // The C library's local time: the TZ variable or the system's zone (on
  // Windows the zone set in Settings).
  const std::tm local = localTime(*t);
  const year_month_day localDate{year{local.tm_year + 1900}, month{static_cast<unsigned>(local.tm_mon + 1)},
                                 day{static_cast<unsigned>(local.tm_mday)}};
  const sys_seconds localAsUtc =
      sys_days{localDate} + hours{local.tm_hour} + minutes{local.tm_min} + seconds{local.tm_sec};
  const long long offset = duration_cast<minutes>(localAsUtc - system_clock::from_time_t(*t)).count();
  const long long away = offset < 0 ? -offset : offset;
  return formatBounded(40, "%04d-%02d-%02d %02d:%02d:%02d.%03d %c%02lld:%02lld",
                       local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec, ms, offset < 0 ? '-' : '+', away / 60, away % 60);
}

int readUnitLogRows(const std::string& file, const std::string& before,
                    std::vector<UnitRecord>* rows, std::FILE* err) {
  if (!UnitLog::isPostgres(file) && !std::filesystem::exists(file)) {
    std::fprintf(err, "kx627-cli: no unit log %s\n", file.c_str());
    return kExitFileError;
  }
  std::string error;
  const auto log = UnitLog::openForReading(file, &error);
  if (!log || !log->records(rows, "", before)) {
    std::fprintf(err, "kx627-cli: cannot read the unit log %s: %s\n", shownAddress(file).c_str(),
                 log ? log->error().c_str() : error.c_str());
    return kExitFileError;
  }
  return kExitOk;
}

int printUnitLog(const Options& o, std::FILE* out, std::FILE* err) {
  std::vector<UnitRecord> records;
  if (const int code = readUnitLogRows(o.file, "", &records, err); code != kExitOk) return code;
  constexpr std::size_t kColumnCount = std::size(kColumns);
  if (o.csv) {
    // CR LF line ends as they are written, and a UTF-8 byte-order mark, by
    // which a spreadsheet knows the text's encoding (names with "é").
    writeBytesAsGiven(out);
    std::fputs("\xEF\xBB\xBF", out);
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
