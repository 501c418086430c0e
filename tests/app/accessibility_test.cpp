// What assistive technology reads from the window, through QAccessible as a
// screen reader's bridge reads it: a name and a description for every
// control and for the preview, a preview description that follows the
// picture, and a status line that reads as the window's status bar. Also
// the tooltip text as shown.

#include <QAccessible>
#include <QCheckBox>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QUrl>
#include <QtTest>
#include <cerrno>
#include <memory>

#include "app/main_window.h"
#include "app/widgets.h"

using namespace pictovance;

class AccessibilityTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void everyControlHasANameAndADescription();
  void previewDescribesThePicture();
  void statusMessagesAreReadable();
  void toolTipsShowOneAmpersand();

 private:
  QTemporaryDir m_dir;
  Random m_rng;
  std::unique_ptr<MainWindow> m_window;
};

void AccessibilityTest::initTestCase() {
  QVERIFY(m_dir.isValid());
  qputenv("HOME", m_dir.filePath(QStringLiteral("home")).toLocal8Bit());
}

void AccessibilityTest::init() {
  m_rng = Random(7);
  m_rng.Script({0.9});
  m_window = std::make_unique<MainWindow>(m_rng, m_dir.path().toStdString());
  m_window->Start();
  m_window->findChild<QCheckBox*>(QStringLiteral("chkYOBA"))->setChecked(false);
}

void AccessibilityTest::cleanup() { m_window.reset(); }

// Every control of the window, every widget the keyboard can reach in it,
// and the preview: the names a screen reader says, and a description.
void AccessibilityTest::everyControlHasANameAndADescription() {
  QStringList missing;
  int walked = 0;
  for (QWidget* widget : m_window->findChildren<QWidget*>()) {
    const bool control = widget->parentWidget() == m_window.get() && !widget->objectName().isEmpty();
    if (!control && !(widget->focusPolicy() & Qt::TabFocus)) continue;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    QVERIFY2(iface != nullptr, qPrintable(widget->objectName()));
    ++walked;
    if (iface->text(QAccessible::Name).trimmed().isEmpty())
      missing << widget->objectName() + QStringLiteral(" (name)");
    if (iface->text(QAccessible::Description).trimmed().isEmpty()) {
      missing << widget->objectName() + QStringLiteral(" (description)");
    }
  }
  QVERIFY2(walked >= 14, "fewer widgets than the window's controls");
  QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("no text: ") + missing.join(QStringLiteral(", "))));

  // The captions are not what is read: RND is "New picture".
  QAccessibleInterface* randomize =
      QAccessible::queryAccessibleInterface(m_window->findChild<QWidget*>(QStringLiteral("cmdRND")));
  QCOMPARE(randomize->text(QAccessible::Name), QStringLiteral("New picture"));
  // The preview is a picture, with what the mouse does on it as actions.
  QAccessibleInterface* preview =
      QAccessible::queryAccessibleInterface(m_window->findChild<QWidget*>(QStringLiteral("picPreview")));
  QCOMPARE(preview->role(), QAccessible::Graphic);
  QAccessibleActionInterface* actions = preview->actionInterface();
  QVERIFY2(actions != nullptr, "the preview has no actions");
  actions->doAction(QAccessibleActionInterface::showMenuAction());
  auto* menu = m_window->findChild<QMenu*>(QStringLiteral("previewMenu"));
  QVERIFY2(menu != nullptr && menu->isVisible(), "ShowMenu opened no menu");
  menu->hide();
  QVERIFY2(!m_window->State().Result, "opening the menu painted");
  actions->doAction(QAccessibleActionInterface::pressAction());
  QVERIFY2(m_window->State().Result.has_value(), "Press painted no picture");
  QAccessibleInterface* status =
      QAccessible::queryAccessibleInterface(m_window->findChild<QWidget*>(QStringLiteral("lblWait")));
  QCOMPARE(status->role(), QAccessible::StatusBar);
}

void AccessibilityTest::previewDescribesThePicture() {
  QWidget* preview = m_window->findChild<QWidget*>(QStringLiteral("picPreview"));
  const auto description = [preview] {
    return QAccessible::queryAccessibleInterface(preview)->text(QAccessible::Description);
  };
  QVERIFY2(description().startsWith(QLatin1String("No picture")), qPrintable(description()));
  m_window->findChild<QPushButton*>(QStringLiteral("cmdRND"))->click();
  QCOMPARE(description(), QStringLiteral("Picture of 800 by 400 pixels in colours from a random palette"));

  QImage source(300, 200, QImage::Format_RGB32);
  source.fill(Qt::darkCyan);
  const QString path = m_dir.filePath(QStringLiteral("source.png"));
  QVERIFY(source.save(path));
  m_window->LoadDrop(std::vector<std::string>{path.toStdString(), path.toStdString()});
  m_window->findChild<QPushButton*>(QStringLiteral("cmdRND"))->click();
  QCOMPARE(description(), QStringLiteral("Picture of 800 by 400 pixels in colours from 2 source pictures"));
  // Set forgets the picture.
  m_window->findChild<QPushButton*>(QStringLiteral("cmdCLR"))->click();
  QVERIFY2(description().startsWith(QLatin1String("No picture")), qPrintable(description()));
}

// The status line is the window's status bar, named by the message it
// shows, with the whole message as its description. (Qt passes the change
// on as a name-changed event only while a screen reader listens, which the
// offscreen platform never has.)
void AccessibilityTest::statusMessagesAreReadable() {
  QAccessibleInterface* status =
      QAccessible::queryAccessibleInterface(m_window->findChild<QWidget*>(QStringLiteral("lblWait")));
  QCOMPARE(status->role(), QAccessible::StatusBar);
  QCOMPARE(status->text(QAccessible::Name), QStringLiteral("Status"));
  m_window->findChild<QPushButton*>(QStringLiteral("cmdSAV"))->click();
  QCOMPARE(status->text(QAccessible::Name), QStringLiteral("Status: Nothing to save"));

  const QString unwritable = m_dir.filePath(QStringLiteral("missing/folder"));
  m_window->findChild<QPushButton*>(QStringLiteral("cmdRND"))->click();
  m_window->ShowError(ImageError(kErrorWriteFailed, "Cannot write " + unwritable.toStdString(), ENOSPC));
  QCOMPARE(status->text(QAccessible::Name), QStringLiteral("Status: Error: disk is full"));
  QCOMPARE(status->text(QAccessible::Description), QStringLiteral("Error: Cannot write ") + unwritable);
}

void AccessibilityTest::toolTipsShowOneAmpersand() {
  m_window->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
  auto* save = m_window->findChild<QPushButton*>(QStringLiteral("cmdSAV"));
  QCOMPARE(save->toolTip(), QStringLiteral("Save current image && generate new one"));  // as designed
  const QPoint at = save->rect().center();
  QHelpEvent help(QEvent::ToolTip, at, save->mapToGlobal(at));
  QCoreApplication::sendEvent(save, &help);
  QTRY_COMPARE(QToolTip::text(), QStringLiteral("Save current image & generate new one"));
  QToolTip::hideText();
}

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
