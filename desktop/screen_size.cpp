#include "desktop/screen_size.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace pictovance {

namespace {

std::optional<ScreenPixels> FromApplication(const QGuiApplication& application) {
  std::vector<LogicalScreen> screens;
  for (const QScreen* screen : application.screens()) {
    screens.push_back({screen->size().width(), screen->size().height(), screen->devicePixelRatio()});
  }
  return LargestScreenPixels(screens);
}

// The child's Qt messages go nowhere; a fatal one (no display) ends the
// child quietly instead of aborting it.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString&) {
  if (type == QtFatalMsg) ::_exit(1);
}

[[noreturn]] void ProbeInChild(int writeEnd) {
  ::prctl(PR_SET_DUMPABLE, 0);  // no core file, whatever happens
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) ::dup2(null, STDERR_FILENO);
  qInstallMessageHandler(QuietMessages);
  static char name[] = "pictovance-screen";
  static char* argv[] = {name, nullptr};
  static int argc = 1;
  const QGuiApplication application(argc, argv);
  if (const auto size = FromApplication(application)) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%d %d\n", size->width, size->height);
    // A failed write leaves the parent without an answer, which it reads as
    // no screen.
    if (length > 0 && ::write(writeEnd, text, static_cast<std::size_t>(length)) != length) ::_exit(1);
  }
  // No destructors, no atexit handlers: they belong to the parent.
  ::_exit(0);
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

std::optional<ScreenPixels> LargestScreenPixels(const std::vector<LogicalScreen>& screens) {
  std::optional<ScreenPixels> largest;
  std::int64_t largestArea = 0;
  for (const LogicalScreen& screen : screens) {
    const auto width = static_cast<std::int64_t>(std::llround(screen.width * screen.pixelRatio));
    const auto height = static_cast<std::int64_t>(std::llround(screen.height * screen.pixelRatio));
    if (width < 1 || height < 1 || width * height <= largestArea) continue;
    largestArea = width * height;
    const std::int64_t longest = std::max(width, height);
    if (longest <= kMaxScreenSide) {
      largest = ScreenPixels{static_cast<int>(width), static_cast<int>(height)};
    } else {
      const double scale = static_cast<double>(kMaxScreenSide) / static_cast<double>(longest);
      largest = ScreenPixels{static_cast<int>(std::max<std::int64_t>(1, std::llround(width * scale))),
                             static_cast<int>(std::max<std::int64_t>(1, std::llround(height * scale)))};
    }
  }
  return largest;
}

std::optional<ScreenPixels> ScreenPixelSize() {
  const auto* application = qobject_cast<const QGuiApplication*>(QCoreApplication::instance());
  if (application == nullptr) return std::nullopt;
  return FromApplication(*application);
}

std::optional<ScreenPixels> ProbeScreenPixelSize(int timeoutMs) {
  if (!Set("QT_QPA_PLATFORM") && !Set("WAYLAND_DISPLAY") && !Set("DISPLAY")) return std::nullopt;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    ProbeInChild(ends[1]);
  }
  ::close(ends[1]);
  if (child < 0) {
    ::close(ends[0]);
    return std::nullopt;
  }

  std::string answer;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool finished = false;
  while (!finished) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd wait{ends[0], POLLIN, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[64];
    const ssize_t got = ::read(ends[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      finished = true;
    } else if (answer.size() < 64) {
      answer.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(ends[0]);
  if (!finished) ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;

  ScreenPixels size;
  if (std::sscanf(answer.c_str(), "%d %d", &size.width, &size.height) != 2 || size.width < 1 ||
      size.height < 1) {
    return std::nullopt;
  }
  return size;
}

}  // namespace pictovance
