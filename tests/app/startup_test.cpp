// Start-up around the window: the single-copy lock and where it lives, and
// termination signals turned into close requests.

#include "app/startup.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/main_window.h"

using namespace pictovance;

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void secondCopyIsRefused();
  void lockOfDeadCopyIsTakenOver();
  void lockPath_data();
  void lockPath();
  void terminationSignalClosesWhenIdle_data();
  void terminationSignalClosesWhenIdle();
  void previousHandlersComeBack();

 private:
  QTemporaryDir m_dir;
};

void StartupTest::initTestCase() { QVERIFY2(m_dir.isValid(), "no temporary folder"); }

void StartupTest::secondCopyIsRefused() {
  const QString path = m_dir.filePath(QStringLiteral("second.lock"));
  auto first = std::make_unique<SingleCopyLock>(path);
  QVERIFY2(first->Acquire(), "the first copy could not take the lock");
  SingleCopyLock second(path);
  QVERIFY2(!second.Acquire(), "a second copy took the lock while the first runs");
  first.reset();  // the first copy ends
  SingleCopyLock third(path);
  QVERIFY2(third.Acquire(), "the lock stayed behind after the first copy ended");
}

// A copy that dies without cleaning up leaves its lock file; the next start
// must not take it for a running copy.
void StartupTest::lockOfDeadCopyIsTakenOver() {
  const QString path = m_dir.filePath(QStringLiteral("dead.lock"));
  const pid_t child = ::fork();
  QVERIFY2(child >= 0, "fork failed");
  if (child == 0) {
    auto* lock = new SingleCopyLock(path);  // never released: the copy "crashes"
    ::_exit(lock->Acquire() ? 0 : 1);
  }
  int status = 0;
  QCOMPARE(::waitpid(child, &status, 0), child);
  QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the child could not take the lock");
  QVERIFY2(QFile::exists(path), "the dead copy left no lock file to test with");
  SingleCopyLock next(path);
  QVERIFY2(next.Acquire(), "a lock left by a dead copy blocks the next start");
}

void StartupTest::lockPath_data() {
  QTest::addColumn<QString>("runtime");  // XDG_RUNTIME_DIR, or "-" for unset
  QTest::addColumn<QString>("folder");
  QTest::newRow("runtime folder") << m_dir.path() << m_dir.path();
  QTest::newRow("runtime folder missing") << m_dir.filePath(QStringLiteral("gone")) << QDir::tempPath();
  QTest::newRow("no runtime folder") << QStringLiteral("-") << QDir::tempPath();
}

void StartupTest::lockPath() {
  QFETCH(QString, runtime);
  QFETCH(QString, folder);
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  const bool wasSet = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
  if (runtime == QLatin1String("-")) {
    qunsetenv("XDG_RUNTIME_DIR");
  } else {
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
  }
  const QString path = DefaultLockPath();
  if (wasSet) {
    qputenv("XDG_RUNTIME_DIR", saved);
  } else {
    qunsetenv("XDG_RUNTIME_DIR");
  }
  QCOMPARE(path, folder + QStringLiteral("/pictovance-%1.lock").arg(::getuid()));
}

void StartupTest::terminationSignalClosesWhenIdle_data() {
  QTest::addColumn<int>("signal");
  QTest::addColumn<bool>("busy");
  QTest::newRow("SIGTERM, idle") << SIGTERM << false;
  QTest::newRow("SIGINT, idle") << SIGINT << false;
  QTest::newRow("SIGHUP, idle") << SIGHUP << false;
  QTest::newRow("SIGTERM, busy") << SIGTERM << true;
}

void StartupTest::terminationSignalClosesWhenIdle() {
  QFETCH(int, signal);
  QFETCH(bool, busy);
  Random rng(1);
  MainWindow window(rng, m_dir.path().toStdString());
  window.show();
  auto* closer = new CloseOnTerminate(&window);
  QSignalSpy requests(closer, &CloseOnTerminate::Requested);
  window.State().Busy = busy;
  QCOMPARE(::raise(signal), 0);
  QTRY_COMPARE(requests.size(), 1);
  QCOMPARE(window.isVisible(), busy);
  delete closer;
}

void StartupTest::previousHandlersComeBack() {
  struct sigaction before = {};
  QCOMPARE(::sigaction(SIGTERM, nullptr, &before), 0);
  QWidget window;
  {
    CloseOnTerminate closer(&window);
    closer.setParent(nullptr);
    struct sigaction during = {};
    QCOMPARE(::sigaction(SIGTERM, nullptr, &during), 0);
    QVERIFY2(during.sa_handler != before.sa_handler, "no handler installed");
  }
  struct sigaction after = {};
  QCOMPARE(::sigaction(SIGTERM, nullptr, &after), 0);
  QVERIFY2(after.sa_handler == before.sa_handler, "the previous handler was not restored");
}

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
