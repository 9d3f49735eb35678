#include "cli/ports_command.h"

#include <string>

#include "serial/port_discovery.h"

namespace kx::cli {

int listPorts(const Options&, std::FILE* out) {
  for (const std::string& p : enumeratePorts()) std::fprintf(out, "%s\n", p.c_str());
  return kExitOk;
}

}  // namespace kx::cli
