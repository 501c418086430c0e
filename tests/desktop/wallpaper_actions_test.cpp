// The window's wallpaper commands, chosen from the preview's context menu,
// on a window with two screens (the larger by pixels has the higher pixel
// ratio) and the stand-in portal on the session bus (PV_PORTAL_RECORD holds
// what it received): the file saved, what the portal read, the preview,
// the way back, and the window's own settings afterwards.

#include "app/wallpaper_actions.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/main_window.h"
#include "app/window_menu.h"
#include "canvas/recipe.h"
#include "canvas/sources.h"
#include "imaging/picture_file.h"
#include "imaging/qt_bridge.h"

using namespace pictovance;

namespace {

constexpr int kScreenWidth = 1280;  // 640 x 400 at a pixel ratio of 2
constexpr int kScreenHeight = 800;

QImage Pixels(const Image& image) {
  return ToQImage(image.GetPicture()).convertToFormat(QImage::Format_RGB32);
}

// Chooses the entry of the preview's context menu with this text.
bool Choose(MainWindow& window, const QString& text) {
  for (QAction* action : window.Commands().Menu()->actions()) {
    if (action->text() == text) {
      action->trigger();
      return true;
    }
  }
  return false;
}

QByteArray Bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class WallpaperActionsTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void paintsAtTheScreensSizeWithTheWindowsSettings();
  void setsThePictureShown();

 private:
  // The one file in Wallpapers, after checking that it is the one the
  // portal read.
  QString SetFile();

  QTemporaryDir m_program;
  Random m_rng{3};
  std::unique_ptr<MainWindow> m_window;
  qsizetype m_calls = 0;
};

void WallpaperActionsTest::init() {
  QVERIFY2(!qEnvironmentVariable("PV_PORTAL_RECORD").isEmpty(), "run me through fake-portal");
  QVERIFY(QDir(m_program.path() + QStringLiteral("/Wallpapers")).removeRecursively());
  m_rng.Script({0.9});  // no About panel
  m_window = std::make_unique<MainWindow>(m_rng, m_program.path().toStdString());
  m_window->Start();
  m_window->findChild<QCheckBox*>(QStringLiteral("chkYOBA"))->setChecked(false);
}

QString WallpaperActionsTest::SetFile() {
  const QDir folder(m_program.path() + QStringLiteral("/Wallpapers"));
  const QStringList files = folder.entryList(QDir::Files);
  if (files.size() != 1) return QStringLiteral("%1 files in Wallpapers").arg(files.size());
  const QString record = qEnvironmentVariable("PV_PORTAL_RECORD");
  const qsizetype calls = Bytes(record + QStringLiteral("/call")).count('\n');
  if (calls != m_calls + 1) return QStringLiteral("%1 portal calls").arg(calls - m_calls);
  m_calls = calls;
  const QString file = folder.filePath(files.first());
  if (Bytes(record + QStringLiteral("/received.png")) != Bytes(file))
    return QStringLiteral("not what the portal read");
  return file;
}

void WallpaperActionsTest::paintsAtTheScreensSizeWithTheWindowsSettings() {
  FormState& state = m_window->State();
  QTemporaryDir sources;
  QImage drop(300, 200, QImage::Format_RGB32);
  drop.fill(QColor(10, 200, 30));
  const QString dropped = sources.filePath(QStringLiteral("green.png"));
  QVERIFY(drop.save(dropped));
  QCOMPARE(LoadSourcePicture(state, *m_window, dropped.toStdString()), 0);

  QVERIFY(Choose(*m_window, QStringLiteral("Paint a wa&llpaper")));
  QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("lblWait"))->text(),
           QStringLiteral("Wallpaper set: desktop portal"));
  const QString file = SetFile();
  QVERIFY2(file.endsWith(QLatin1String(".png")), qPrintable(file));

  const QImage saved = QImage(file).convertToFormat(QImage::Format_RGB32);
  QCOMPARE(saved.size(), QSize(kScreenWidth, kScreenHeight));
  QVERIFY2(state.Result && Pixels(*state.Result) == saved, "the picture shown is not the one set");
  const Recipe recipe = ParseRecipe(ReadPngTexts(file.toStdString()));
  QCOMPARE(recipe.width, kScreenWidth);
  QCOMPARE(recipe.effects, false);
  QCOMPARE(recipe.sources.size(), std::size_t{1});
  QVERIFY(recipe.sources[0].fitted && recipe.sources[0].limitW == kScreenWidth);

  // The window's own size and source are as before.
  QCOMPARE(state.CanvasW, 800);
  QCOMPARE(state.CanvasH, 400);
  QCOMPARE(state.Sources.at(0).Width(), 800);
  QCOMPARE(state.SourceFiles.at(0).limitW, 800);

  // On the way back it is painted again as it was set.
  m_window->Randomize();
  QCOMPARE(Pixels(*state.Result).size(), QSize(800, 400));
  m_window->ShowPrevious();
  QVERIFY2(Pixels(*state.Result) == saved, "going back paints another picture");
}

void WallpaperActionsTest::setsThePictureShown() {
  FormState& state = m_window->State();
  QVERIFY(Choose(*m_window, QStringLiteral("Set as &wallpaper")));
  QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("lblWait"))->text(), QStringLiteral("Nothing to set"));

  m_window->Randomize();
  QVERIFY(state.Result);
  const QImage shown = Pixels(*state.Result);
  QVERIFY(Choose(*m_window, QStringLiteral("Set as &wallpaper")));
  QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("lblWait"))->text(),
           QStringLiteral("Wallpaper set: desktop portal"));
  const QString file = SetFile();
  QVERIFY2(file.endsWith(QLatin1String(".png")), qPrintable(file));
  QVERIFY2(QImage(file).convertToFormat(QImage::Format_RGB32) == shown, "the file is not the picture shown");
  QCOMPARE(ParseRecipe(ReadPngTexts(file.toStdString())).width, 800);
  QVERIFY2(state.Result && Pixels(*state.Result) == shown, "the picture shown changed");
  QVERIFY2(!state.Busy, "the window stays busy");
}

QTEST_MAIN(WallpaperActionsTest)
#include "wallpaper_actions_test.moc"
