# The Windows DLL, lumerca_marker: what the host application loads, made of
# the same objects as the static library lumerca::marker.
#
# - exactly one export, ImportLumercaFile, by its undecorated name (the
#   module-definition file; the function uses the default cdecl convention);
# - no C++ runtime DLLs: libgcc, libstdc++ and winpthread are linked
#   statically, so the DLL imports system DLLs only;
# - ASLR and DEP (relocatable image, NX-compatible);
# - the file is lumerca_marker.dll, without the "lib" prefix, in bin/.

set(lumerca_static_runtime -static -static-libgcc -static-libstdc++)
set(lumerca_image_flags -Wl,--dynamicbase -Wl,--nxcompat)
# Release images carry no symbols (the static runtime brings debug sections).
list(APPEND lumerca_image_flags $<$<CONFIG:Release,MinSizeRel>:-s>)

# Every program of the cross build gets the same runtime and image flags, so
# that the host and the test programs run under Wine without runtime DLLs.
add_link_options(${lumerca_static_runtime} ${lumerca_image_flags})

add_library(lumerca_marker SHARED ${lumerca_objects} ${PROJECT_SOURCE_DIR}/cmake/lumerca_marker.def)
target_link_options(lumerca_marker PRIVATE ${lumerca_static_runtime} ${lumerca_image_flags})
set_target_properties(lumerca_marker PROPERTIES LINKER_LANGUAGE CXX PREFIX "" IMPORT_PREFIX "")

# The COM interface identifiers (IID_IStorage) live in libuuid; the output
# folder's random temporary names come from bcrypt.
target_link_libraries(lumerca_storage PUBLIC ole32 uuid)
target_link_libraries(lumerca_platform PUBLIC ole32 bcrypt)
# The whole-archive link of the DLL does not carry the archives' own system
# libraries over, so the DLL names them itself.
target_link_libraries(lumerca_marker PRIVATE ole32 uuid bcrypt)

# Windows test programs (run under Wine by the native build's tests/wine).
if(LUMERCA_BUILD_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/wine/win ${PROJECT_BINARY_DIR}/tests/wine/win)
endif()

# The header-only libraries of the command-line tool (CLI11, nlohmann-json)
# come from the native system's Debian packages; the cross build searches
# only the mingw-w64 tree, so a folder of links to just those two headers'
# folders stands in for them.
set(lumerca_header_only ${PROJECT_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${lumerca_header_only})
foreach(folder CLI nlohmann)
  if(EXISTS /usr/include/${folder} AND NOT EXISTS ${lumerca_header_only}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${lumerca_header_only}/${folder} SYMBOLIC)
  endif()
endforeach()
if(EXISTS ${lumerca_header_only}/CLI AND NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${lumerca_header_only})
endif()
if(EXISTS ${lumerca_header_only}/nlohmann AND NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${lumerca_header_only})
endif()
