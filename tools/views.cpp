#include "tools/views.h"

#include "tools/dump.h"
#include "tools/exit_status.h"
#include "tools/svg.h"

#include <lumerca/marker.h>

#include <fstream>
#include <iostream>

namespace fs = std::filesystem;

namespace lumerca::tools {

// --dump: one JSON document per file (an array of them for several files).
int Dump(const std::vector<fs::path>& files, unsigned code_page) {
  bool all_opened = true;
  if (files.size() > 1) std::cout << "[\n";
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (i > 0) std::cout << ",\n";
    all_opened = WriteDump(std::cout, files[i], code_page) && all_opened;
  }
  if (files.size() > 1) std::cout << "]\n";
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "lumerca-import: cannot write the dump\n";
    return kSomeFailed;
  }
  return all_opened ? kAllImported : kSomeFailed;
}

// --svg: the picture of one marker file.
int Svg(const fs::path& svg, const fs::path& file, unsigned code_page) {
  ReadOptions options;
  options.code_page = code_page;
  const ReadResult read = ReadMarker(file, options);
  if (read.status == ImportStatus::CannotOpen || read.status == ImportStatus::OutOfMemory) {
    std::cerr << "lumerca-import: " << file.string() << ": " << StatusText(read.status) << " ("
              << read.reason << ")\n";
    return kSomeFailed;
  }
  std::ofstream out(svg, std::ios::binary | std::ios::trunc);
  const auto counts = WriteSvg(out, read.marker);
  out.close();
  if (!out) {
    std::cerr << "lumerca-import: cannot write " << svg.string() << "\n";
    return kSomeFailed;
  }
  std::cerr << "lumerca-import: drew " << counts.pieces << " pieces (" << counts.halfs
            << " half pieces) and " << counts.cut_lines << " cut lines into " << svg.string();
  if (counts.left_out > 0) std::cerr << "; " << counts.left_out << " with coordinates not finite left out";
  std::cerr << "\n";
  return kAllImported;
}

}  // namespace lumerca::tools
