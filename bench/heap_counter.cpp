#include "bench/heap_counter.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#include <malloc.h>

namespace lumerca::bench {
namespace {

std::atomic<std::uint64_t> g_now{0};
std::atomic<std::uint64_t> g_peak{0};

void Count(void* p) noexcept {
  const std::uint64_t now = g_now.fetch_add(malloc_usable_size(p), std::memory_order_relaxed) +
                            malloc_usable_size(p);
  std::uint64_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void Uncount(void* p) noexcept {
  if (p != nullptr) g_now.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
}

void* Allocate(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  Count(p);
  return p;
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
  void* p = nullptr;
  const auto alignment = std::max<std::size_t>(static_cast<std::size_t>(align), sizeof(void*));
  if (posix_memalign(&p, alignment, size == 0 ? 1 : size) != 0) throw std::bad_alloc();
  Count(p);
  return p;
}

void Release(void* p) noexcept {
  Uncount(p);
  std::free(p);
}

}  // namespace

std::uint64_t HeapNow() noexcept { return g_now.load(std::memory_order_relaxed); }
std::uint64_t HeapPeak() noexcept { return g_peak.load(std::memory_order_relaxed); }
void ResetHeapPeak() noexcept { g_peak.store(HeapNow(), std::memory_order_relaxed); }

}  // namespace lumerca::bench

using lumerca::bench::Allocate;
using lumerca::bench::AllocateAligned;
using lumerca::bench::Release;

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) {
  return AllocateAligned(size, align);
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
