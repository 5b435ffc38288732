# The dependencies of the Windows cross build, from Debian's packages and nothing downloaded:
# - CLI11 and nlohmann-json are header-only: their folders under /usr/include are linked into a
#   private include folder (adding /usr/include itself would put glibc's headers before MinGW's);
# - GoogleTest and GoogleMock are built from Debian's source package (googletest, /usr/src) with
#   the cross compiler;
# - SHA-256 comes from Windows itself (bcrypt), so OpenSSL is not needed.
set(KORVEX_HOST_INCLUDE /usr/include CACHE PATH "Where the header-only libraries are installed")
set(korvex_staged_include ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${korvex_staged_include})
foreach(header_dir CLI:libcli11-dev nlohmann:nlohmann-json3-dev)
  string(REPLACE ":" ";" pair ${header_dir})
  list(GET pair 0 dir)
  list(GET pair 1 debian)
  if(NOT EXISTS ${KORVEX_HOST_INCLUDE}/${dir})
    message(FATAL_ERROR "${KORVEX_HOST_INCLUDE}/${dir} not found: install the Debian package ${debian}")
  endif()
  file(CREATE_LINK ${KORVEX_HOST_INCLUDE}/${dir} ${korvex_staged_include}/${dir} SYMBOLIC)
endforeach()
add_library(korvex_cli11 INTERFACE)
target_include_directories(korvex_cli11 SYSTEM INTERFACE ${korvex_staged_include})
add_library(CLI11::CLI11 ALIAS korvex_cli11)
add_library(korvex_nlohmann_json INTERFACE)
target_include_directories(korvex_nlohmann_json SYSTEM INTERFACE ${korvex_staged_include})
add_library(nlohmann_json::nlohmann_json ALIAS korvex_nlohmann_json)

if(BUILD_TESTING)
  set(KORVEX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source folder")
  if(NOT EXISTS ${KORVEX_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found: install the Debian package googletest")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  # Its own warnings are not ours to fail on.
  set(korvex_saved_options ${CMAKE_CXX_FLAGS})
  add_subdirectory(${KORVEX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock gmock_main)
    target_compile_options(${lib} PRIVATE -Wno-error)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()
