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
int Dump(const std::vector<fs::path>& files) {
  bool all_opened = true;
  if (files.size() > 1) std::cout << "[\n";
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (i > 0) std::cout << ",\n";
    all_opened = lumerca::tools::WriteDump(std::cout, files[i]) && all_opened;
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
int Svg(const fs::path& svg, const fs::path& file) {
  lumerca::WalkReport report;
  std::string why;
  const auto model = lumerca::tools::LoadMarker(file, report, &why);
  if (!model) {
    std::cerr << "lumerca-import: " << file.string() << ": "
              << lumerca::StatusText(lumerca::ImportStatus::CannotOpen) << " (" << why << ")\n";
    return kSomeFailed;
  }
  std::ofstream out(svg, std::ios::binary | std::ios::trunc);
  const auto counts = lumerca::tools::WriteSvg(out, *model);
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
