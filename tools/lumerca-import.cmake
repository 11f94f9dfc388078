# lumerca-import: the command-line converter, on every platform.
if(NOT TARGET CLI11::CLI11)
  find_package(CLI11 CONFIG REQUIRED)
endif()
if(WIN32)
  set(lumerca_tool_system ${CMAKE_CURRENT_LIST_DIR}/system_win.cpp)
else()
  set(lumerca_tool_system ${CMAKE_CURRENT_LIST_DIR}/system_posix.cpp)
endif()
add_executable(lumerca-import
  ${CMAKE_CURRENT_LIST_DIR}/lumerca_import.cpp
  ${CMAKE_CURRENT_LIST_DIR}/options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/views.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inputs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/convert.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report.cpp
  ${CMAKE_CURRENT_LIST_DIR}/batch.cpp
  ${lumerca_tool_system})
# --dump and --svg come from lumerca_tool_views (views.cmake).
target_link_libraries(lumerca-import PRIVATE lumerca_entry lumerca_tool_views CLI11::CLI11
                      Threads::Threads)
install(TARGETS lumerca-import RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
