# The Windows zip: the headless player, the XSVF assembler, the simulated programmer and a README,
# all in one folder (the programs look for their settings file beside themselves).
#
#   cpack --config build-windows/CPackConfig.cmake -G ZIP   # korvex-<version>-win64.zip
#
# The MinGW runtime is linked into each program (toolchain-mingw64.cmake), so no runtime DLLs.
install(TARGETS korvex-cli xsvf-asm RUNTIME DESTINATION .)
install(TARGETS korvex-sim RUNTIME DESTINATION . LIBRARY DESTINATION .)
# With CRLF line ends, for Notepad.
configure_file(${CMAKE_SOURCE_DIR}/packaging/README-windows.txt
  ${CMAKE_BINARY_DIR}/packaging/README-windows.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/packaging/README-windows.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME korvex)
set(CPACK_PACKAGE_VENDOR "KORVEX")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME korvex-${KORVEX_PRODUCT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# The programs without their debugging information (which the build keeps).
set(CPACK_STRIP_FILES ON)
include(CPack)
