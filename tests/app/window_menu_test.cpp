// The window's commands from the keyboard and the context menu: the menu
// lists every command with its key and opens from a right click, the Menu
// key and Shift+F10 without painting; the size presets from the keyboard;
// copying the picture; the full-size view.

#include "app/window_menu.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <memory>

#include "app/full_size_view.h"
#include "app/main_window.h"
#include "imaging/qt_bridge.h"

using namespace pictovance;

class WindowMenuTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void menuListsEveryCommandWithItsKey_data();
  void menuListsEveryCommandWithItsKey();
  void presetsFromTheKeyboard();
  void copyPutsTheFullPictureOnTheClipboard();
  void fullSizeView();

 private:
  QMenu* OpenMenu() const;
  void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

  QTemporaryDir m_dir;
  Random m_rng;
  std::unique_ptr<MainWindow> m_window;
};

void WindowMenuTest::initTestCase() {
  QVERIFY(m_dir.isValid());
  qputenv("HOME", m_dir.filePath(QStringLiteral("home")).toLocal8Bit());
}

void WindowMenuTest::init() {
  m_rng = Random(11);
  m_rng.Script({0.9});
  m_window = std::make_unique<MainWindow>(m_rng, m_dir.path().toStdString());
  m_window->Start();
  m_window->findChild<QCheckBox*>(QStringLiteral("chkYOBA"))->setChecked(false);
  m_window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void WindowMenuTest::cleanup() { m_window.reset(); }

QMenu* WindowMenuTest::OpenMenu() const {
  for (QMenu* menu : m_window->findChildren<QMenu*>()) {
    if (menu->isVisible()) return menu;
  }
  return nullptr;
}

// Through the platform window, as a keyboard sends it.
void WindowMenuTest::Press(int key, Qt::KeyboardModifiers modifiers) {
  QTest::keyClick(m_window->windowHandle(), Qt::Key(key), modifiers);
}

void WindowMenuTest::menuListsEveryCommandWithItsKey_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("right click on the preview") << "right click";
  QTest::newRow("Menu key, focus on RND") << "Menu";
  QTest::newRow("Shift+F10, focus on YOBA") << "Shift+F10";
}

void WindowMenuTest::menuListsEveryCommandWithItsKey() {
  QFETCH(QString, how);
  QWidget* preview = m_window->findChild<QWidget*>(QStringLiteral("picPreview"));
  if (how == QLatin1String("right click")) {
    const QPoint at = preview->mapTo(m_window.get(), QPoint(100, 100));
    QTest::mouseClick(m_window->windowHandle(), Qt::RightButton, {}, at);
  } else if (how == QLatin1String("Menu")) {
    m_window->findChild<QWidget*>(QStringLiteral("cmdRND"))->setFocus();
    Press(Qt::Key_Menu);
  } else {
    m_window->findChild<QWidget*>(QStringLiteral("chkYOBA"))->setFocus();
    Press(Qt::Key_F10, Qt::ShiftModifier);
  }
  QMenu* menu = nullptr;
  QTRY_VERIFY((menu = OpenMenu()) != nullptr);
  QStringList entries;
  for (QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    entries << action->text().remove(QLatin1Char('&')) + QLatin1Char('\t') +
                   action->shortcut().toString(QKeySequence::PortableText);
  }
  QCOMPARE(entries, QStringList({"New picture\tCtrl+N", "Save and paint the next\tCtrl+S", "Back\tAlt+Left",
                                 "Forward\tAlt+Right", "View full size\tF", "Copy picture\tCtrl+C",
                                 "Open source pictures...\tCtrl+O", "Paste source pictures\tCtrl+V",
                                 "Size presets...\tAlt+X", "Open pictures folder\tCtrl+D",
                                 "Set as wallpaper\t", "Paint a wallpaper\t"}));
  for (QAction* action : menu->actions()) {
    QVERIFY2(action->isShortcutVisibleInContextMenu() || action->isSeparator(), qPrintable(action->text()));
  }
  // Opening the menu painted nothing, and it is the preview's.
  QVERIFY2(!m_window->State().Result, "the menu painted a picture");
  QVERIFY2(preview->rect().contains(preview->mapFromGlobal(menu->pos())), "the menu is not over the preview");
  menu->hide();
}

void WindowMenuTest::presetsFromTheKeyboard() {
  auto* width = m_window->findChild<QLineEdit*>(QStringLiteral("txtW"));
  auto* height = m_window->findChild<QLineEdit*>(QStringLiteral("txtH"));
  width->setText(QStringLiteral("12"));
  height->setText(QStringLiteral("34"));
  Press(Qt::Key_X, Qt::AltModifier);
  QMenu* menu = nullptr;
  QTRY_VERIFY((menu = OpenMenu()) != nullptr);
  QCOMPARE(menu->objectName(), QStringLiteral("presetMenu"));
  QTest::keyClick(menu, Qt::Key_0);  // "&0 x 0", what a right click gives
  QCOMPARE(width->text(), QStringLiteral("0"));
  QCOMPARE(height->text(), QStringLiteral("0"));
  Press(Qt::Key_X, Qt::AltModifier);
  QTRY_VERIFY((menu = OpenMenu()) != nullptr);
  QTest::keyClick(menu, Qt::Key_8);  // "&800 x 400", a left click
  QCOMPARE(width->text(), QStringLiteral("800"));
  QCOMPARE(height->text(), QStringLiteral("400"));
  QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("lblRes"))->text(), QStringLiteral("800x400"));
}

void WindowMenuTest::copyPutsTheFullPictureOnTheClipboard() {
  auto* status = m_window->findChild<QLabel*>(QStringLiteral("lblWait"));
  Press(Qt::Key_C, Qt::ControlModifier);
  QCOMPARE(status->text(), QStringLiteral("Nothing to copy"));
  Press(Qt::Key_N, Qt::ControlModifier);
  QVERIFY2(m_window->State().Result.has_value(), "Ctrl+N painted no picture");
  Press(Qt::Key_C, Qt::ControlModifier);
  const QImage copied = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(copied.size(), QSize(800, 400));
  QCOMPARE(copied, ToQImage(m_window->State().Result->GetPicture()).convertToFormat(QImage::Format_RGB32));
}

// F opens the whole picture fitted to a window; 1 shows it at 100 %, larger
// than the window, with scroll bars; Esc closes it.
void WindowMenuTest::fullSizeView() {
  m_window->findChild<QLineEdit*>(QStringLiteral("txtW"))->setText(QStringLiteral("3000"));
  m_window->findChild<QLineEdit*>(QStringLiteral("txtH"))->setText(QStringLiteral("2000"));
  m_window->findChild<QPushButton*>(QStringLiteral("cmdCLR"))->click();
  m_window->findChild<QPushButton*>(QStringLiteral("cmdRND"))->click();
  Press(Qt::Key_F);
  FullSizeView* view = m_window->FullView();
  QVERIFY2(view != nullptr && view->isVisible(), "F opened no view");
  QVERIFY(QTest::qWaitForWindowExposed(view));
  QCOMPARE(view->windowTitle(), QStringLiteral("Pictovance: 3000 x 2000"));
  QVERIFY2(view->FitsWindow() && view->Zoom() < 0.9, qPrintable(QString::number(view->Zoom())));
  auto* scroll = view->findChild<QScrollArea*>();
  QCOMPARE(scroll->horizontalScrollBar()->maximum(), 0);

  QTest::keyClick(view->windowHandle(), Qt::Key_1);
  QCOMPARE(view->Zoom(), 1.0);
  QTRY_VERIFY(scroll->horizontalScrollBar()->maximum() > 0 && scroll->verticalScrollBar()->maximum() > 0);
  QTest::keyClick(view->windowHandle(), Qt::Key_F);
  QVERIFY(view->FitsWindow());
  QTest::keyClick(view->windowHandle(), Qt::Key_Escape);
  QTRY_VERIFY(!view->isVisible());
}

QTEST_MAIN(WindowMenuTest)
#include "window_menu_test.moc"
