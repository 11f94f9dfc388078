# The 32-bit Windows DLL: what the host application loads.
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

target_sources(lumerca_marker PRIVATE ${PROJECT_SOURCE_DIR}/cmake/lumerca_marker.def)
target_link_options(lumerca_marker PRIVATE ${lumerca_static_runtime} ${lumerca_image_flags})
set_target_properties(lumerca_marker PROPERTIES PREFIX "" IMPORT_PREFIX "")

# The COM interface identifiers (IID_IStorage) live in libuuid; the output
# folder's random temporary names come from bcrypt.
target_link_libraries(lumerca_storage PUBLIC ole32 uuid)
target_link_libraries(lumerca_platform PUBLIC ole32 bcrypt)
# The whole-archive link of the DLL does not carry the archives' own system
# libraries over, so the DLL names them itself.
target_link_libraries(lumerca_marker PRIVATE ole32 uuid bcrypt)

# Windows test programs (run under Wine by the native build's tests/wine).
if(LUMERCA_BUILD_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/tests/wine/win/CMakeLists.txt)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/wine/win ${CMAKE_BINARY_DIR}/tests/wine/win)
endif()
