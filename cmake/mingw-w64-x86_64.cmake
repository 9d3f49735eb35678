# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix threads
# flavour, for std::thread and std::mutex), static programs that need no DLL
# beside them:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# scripts/build-windows does this, GoogleTest included.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KX_MINGW_TRIPLE}-windres)

# Libraries and packages from the target's root only (and from prefixes the
# caller adds, such as GoogleTest built for Windows); programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Static programs: no libstdc++, libgcc or winpthread DLL to ship.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Lets ctest and gtest run the Windows programs here.
if(EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
endif()
