#pragma once

// Work on several threads whose results are taken in the order of the work.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <system_error>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tools/system.h"

namespace lumerca::tools {

// Starts up to `count` threads running `body` (fewer when the system refuses
// more), with the stop signals blocked in them, so that the signals reach
// the calling thread.
inline std::vector<std::thread> StartWithoutStopSignals(unsigned count,
                                                        const std::function<void()>& body) {
  KeepStopSignalsFromNewThreads();
  std::vector<std::thread> threads;
  try {
    for (unsigned t = 0; t < count; ++t) threads.emplace_back(body);
  } catch (const std::system_error&) {
  }
  LetNewThreadsTakeStopSignals();
  return threads;
}

// Runs `work(i)` for i = 0, 1, ... count - 1, `jobs` at a time on threads of
// their own, taking the items in order, and hands each result to `take(i,
// result)` on the calling thread in the order of i (a result that is ready
// early waits for those before it). `tick()` runs on the calling thread
// between results, at least ten times a second. Once `stop()` is true, no
// further item starts; the ones started finish and are taken. The threads
// leave the stop signals to the calling thread. Returns how many items
// were taken.
template <typename Result>
std::size_t RunInOrder(std::size_t count, unsigned jobs,
                       const std::function<Result(std::size_t)>& work,
                       const std::function<void(std::size_t, Result&)>& take,
                       const std::function<void()>& tick, const std::function<bool()>& stop) {
  std::mutex mutex;
  std::condition_variable ready;
  std::vector<std::optional<Result>> results(count);
  std::size_t started = 0;
  unsigned finished_threads = 0;

  auto worker = [&] {
    for (;;) {
      std::size_t i = 0;
      {
        std::lock_guard lock(mutex);
        if (started == count || stop()) break;
        i = started++;
      }
      Result result = work(i);
      std::lock_guard lock(mutex);
      results[i] = std::move(result);
      ready.notify_one();
    }
    std::lock_guard lock(mutex);
    ++finished_threads;
    ready.notify_one();
  };

  std::vector<std::thread> pool =
      StartWithoutStopSignals(static_cast<unsigned>(std::min<std::size_t>(jobs, count)), worker);
  auto threads = static_cast<unsigned>(pool.size());
  if (threads == 0 && count > 0) {  // no thread could start: the calling thread works alone
    threads = 1;
    worker();
  }
  std::size_t taken = 0;
  std::unique_lock lock(mutex);
  while (taken < count && !(finished_threads == threads && taken == started)) {
    if (results[taken]) {
      Result result = std::move(*results[taken]);
      results[taken].reset();
      lock.unlock();
      take(taken, result);
      lock.lock();
      ++taken;
      continue;
    }
    lock.unlock();
    tick();
    lock.lock();
    ready.wait_for(lock, std::chrono::milliseconds(100), [&] {
      return results[taken].has_value() || finished_threads == threads;
    });
  }
  lock.unlock();
  for (std::thread& thread : pool) thread.join();
  return taken;
}

}  // namespace lumerca::tools
