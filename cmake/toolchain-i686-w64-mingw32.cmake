# Cross build for 32-bit Windows with Debian's mingw-w64 (i686-w64-mingw32).
#
# The "posix" flavour of the compilers is preferred: its C++ runtime has
# std::thread and std::mutex. The runtime itself is linked statically into
# every binary (cmake/windows.cmake), so nothing of it is needed at run time.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(LUMERCA_MINGW_TRIPLE i686-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${LUMERCA_MINGW_TRIPLE}-gcc-posix ${LUMERCA_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${LUMERCA_MINGW_TRIPLE}-g++-posix ${LUMERCA_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${LUMERCA_MINGW_TRIPLE}-windres)
find_program(CMAKE_AR NAMES ${LUMERCA_MINGW_TRIPLE}-gcc-ar-posix ${LUMERCA_MINGW_TRIPLE}-ar)
find_program(CMAKE_RANLIB NAMES ${LUMERCA_MINGW_TRIPLE}-gcc-ranlib-posix ${LUMERCA_MINGW_TRIPLE}-ranlib)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMERCA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under Wine when CMake or CTest has to run them.
find_program(LUMERCA_WINE NAMES wine)
if(LUMERCA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMERCA_WINE})
endif()
