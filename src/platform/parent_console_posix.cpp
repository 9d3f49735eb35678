#include "platform/parent_console.h"

namespace kx {

void attachParentConsole() {}

}  // namespace kx
