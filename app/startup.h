// Start-up and shutdown around the window: one copy at a time, the look of
// the controls, the check that pictures can be made at all, and closing on
// the system's termination signals.
//
// The window's own part of start-up (title, showing, focus, the About panel
// in one start of five, the preview colour, Set) is MainWindow::Start.
#pragma once

#include <signal.h>

#include <QLockFile>
#include <QObject>
#include <QString>
#include <optional>
#include <string>

class QSocketNotifier;
class QWidget;

namespace pictovance {

// The single-copy lock file: in the user's runtime folder, or in the shared
// temporary folder under a name that carries the user id.
QString DefaultLockPath();

// Held for as long as this copy runs. A lock left by a copy that died is
// recognised by its process id and taken over.
class SingleCopyLock {
 public:
  explicit SingleCopyLock(const QString& path);
  // False when another running copy holds the lock.
  bool Acquire();

 private:
  QLockFile m_lock;
};

// The platform's own style for the controls, Fusion where none is offered.
void EnableNativeLook();

// Creates a test image with a 1 x 1 bitmap; the error's description when
// the image object cannot work.
std::optional<std::string> TestImageComponent();

// SIGTERM, SIGINT and SIGHUP become close requests of the window, which
// refuses them like any other while a picture or an import is under way.
// One instance at a time; the previous handlers come back when it is gone.
class CloseOnTerminate : public QObject {
  Q_OBJECT

 public:
  explicit CloseOnTerminate(QWidget* window);
  ~CloseOnTerminate() override;

 signals:
  void Requested();

 private:
  QWidget* m_window;
  QSocketNotifier* m_notifier = nullptr;
  struct sigaction m_previous[3];
};

// The program: returns its exit code.
int RunProgram(int& argc, char** argv);

}  // namespace pictovance
