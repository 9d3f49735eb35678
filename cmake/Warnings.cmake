# Warnings as errors for the project's own targets only; third-party headers
# (Qt, GoogleTest) come in as system includes and are not affected.
add_library(kx_warnings INTERFACE)
target_compile_options(kx_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Wformat=2 -Wimplicit-fallthrough -Werror)
