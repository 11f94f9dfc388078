# Cross build for Windows with Debian's mingw-w64, shared by the 32-bit
# (i686-w64-mingw32) and the 64-bit (x86_64-w64-mingw32) toolchain files,
# which set LUMERCA_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
#
# The "posix" flavour of the compilers is preferred: its C++ runtime has
# std::thread and std::mutex. The runtime itself is linked statically into
# every binary (cmake/windows.cmake), so nothing of it is needed at run time.

set(CMAKE_SYSTEM_NAME Windows)

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

# Programs built here run under Wine, of either bitness, through the
# project's launcher when CMake or CTest has to run them.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine)

# IEEE single and double precision whatever the caller's x87 control word
# says: every float and double operation in SSE registers (64-bit Windows
# does this anyway; for 32-bit it is a choice of ours).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
