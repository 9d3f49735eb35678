#include <windows.h>

#include <cstdio>

#include "platform/parent_console.h"

namespace kx {

namespace {

// A standard handle that leads somewhere: a file, a pipe or a console.
bool leadsSomewhere(DWORD which) {
  const HANDLE h = ::GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void attachParentConsole() {
  const bool out = leadsSomewhere(STD_OUTPUT_HANDLE);
  const bool err = leadsSomewhere(STD_ERROR_HANDLE);
  if ((out && err) || !::AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!out) static_cast<void>(std::freopen("CONOUT$", "w", stdout));
  if (!err) static_cast<void>(std::freopen("CONOUT$", "w", stderr));
}

}  // namespace kx
