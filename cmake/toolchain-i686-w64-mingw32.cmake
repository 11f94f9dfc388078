# The 32-bit Windows DLL that host applications load.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(LUMERCA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
