// What the production window is started with from the command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kx {

// What `kx627-config --production` was given, over the station file's.
struct ProductionOptions {
  std::optional<std::string> settingsFile, valuesFile, unitLog, operatorName, station;
  std::vector<std::string> ports;  // one fixture each, "Fixture 1", "Fixture 2", ...
  bool simulator = false;          // the fixtures stand in front of simulated units
};

}  // namespace kx
