#include "tools/render/batch.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "canvas/recipe.h"
#include "generator/driver.h"
#include "imaging/threads.h"
#include "tools/render/progress.h"

namespace pictovance::render {

namespace {

// Written by the signal handler: a lock-free atomic is safe to store there.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
// Until the first file is written, a stop signal ends the process at once:
// a decoder may run for seconds and reads no flag.
std::atomic<bool> g_betweenPictures{false};
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<int> g_stopLineFd{STDERR_FILENO};

extern "C" void OnStopSignal(int signal) {
  if (!g_betweenPictures.load(std::memory_order_relaxed)) {
    // Only async-signal-safe calls: one line, then the end.
    static const char kLine[] = "pictovance-render: interrupted\n";
    [[maybe_unused]] const ssize_t ignored = ::write(g_stopLineFd.load(), kLine, sizeof kLine - 1);
    ::_exit(128 + signal);
  }
  g_stopSignal.store(signal, std::memory_order_relaxed);
}

// The main thread wakes this often to look for a stop signal and to redraw
// the progress bar.
constexpr auto kWakeInterval = std::chrono::milliseconds(100);
// Pictures being painted when a stop signal comes are finished if they
// finish within this; otherwise the process ends without them.
constexpr auto kStopGrace = std::chrono::milliseconds(700);

struct CanvasSize {
  std::uint64_t width;
  std::uint64_t height;
};

// The largest canvas a picture can get: the asked size, or a source that
// keeps its own larger size (a canvas is a copy of a source in source mode).
CanvasSize LargestCanvas(const FormState& model) {
  CanvasSize size{static_cast<std::uint64_t>(model.CanvasW < 1 ? 800 : model.CanvasW),
                  static_cast<std::uint64_t>(model.CanvasH < 1 ? 400 : model.CanvasH)};
  for (const Image& source : model.Sources) {
    const auto w = static_cast<std::uint64_t>(source.Width());
    const auto h = static_cast<std::uint64_t>(source.Height());
    if (w * h > size.width * size.height) size = {w, h};
  }
  return size;
}

}  // namespace

Painter::Painter(const FormState& model, bool effects, std::uint64_t nameSeed)
    : form(effects), nameDigits(nameSeed) {
  state.FixedSize = model.FixedSize;
  state.CanvasW = model.CanvasW;
  state.CanvasH = model.CanvasH;
  state.Palette = model.Palette;
  for (const Image& source : model.Sources) {
    Image copy;
    copy.AssignPicture(source.GetPicture());
    copy.SetBackColor(std::to_string(source.BackColor()));
    state.Sources.push_back(std::move(copy));
  }
  state.SourceCount = static_cast<std::int32_t>(state.Sources.size());
  state.SourceFiles = model.SourceFiles;
}

std::filesystem::path RenderPicture(Painter& painter, std::uint64_t runSeed, std::int64_t index,
                                    const std::filesystem::path& folder) {
  // The picture carries its recipe, so it can be painted again on its own.
  PaintPicture(painter.state, painter.form, PictureSeed(runSeed, static_cast<std::uint64_t>(index)));
  if (!painter.state.Result) throw ImageError(kErrorInvalidArgument, "No picture was painted");
  Image picture = std::move(*painter.state.Result);
  painter.state.Result.reset();
  return SaveResultPicture(picture, folder, painter.nameDigits, painter.names);
}

int RunBatch(const FormState& model, const BatchSettings& settings, std::ostream& out) {
  const CanvasSize canvas = LargestCanvas(model);
  int jobs = static_cast<int>(std::clamp<std::int64_t>(settings.count, 1, std::max(settings.jobs, 1)));
  const std::uint64_t jobBytes = JobBytes(canvas.width, canvas.height);
  const MemoryLimit memory = UsableMemory();
  const int fitting = JobsThatFit(jobs, jobBytes, memory.bytes);
  if (fitting < jobs) {
    constexpr std::uint64_t kMiB = 1 << 20;
    std::cerr << "pictovance-render: painting with " << fitting << (fitting == 1 ? " job" : " jobs") << ", not "
              << jobs << ": a job at " << canvas.width << "x" << canvas.height << " holds about "
              << (jobBytes + kMiB - 1) / kMiB << " MB, and a run keeps within half of " << memory.what
              << " (" << memory.bytes / kMiB << " MB)\n";
    jobs = fitting;
  }

  // Jobs and the threads inside each picture share the processors: with
  // as many jobs as processors every picture keeps to one thread, with one
  // job a big picture uses them all.
  SetPictureThreads(std::max(1, DefaultJobs() / jobs));

  LoadImageFormats();
  const std::uint64_t nameSeed = FreshSeed();
  std::vector<std::unique_ptr<Painter>> painters;
  for (int j = 0; j < jobs; ++j) {
    painters.push_back(std::make_unique<Painter>(model, settings.effects, PictureSeed(nameSeed, j)));
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::int64_t, std::filesystem::path> done;  // finished, not yet printed
  std::atomic<std::int64_t> next{0};
  std::atomic<bool> stop{false};
  int running = jobs;
  std::string failure;

  const auto work = [&](Painter& painter) {
    while (!stop.load() && g_stopSignal.load(std::memory_order_relaxed) == 0) {
      const std::int64_t k = next.fetch_add(1);
      if (k >= settings.count) break;
      try {
        std::filesystem::path path = RenderPicture(painter, settings.seed, settings.first + k, settings.out);
        const std::lock_guard lock(mutex);
        done.emplace(k, std::move(path));
      } catch (const std::exception& error) {
        stop = true;
        const std::lock_guard lock(mutex);
        if (failure.empty()) failure = error.what();
      }
      changed.notify_one();
    }
    const std::lock_guard lock(mutex);
    --running;
    changed.notify_one();
  };

  // Only the main thread takes the stop signals, so no worker's file
  // writing is ever interrupted by one.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  std::vector<std::jthread> threads;
  for (auto& painter : painters) threads.emplace_back(work, std::ref(*painter));
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);

  ProgressMeter meter(stderr, settings.progress, settings.count);
  meter.Update(0, true);
  std::int64_t printed = 0;  // the pictures below this index are handed on
  std::int64_t written = 0;
  bool outputClosed = false;
  std::vector<std::filesystem::path> ready;
  std::optional<std::chrono::steady_clock::time_point> stopSeen;
  std::unique_lock lock(mutex);
  for (;;) {
    changed.wait_for(lock, kWakeInterval);
    const bool finished = running == 0;
    if (!stopSeen && g_stopSignal.load(std::memory_order_relaxed) != 0) {
      stopSeen = std::chrono::steady_clock::now();
    }
    if (!finished && stopSeen && std::chrono::steady_clock::now() - *stopSeen > kStopGrace) {
      // A large picture can take far longer than anyone waits for Ctrl+C:
      // what is complete has been printed, and a picture still in work
      // has no file under its name yet.
      lock.unlock();
      out.flush();
      meter.Finish(written, true);
      std::cerr << "pictovance-render: stopped; pictures still being painted were dropped" << std::endl;
      std::_Exit(128 + g_stopSignal.load());
    }
    // Paths go out in index order; once every worker has ended, a picture
    // that failed leaves a gap that no later one waits for.
    for (auto it = done.begin(); it != done.end() && (finished || it->first == printed);
         it = done.erase(it)) {
      ready.push_back(std::move(it->second));
      printed = it->first + 1;
    }
    lock.unlock();
    for (const auto& path : ready) out << path.string() << '\n';
    if (!ready.empty()) out.flush();
    written += static_cast<std::int64_t>(ready.size());
    ready.clear();
    meter.Update(written);
    // Nobody reads the paths any more (a pipe into `head`, say): stop as
    // for a signal, since the files can no longer be told to anyone.
    if (!out && !outputClosed) {
      outputClosed = true;
      stop = true;
    }
    lock.lock();
    if (finished) break;
  }
  lock.unlock();
  threads.clear();

  const int signal = outputClosed ? SIGPIPE : g_stopSignal.load();
  meter.Finish(written, signal != 0);
  if (!failure.empty()) std::cerr << "pictovance-render: " << failure << "\n";
  if (signal != 0) return 128 + signal;
  return failure.empty() ? 0 : 1;
}

void StopLineGoesTo(int fd) { g_stopLineFd = fd; }

void StopBetweenPictures() { g_betweenPictures = true; }

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed output must not end the process in the middle of a save; the
  // batch notices the failed write instead.
  std::signal(SIGPIPE, SIG_IGN);
}

std::string PrepareOutFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder)) {
    return "cannot use \"" + folder.string() + "\" as the output folder" + (ec ? ": " + ec.message() : "");
  }
  try {
    // A file that is never named: nothing for anyone to see, even for a moment.
    const NewFile probe(folder, "", 0);
  } catch (const ImageError& error) {
    const std::string cause = error.SystemError() != 0 ? std::strerror(error.SystemError()) : error.Description();
    return "cannot write into the folder \"" + folder.string() + "\": " + cause;
  }
  return "";
}

int DefaultJobs() { return ProcessorCount(); }

std::uint64_t FreshSeed() {
  std::random_device entropy;
  const auto clock = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  return (static_cast<std::uint64_t>(entropy()) << 32 ^ entropy()) ^ clock;
}

}  // namespace pictovance::render
