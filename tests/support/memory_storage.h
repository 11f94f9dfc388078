#pragma once

// An in-memory implementation of the structured-storage interface for tests
// and fuzzers: a tree of storages and streams whose elements are enumerated in
// the order they were added, with failures that can be injected at each of the
// walk's four points, streams that deliver fewer bytes than they claim, and a
// record of every read and every release.

#include "storage/storage.h"
#include "tests/support/compound_writer.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace lumerca::testing {

// A stream over bytes held in memory that records the size asked by every Read
// call. It delivers at most `limit` bytes in all, however many it holds.
class MemoryStream : public storage::Stream {
public:
  explicit MemoryStream(ByteVector bytes,
                        std::size_t limit = std::numeric_limits<std::size_t>::max());
  std::uint32_t Read(void* buffer, std::uint32_t count) override;

  const std::vector<std::uint32_t>& reads() const { return reads_; }  // sizes asked
  std::size_t position() const { return position_; }                   // bytes delivered

private:
  ByteVector bytes_;
  std::size_t limit_;
  std::size_t position_ = 0;
  std::vector<std::uint32_t> reads_;
};

class MemoryDocument {
public:
  using Id = std::size_t;
  static constexpr Id kRoot = 0;

  MemoryDocument();
  // The tree of a compound-file writer's document (the root's name is ignored).
  explicit MemoryDocument(const Node& root);
  MemoryDocument(const MemoryDocument&) = delete;
  MemoryDocument& operator=(const MemoryDocument&) = delete;
  ~MemoryDocument();

  // Elements are enumerated in the order in which they are added; opening
  // looks a name up exactly, so names within one storage should differ (as
  // they do in a compound file).
  Id AddStorage(Id parent, std::u16string name);
  Id AddStream(Id parent, std::u16string name, ByteVector data);
  // An element of any type (a stream's size is its data's unless set below).
  Id AddElement(Id parent, std::u16string name, std::uint32_t type, std::uint64_t size = 0);

  // Damage.
  void Link(Id parent, Id element);                // `element` is listed in `parent` too (a storage
                                                   // inside itself, or two sharing one child)
  void FailEnum(Id storage);                       // EnumElements gives no enumerator
  void FailNext(Id storage, std::size_t position); // Next fails instead of delivering child `position`
  void FailOpen(Id element);                       // OpenStorage / OpenStream of it fails
  void ThrowOnOpen(Id element);                    // opening it throws std::bad_alloc
  void SetReportedSize(Id element, std::uint64_t size);  // the size the enumerator reports
  void LimitDelivery(Id stream, std::size_t bytes);      // the stream delivers at most this many

  // The root storage. The document must outlive everything opened from it.
  std::unique_ptr<storage::Storage> OpenRoot();

  // Observation.
  const std::vector<std::uint32_t>& Reads(Id stream) const;  // sizes asked, over all openings
  std::size_t OpenCount(Id element) const;  // times the element was opened
  std::size_t live_objects() const { return live_; }  // storages, enumerators, streams held
  std::size_t max_live_objects() const { return max_live_; }
  // With logging on, every call and release as text: "enum A", "next A -> B",
  // "open A/B", "read A/S 16 -> 16", "release stream A/S", "release enum A",
  // "release storage A" (paths '/'-separated, "" for the root; ASCII names).
  void EnableLog(bool on = true) { log_on_ = on; }
  const std::vector<std::string>& log() const { return log_; }
  std::string PathOf(Id id) const;

private:
  struct Entry {
    std::u16string name;
    std::uint32_t type = 0;
    std::uint64_t reported_size = 0;
    ByteVector data;
    std::size_t limit = std::numeric_limits<std::size_t>::max();
    Id parent = 0;
    std::vector<Id> children;
    bool fail_enum = false;
    bool fail_open = false;
    bool throw_on_open = false;
    std::size_t fail_next_at = std::numeric_limits<std::size_t>::max();
    std::vector<std::uint32_t> reads;
    std::size_t opened = 0;
  };
  class StorageImpl;
  class EnumeratorImpl;
  class StreamImpl;

  Id Add(Id parent, std::u16string name, std::uint32_t type);
  void Acquire();
  void Release(const char* what, Id id);
  void Log(std::string line);

  std::vector<Entry> entries_;
  std::size_t live_ = 0;
  std::size_t max_live_ = 0;
  bool log_on_ = false;
  std::vector<std::string> log_;
};

}  // namespace lumerca::testing
