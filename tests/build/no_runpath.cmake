# Fails when a program of the build carries an RPATH or RUNPATH. The programs
# link only system libraries, so they need none; and an empty entry in one
# (CMake pads the build RUNPATH for the install RUNPATH) makes the loader
# search the current directory, where anybody may have left a library.
# Run as: cmake -DBIN_DIR=<dir with the programs> -P no_runpath.cmake
file(GLOB programs LIST_DIRECTORIES false "${BIN_DIR}/*")
set(checked 0)
set(failed 0)
foreach(program IN LISTS programs)
  execute_process(COMMAND readelf -d "${program}" OUTPUT_VARIABLE dynamic
                  ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT dynamic MATCHES "NEEDED")
    continue()  # not a dynamically linked ELF program
  endif()
  math(EXPR checked "${checked} + 1")
  if(dynamic MATCHES "\\((RPATH|RUNPATH)\\)[^\n]*")
    message(SEND_ERROR "${program}: ${CMAKE_MATCH_0}")
    math(EXPR failed "${failed} + 1")
  endif()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no program found in ${BIN_DIR}")
endif()
if(failed EQUAL 0)
  message(STATUS "${checked} programs, none with RPATH or RUNPATH")
endif()
