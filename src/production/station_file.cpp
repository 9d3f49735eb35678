#include "production/station_file.h"

#include "common/text.h"
#include "production/log_address.h"

namespace kx::production {
namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

StationSetup parseStationFile(std::string_view text, const std::string& fileName,
                              std::vector<std::string>* problems) {
  StationSetup setup;
  text = skipUtf8Bom(text);
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (line.empty() || line.front() == '#') continue;
    auto problem = [&](const std::string& what) {
      problems->push_back(fileName + ":" + std::to_string(lineNumber) + ": " + what);
    };
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      problem("no '=' in the line");
      continue;
    }
    const std::string key(trimmed(line.substr(0, equals)));
    const std::string value(trimmed(line.substr(equals + 1)));
    if (key == "SettingsFile") setup.settingsFile = value;
    else if (key == "Values") setup.valuesFile = value;
    else if (key == "UnitLog") setup.unitLog = value;
    else if (key == "Operator") setup.operatorName = value;
    else if (key == "Station") setup.station = value;
    else if (key == "SupervisorPin") setup.supervisorPin = value;
    else if (key == "CountersFrom") setup.countersFrom = value;
    else if (key == "Fixture") setup.fixtures.push_back({value, {}});
    else if (key == "Port") {
      if (setup.fixtures.empty() || !setup.fixtures.back().port.empty())
        setup.fixtures.push_back({"Fixture " + std::to_string(setup.fixtures.size() + 1), value});
      else
        setup.fixtures.back().port = value;
    } else {
      problem("unknown key " + key);
    }
  }
  return setup;
}

std::string stationFileText(const StationSetup& s, const char* lineEnd) {
  std::string out;
  auto line = [&](const char* key, const std::string& value) {
    if (value.empty()) return;
    out += std::string(key) + " = " + value + lineEnd;
  };
  out += std::string("# KX627 production station") + lineEnd;
  line("SettingsFile", s.settingsFile);
  line("Values", s.valuesFile);
  std::string password;
  line("UnitLog", splitPassword(s.unitLog, &password));
  line("Operator", s.operatorName);
  line("Station", s.station);
  for (const Fixture& f : s.fixtures) {
    out += "Fixture = " + f.name + lineEnd;
    out += "Port = " + f.port + lineEnd;
  }
  line("SupervisorPin", s.supervisorPin);
  line("CountersFrom", s.countersFrom);
  return out;
}

}  // namespace kx::production
