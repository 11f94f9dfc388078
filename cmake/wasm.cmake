# The WebAssembly build (cmake --preset wasm, with Debian's emscripten): the
# library for the page of web/. Included before the library's sources.
#
# The native build takes its code pages from ICU at run time. Here the build
# compiles the program that writes their table files (platform/
# make_codepage_tables.cpp) for the machine that builds, in a native build of
# this project below this one (host/), and runs it: the single-byte code pages
# are compiled into the library, the double-byte ones are files of the page's
# folder (codepages/), read when a marker needs them.

# The library throws and catches its own exceptions (a cross-reference out of
# range, memory that runs out): emscripten leaves catching off unless asked.
# WebAssembly's own exception handling (which current browsers have) rather
# than emscripten's JavaScript one: no call that may throw goes out through
# JavaScript and back, and the code is a third smaller.
# LUMERCA_WASM_EXCEPTIONS=js builds emscripten's kind instead, for browsers
# without WebAssembly's (and to compare the two).
set(LUMERCA_WASM_EXCEPTIONS wasm CACHE STRING "Exceptions in WebAssembly: wasm (its own) or js (emscripten's)")
set_property(CACHE LUMERCA_WASM_EXCEPTIONS PROPERTY STRINGS wasm js)
if(LUMERCA_WASM_EXCEPTIONS STREQUAL "wasm")
  add_compile_options(-fwasm-exceptions)
  add_link_options(-fwasm-exceptions)
elseif(LUMERCA_WASM_EXCEPTIONS STREQUAL "js")
  add_compile_options(-fexceptions)
  add_link_options(-fexceptions)
else()
  message(FATAL_ERROR "LUMERCA_WASM_EXCEPTIONS is wasm or js, not ${LUMERCA_WASM_EXCEPTIONS}")
endif()

include(ExternalProject)
set(lumerca_host_dir ${PROJECT_BINARY_DIR}/host)
set(lumerca_codepage_tool ${lumerca_host_dir}/bin/lumerca-codepage-tables)
ExternalProject_Add(lumerca_host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${lumerca_host_dir}
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=Release
    -DLUMERCA_HOST_TOOLS=ON
    -DLUMERCA_BUILD_TESTS=OFF
    -DLUMERCA_BUILD_TOOLS=OFF
    -DLUMERCA_BUILD_BENCH=OFF
    -DLUMERCA_INSTALL=OFF
    -DBUILD_SHARED_LIBS=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target lumerca-codepage-tables
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${lumerca_codepage_tool})

set(lumerca_web_dir ${PROJECT_BINARY_DIR}/page)
set(lumerca_codepage_source ${PROJECT_BINARY_DIR}/generated/codepages.cpp)
set(lumerca_codepage_files)
foreach(id 932 936 949 950)
  list(APPEND lumerca_codepage_files ${lumerca_web_dir}/codepages/cp${id}.bin)
endforeach()
add_custom_command(
  OUTPUT ${lumerca_codepage_source} ${lumerca_codepage_files}
  COMMAND ${lumerca_codepage_tool} ${lumerca_web_dir}/codepages ${lumerca_codepage_source}
  DEPENDS lumerca_host_tools ${lumerca_codepage_tool}
  COMMENT "Writing the code pages' tables from ICU"
  VERBATIM)
add_custom_target(lumerca_codepage_files DEPENDS ${lumerca_codepage_files})
