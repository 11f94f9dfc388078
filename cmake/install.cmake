# What `cmake --install` lays out, and the packages that CPack makes of it.
#
#   include/lumerca/                         the public headers
#   lib/liblumerca_marker.so (.so.0, ...)    or liblumerca_marker.a: lumerca::marker
#   lib/cmake/lumerca_marker/                the CMake package (config, version, targets)
#   lib/pkgconfig/lumerca_marker.pc          the pkg-config file
#   bin/lumerca-import                       the command-line tool (when built)
#   bin/lumerca_marker.dll, lumerca-host.exe the DLL that hosts load and its loader (Windows)
#
# (lib/ stands for CMAKE_INSTALL_LIBDIR, lib/x86_64-linux-gnu/ for the prefix
# /usr on Debian.)

set(lumerca_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/lumerca_marker)
if(lumerca_library_type STREQUAL "STATIC_LIBRARY")
  set(lumerca_static ON)
else()
  set(lumerca_static OFF)
endif()

install(TARGETS ${lumerca_library} EXPORT lumerca_markerTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/lumerca DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The DLL is loaded by its hosts at run time; its import library is not
# installed (the static library is what programs link).
if(WIN32)
  install(PROGRAMS $<TARGET_FILE:lumerca_marker> DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# ---------------------------------------------------------------- CMake package
install(EXPORT lumerca_markerTargets NAMESPACE lumerca:: DESTINATION ${lumerca_cmake_dir})
include(CMakePackageConfigHelpers)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/lumerca_markerConfig.cmake.in
  ${PROJECT_BINARY_DIR}/lumerca_markerConfig.cmake
  INSTALL_DESTINATION ${lumerca_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lumerca_markerConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/lumerca_markerConfig.cmake
  ${PROJECT_BINARY_DIR}/lumerca_markerConfigVersion.cmake
  DESTINATION ${lumerca_cmake_dir})

# ---------------------------------------------------------------- pkg-config
# The file finds the prefix from its own place (${pcfiledir}), so that the
# tree may be installed anywhere and packaged. A static library names what
# its users must link too (pkg-config --static): ICU's common and data
# libraries, and the threads library where the C library does not hold the
# threads (CMake's finding, CMAKE_THREAD_LIBS_INIT); on Windows the system
# libraries of COM and random numbers.
set(lumerca_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
cmake_path(ABSOLUTE_PATH lumerca_pc_dir BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX}
           OUTPUT_VARIABLE lumerca_pc_full_dir)
cmake_path(RELATIVE_PATH CMAKE_INSTALL_PREFIX BASE_DIRECTORY ${lumerca_pc_full_dir}
           OUTPUT_VARIABLE lumerca_pc_to_prefix)
string(REGEX REPLACE "/$" "" lumerca_pc_to_prefix "${lumerca_pc_to_prefix}")
set(lumerca_pc_requires_private "")
set(lumerca_pc_libs_private "")
if(lumerca_static)
  if(WIN32)
    set(lumerca_pc_libs_private "-lole32 -luuid -lbcrypt")
  else()
    set(lumerca_pc_requires_private "icu-uc")
    set(lumerca_pc_libs_private "${CMAKE_THREAD_LIBS_INIT}")
  endif()
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/lumerca_marker.pc.in
  ${PROJECT_BINARY_DIR}/lumerca_marker.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/lumerca_marker.pc DESTINATION ${lumerca_pc_dir})

# ---------------------------------------------------------------- packages
# `cpack` in the build folder: on Debian a .deb of the library, its headers,
# its CMake and pkg-config files and the tool (the dependencies from
# dpkg-shlibdeps); for Windows a zip of the DLL, the static library, the
# tools, the headers and the same files, one per build (win32, win64).
set(CPACK_PACKAGE_NAME lumerca_marker)
set(CPACK_PACKAGE_VENDOR "lumerca_marker")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION [=[
The library lumerca_marker and its command-line tool lumerca-import read
marker files, compound documents whose streams describe a marker, and write
the model-and-order file csvimprt.txt and the piece position file
posimport.txt. The package holds the library, its C++ headers, its CMake
package and pkg-config file, and the tool.]=])
set(LUMERCA_PACKAGE_CONTACT "lumerca_marker maintainers <maintainers@lumerca-marker.invalid>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${LUMERCA_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  # Debian's package names hold no underscore.
  set(CPACK_DEBIAN_PACKAGE_NAME lumerca-marker)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # What the library and the tool load, from dpkg-shlibdeps; the static
  # library's users also link ICU, from its development files.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(lumerca_static)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libicu-dev")
  endif()
endif()
include(CPack)
