// lumerca-import: converts marker files into csvimprt.txt and posimport.txt;
// with --dump prints what it reads from a file as JSON, with --svg draws it.

#include <lumerca/marker.h>

#include "tools/batch.h"
#include "tools/exit_status.h"
#include "tools/options.h"
#include "tools/views.h"

#include <algorithm>
#include <iostream>

int main(int argc, char** argv) {
  using namespace lumerca::tools;
  Options options;
  if (const auto status = ParseOptions(argc, argv, options)) return *status;

  if (options.code_page != 0 && !lumerca::IsSupportedCodePage(options.code_page)) {
    std::cerr << "lumerca-import: code page " << options.code_page << " is not supported\n";
    return kUsage;
  }
  options.import.code_page = options.code_page;

  if (!options.svg.empty() && options.inputs.size() != 1) {
    std::cerr << "lumerca-import: --svg draws exactly one file\n";
    return kUsage;
  }
  if (options.dump || !options.svg.empty()) {
    int status = kAllImported;
    if (!options.svg.empty()) status = Svg(options.svg, options.inputs.front(), options.code_page);
    if (options.dump) status = std::max(status, Dump(options.inputs, options.code_page));
    return status;
  }
  return RunConversions(options);
}
