#include "imaging/threads.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <opencv2/core.hpp>
#include <thread>
#include <vector>

namespace pictovance {

namespace {

std::atomic<int> g_pictureThreads{0};  // 0: not set, one per processor

}  // namespace

int ProcessorCount() noexcept {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(CPU_COUNT(&set), 1);
  return static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
}

int PictureThreads() noexcept {
  const int threads = g_pictureThreads.load(std::memory_order_relaxed);
  return threads > 0 ? threads : ProcessorCount();
}

void SetPictureThreads(int threads) {
  threads = std::max(threads, 1);
  g_pictureThreads.store(threads, std::memory_order_relaxed);
  cv::setNumThreads(threads);
}

void RunInParallel(int count, int threads, const std::function<void(int)>& task) {
  threads = std::clamp(threads, 1, std::max(count, 1));
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr failure;
  std::mutex failureMutex;
  const auto work = [&] {
    for (int k = next.fetch_add(1); k < count && !failed.load(); k = next.fetch_add(1)) {
      try {
        task(k);
      } catch (...) {
        const std::lock_guard lock(failureMutex);
        if (!failure) failure = std::current_exception();
        failed = true;
      }
    }
  };
  {
    std::vector<std::jthread> helpers;
    try {
      helpers.reserve(static_cast<std::size_t>(threads - 1));
      for (int t = 1; t < threads; ++t) helpers.emplace_back(work);
    } catch (const std::exception&) {
      // No more threads (or memory for them) to be had: the ones running
      // share the work, and a task never sees a failure that is not its own.
    }
    work();
  }
  if (failure) std::rethrow_exception(failure);
}

void ForEachRowBand(int height, int bands, const std::function<void(int, int, int)>& task) {
  if (height <= 0) return;
  bands = std::clamp(bands, 1, height);
  RunInParallel(bands, bands, [&](int band) {
    task(band, static_cast<int>(std::int64_t{height} * band / bands),
         static_cast<int>(std::int64_t{height} * (band + 1) / bands));
  });
}

}  // namespace pictovance
