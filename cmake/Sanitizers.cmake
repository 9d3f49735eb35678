# KX_SANITIZE=address builds everything with ASan+UBSan, KX_SANITIZE=thread
# with TSan. Applied through an interface target linked by every project target.
add_library(kx_sanitizers INTERFACE)
if(KX_SANITIZE STREQUAL "address")
  target_compile_options(kx_sanitizers INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  target_link_options(kx_sanitizers INTERFACE -fsanitize=address,undefined)
elseif(KX_SANITIZE STREQUAL "thread")
  target_compile_options(kx_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer -g)
  target_link_options(kx_sanitizers INTERFACE -fsanitize=thread)
elseif(NOT KX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KX_SANITIZE must be '', 'address' or 'thread'")
endif()

# Every project target links this: warnings plus the chosen sanitizer.
add_library(kx_options INTERFACE)
target_link_libraries(kx_options INTERFACE kx_warnings kx_sanitizers)
