#include "production/station_event.h"

#include <nlohmann/json.hpp>

namespace kx::production {
namespace {

constexpr struct {
  StationEvent::Kind kind;
  const char* word;
} kKinds[] = {{StationEvent::Kind::Waiting, "waiting"},
              {StationEvent::Kind::NoPort, "no port"},
              {StationEvent::Kind::Programming, "programming"},
              {StationEvent::Kind::Done, "done"}};

constexpr struct {
  UnitOutcome outcome;
  const char* word;
} kOutcomes[] = {{UnitOutcome::Passed, "pass"},
                 {UnitOutcome::Failed, "fail"},
                 {UnitOutcome::AlreadyProvisioned, "already provisioned"}};

}  // namespace

std::string toLine(const StationEvent& e) {
  nlohmann::ordered_json j;
  for (const auto& k : kKinds)
    if (k.kind == e.kind) j["event"] = k.word;
  switch (e.kind) {
    case StationEvent::Kind::Waiting:
      break;
    case StationEvent::Kind::NoPort:
      j["reason"] = e.reason;
      break;
    case StationEvent::Kind::Programming:
      j["address"] = e.address;
      j["step"] = e.step;
      break;
    case StationEvent::Kind::Done:
      j["address"] = e.address;
      for (const auto& o : kOutcomes)
        if (o.outcome == e.outcome) j["outcome"] = o.word;
      j["name"] = e.name;
      j["result"] = e.result;
      j["reason"] = e.reason;
      j["exit"] = e.exitCode;
      j["seconds"] = e.seconds;
      break;
  }
  // Invalid UTF-8 (it never should be) is replaced, not thrown over.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<StationEvent> parseStationEvent(std::string_view line) {
  const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  auto text = [&](const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  StationEvent e;
  const std::string kind = text("event");
  bool known = false;
  for (const auto& k : kKinds) {
    if (kind != k.word) continue;
    e.kind = k.kind;
    known = true;
  }
  if (!known) return std::nullopt;
  e.address = text("address");
  e.step = text("step");
  e.name = text("name");
  e.result = text("result");
  e.reason = text("reason");
  if (e.kind == StationEvent::Kind::Done) {
    const std::string outcome = text("outcome");
    known = false;
    for (const auto& o : kOutcomes) {
      if (outcome != o.word) continue;
      e.outcome = o.outcome;
      known = true;
    }
    if (!known) return std::nullopt;
  }
  if (const auto it = j.find("exit"); it != j.end() && it->is_number_integer())
    e.exitCode = it->get<int>();
  if (const auto it = j.find("seconds"); it != j.end() && it->is_number())
    e.seconds = it->get<double>();
  return e;
}

}  // namespace kx::production
