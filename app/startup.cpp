#include "app/startup.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QStyle>
#include <QWidget>
#include <cstdio>
#include <cstring>

#include "app/main_window.h"
#include "app_info.h"
#include "generator/random.h"
#include "imaging/image.h"

namespace pictovance {

QString DefaultLockPath() {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::tempPath();
  return folder + QStringLiteral("/pictovance-%1.lock").arg(::getuid());
}

SingleCopyLock::SingleCopyLock(const QString& path) : m_lock(path) {
  // Never stale by age: only a holder that no longer runs gives it up.
  m_lock.setStaleLockTime(0);
}

bool SingleCopyLock::Acquire() { return m_lock.tryLock(0); }

void EnableNativeLook() {
  // Qt picks the desktop's style by itself; the bare "Windows" style it
  // falls back to without one looks decades old.
  if (QApplication::style()->name().compare(QStringLiteral("windows"), Qt::CaseInsensitive) == 0) {
    QApplication::setStyle(QStringLiteral("Fusion"));
  }
}

std::optional<std::string> TestImageComponent() {
  try {
    Image test;
    test.CreateBitmap(1, 1, 0);
  } catch (const ImageError& error) {
    return error.Description();
  }
  return std::nullopt;
}

namespace {

// The write end (0) is used by the signal handler, the read end (1) by the
// event loop.
int g_signalSocket[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnTerminationSignal(int) {
  const char byte = 1;
  if (::write(g_signalSocket[0], &byte, 1) < 0) {
    // Nothing can be done inside a signal handler.
  }
}

}  // namespace

CloseOnTerminate::CloseOnTerminate(QWidget* window) : QObject(window), m_window(window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0) return;
  m_notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] {
    char byte = 0;
    if (::read(g_signalSocket[1], &byte, 1) != 1) return;
    emit Requested();
    m_window->close();
  });
  struct sigaction action = {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &m_previous[i]);
}

CloseOnTerminate::~CloseOnTerminate() {
  if (m_notifier == nullptr) return;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &m_previous[i], nullptr);
  delete m_notifier;
  ::close(g_signalSocket[0]);
  ::close(g_signalSocket[1]);
  g_signalSocket[0] = g_signalSocket[1] = -1;
}

namespace {

// --help and --version, answered before any window or lock, so that they
// work without a display and while another copy runs: the exit code, or
// nothing when the program should start. Other arguments are Qt's.
std::optional<int> AnswerCommandLine(int argc, char** argv, std::FILE* out) {
  static constexpr char kUsage[] =
      "Usage: pictovance [options]\n"
      "Paints random abstract pictures in a small window.\n"
      "\n"
      "Options:\n"
      "  --help         show this text\n"
      "  --version      print the version\n"
      "\n"
      "Qt's standard options, such as -platform or -display, are taken as well.\n";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, out);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fprintf(out, "pictovance %s\n", kProgramVersion);
      return 0;
    }
  }
  return std::nullopt;
}

}  // namespace

int RunProgram(int& argc, char** argv) {
  if (const auto answered = AnswerCommandLine(argc, argv, stdout)) return *answered;
  SingleCopyLock lock(DefaultLockPath());
  if (!lock.Acquire()) return 0;

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pictovance"));
  QApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));
  // The window's application id: the desktop matches it to the entry of the
  // same name (and takes the icon from there).
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
  EnableNativeLook();

  if (const auto failure = TestImageComponent()) {
    QMessageBox::warning(nullptr, QApplication::applicationName(), QString::fromStdString(*failure));
    return 1;
  }

  // File-name digits and the About chance; pictures have seeds of their own.
  Random rng = Random::FromClock();
  MainWindow window(rng, QCoreApplication::applicationDirPath().toStdString());
  new CloseOnTerminate(&window);
  window.Start();
  return QApplication::exec();
}

}  // namespace pictovance
