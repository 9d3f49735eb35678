# Installation and the Debian package (`cpack -G DEB` in build/): the window,
# the command-line tool, the simulator, their manual pages, a desktop entry,
# an icon, the documents, and what Debian asks of a package: a copyright
# file in its machine-readable format, a changelog and a description
# (packaging/debian). scripts/test checks the package with lintian.
install(TARGETS kx627-cli adapter-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET kx627-config)
  install(TARGETS kx627-config RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES packaging/kx627-config.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES packaging/kx627-config.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES README.md packaging/debian/copyright packaging/THIRD-PARTY-NOTICES.txt
        DESTINATION ${KX_DOC_DIR})

# The changelog's newest entry names the version being built: a new version
# needs its entry in packaging/debian/changelog.
file(STRINGS packaging/debian/changelog kx_changelog_head LIMIT_COUNT 1)
if(NOT kx_changelog_head MATCHES "^kx627-config \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: its first entry is not version "
                      "${PROJECT_VERSION}: add an entry for it")
endif()

# Debian keeps changelogs and manual pages compressed (gzip -n: no name or
# time stamp inside, so the package is reproducible).
set(kx_pkg_dir ${CMAKE_BINARY_DIR}/packaging)
set(kx_man_dir ${CMAKE_BINARY_DIR}/share/man/man1)
add_custom_command(OUTPUT ${kx_pkg_dir}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${kx_pkg_dir}
  COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
          ${kx_pkg_dir}/changelog.gz
  DEPENDS packaging/debian/changelog
  VERBATIM)
set(kx_packaged ${kx_pkg_dir}/changelog.gz)
install(FILES ${kx_pkg_dir}/changelog.gz DESTINATION ${KX_DOC_DIR})

# Manual pages, made from each program's --help at build time
# (packaging/debian/help-to-man.sh), so they list every command, option and
# exit code the program has.
if(KX_SANITIZE STREQUAL "")
  set(kx_man_kx627-cli "configure KX627 Bluetooth serial adapters from the command line")
  set(kx_man_adapter-sim "simulate KX627 Bluetooth serial adapters on a pseudo-terminal")
  set(kx_man_kx627-config "configure KX627 Bluetooth serial adapters in a window")
  foreach(program kx627-cli adapter-sim kx627-config)
    if(NOT TARGET ${program})
      continue()
    endif()
    add_custom_command(OUTPUT ${kx_man_dir}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${kx_man_dir}
      COMMAND ${PROJECT_SOURCE_DIR}/packaging/debian/help-to-man.sh $<TARGET_FILE:${program}>
              ${PROJECT_VERSION} ${kx_man_${program}} ${kx_man_dir}/${program}.1
      COMMAND gzip -9nf ${kx_man_dir}/${program}.1
      DEPENDS ${program} packaging/debian/help-to-man.sh
      VERBATIM)
    list(APPEND kx_packaged ${kx_man_dir}/${program}.1.gz)
    install(FILES ${kx_man_dir}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
endif()
add_custom_target(packaging-files ALL DEPENDS ${kx_packaged})

set(CPACK_PACKAGE_NAME "kx627-config")
set(CPACK_PACKAGE_VENDOR "KX627 Configuration Tool developers")
# The synopsis (the file's first line) and the extended description (the
# rest: plain lines, a blank line between paragraphs), which CPack indents
# as the control file wants.
file(READ packaging/debian/description kx_description)
string(FIND "${kx_description}" "\n" kx_eol)
string(SUBSTRING "${kx_description}" 0 ${kx_eol} CPACK_PACKAGE_DESCRIPTION_SUMMARY)
math(EXPR kx_eol "${kx_eol} + 1")
string(SUBSTRING "${kx_description}" ${kx_eol} -1 kx_description)
string(REGEX REPLACE "\n+$" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${kx_description}")
# The maintainer: the project's own address, the one its commits carry.
set(KX_MAINTAINER
    "KX627 Configuration Tool maintainers <maintainers@users.noreply.c-seed-1c7ac6ef.example>"
    CACHE STRING "The Debian package's maintainer")
set(CPACK_PACKAGE_CONTACT "${KX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The library dependencies (Qt 6, libserialport, libstdc++) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_GENERATOR "DEB")
set(CPACK_STRIP_FILES ON)
include(CPack)

if(KX_BUILD_TESTS AND TARGET kx627-config AND KX_SANITIZE STREQUAL "")
  add_test(NAME ManualPagesFollowTheHelp
           COMMAND ${PROJECT_SOURCE_DIR}/tests/build/man_pages.sh ${kx_man_dir}
                   ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
endif()
