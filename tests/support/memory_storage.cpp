#include "tests/support/memory_storage.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace lumerca::testing {

namespace {

constexpr std::uint32_t kStorage = static_cast<std::uint32_t>(storage::ElementType::Storage);
constexpr std::uint32_t kStream = static_cast<std::uint32_t>(storage::ElementType::Stream);
constexpr std::uint32_t kRootType = static_cast<std::uint32_t>(storage::ElementType::Root);

std::string Narrow(const std::u16string& name) {
  std::string out;
  for (char16_t c : name) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::uint32_t Deliver(const ByteVector& bytes, std::size_t limit, std::size_t& position,
                      void* buffer, std::uint32_t count) {
  const std::size_t end = std::min(bytes.size(), limit);
  const std::size_t available = position < end ? end - position : 0;
  const auto delivered = static_cast<std::uint32_t>(std::min<std::size_t>(count, available));
  if (delivered > 0) std::memcpy(buffer, bytes.data() + position, delivered);
  position += delivered;
  return delivered;
}

}  // namespace

// ---------------------------------------------------------------- MemoryStream

MemoryStream::MemoryStream(ByteVector bytes, std::size_t limit)
    : bytes_(std::move(bytes)), limit_(limit) {}

std::uint32_t MemoryStream::Read(void* buffer, std::uint32_t count) {
  reads_.push_back(count);
  return Deliver(bytes_, limit_, position_, buffer, count);
}

// ---------------------------------------------------------------- the objects

class MemoryDocument::StreamImpl : public storage::Stream {
public:
  StreamImpl(MemoryDocument& doc, Id id) : doc_(doc), id_(id) { doc_.Acquire(); }
  ~StreamImpl() override { doc_.Release("stream", id_); }
  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    Entry& e = doc_.entries_[id_];
    e.reads.push_back(count);
    const std::uint32_t delivered = Deliver(e.data, e.limit, position_, buffer, count);
    if (doc_.log_on_) {
      doc_.Log("read " + doc_.PathOf(id_) + " " + std::to_string(count) + " -> " +
               std::to_string(delivered));
    }
    return delivered;
  }

private:
  MemoryDocument& doc_;
  Id id_;
  std::size_t position_ = 0;
};

class MemoryDocument::EnumeratorImpl : public storage::Enumerator {
public:
  EnumeratorImpl(MemoryDocument& doc, Id id) : doc_(doc), id_(id) { doc_.Acquire(); }
  ~EnumeratorImpl() override { doc_.Release("enum", id_); }
  Result Next(storage::Element& element) override {
    const Entry& e = doc_.entries_[id_];
    if (next_ == e.fail_next_at) {
      if (doc_.log_on_) doc_.Log("next " + doc_.PathOf(id_) + " -> failed");
      return Result::Failed;
    }
    if (next_ >= e.children.size()) {
      if (doc_.log_on_) doc_.Log("next " + doc_.PathOf(id_) + " -> done");
      return Result::Done;
    }
    const Entry& child = doc_.entries_[e.children[next_++]];
    element.name = child.name;
    element.type = child.type;
    element.size = child.reported_size;
    if (doc_.log_on_) doc_.Log("next " + doc_.PathOf(id_) + " -> " + Narrow(child.name));
    return Result::Element;
  }

private:
  MemoryDocument& doc_;
  Id id_;
  std::size_t next_ = 0;
};

class MemoryDocument::StorageImpl : public storage::Storage {
public:
  StorageImpl(MemoryDocument& doc, Id id) : doc_(doc), id_(id) { doc_.Acquire(); }
  ~StorageImpl() override { doc_.Release("storage", id_); }

  std::unique_ptr<storage::Enumerator> EnumElements() override {
    const bool fail = doc_.entries_[id_].fail_enum;
    if (doc_.log_on_) doc_.Log("enum " + doc_.PathOf(id_) + (fail ? " -> failed" : ""));
    if (fail) return nullptr;
    return std::make_unique<EnumeratorImpl>(doc_, id_);
  }
  std::unique_ptr<storage::Storage> OpenStorage(const std::u16string& name) override {
    const Id child = Open(name, kStorage);
    if (child == kNone) return nullptr;
    return std::make_unique<StorageImpl>(doc_, child);
  }
  std::unique_ptr<storage::Stream> OpenStream(const std::u16string& name) override {
    const Id child = Open(name, kStream);
    if (child == kNone) return nullptr;
    return std::make_unique<StreamImpl>(doc_, child);
  }

private:
  static constexpr Id kNone = static_cast<Id>(-1);

  Id Open(const std::u16string& name, std::uint32_t type) {
    for (Id child : doc_.entries_[id_].children) {
      Entry& e = doc_.entries_[child];
      if (e.name != name || e.type != type) continue;
      const std::string path = doc_.log_on_ ? doc_.PathOf(child) : std::string();
      if (e.throw_on_open) throw std::bad_alloc();
      if (e.fail_open) {
        if (doc_.log_on_) doc_.Log("open " + path + " -> failed");
        return kNone;
      }
      ++e.opened;
      if (doc_.log_on_) doc_.Log("open " + path);
      return child;
    }
    if (doc_.log_on_) doc_.Log("open " + doc_.PathOf(id_) + "/" + Narrow(name) + " -> missing");
    return kNone;
  }

  MemoryDocument& doc_;
  Id id_;
};

// ---------------------------------------------------------------- MemoryDocument

MemoryDocument::MemoryDocument() {
  Entry root;
  root.name = u"Root Entry";
  root.type = kRootType;
  entries_.push_back(std::move(root));
}

MemoryDocument::MemoryDocument(const Node& root) : MemoryDocument() {
  // Without recursion, so that deep trees copy as well as flat ones.
  std::vector<std::pair<const Node*, Id>> pending{{&root, kRoot}};
  while (!pending.empty()) {
    auto [node, id] = pending.back();
    pending.pop_back();
    std::vector<std::pair<const Node*, Id>> children;
    for (const Node& child : node->children) {
      const Id child_id = child.is_storage ? AddStorage(id, child.name)
                                           : AddStream(id, child.name, child.data);
      if (child.is_storage) children.emplace_back(&child, child_id);
    }
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

MemoryDocument::~MemoryDocument() = default;

MemoryDocument::Id MemoryDocument::Add(Id parent, std::u16string name, std::uint32_t type) {
  if (parent >= entries_.size()) throw std::out_of_range("no such element");
  Entry e;
  e.name = std::move(name);
  e.type = type;
  e.parent = parent;
  entries_.push_back(std::move(e));
  const Id id = entries_.size() - 1;
  entries_[parent].children.push_back(id);
  return id;
}

MemoryDocument::Id MemoryDocument::AddStorage(Id parent, std::u16string name) {
  return Add(parent, std::move(name), kStorage);
}

MemoryDocument::Id MemoryDocument::AddStream(Id parent, std::u16string name, ByteVector data) {
  const Id id = Add(parent, std::move(name), kStream);
  entries_[id].reported_size = data.size();
  entries_[id].data = std::move(data);
  return id;
}

MemoryDocument::Id MemoryDocument::AddElement(Id parent, std::u16string name, std::uint32_t type,
                                              std::uint64_t size) {
  const Id id = Add(parent, std::move(name), type);
  entries_[id].reported_size = size;
  return id;
}

void MemoryDocument::Link(Id parent, Id element) {
  entries_.at(element);
  entries_.at(parent).children.push_back(element);
}
void MemoryDocument::FailEnum(Id storage) { entries_.at(storage).fail_enum = true; }
void MemoryDocument::FailNext(Id storage, std::size_t position) {
  entries_.at(storage).fail_next_at = position;
}
void MemoryDocument::FailOpen(Id element) { entries_.at(element).fail_open = true; }
void MemoryDocument::ThrowOnOpen(Id element) { entries_.at(element).throw_on_open = true; }
void MemoryDocument::SetReportedSize(Id element, std::uint64_t size) {
  entries_.at(element).reported_size = size;
}
void MemoryDocument::LimitDelivery(Id stream, std::size_t bytes) { entries_.at(stream).limit = bytes; }

std::unique_ptr<storage::Storage> MemoryDocument::OpenRoot() {
  return std::make_unique<StorageImpl>(*this, kRoot);
}

const std::vector<std::uint32_t>& MemoryDocument::Reads(Id stream) const {
  return entries_.at(stream).reads;
}

std::size_t MemoryDocument::OpenCount(Id element) const { return entries_.at(element).opened; }

std::string MemoryDocument::PathOf(Id id) const {
  std::vector<Id> chain;
  for (Id at = id; at != kRoot; at = entries_[at].parent) chain.push_back(at);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += Narrow(entries_[*it].name);
  }
  return path;
}

void MemoryDocument::Acquire() {
  ++live_;
  max_live_ = std::max(max_live_, live_);
}

void MemoryDocument::Release(const char* what, Id id) {
  --live_;
  if (log_on_) Log(std::string("release ") + what + " " + PathOf(id));
}

void MemoryDocument::Log(std::string line) { log_.push_back(std::move(line)); }

}  // namespace lumerca::testing
