// The output folder of the WebAssembly build: a folder of the module's own
// file system (in memory; the page takes both files from memory instead, see
// lumerca::WriteMarker). The module is one process of one user, and no other
// program sees its files: both are written under temporary names and renamed
// into place only when both are complete, and a failed rename puts the
// earlier pair back.

#include "platform/output_folder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace lumerca::platform {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::error_code& error) {
  throw OutputError(what + ": " + error.message());
}

std::mutex commit_mutex;
unsigned long long g_counter = 0;

class WasmTemporaryFile final : public TemporaryFile {
public:
  WasmTemporaryFile(fs::path path, std::string final_name)
      : path_(std::move(path)), final_name_(std::move(final_name)) {}
  ~WasmTemporaryFile() override {
    std::error_code ignored;
    if (!committed_) fs::remove(path_, ignored);
  }

  void Write(const char* data, std::size_t size) override { bytes_.append(data, size); }

  void Finish() override {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
    out.close();
    if (!out) throw OutputError("cannot write " + final_name_);
    bytes_.clear();
    finished_ = true;
  }

  const fs::path& path() const { return path_; }
  const std::string& final_name() const { return final_name_; }
  bool finished() const { return finished_; }
  void MarkCommitted() { committed_ = true; }

private:
  fs::path path_;
  std::string final_name_;
  std::string bytes_;
  bool finished_ = false;
  bool committed_ = false;
};

class WasmOutputFolder final : public OutputFolder {
public:
  explicit WasmOutputFolder(fs::path path) : path_(std::move(path)) {}

  std::unique_ptr<TemporaryFile> CreateTemporary(const std::string& final_name) override {
    const std::lock_guard lock(commit_mutex);
    return std::make_unique<WasmTemporaryFile>(
        path_ / ("." + final_name + "." + std::to_string(++g_counter) + ".tmp"), final_name);
  }

  void Commit(TemporaryFile& first, TemporaryFile& second) override {
    auto& a = static_cast<WasmTemporaryFile&>(first);
    auto& b = static_cast<WasmTemporaryFile&>(second);
    if (!a.finished() || !b.finished()) throw OutputError("output file not finished");
    const std::lock_guard lock(commit_mutex);
    // The first file's predecessor is kept aside until the second is in place.
    const fs::path final_a = path_ / a.final_name(), final_b = path_ / b.final_name();
    const fs::path kept = a.path().string() + ".earlier";
    std::error_code error;
    const bool had_earlier = fs::is_regular_file(fs::symlink_status(final_a, error));
    if (had_earlier) {
      fs::rename(final_a, kept, error);
      if (error) Fail("cannot rename " + a.final_name(), error);
    }
    fs::rename(a.path(), final_a, error);
    if (error) {
      std::error_code ignored;
      if (had_earlier) fs::rename(kept, final_a, ignored);
      Fail("cannot rename to " + a.final_name(), error);
    }
    a.MarkCommitted();
    fs::rename(b.path(), final_b, error);
    if (error) {
      std::error_code ignored;
      fs::remove(final_a, ignored);
      if (had_earlier) fs::rename(kept, final_a, ignored);
      Fail("cannot rename to " + b.final_name(), error);
    }
    b.MarkCommitted();
    std::error_code ignored;
    if (had_earlier) fs::remove(kept, ignored);
  }

private:
  fs::path path_;
};

}  // namespace

std::unique_ptr<OutputFolder> OpenOutputFolder(const std::filesystem::path& folder) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    if (!error) error = std::make_error_code(std::errc::not_a_directory);
    Fail("cannot open the output folder " + folder.string(), error);
  }
  return std::make_unique<WasmOutputFolder>(folder);
}

// The module's home folder stands for "~/": the module has one user, itself.
std::filesystem::path FixedOutputFolder() {
  std::string configured = LUMERCA_OUTPUT_DIR;
  if (configured.rfind("~/", 0) != 0) return configured;
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr && *home != '\0' ? home : "/home/web_user") / configured.substr(2);
}

std::filesystem::path PathFromAnsi(const char* path) {
  if (!path) return {};
  return std::filesystem::path(std::string(path));
}

}  // namespace lumerca::platform
