# The Windows package: `cpack -G ZIP` in build-win gives
# kx627-config-<version>-win64.zip: the window and the command-line tool
# (static programs, no DLL beside them), the two manuals as PDF (made by the
# Linux build: KX_WIN_MANUAL_DIR), the Windows notes and the README. Help
# finds the manuals beside the program.
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
install(FILES ${CMAKE_BINARY_DIR}/README-Windows.txt README.md DESTINATION .)
set(CPACK_PACKAGE_NAME "kx627-config")
set(CPACK_PACKAGE_VENDOR "KX627 Configuration Tool developers")
set(CPACK_PACKAGE_FILE_NAME "kx627-config-${PROJECT_VERSION}-win64")
set(CPACK_GENERATOR "ZIP")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
