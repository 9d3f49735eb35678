# A Windows program's resources: a manifest (common controls 6, per-monitor
# DPI awareness, UTF-8 as the process's code page), version information from
# the project's version, and an icon where one is given.
#
#   kx_windows_resources(<target> "<description>" [ICON <file.ico>])
function(kx_windows_resources target description)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "ICON" "")
  set(KX_RC_DESCRIPTION "${description}")
  set(KX_RC_INTERNAL_NAME ${target})
  set(KX_RC_FILENAME ${target}.exe)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
  set(KX_RC_MANIFEST ${out}/${target}.manifest)
  if(arg_ICON)
    set(KX_RC_ICON "1 ICON \"${arg_ICON}\"")
  else()
    set(KX_RC_ICON "")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/app.manifest.in ${KX_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/app.rc.in ${out}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${out}/${target}.rc)
  set_property(SOURCE ${out}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS ${KX_RC_MANIFEST} ${arg_ICON})
endfunction()
