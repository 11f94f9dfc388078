#include "tools/inputs.h"

#include <algorithm>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace lumerca::tools {
namespace {

// A file's folder name: its name without the extension; its whole name where
// that leaves nothing, "." or "..".
std::string FolderName(const fs::path& file) {
  const std::string stem = file.stem().string();
  if (stem.empty() || stem == "." || stem == "..") return file.filename().string();
  return stem;
}

// The output folders of one run, each taken once. The names of the two
// output files are never taken, so that no folder stands where a file of the
// run is written.
class FolderNames {
public:
  explicit FolderNames(fs::path output) : output_(std::move(output)) {}

  fs::path Take(const fs::path& parent, const std::string& name) {
    std::string chosen = name;
    for (std::size_t n = 2; Reserved(chosen) || !taken_.insert(parent / chosen).second; ++n) {
      chosen = name + "-" + std::to_string(n);
    }
    return output_ / parent / chosen;
  }

private:
  static bool Reserved(const std::string& name) {
    return name == "csvimprt.txt" || name == "posimport.txt";
  }

  fs::path output_;
  std::set<fs::path> taken_;
};

struct Found {
  fs::path relative;  // below the folder given
  fs::path open;
  std::string error;
  std::string error_group;
};

// Whether the canonical `path` is `root` or lies below it.
bool Within(const fs::path& path, const fs::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

bool Same(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return !b.empty() && fs::equivalent(a, b, error);
}

// The walk of one folder given.
class FolderWalk {
public:
  FolderWalk(const fs::path& root, const fs::path& output, const fs::path& leave_out,
             std::vector<std::string>& notes)
      : root_(root), output_(output), leave_out_(leave_out), notes_(notes) {
    std::error_code error;
    canonical_root_ = fs::canonical(root, error);
  }

  std::vector<Found> Run(const std::function<bool()>& stop) {
    std::vector<Found> found;
    std::vector<fs::path> pending = {fs::path()};
    while (!pending.empty() && !stop()) {
      const fs::path relative = pending.back();
      pending.pop_back();
      List(relative, pending, found);
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.relative < b.relative; });
    return found;
  }

private:
  bool IsLeftOut(const fs::path& file) const {
    return file.filename() == leave_out_.filename() && Same(file, leave_out_);
  }

  fs::path Path(const fs::path& relative) const {
    return relative.empty() ? root_ : root_ / relative;
  }

  void List(const fs::path& relative, std::vector<fs::path>& pending, std::vector<Found>& found) {
    std::error_code error;
    fs::directory_iterator it(Path(relative), error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
      const fs::path entry = relative / it->path().filename();
      std::error_code status_error;
      const fs::file_status status = it->symlink_status(status_error);
      if (status_error) {
        // Nothing below it is known either: it fails, with the reason (a
        // path longer than the system allows, most often).
        found.push_back({entry, {}, "cannot be reached: " + status_error.message(), "cannot be reached"});
      } else if (fs::is_directory(status)) {
        if (!Same(it->path(), output_)) pending.push_back(entry);
        else notes_.push_back(Path(entry).string() + ": the output folder, not converted");
      } else if (fs::is_regular_file(status)) {
        if (!IsLeftOut(it->path())) found.push_back({entry, Path(entry), {}, {}});
      } else if (fs::is_symlink(status)) {
        FollowLink(entry, found);
      }  // devices, pipes and sockets are not marker files
    }
    if (error) {
      found.push_back({relative, {}, "folder cannot be listed: " + error.message(), "folder cannot be listed"});
    }
  }

  // A link is followed to a regular file inside the folder given only.
  void FollowLink(const fs::path& relative, std::vector<Found>& found) {
    std::error_code error;
    const fs::path target = fs::canonical(Path(relative), error);
    const char* why = nullptr;
    if (error) {
      why = "it leads nowhere";
    } else if (canonical_root_.empty() || !Within(target, canonical_root_)) {
      why = "it leads out of the folder";
    } else if (!fs::is_regular_file(target, error)) {
      why = "it does not lead to a file";
    } else if (IsLeftOut(target)) {
      return;
    }
    if (why) notes_.push_back(Path(relative).string() + ": link not followed: " + why);
    else found.push_back({relative, target, {}, {}});
  }

  fs::path root_, canonical_root_, output_, leave_out_;
  std::vector<std::string>& notes_;
};

}  // namespace

InputList ListInputs(const std::vector<fs::path>& arguments, const fs::path& output,
                     const fs::path& leave_out, const std::function<bool()>& stop) {
  InputList list;
  std::vector<bool> folder(arguments.size());
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::error_code error;
    folder[i] = fs::is_directory(arguments[i], error);
  }
  list.several = arguments.size() > 1 || std::count(folder.begin(), folder.end(), true) > 0;
  FolderNames names(output);
  for (std::size_t i = 0; i < arguments.size() && !stop(); ++i) {
    const fs::path& argument = arguments[i];
    if (!folder[i]) {
      const fs::path into = list.several ? names.Take({}, FolderName(argument)) : output;
      list.inputs.push_back({argument, argument, into, {}, {}});
      continue;
    }
    FolderWalk walk(argument, output, leave_out, list.notes);
    for (Found& f : walk.Run(stop)) {
      const fs::path path = f.relative.empty() ? argument : argument / f.relative;
      if (!f.error.empty()) {
        list.inputs.push_back({path, {}, {}, std::move(f.error), std::move(f.error_group)});
      } else {
        const fs::path into = names.Take(f.relative.parent_path(), FolderName(f.relative));
        list.inputs.push_back({path, std::move(f.open), into, {}, {}});
      }
    }
  }
  return list;
}

}  // namespace lumerca::tools
