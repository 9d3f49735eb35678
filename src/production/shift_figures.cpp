#include "production/shift_figures.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "production/calendar.h"

namespace kx::production {
namespace {

constexpr const char* kAlreadyProvisioned = "already provisioned";

// Spans longer than this are counted by day.
constexpr std::time_t kHourlyUpTo = std::time_t{48} * 3600;

// The unit's name: as read back, else as it was to be programmed.
std::string unitName(const UnitRecord& r) {
  for (const std::string* json : {&r.settings, &r.applied}) {
    const nlohmann::json j = nlohmann::json::parse(*json, nullptr, false);
    if (!j.is_object()) continue;
    const auto it = j.find("Name");
    if (it != j.end() && it->is_string() && !it->get<std::string>().empty())
      return it->get<std::string>();
  }
  return {};
}

// The local clock hour (or day) that holds `t`.
std::time_t bucketStart(std::time_t t, bool byDay) {
  std::tm local = localTime(t);
  local.tm_min = 0;
  local.tm_sec = 0;
  if (byDay) local.tm_hour = 0;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::time_t nextBucket(std::time_t start, bool byDay) {
  std::tm local = localTime(start);
  if (byDay) ++local.tm_mday;
  else ++local.tm_hour;
  local.tm_isdst = -1;
  const std::time_t next = std::mktime(&local);
  return next > start ? next : start + 3600;  // a clock change never stalls the walk
}

struct Sum {
  int passed = 0, failed = 0;
  double seconds = 0;
  int timed = 0;
  void add(UnitOutcome outcome, const std::optional<double>& s) {
    if (outcome == UnitOutcome::Passed) ++passed;
    else ++failed;
    if (s) {
      seconds += *s;
      ++timed;
    }
  }
  std::optional<double> mean() const {
    return timed ? std::optional<double>(seconds / timed) : std::nullopt;
  }
};

std::vector<ShiftFigures::Group> groups(const std::map<std::string, Sum>& sums) {
  std::vector<ShiftFigures::Group> out;
  for (const auto& [name, s] : sums) out.push_back({name, s.passed, s.failed, s.mean()});
  return out;
}

const char* outcomeWord(UnitOutcome o) {
  switch (o) {
    case UnitOutcome::Passed:
      return "pass";
    case UnitOutcome::Failed:
      return "fail";
    default:
      return kAlreadyProvisioned;
  }
}

std::optional<double> optionalNumber(const nlohmann::json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_number() ? std::optional<double>(it->get<double>())
                                          : std::nullopt;
}

}  // namespace

std::optional<double> ShiftFigures::firstPassYield() const {
  if (units == 0) return std::nullopt;
  return 100.0 * firstPassUnits / units;
}

UnitOutcome outcomeOf(const UnitRecord& r) {
  if (r.result == "ok") return UnitOutcome::Passed;
  if (r.result == kAlreadyProvisioned) return UnitOutcome::AlreadyProvisioned;
  return UnitOutcome::Failed;
}

ShiftFigures shiftFigures(const std::vector<UnitRecord>& records, std::time_t from,
                          std::time_t to) {
  ShiftFigures f;
  f.from = localTimeText(from, LocalForm::Minutes);
  f.to = localTimeText(to, LocalForm::Minutes);
  f.fromLog = utcTimestampOf(from);
  f.toLog = utcTimestampOf(to);
  f.byDay = to - from > kHourlyUpTo;
  std::vector<std::time_t> starts;
  if (to > from)
    for (std::time_t t = bucketStart(from, f.byDay); t < to; t = nextBucket(t, f.byDay)) {
      starts.push_back(t);
      f.buckets.push_back({localTimeText(t, f.byDay ? LocalForm::Date : LocalForm::Clock), 0, 0});
    }

  std::set<std::string> triedBefore;  // units with an attempt before the span
  std::map<std::string, int> reasons;
  std::map<std::string, Sum> operators, fixtures;
  Sum all;
  for (const UnitRecord& r : records) {
    const auto t = parseLogTime(r.time);
    const UnitOutcome outcome = outcomeOf(r);
    if (!t || *t >= to) continue;
    if (*t < from) {
      if (outcome != UnitOutcome::AlreadyProvisioned) triedBefore.insert(r.address);
      continue;
    }
    ShiftFigures::Row row{localTimeText(*t, LocalForm::Seconds),
                          r.fixture.empty() ? r.port : r.fixture,
                          r.address,
                          unitName(r),
                          r.result,
                          r.reason,
                          r.operatorName,
                          outcome,
                          r.seconds};
    f.rows.push_back(std::move(row));
    if (outcome == UnitOutcome::AlreadyProvisioned) {
      ++f.alreadyProvisioned;
      continue;
    }
    if (triedBefore.insert(r.address).second) {
      ++f.units;
      if (outcome == UnitOutcome::Passed) ++f.firstPassUnits;
    }
    (outcome == UnitOutcome::Passed ? f.passed : f.failed)++;
    if (outcome == UnitOutcome::Failed) ++reasons[r.result];
    if (*t >= to - 3600) ++f.lastHour;
    all.add(outcome, r.seconds);
    operators[r.operatorName].add(outcome, r.seconds);
    fixtures[f.rows.back().fixture].add(outcome, r.seconds);
    const auto at = std::upper_bound(starts.begin(), starts.end(), *t);
    if (at != starts.begin()) {
      ShiftFigures::Bucket& b = f.buckets[static_cast<std::size_t>(at - starts.begin() - 1)];
      (outcome == UnitOutcome::Passed ? b.passed : b.failed)++;
    }
  }
  f.secondsPerUnit = all.mean();
  for (const auto& [reason, count] : reasons) f.reasons.push_back({reason, count});
  std::stable_sort(f.reasons.begin(), f.reasons.end(),
                   [](const auto& a, const auto& b) { return a.count > b.count; });
  f.operators = groups(operators);
  f.fixtures = groups(fixtures);
  return f;
}

std::string figuresJson(const ShiftFigures& f) {
  using Json = nlohmann::ordered_json;
  auto optional = [](const std::optional<double>& v) { return v ? Json(*v) : Json(nullptr); };
  Json j;
  j["from"] = f.from;
  j["to"] = f.to;
  j["from_log"] = f.fromLog;
  j["to_log"] = f.toLog;
  j["passed"] = f.passed;
  j["failed"] = f.failed;
  j["already_provisioned"] = f.alreadyProvisioned;
  j["units"] = f.units;
  j["first_pass_units"] = f.firstPassUnits;
  j["last_hour"] = f.lastHour;
  j["seconds_per_unit"] = optional(f.secondsPerUnit);
  j["by_day"] = f.byDay;
  j["buckets"] = Json::array();
  for (const auto& b : f.buckets)
    j["buckets"].push_back({{"label", b.label}, {"passed", b.passed}, {"failed", b.failed}});
  j["reasons"] = Json::array();
  for (const auto& r : f.reasons) j["reasons"].push_back({{"reason", r.reason}, {"count", r.count}});
  for (const auto& [key, list] :
       {std::pair{"operators", &f.operators}, std::pair{"fixtures", &f.fixtures}}) {
    j[key] = Json::array();
    for (const auto& g : *list)
      j[key].push_back({{"name", g.name},
                        {"passed", g.passed},
                        {"failed", g.failed},
                        {"seconds_per_unit", optional(g.secondsPerUnit)}});
  }
  j["rows"] = Json::array();
  for (const auto& r : f.rows)
    j["rows"].push_back({{"time", r.time},
                         {"fixture", r.fixture},
                         {"address", r.address},
                         {"name", r.name},
                         {"result", r.result},
                         {"reason", r.reason},
                         {"operator", r.operatorName},
                         {"outcome", outcomeWord(r.outcome)},
                         {"seconds", optional(r.seconds)}});
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<ShiftFigures> parseFiguresJson(std::string_view text) {
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object() || !j.contains("passed")) return std::nullopt;
  auto str = [](const nlohmann::json& o, const char* key) {
    const auto it = o.find(key);
    return it != o.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  auto num = [](const nlohmann::json& o, const char* key) {
    const auto it = o.find(key);
    return it != o.end() && it->is_number_integer() ? it->get<int>() : 0;
  };
  auto list = [&](const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_array() ? *it : nlohmann::json::array();
  };
  ShiftFigures f;
  f.from = str(j, "from");
  f.to = str(j, "to");
  f.fromLog = str(j, "from_log");
  f.toLog = str(j, "to_log");
  f.passed = num(j, "passed");
  f.failed = num(j, "failed");
  f.alreadyProvisioned = num(j, "already_provisioned");
  f.units = num(j, "units");
  f.firstPassUnits = num(j, "first_pass_units");
  f.lastHour = num(j, "last_hour");
  f.secondsPerUnit = optionalNumber(j, "seconds_per_unit");
  f.byDay = j.value("by_day", false);
  for (const auto& b : list("buckets"))
    if (b.is_object()) f.buckets.push_back({str(b, "label"), num(b, "passed"), num(b, "failed")});
  for (const auto& r : list("reasons"))
    if (r.is_object()) f.reasons.push_back({str(r, "reason"), num(r, "count")});
  for (auto [key, out] : {std::pair{"operators", &f.operators}, std::pair{"fixtures", &f.fixtures}})
    for (const auto& g : list(key))
      if (g.is_object())
        out->push_back({str(g, "name"), num(g, "passed"), num(g, "failed"),
                        optionalNumber(g, "seconds_per_unit")});
  for (const auto& r : list("rows")) {
    if (!r.is_object()) continue;
    const std::string outcome = str(r, "outcome");
    f.rows.push_back({str(r, "time"), str(r, "fixture"), str(r, "address"), str(r, "name"),
                      str(r, "result"), str(r, "reason"), str(r, "operator"),
                      outcome == "pass"   ? UnitOutcome::Passed
                      : outcome == "fail" ? UnitOutcome::Failed
                                          : UnitOutcome::AlreadyProvisioned,
                      optionalNumber(r, "seconds")});
  }
  return f;
}

std::string csvField(std::string_view v) {
  if (v.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(v);
  std::string out = "\"";
  for (char c : v) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string oneDecimal(double value) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
  return std::string(text, r.ptr);
}

std::string figuresCsv(const ShiftFigures& f) {
  std::string out = "\xEF\xBB\xBF";
  auto line = [&](std::initializer_list<std::string> fields) {
    bool first = true;
    for (const std::string& field : fields) {
      if (!first) out += ',';
      out += csvField(field);
      first = false;
    }
    out += "\r\n";
  };
  auto optional = [](const std::optional<double>& v) { return v ? oneDecimal(*v) : std::string(); };
  line({"Figure", "Value"});
  line({"From", f.from});
  line({"To", f.to});
  line({"Passed", std::to_string(f.passed)});
  line({"Failed", std::to_string(f.failed)});
  line({"Already provisioned", std::to_string(f.alreadyProvisioned)});
  line({"Units first tried", std::to_string(f.units)});
  const auto yield = f.firstPassYield();
  line({"First-pass yield", yield ? oneDecimal(*yield) + "%" : std::string()});
  line({"Units in the last hour", std::to_string(f.lastHour)});
  line({"Seconds per unit", optional(f.secondsPerUnit)});
  out += "\r\n";
  line({f.byDay ? "Day" : "Hour", "Passed", "Failed"});
  for (const auto& b : f.buckets) line({b.label, std::to_string(b.passed), std::to_string(b.failed)});
  out += "\r\n";
  line({"Failure reason", "Count", "Cumulative %"});
  int cumulative = 0;
  for (const auto& r : f.reasons) {
    cumulative += r.count;
    line({r.reason, std::to_string(r.count), oneDecimal(100.0 * cumulative / f.failed)});
  }
  for (auto [title, list] : {std::pair{"Operator", &f.operators}, std::pair{"Fixture", &f.fixtures}}) {
    out += "\r\n";
    line({title, "Passed", "Failed", "Seconds per unit"});
    for (const auto& g : *list)
      line({g.name, std::to_string(g.passed), std::to_string(g.failed), optional(g.secondsPerUnit)});
  }
  return out;
}

}  // namespace kx::production
