// libgsf as the independent compound-file reader: open the document, visit
// every storage (with a stack of its own, not by recursion) and read every
// stream to its end.

#include "bench/measure.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace lumerca::bench {

double GsfSeconds(const std::filesystem::path& file, std::uint64_t* streams, std::uint64_t* bytes) {
  static const bool initialised = (gsf_init(), true);
  (void)initialised;
  std::uint64_t stream_count = 0, byte_count = 0;

  const auto t0 = std::chrono::steady_clock::now();
  GError* error = nullptr;
  GsfInput* input = gsf_input_stdio_new(file.c_str(), &error);
  if (input == nullptr) {
    g_clear_error(&error);
    return -1;
  }
  GsfInfile* root = gsf_infile_msole_new(input, &error);
  g_object_unref(input);  // the infile keeps its own reference
  if (root == nullptr) {
    g_clear_error(&error);
    return -1;
  }

  std::vector<guint8> buffer(64 * 1024);
  std::vector<GsfInfile*> pending{root};
  while (!pending.empty()) {
    GsfInfile* storage = pending.back();
    pending.pop_back();
    const int children = gsf_infile_num_children(storage);
    for (int i = 0; i < children; ++i) {
      GsfInput* child = gsf_infile_child_by_index(storage, i);
      if (child == nullptr) continue;
      // A storage has a child count (0 included); a stream has -1.
      if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
        pending.push_back(GSF_INFILE(child));
        continue;
      }
      ++stream_count;
      gsf_off_t left = gsf_input_size(child);
      while (left > 0) {
        const auto chunk = static_cast<std::size_t>(std::min<gsf_off_t>(left, static_cast<gsf_off_t>(buffer.size())));
        if (gsf_input_read(child, chunk, buffer.data()) == nullptr) break;
        left -= static_cast<gsf_off_t>(chunk);
        byte_count += chunk;
      }
      g_object_unref(child);
    }
    g_object_unref(storage);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (streams != nullptr) *streams = stream_count;
  if (bytes != nullptr) *bytes = byte_count;
  return seconds;
}

}  // namespace lumerca::bench
