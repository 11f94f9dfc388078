// The shared library is assembled from the subsystem libraries; this file only
// gives its target a source of its own.
namespace lumerca::detail {
[[maybe_unused]] constexpr int kSharedLibraryAnchor = 0;
}
