# The Windows package: `cpack -G ZIP` in build-win gives
# kx627-config-<version>-win64.zip: the window and the command-line tool
# (static programs, no DLL beside them), the two manuals as PDF (made by the
# Linux build: KX_WIN_MANUAL_DIR), the Windows notes, the README, the
# licence and the third-party notices. Help finds the manuals beside the
# program. The `packages` target puts the same files into a setup program.
set(KX_WIN_MANUAL_DIR "${PROJECT_SOURCE_DIR}/build/share/doc/kx627-config" CACHE PATH
    "Where the Linux build put the manuals the Windows package ships")
install(TARGETS kx627-cli RUNTIME DESTINATION .)
if(TARGET kx627-config)
  install(TARGETS kx627-config RUNTIME DESTINATION .)
endif()
install(FILES "${KX_WIN_MANUAL_DIR}/KX627 Configuration Manual.pdf"
              "${KX_WIN_MANUAL_DIR}/AT Command Manual.pdf"
        DESTINATION .)
# The notes with CR LF line ends, as Notepad before Windows 10 needs them.
configure_file(packaging/windows/README-Windows.txt ${CMAKE_BINARY_DIR}/README-Windows.txt @ONLY
               NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/README-Windows.txt README.md
              packaging/THIRD-PARTY-NOTICES.txt DESTINATION .)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
set(CPACK_PACKAGE_NAME "kx627-config")
set(CPACK_PACKAGE_VENDOR "KX627 Configuration Tool developers")
set(kx_zip_name kx627-config-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_FILE_NAME ${kx_zip_name})
set(CPACK_GENERATOR "ZIP")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

# `cmake --build build-win --target packages` makes the zip, then
# build-win/kx627-config-<version>-win64-setup.exe: the zip's very files in a
# setup program (packaging/windows/setup.nsi), made with makensis from
# Debian's nsis (scripts/packages-windows.txt), found on PATH.
set(kx_stage ${CMAKE_BINARY_DIR}/setup-stage)
add_custom_target(packages
  COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${kx_stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${kx_stage}
  COMMAND ${CMAKE_COMMAND} -E chdir ${kx_stage} ${CMAKE_COMMAND} -E tar xf ${CMAKE_BINARY_DIR}/${kx_zip_name}.zip
  COMMAND makensis -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${kx_stage}/${kx_zip_name}
          -DOUTFILE=${CMAKE_BINARY_DIR}/${kx_zip_name}-setup.exe
          -DICON=${PROJECT_SOURCE_DIR}/packaging/windows/kx627-config.ico
          ${PROJECT_SOURCE_DIR}/packaging/windows/setup.nsi
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Making the zip and the setup program"
  VERBATIM)
