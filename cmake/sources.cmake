# The library's sources, one static library per subsystem folder (tests link
# only what they exercise); the shared library is all of them together.
# Sources ending in _win.cpp build only for Windows, those ending in
# _posix.cpp only elsewhere, and those ending in _wasm.cpp only for
# WebAssembly, where each replaces the _posix.cpp of the same name: each list
# names them all, and lumerca_subsystem keeps the platform's own.

set(lumerca_platform_sources
  platform/codepage_ansi_posix.cpp
  platform/codepage_posix.cpp
  platform/codepage_wasm.cpp
  platform/codepage_win.cpp
  platform/input_file_posix.cpp
  platform/input_file_win.cpp
  platform/output_folder.cpp
  platform/output_folder_posix.cpp
  platform/output_folder_win.cpp)

set(lumerca_storage_sources
  storage/com_storage_win.cpp
  storage/compound_file.cpp
  storage/open_document_posix.cpp
  storage/open_document_win.cpp
  storage/open_errors.cpp)

set(lumerca_model_sources
  model/index.cpp)

set(lumerca_readers_sources
  readers/header.cpp
  readers/pieces.cpp
  readers/primitives.cpp
  readers/skipped.cpp
  readers/splits.cpp
  readers/tables.cpp)

set(lumerca_output_sources
  output/fixed_format.cpp
  output/float_text.cpp
  output/model_order_writer.cpp
  output/normalize.cpp
  output/position_writer.cpp
  output/printf_file.cpp)

set(lumerca_entry_sources
  entry/archive.cpp
  entry/import.cpp
  entry/library_info.cpp
  entry/marker_view.cpp
  entry/module_win.cpp
  entry/open_and_walk.cpp
  entry/picture.cpp
  entry/read.cpp
  entry/walk.cpp)

function(lumerca_subsystem target)
  set(sources ${${target}_sources})
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_(posix|wasm)\\.cpp$")
  elseif(EMSCRIPTEN)
    list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
    foreach(source ${sources})
      if(source MATCHES "^(.*)_wasm\\.cpp$")
        list(REMOVE_ITEM sources "${CMAKE_MATCH_1}_posix.cpp")
      endif()
    endforeach()
  else()
    list(FILTER sources EXCLUDE REGEX "_(win|wasm)\\.cpp$")
  endif()
  list(TRANSFORM sources PREPEND ${PROJECT_SOURCE_DIR}/)
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  target_compile_definitions(${target} PRIVATE LUMERCA_MARKER_BUILDING)
  target_link_libraries(${target} PRIVATE lumerca_warnings PUBLIC ${ARGN})
endfunction()

if(WIN32)
  lumerca_subsystem(lumerca_platform ole32)
elseif(EMSCRIPTEN)
  # The code pages from the table files written when building (cmake/wasm.cmake).
  lumerca_subsystem(lumerca_platform)
  target_sources(lumerca_platform PRIVATE ${PROJECT_SOURCE_DIR}/platform/codepage_tables.cpp
                 ${lumerca_codepage_source})
else()
  lumerca_subsystem(lumerca_platform ICU::uc ICU::data Threads::Threads)
endif()
target_compile_definitions(lumerca_platform PRIVATE "LUMERCA_OUTPUT_DIR=\"${LUMERCA_OUTPUT_DIR}\"")
if(WIN32)
  lumerca_subsystem(lumerca_storage lumerca_platform ole32)
else()
  lumerca_subsystem(lumerca_storage lumerca_platform)
endif()
lumerca_subsystem(lumerca_model)
lumerca_subsystem(lumerca_readers lumerca_model lumerca_storage)
lumerca_subsystem(lumerca_output lumerca_model lumerca_platform)
# Floating-point std::to_chars where the C++ library has it (not in the
# WebAssembly build's): output/float_text.h takes the C library's exact
# printf conversions otherwise.
include(CheckCXXSourceCompiles)
check_cxx_source_compiles([[
#include <charconv>
int main() {
  char text[64];
  return std::to_chars(text, text + 64, 1.5f).ptr == text ||
         std::to_chars(text, text + 64, 1.5, std::chars_format::scientific, 16).ptr == text;
}]] LUMERCA_HAVE_FLOAT_TO_CHARS)
if(LUMERCA_HAVE_FLOAT_TO_CHARS)
  target_compile_definitions(lumerca_output PRIVATE LUMERCA_FLOAT_TO_CHARS=1)
else()
  target_compile_definitions(lumerca_output PRIVATE LUMERCA_FLOAT_TO_CHARS=0)
endif()
lumerca_subsystem(lumerca_entry lumerca_output lumerca_readers lumerca_model lumerca_storage
                  lumerca_platform)
