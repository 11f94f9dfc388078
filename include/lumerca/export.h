#pragma once

// LUMERCA_API marks the symbols that the shared library exports; everything
// else is hidden. The Windows DLL exports exactly one function, named in its
// module-definition file, so the macro is empty there.
#if defined(_WIN32)
#  define LUMERCA_API
#else
#  define LUMERCA_API __attribute__((visibility("default")))
#endif
