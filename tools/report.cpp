#include "tools/report.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace lumerca::tools {

std::string CsvField(std::string_view text) {
  // Every field quoted, a quote inside it doubled (RFC 4180); commas, line
  // ends and bytes above 0x7F then stand as they are.
  std::string field;
  field.reserve(text.size() + 2);
  field += '"';
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  field += '"';
  return field;
}

Report::~Report() {
  if (out_ != nullptr) std::fclose(out_);
}

bool Report::Open(const std::filesystem::path& file, std::string& error) {
  path_ = file;
#if defined(_WIN32)
  out_ = _wfopen(file.c_str(), L"wb");
#else
  out_ = std::fopen(file.c_str(), "wb");
#endif
  if (out_ == nullptr) {
    error = "cannot create " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  const auto columns = ArchiveReportColumns();
  return Row(std::vector<std::string_view>(columns.begin(), columns.end()), error);
}

bool Report::Add(const ArchiveRow& row, std::string& error) {
  const auto fields = ArchiveReportFields(row);
  return Row(std::vector<std::string_view>(fields.begin(), fields.end()), error);
}

bool Report::Row(const std::vector<std::string_view>& fields, std::string& error) {
  if (out_ == nullptr) return false;
  row_.clear();
  for (const std::string_view field : fields) {
    if (!row_.empty()) row_ += ',';
    row_ += CsvField(field);
  }
  row_ += "\r\n";
  errno = 0;
  if (std::fwrite(row_.data(), 1, row_.size(), out_) == row_.size() && std::fflush(out_) == 0) {
    written_ += row_.size();
    return true;
  }
  const int saved = errno;
  error = "cannot write " + path_.string() + ": " + (saved != 0 ? std::strerror(saved) : "the write failed");
  // What arrived of the row goes again, so that every row left is whole.
  std::clearerr(out_);
#if defined(_WIN32)
  _chsize_s(_fileno(out_), static_cast<long long>(written_));
#else
  if (::ftruncate(fileno(out_), static_cast<off_t>(written_)) != 0) {
    // A file that cannot be cut (a pipe, a device) keeps what arrived.
  }
#endif
  std::fclose(out_);
  out_ = nullptr;
  return false;
}

bool Report::Sync(std::string& error) {
  if (out_ == nullptr) return true;
  errno = 0;
  bool synced = std::fflush(out_) == 0;
  if (synced) {
#if defined(_WIN32)
    synced = _commit(_fileno(out_)) == 0 || errno == EBADF;
#else
    const auto flushed = [](int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS; };
    synced = flushed(fileno(out_));
    // The report's name in its folder too, which the run may have made. A
    // folder that cannot be opened (no right to read it) is left to the
    // system.
    const std::filesystem::path folder = path_.has_parent_path() ? path_.parent_path() : ".";
    const int fd = synced ? ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (fd >= 0) {
      synced = flushed(fd);
      const int saved = errno;
      ::close(fd);
      errno = saved;
    }
#endif
  }
  if (synced) return true;
  const int saved = errno;
  error = "cannot write " + path_.string() + ": " + (saved != 0 ? std::strerror(saved) : "the flush failed");
  std::fclose(out_);
  out_ = nullptr;
  return false;
}

bool Report::Close(std::string& error) {
  if (out_ == nullptr) return true;
  const int closed = std::fclose(out_);
  out_ = nullptr;
  if (closed == 0) return true;
  error = "cannot write " + path_.string() + ": " + std::strerror(errno);
  return false;
}

}  // namespace lumerca::tools
