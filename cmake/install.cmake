# Installation and the Debian package. Targets are named here, not built: the folders that build
# them may move without this file changing.
#
#   cmake --install build [--prefix /usr]          # the programs, the simulator, data files
#   cpack --config build/CPackConfig.cmake -G DEB   # korvex_<version>_<arch>.deb
#
# The udev rule goes to <prefix>/lib/udev/rules.d; udev reads /usr/lib/udev/rules.d and
# /etc/udev/rules.d, so with a /usr/local prefix copy it to /etc/udev/rules.d.

include(GNUInstallDirs)

set(KORVEX_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
  "Where the udev rule is installed (relative to the prefix unless absolute)")
set(KORVEX_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(KORVEX_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)

# Man pages and the changelog are installed compressed, as Debian wants them (gzip -9n: no name
# or time stamp, so the package builds reproducibly).
find_program(KORVEX_GZIP gzip REQUIRED)
set(korvex_compressed)
foreach(source korvex-cli.1 korvex-player.1 changelog)
  add_custom_command(OUTPUT ${KORVEX_PACKAGING_OUT}/${source}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVEX_PACKAGING_OUT}
    COMMAND ${KORVEX_GZIP} -9n -c ${KORVEX_PACKAGING}/${source} > ${KORVEX_PACKAGING_OUT}/${source}.gz
    DEPENDS ${KORVEX_PACKAGING}/${source}
    VERBATIM)
  list(APPEND korvex_compressed ${KORVEX_PACKAGING_OUT}/${source}.gz)
endforeach()
add_custom_target(korvex_packaging_files ALL DEPENDS ${korvex_compressed})

install(TARGETS korvex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${KORVEX_PACKAGING_OUT}/korvex-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KORVEX_PACKAGING}/korvex-cli.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME korvex-cli)

if(KORVEX_BUILD_GUI)
  install(TARGETS korvex-player RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KORVEX_PACKAGING_OUT}/korvex-player.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${KORVEX_PACKAGING}/korvex-player.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${KORVEX_PACKAGING}/korvex-player.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The simulated programmer is a driver library loaded by path (KORVEX_D2XX, KORVEX_LIBFTDI), not
# a library to link against: a private folder, off the loader's path, in the multiarch folder
# where the platform has one (lib/x86_64-linux-gnu/korvex).
if(CMAKE_LIBRARY_ARCHITECTURE AND CMAKE_INSTALL_LIBDIR STREQUAL "lib")
  set(KORVEX_PRIVATE_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/korvex)
else()
  set(KORVEX_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/korvex)
endif()
install(TARGETS korvex-sim LIBRARY DESTINATION ${KORVEX_PRIVATE_LIBDIR})

install(FILES ${KORVEX_PACKAGING}/60-korvex.rules DESTINATION ${KORVEX_UDEV_RULES_DIR})
install(FILES ${KORVEX_PACKAGING}/copyright ${KORVEX_PACKAGING_OUT}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- Debian package ---------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KORVEX developers")
set(KORVEX_PACKAGE_MAINTAINER "KORVEX developers <korvex@example.org>" CACHE STRING
  "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${KORVEX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "JTAG vector player for the KORVEX USB programmer")
# The extended description; CPack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Plays SVF (Serial Vector Format) and XSVF files into a target board's JTAG
port through the KORVEX USB programmer: it drives TCK, TMS, TDI and the
programmer's VPP pin, reads TDO back and compares it with what the file
expects. Use it to erase, program, verify and test CPLDs, FPGAs and
microcontrollers.

This package holds the desktop window (korvex-player), the command-line
player (korvex-cli), a udev rule that lets the user at the seat open the
programmer, and a simulated programmer for trying the program without
hardware. The programmer is driven through libftdi1 or FTDI's D2XX library,
either loaded at run time.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libftdi1-2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only the project's own install rules (no test framework or third-party components).
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")
include(CPack)

# The package test: builds the package from this build tree and checks what it holds.
if(BUILD_TESTING)
  if(KORVEX_BUILD_GUI)
    set(korvex_package_gui "")
  else()
    set(korvex_package_gui --no-gui)
  endif()
  add_test(NAME package
    COMMAND ${CMAKE_SOURCE_DIR}/packaging/check-package ${CMAKE_BINARY_DIR} ${korvex_package_gui})
  set_tests_properties(package PROPERTIES LABELS package TIMEOUT 600)
endif()
