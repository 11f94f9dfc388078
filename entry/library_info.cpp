// What the library says of itself.
#include <lumerca/marker.h>
#include <lumerca/version.h>

namespace lumerca {

const char* Version() noexcept { return LUMERCA_MARKER_VERSION_STRING; }

}  // namespace lumerca
