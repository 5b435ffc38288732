# The GUI-free core: message queue, settings file, command line, open-dialog filter, player
# registration and, once the programmer link exists, the processing controller.
add_library(korvex_shell STATIC
  ${CMAKE_CURRENT_LIST_DIR}/message_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ini_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
  ${CMAKE_CURRENT_LIST_DIR}/open_dialog_filter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/player_registration.cpp
)
target_include_directories(korvex_shell PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(korvex_shell PUBLIC korvex_player)

# Players join the registration as their libraries appear.
if(TARGET korvex_svf)
  target_link_libraries(korvex_shell PUBLIC korvex_svf)
  target_compile_definitions(korvex_shell PRIVATE KORVEX_HAVE_SVF)
endif()
if(TARGET korvex_xsvf)
  target_link_libraries(korvex_shell PUBLIC korvex_xsvf)
  target_compile_definitions(korvex_shell PRIVATE KORVEX_HAVE_XSVF)
endif()

# The controller drives the programmer link; it is built when the link library is there.
if(TARGET korvex_link)
  target_sources(korvex_shell PRIVATE ${CMAKE_CURRENT_LIST_DIR}/processing_controller.cpp)
  target_link_libraries(korvex_shell PUBLIC korvex_link korvex_bench)
  target_compile_definitions(korvex_shell PUBLIC KORVEX_HAVE_CONTROLLER)
endif()
