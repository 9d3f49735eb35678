// The station file: a production window's setup, kept beside settings.txt
// (station.txt) so that the next start is one click. Lines of KEY = VALUE as
// in a settings file; a Port line belongs to the Fixture line before it:
//
//   # KX627 production station
//   SettingsFile = line.txt
//   Values = pins.csv
//   UnitLog = units.db
//   Operator = ann
//   Fixture = Fixture 1
//   Port = /dev/serial/by-path/pci-0000:00:14.0-usb-0:2.1:1.0-port0
//   Fixture = Fixture 2
//   Port = COM4
//   SupervisorPin = 2468
//   CountersFrom = 2026-03-02T06:00:00.000Z
//
// The unit log's address is kept without its password (the PostgreSQL
// password file or PGPASSWORD holds it). Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "production/station_shift.h"

namespace kx::production {

inline constexpr const char* kStationFileName = "station.txt";

struct StationSetup {
  std::string settingsFile;  // every unit's settings file
  std::string valuesFile;    // one row per unit (may be empty)
  std::string unitLog;       // an SQLite file or a PostgreSQL address
  std::string operatorName;
  std::string station;       // the log's station name (empty: the host name)
  std::vector<Fixture> fixtures;
  std::string supervisorPin;  // asked before the setup is unlocked (empty: none)
  std::string countersFrom;   // where the shift's counters start, as the log writes times
};

// Reads a station file's text. Problems ("station.txt:4: unknown key
// Portt") are appended to `problems`; the lines that could be read are
// taken all the same.
StationSetup parseStationFile(std::string_view text, const std::string& fileName,
                              std::vector<std::string>* problems);
// The file's text, with `lineEnd` after each line ("\r\n" on Windows).
std::string stationFileText(const StationSetup& setup, const char* lineEnd);

}  // namespace kx::production
