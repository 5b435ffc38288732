# The Qt windows over the GUI-free core, and the desktop executable. AUTOMOC is switched on for
# these targets only, so the core and the tests that link it alone never see moc.
add_library(korvex_shell_qt STATIC
  ${CMAKE_CURRENT_LIST_DIR}/qt_dialog_seam.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt_radio_group.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt_console_view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/options_form.cpp
  ${CMAKE_CURRENT_LIST_DIR}/help_form.cpp
  ${CMAKE_CURRENT_LIST_DIR}/selection_form.cpp
)
set_target_properties(korvex_shell_qt PROPERTIES AUTOMOC ON)
target_include_directories(korvex_shell_qt PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(korvex_shell_qt PUBLIC korvex_shell Qt6::Widgets)
target_compile_definitions(korvex_shell_qt PUBLIC
  KORVEX_PRODUCT_VERSION="${KORVEX_PRODUCT_VERSION}" KORVEX_FILE_VERSION="${KORVEX_FILE_VERSION}")
# The help and options texts are rich-text resources compiled into the program.
qt_add_resources(korvex_shell_qt korvex_texts
  PREFIX /korvex
  BASE ${CMAKE_CURRENT_LIST_DIR}/resources
  FILES ${CMAKE_CURRENT_LIST_DIR}/resources/help.html ${CMAKE_CURRENT_LIST_DIR}/resources/options.html)

# The main window needs the processing controller, which is built with the programmer link.
if(TARGET korvex_link)
  target_sources(korvex_shell_qt PRIVATE ${CMAKE_CURRENT_LIST_DIR}/main_form.cpp)

  add_executable(korvex-player ${CMAKE_CURRENT_LIST_DIR}/qt_main.cpp)
  target_link_libraries(korvex-player PRIVATE korvex_shell_qt)
endif()
