add_library(korvex_shell STATIC
  ${CMAKE_CURRENT_LIST_DIR}/message_queue.cpp
)
target_include_directories(korvex_shell PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(korvex_shell PUBLIC korvex_player)
