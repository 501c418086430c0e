// Where Save puts pictures, seen from outside: the files that appear, the
// folder the results-folder button opens, the status line when even the
// fallback folder cannot be written or no program can open the folder, and
// the rule that sends an installed copy's pictures to the pictures folder.
//
// A read-only folder is a tmpfs mounted read-only inside a mount namespace
// of this process alone (for root, whom permission bits do not stop), or a
// folder without write permission for anyone else.

#include "desktop/results_folder.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

#include "app/main_window.h"

using namespace pictovance;

namespace {

class UrlRecorder : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> urls;

 public slots:
  void Open(const QUrl& url) { urls.append(url); }
};

QStringList FilesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden); }

}  // namespace

class ResultsFolderTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void cleanupTestCase();
  void savesWhereItCanWrite_data();
  void savesWhereItCanWrite();
  void installedCopiesSaveIntoPictures_data();
  void installedCopiesSaveIntoPictures();
  void nowhereToWriteIsReadable();
  void noFileManagerIsReadable();

 private:
  // Makes folder (existing, empty) read-only; false when this system does
  // not let the test do that.
  bool MakeReadOnly(const QString& folder);
  std::unique_ptr<MainWindow> OpenWindow(const QString& programFolder);
  // Randomize, then Save.
  void PaintAndSave(MainWindow& window);

  QTemporaryDir m_dir;
  QString m_home;
  UrlRecorder m_urls;
  bool m_ownMounts = false;
  QStringList m_readOnly;  // undone after each test, so the folders can go
  Random m_rng;
};

void ResultsFolderTest::initTestCase() {
  QVERIFY2(m_dir.isValid(), "no temporary folder");
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_urls, "Open");
  if (::geteuid() == 0) {
    // Mounts made from here on vanish with this process.
    m_ownMounts =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }
}

void ResultsFolderTest::init() {
  static int round = 0;
  m_home = m_dir.filePath(QStringLiteral("home%1").arg(++round));
  QVERIFY(QDir().mkpath(m_home));
  qputenv("HOME", m_home.toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (m_home + QStringLiteral("/.config")).toLocal8Bit());
  m_urls.urls.clear();
}

void ResultsFolderTest::cleanup() {
  for (const QString& folder : std::as_const(m_readOnly)) {
    const QByteArray path = folder.toLocal8Bit();
    if (::geteuid() == 0) {
      ::umount2(path.constData(), MNT_DETACH);
    } else {
      ::chmod(path.constData(), 0755);
    }
  }
  m_readOnly.clear();
}

void ResultsFolderTest::cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

bool ResultsFolderTest::MakeReadOnly(const QString& folder) {
  const QByteArray path = folder.toLocal8Bit();
  if (::geteuid() != 0) {
    if (::chmod(path.constData(), 0555) != 0) return false;
    m_readOnly << folder;
    return true;
  }
  if (!m_ownMounts || ::mount("tmpfs", path.constData(), "tmpfs", 0, "size=64k") != 0) return false;
  m_readOnly << folder;
  return ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

std::unique_ptr<MainWindow> ResultsFolderTest::OpenWindow(const QString& programFolder) {
  m_rng = Random(31);
  m_rng.Script({0.9});  // no About panel at start
  auto window = std::make_unique<MainWindow>(m_rng, programFolder.toStdString());
  window->Start();
  window->findChild<QCheckBox*>(QStringLiteral("chkYOBA"))->setChecked(false);
  return window;
}

void ResultsFolderTest::PaintAndSave(MainWindow& window) {
  window.findChild<QPushButton*>(QStringLiteral("cmdRND"))->click();
  QVERIFY2(window.State().Result.has_value(), "no picture to save");
  window.findChild<QPushButton*>(QStringLiteral("cmdSAV"))->click();
}

void ResultsFolderTest::savesWhereItCanWrite_data() {
  QTest::addColumn<bool>("programFolderWritable");
  QTest::addColumn<bool>("openedFirst");  // DIR before the first Save, or after it
  QTest::newRow("a build folder or a portable copy") << true << true;
  QTest::newRow("an installed program") << false << true;
  QTest::newRow("an installed program, saving first") << false << false;
}

void ResultsFolderTest::savesWhereItCanWrite() {
  QFETCH(bool, programFolderWritable);
  QFETCH(bool, openedFirst);
  const QString program = m_home + QStringLiteral("/program");
  QVERIFY(QDir().mkpath(program));
  if (!programFolderWritable && !MakeReadOnly(program)) {
    QSKIP("cannot make a read-only folder here (root needs mount rights for it)");
  }
  const QString pictures = m_home + QStringLiteral("/Pictures/Pictovance");
  const QString expected = programFolderWritable ? program : pictures;

  auto window = OpenWindow(program);
  // Whichever comes first makes the pictures folder.
  if (openedFirst) window->findChild<QPushButton*>(QStringLiteral("cmdDIR"))->click();
  PaintAndSave(*window);
  QCOMPARE(window->findChild<QLabel*>(QStringLiteral("lblWait"))->text(), QString());
  if (!openedFirst) window->findChild<QPushButton*>(QStringLiteral("cmdDIR"))->click();
  QCOMPARE(FilesIn(expected).size(), 1);
  QVERIFY2(FilesIn(expected).first().endsWith(QLatin1String(".png")), qPrintable(FilesIn(expected).first()));
  if (programFolderWritable) {
    QVERIFY2(!QFileInfo::exists(pictures),
             "the pictures folder was made though the program folder is writable");
  } else {
    QCOMPARE(FilesIn(program), QStringList());
  }
  // The button opens the folder Save uses, even before the first Save.
  QCOMPARE(m_urls.urls, QList<QUrl>({QUrl::fromLocalFile(expected)}));
}

void ResultsFolderTest::installedCopiesSaveIntoPictures_data() {
  QTest::addColumn<QString>("programFolder");  // "@" stands for a writable temporary folder
  QTest::addColumn<QString>("entryBeside");  // a desktop entry in ../share/applications, or none
  QTest::addColumn<bool>("installed");
  QTest::addColumn<QString>("linkTo");  // the program folder is a symbolic link to this folder
  const QString none;
  const QString own = QStringLiteral("io.github.pictovance.Pictovance.desktop");
  QTest::newRow("/usr/bin") << "/usr/bin" << none << true << none;
  QTest::newRow("/usr/local/bin") << "/usr/local/bin" << none << true << none;
  QTest::newRow("/opt/pictovance/bin") << "/opt/pictovance/bin" << none << true << none;
  QTest::newRow("/bin") << "/bin" << none << true << none;
  QTest::newRow("/sbin") << "/sbin" << none << true << none;
  QTest::newRow("/lib/pictovance") << "/lib/pictovance" << none << true << none;
  QTest::newRow("/usr/../usr/bin") << "/usr/../usr/bin" << none << true << none;
  QTest::newRow("~/.local/bin, installed there") << "@/.local/bin" << own << true << none;
  QTest::newRow("a link into /usr") << "@/linked" << none << true << "/usr/bin";
  // /opt itself can be written by root, so only its being a system folder
  // sends the pictures elsewhere.
  QTest::newRow("a link to /opt") << "@/to-opt" << none << true << "/opt";
  QTest::newRow("a build folder") << "@/build/app" << none << false << none;
  QTest::newRow("a portable copy in a bin folder") << "@/portable/bin" << none << false << none;
  QTest::newRow("a bin folder beside other programs' entries")
      << "@/other/bin" << "org.example.Other.desktop" << false << none;
  QTest::newRow("/usrlocal/bin, no system folder") << "@/usrlocal/bin" << none << false << none;
}

// Whoever runs it, root included (the suite runs as root in CI): an
// installed copy saves into the pictures folder even where it could write
// into its own, and a build folder or portable copy keeps saving beside it.
void ResultsFolderTest::installedCopiesSaveIntoPictures() {
  QFETCH(QString, programFolder);
  QFETCH(QString, entryBeside);
  QFETCH(bool, installed);
  QFETCH(QString, linkTo);
  programFolder.replace(QLatin1Char('@'), m_home);
  if (!linkTo.isEmpty()) {
    QVERIFY(QFile::link(linkTo, programFolder));
  } else if (programFolder.startsWith(m_home)) {
    QVERIFY(QDir().mkpath(programFolder));
    if (!entryBeside.isEmpty()) {
      const QString applications = programFolder + QStringLiteral("/../share/applications");
      QVERIFY(QDir().mkpath(applications));
      QFile entry(applications + QLatin1Char('/') + entryBeside);
      QVERIFY(entry.open(QIODevice::WriteOnly));
    }
  }
  const QString pictures = m_home + QStringLiteral("/Pictures/Pictovance");
  const std::filesystem::path chosen = ResultsFolderFor(programFolder.toStdString());
  QCOMPARE(QString::fromStdString(chosen.string()), installed ? pictures : programFolder);
}

void ResultsFolderTest::nowhereToWriteIsReadable() {
  const QString program = m_home + QStringLiteral("/program");
  const QString pictures = m_home + QStringLiteral("/Pictures/Pictovance");
  QVERIFY(QDir().mkpath(program) && QDir().mkpath(pictures));
  if (!MakeReadOnly(program) || !MakeReadOnly(pictures)) {
    QSKIP("cannot make a read-only folder here (root needs mount rights for it)");
  }
  auto window = OpenWindow(program);
  PaintAndSave(*window);
  const auto* status = window->findChild<QLabel*>(QStringLiteral("lblWait"));
  const QString expectedText = ::geteuid() == 0 ? QStringLiteral("Error: folder is read-only")
                                                : QStringLiteral("Error: no permission");
  QCOMPARE(status->text(), expectedText);
  QVERIFY2(status->toolTip().startsWith(QLatin1String("Error: ")) && status->toolTip().contains(pictures),
           qPrintable(status->toolTip()));
  QVERIFY2(
      status->toolTip().contains(QString::fromLocal8Bit(std::strerror(::geteuid() == 0 ? EROFS : EACCES))),
      qPrintable(status->toolTip()));
  QVERIFY2(window->State().Result.has_value(), "the unsaved picture was dropped");

  // The tooltip lasts until the next command.
  window->findChild<QPushButton*>(QStringLiteral("cmdRND"))->click();
  QCOMPARE(status->toolTip(), QString());
}

// DIR with no program to open the folder says so, as a failed Save does.
void ResultsFolderTest::noFileManagerIsReadable() {
  const QString program = m_home + QStringLiteral("/program");
  QVERIFY(QDir().mkpath(program));
  auto window = OpenWindow(program);
  // Neither a handler of this process nor xdg-open on the path.
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", m_home.toLocal8Bit());
  window->findChild<QPushButton*>(QStringLiteral("cmdDIR"))->click();
  qputenv("PATH", path);
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_urls, "Open");
  const auto* status = window->findChild<QLabel*>(QStringLiteral("lblWait"));
  QCOMPARE(status->text(), QStringLiteral("Error: no file manager"));
  QVERIFY2(status->toolTip().startsWith(QLatin1String("Error: ")) && status->toolTip().contains(program),
           qPrintable(status->toolTip()));
}

QTEST_MAIN(ResultsFolderTest)
#include "results_folder_test.moc"
