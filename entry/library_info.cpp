// What the library says of itself.
#include <lumerca/marker.h>

namespace lumerca {

// LUMERCA_VERSION is the project's version, given by the build.
const char* Version() noexcept { return LUMERCA_VERSION; }

}  // namespace lumerca
