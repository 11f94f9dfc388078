if(NOT WIN32)
  find_package(CLI11 CONFIG QUIET)
  # libcsv writes the report's fields.
  find_path(CSV_INCLUDE_DIR csv.h REQUIRED)
  find_library(CSV_LIBRARY NAMES csv REQUIRED)
  add_executable(lumerca-import
    ${CMAKE_CURRENT_LIST_DIR}/lumerca_import.cpp
    ${CMAKE_CURRENT_LIST_DIR}/options.cpp
    ${CMAKE_CURRENT_LIST_DIR}/views.cpp
    ${CMAKE_CURRENT_LIST_DIR}/inputs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/convert.cpp
    ${CMAKE_CURRENT_LIST_DIR}/progress.cpp
    ${CMAKE_CURRENT_LIST_DIR}/report.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stop_signals.cpp
    ${CMAKE_CURRENT_LIST_DIR}/batch.cpp)
  target_include_directories(lumerca-import PRIVATE ${CSV_INCLUDE_DIR})
  # --dump and --svg come from lumerca_tool_views (views.cmake).
  target_link_libraries(lumerca-import PRIVATE lumerca_entry lumerca_tool_views ${CSV_LIBRARY}
                        Threads::Threads)
  if(TARGET CLI11::CLI11)
    target_link_libraries(lumerca-import PRIVATE CLI11::CLI11)
  endif()
  install(TARGETS lumerca-import RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
