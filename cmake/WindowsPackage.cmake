# The Windows package: `cpack -G ZIP` in build-win gives
# kx627-cli-<version>-win64.zip with the command-line tool (static, no DLL
# beside it), its Windows notes and the README.
install(TARGETS kx627-cli RUNTIME DESTINATION .)
install(FILES packaging/windows/README-Windows.txt README.md DESTINATION .)
set(CPACK_PACKAGE_NAME "kx627-cli")
set(CPACK_PACKAGE_VENDOR "KX627 Configuration Tool developers")
set(CPACK_PACKAGE_FILE_NAME "kx627-cli-${PROJECT_VERSION}-win64")
set(CPACK_GENERATOR "ZIP")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
