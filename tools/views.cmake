# lumerca_tool_views: the model dump (JSON) and the marker picture (SVG) of
# lumerca-import, as a library that the tool and its tests link. Included by
# tools/CMakeLists.txt, and by tests/tools when the tools are not built.
if(NOT TARGET lumerca_tool_views)
  if(NOT TARGET nlohmann_json::nlohmann_json)
    find_package(nlohmann_json 3 REQUIRED)
  endif()
  add_library(lumerca_tool_views STATIC
    ${CMAKE_CURRENT_LIST_DIR}/dump.cpp
    ${CMAKE_CURRENT_LIST_DIR}/svg.cpp)
  target_include_directories(lumerca_tool_views PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(lumerca_tool_views PUBLIC lumerca_entry nlohmann_json::nlohmann_json)
endif()
