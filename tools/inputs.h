#pragma once

// What one run of lumerca-import converts, and where each file's two output
// files go.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace lumerca::tools {

struct Input {
  std::filesystem::path path;    // as given, or as found below a folder given
  std::filesystem::path open;    // what is opened: `path`, or where a link below a folder leads
  std::filesystem::path folder;  // the folder for its two files
  // Set for what below a folder given cannot be listed or reached (a path
  // longer than the system allows, say): the reason, and the summary's group.
  std::string error;
  std::string error_group;
};

struct InputList {
  std::vector<Input> inputs;
  std::vector<std::string> notes;  // what the listing passed over, and why
  bool several = false;  // files go into subfolders of the output folder
};

// The files to convert, in order: each argument in turn; a file as given, a
// folder as every regular file below it, sorted by path. One file alone goes
// into `output` itself; otherwise a file given goes into `output`/<its name
// without extension>/, and a file below a folder DIR into the same place
// relative to `output` that it has relative to DIR (DIR/a/b/m7.mrk into
// `output`/a/b/m7/). A folder that another file of the run has taken, or that
// would stand where a file of the run is written, is <name>-2 (or -3, ...).
// Links below a folder are followed only to regular files inside it; folders
// are entered as they are, not through links; `output` itself and `leave_out`
// are passed over. The listing ends early (with what it has) when `stop` says
// so.
InputList ListInputs(const std::vector<std::filesystem::path>& arguments,
                     const std::filesystem::path& output, const std::filesystem::path& leave_out,
                     const std::function<bool()>& stop);

}  // namespace lumerca::tools
