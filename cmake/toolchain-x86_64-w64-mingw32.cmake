# The same library, its tools and its Windows test programs as 64-bit images.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(LUMERCA_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
