# lumerca-import: the command-line converter, on every platform.
if(NOT TARGET CLI11::CLI11)
  find_package(CLI11 CONFIG REQUIRED)
endif()
add_executable(lumerca-import ${CMAKE_CURRENT_LIST_DIR}/lumerca_import.cpp)
# --dump and --svg come from lumerca_tool_views (views.cmake).
target_link_libraries(lumerca-import PRIVATE lumerca_entry lumerca_tool_views CLI11::CLI11)
install(TARGETS lumerca-import RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
