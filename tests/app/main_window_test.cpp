// frmMain: its layout and texts, the routing of every control, the guards
// while a picture or an import is under way, drops on every target, the
// About panel, saving, going back and forth, and closing.

#include "app/main_window.h"

#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QWindow>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/widgets.h"
#include "canvas/about_text.h"
#include "canvas/result_file.h"
#include "imaging/qt_bridge.h"

using namespace pictovance;

namespace {

// The window with two seams: a hook that runs once inside the next
// ProcessEvents (that is, while a generation or an import lets events run),
// and a count of the pictures handed to the preview.
class TestWindow : public MainWindow {
 public:
  using MainWindow::MainWindow;

  void ProcessEvents() override {
    if (hook) {
      const std::function<void()> run = std::move(hook);
      hook = nullptr;
      run();
    }
    MainWindow::ProcessEvents();
  }
  void ShowPicture(const Picture& picture) override {
    if (!picture.IsNull()) ++picturesShown;  // Set clears with a null one
    MainWindow::ShowPicture(picture);
  }

  std::function<void()> hook;
  int picturesShown = 0;
};

// Takes the place of the desktop's file manager.
class UrlRecorder : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> urls;

 public slots:
  void Open(const QUrl& url) { urls.append(url); }
};

struct DragOutcome {
  bool accepted = false;
  Qt::DropAction action = Qt::IgnoreAction;
};

// Drags data to pos (window coordinates) and lets it go there, through the
// window's own drag-and-drop routing, as the platform does: enter, then drop
// when the enter was accepted, else leave.
DragOutcome DragAndDrop(QWidget* window, QPoint pos, const QMimeData& data) {
  QWindow* handle = window->windowHandle();
  const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
  QDragEnterEvent enter(pos, actions, &data, Qt::LeftButton, Qt::NoModifier);
  enter.setDropAction(Qt::MoveAction);  // what a file manager proposes on a plain drag
  QCoreApplication::sendEvent(handle, &enter);
  DragOutcome outcome{enter.isAccepted(), enter.dropAction()};
  if (!outcome.accepted) {
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(handle, &leave);
    return outcome;
  }
  QDropEvent drop(pos, actions, &data, Qt::LeftButton, Qt::NoModifier);
  drop.setDropAction(Qt::MoveAction);
  QCoreApplication::sendEvent(handle, &drop);
  outcome.accepted = drop.isAccepted();
  outcome.action = drop.dropAction();
  return outcome;
}

QMimeData* FileDrag(const QStringList& paths) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  for (const QString& path : paths) urls.append(QUrl::fromLocalFile(path));
  data->setUrls(urls);
  return data;
}

QString TextOf(const QWidget* widget) {
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (const auto* field = qobject_cast<const QLineEdit*>(widget)) return field->text();
  if (const auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (const auto* edit = qobject_cast<const QTextEdit*>(widget)) return edit->toPlainText();
  return QString();
}

// What a command could change, to show that a refused one changed nothing.
struct Snapshot {
  bool hasResult = false;
  qint64 previewKey = 0;
  bool aboutOpen = false;
  QString status, fileCount, resolution, width, height;
  int sources = 0;
  int canvasWidth = 0;
  QStringList saved;
  bool visible = false;
};

const char* const kTableOrder[] = {"cmdHLP", "txtW",   "txtH",    "picPreview", "cmdRND",
                                   "cmdSAV", "cmdDIR", "cmdCLR",  "lblFilecnt", "lblRes",
                                   "lblLW",  "txtHLP", "lblWait", "chkYOBA"};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void cleanupTestCase();

  void designLayout_data();
  void designLayout();
  void clientAreaIsFixed();
  void centredTexts_data();
  void centredTexts();
  void fontAndIcon();
  void stateAfterStart();
  void startOpensAboutOneTimeInFive_data();
  void startOpensAboutOneTimeInFive();
  void tabOrder();
  void enterClicks_data();
  void enterClicks();
  void specialEffectsBox_data();
  void specialEffectsBox();

  void previewRelease_data();
  void previewRelease();
  void presetLabel_data();
  void presetLabel();
  void fieldNormalisation_data();
  void fieldNormalisation();
  void typingIntoField();
  void setAppliesFields_data();
  void setAppliesFields();
  void randomizeShowsPictureOfInnerSize();
  void previewBackgroundIsTheAreasOwn();
  void generationErrorShownInStatus();
  void aboutToggleKeepsPicture();
  void finishedGenerationClosesAbout();

  void busyGuards_data();
  void busyGuards();
  void requestsDuringGeneration();
  void requestsDuringImport();
  void resultsFolderOpensEvenWhileBusy();

  void drops_data();
  void drops();
  void dropWithoutFiles();
  void droppedPipeIsRefusedWithoutWaiting();
  void freeSizeDropsSetResolution();

  void saveWritesResultAndPaintsNext();
  void saveWithoutResult();
  void saveNeverOverwrites();
  void saveIntoUnwritableFolder();
  void savedPicturePaintedAgainByTheRenderer_data();
  void savedPicturePaintedAgainByTheRenderer();
  void backAndForthShowThePicturesFirstShown();

 private:
  template <class T = QWidget>
  T* Control(const char* name) const {
    return m_window->findChild<T*>(QString::fromLatin1(name));
  }
  PreviewArea* Preview() const { return Control<PreviewArea>("picPreview"); }
  QStringList SavedFiles() const;
  Snapshot Take() const;
  static QString Differences(const Snapshot& before, const Snapshot& after);
  QPoint CentreOf(const QWidget* widget) const;
  void Perform(const QString& command);
  void Generate();
  void Drop(const QStringList& paths);
  QImage ResultPixels() const;

  QTemporaryDir m_data;
  QString m_wide;    // 1000 x 500
  QString m_tall;    // 600 x 900
  QString m_broken;  // not a picture
  QString m_missing;
  UrlRecorder m_urls;

  Random m_rng;
  std::unique_ptr<QTemporaryDir> m_results;
  std::unique_ptr<TestWindow> m_window;
};

void MainWindowTest::initTestCase() {
  QVERIFY2(m_data.isValid(), "no temporary folder");
  // A Save that falls back to the pictures folder must not reach the real one.
  qputenv("HOME", m_data.filePath(QStringLiteral("home")).toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", m_data.filePath(QStringLiteral("home/.config")).toLocal8Bit());
  const auto write = [this](const char* name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
    }
    const QString path = m_data.filePath(QString::fromLatin1(name));
    return image.save(path, "PNG") ? path : QString();
  };
  m_wide = write("wide.png", 1000, 500);
  m_tall = write("tall.png", 600, 900);
  QVERIFY2(!m_wide.isEmpty() && !m_tall.isEmpty(), "cannot write the test pictures");
  m_broken = m_data.filePath(QStringLiteral("broken.png"));
  QFile broken(m_broken);
  QVERIFY2(broken.open(QIODevice::WriteOnly) && broken.write("not a picture") > 0, "cannot write broken.png");
  broken.close();
  m_missing = m_data.filePath(QStringLiteral("missing.png"));
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_urls, "Open");
}

void MainWindowTest::init() {
  m_rng = Random(20240607);
  m_rng.Script({0.9});  // the start-up chance for the About panel fails
  m_results = std::make_unique<QTemporaryDir>();
  QVERIFY2(m_results->isValid(), "no results folder");
  m_window = std::make_unique<TestWindow>(m_rng, m_results->path().toStdString());
  m_window->Start();
  // Pictures without the finishing pass keep the suite fast; the box itself
  // is checked in specialEffectsBox and stateAfterStart.
  Control<QCheckBox>("chkYOBA")->setChecked(false);
  m_urls.urls.clear();
}

void MainWindowTest::cleanup() {
  if (m_window) m_window->State().Busy = false;
  m_window.reset();
  m_results.reset();
}

void MainWindowTest::cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

QStringList MainWindowTest::SavedFiles() const {
  return QDir(m_results->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

Snapshot MainWindowTest::Take() const {
  Snapshot s;
  FormState& state = m_window->State();
  s.hasResult = state.Result.has_value();
  s.previewKey = Preview()->Shown().cacheKey();
  s.aboutOpen = m_window->AboutVisible();
  s.status = TextOf(Control("lblWait"));
  s.fileCount = TextOf(Control("lblFilecnt"));
  s.resolution = TextOf(Control("lblRes"));
  s.width = TextOf(Control("txtW"));
  s.height = TextOf(Control("txtH"));
  s.sources = state.SourceCount;
  s.canvasWidth = state.CanvasW;
  s.saved = SavedFiles();
  s.visible = m_window->isVisible();
  return s;
}

QString MainWindowTest::Differences(const Snapshot& a, const Snapshot& b) {
  QStringList out;
  const auto check = [&out](const char* what, const auto& x, const auto& y) {
    if (!(x == y)) out << QString::fromLatin1(what);
  };
  check("result", a.hasResult, b.hasResult);
  check("preview picture", a.previewKey, b.previewKey);
  check("About panel", a.aboutOpen, b.aboutOpen);
  check("lblWait", a.status, b.status);
  check("lblFilecnt", a.fileCount, b.fileCount);
  check("lblRes", a.resolution, b.resolution);
  check("txtW", a.width, b.width);
  check("txtH", a.height, b.height);
  check("sources", a.sources, b.sources);
  check("CanvasW", a.canvasWidth, b.canvasWidth);
  check("saved files", a.saved, b.saved);
  check("window visible", a.visible, b.visible);
  return out.isEmpty() ? QString() : QStringLiteral("changed: ") + out.join(QStringLiteral(", "));
}

QPoint MainWindowTest::CentreOf(const QWidget* widget) const {
  return widget->mapTo(m_window.get(), widget->rect().center());
}

void MainWindowTest::Generate() {
  const int before = m_window->picturesShown;
  Control<QPushButton>("cmdRND")->click();
  QVERIFY2(m_window->picturesShown == before + 1, "Randomize painted no picture");
}

void MainWindowTest::Drop(const QStringList& paths) {
  std::unique_ptr<QMimeData> data(FileDrag(paths));
  DragAndDrop(m_window.get(), CentreOf(Preview()), *data);
}

QImage MainWindowTest::ResultPixels() const {
  const FormState& state = m_window->State();
  return state.Result ? ToQImage(state.Result->GetPicture()).convertToFormat(QImage::Format_RGB32) : QImage();
}

// One command of the routing table, as the user starts it.
void MainWindowTest::Perform(const QString& command) {
  if (command == QLatin1String("picPreview")) {
    QTest::mouseClick(Preview(), Qt::LeftButton, {}, Preview()->rect().center());
  } else if (command == QLatin1String("drop")) {
    std::unique_ptr<QMimeData> data(FileDrag({m_wide}));
    DragAndDrop(m_window.get(), CentreOf(Control("lblWait")), *data);
  } else if (command == QLatin1String("close")) {
    m_window->close();
  } else {
    Control<QPushButton>(command.toLatin1().constData())->click();
  }
}

// --- Layout and texts -----------------------------------------------------

void MainWindowTest::designLayout_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("toolTip");

  const auto row = [](const char* name, const char* kind, QRect geometry, const char* text, const char* tip) {
    QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind) << geometry
                        << QString::fromLatin1(text) << QString::fromLatin1(tip);
  };
  row("cmdHLP", "QPushButton", QRect(412, 8, 63, 31), "INF", "About");
  row("txtW", "QLineEdit", QRect(412, 60, 65, 19), "800", "Resulting width");
  row("txtH", "QLineEdit", QRect(412, 92, 65, 19), "400", "Resulting height");
  row("picPreview", "pictovance::PreviewArea", QRect(6, 6, 400, 300), "", "");
  row("cmdRND", "QPushButton", QRect(412, 190, 63, 31), "RND", "Randomize");
  row("cmdSAV", "QPushButton", QRect(412, 276, 63, 31), "SAV", "Save current image && generate new one");
  row("cmdDIR", "QPushButton", QRect(412, 240, 63, 31), "DIR", "Open results folder");
  row("cmdCLR", "QPushButton", QRect(412, 140, 63, 31), "SET",
      "Define new resolution (also reset existing content)");
  row("lblFilecnt", "QLabel", QRect(8, 312, 156, 16), "Files loaded: 0", "");
  row("lblRes", "QLabel", QRect(404, 116, 84, 20), "9999x9999",
      "Current resolution. Click \"Set\" to change.");
  row("lblLW", "pictovance::ReleaseLabel", QRect(432, 78, 25, 17), "X", "");
  row("txtHLP", "QTextEdit", QRect(6, 6, 400, 300), "", "One lonely portrait covers the lovestarved canvas");
  row("lblWait", "QLabel", QRect(168, 312, 238, 16), "", "");
  row("chkYOBA", "QCheckBox", QRect(414, 310, 61, 19), "YOBA", "TURNS SPECIAL EFFEX TO MAXIMUM !11");
}

// The window as designed, before start-up has changed anything.
void MainWindowTest::designLayout() {
  QFETCH(QString, name);
  QFETCH(QString, kind);
  QFETCH(QRect, geometry);
  QFETCH(QString, text);
  QFETCH(QString, toolTip);

  Random rng(1);
  MainWindow design(rng, m_results->path().toStdString());
  const auto* control = design.findChild<QWidget*>(name);
  QVERIFY2(control != nullptr, qPrintable(QStringLiteral("no control named ") + name));
  QVERIFY2(control->parentWidget() == &design, "not a direct child of the window");
  QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
  QCOMPARE(control->geometry(), geometry);
  QCOMPARE(TextOf(control), text);
  QCOMPARE(control->toolTip(), toolTip);
  QCOMPARE(design.objectName(), QStringLiteral("frmMain"));
  QCOMPARE(design.windowTitle(), QStringLiteral("Pictovance"));
}

void MainWindowTest::clientAreaIsFixed() {
  QCOMPARE(m_window->size(), QSize(481, 332));
  QCOMPARE(m_window->minimumSize(), QSize(481, 332));
  QCOMPARE(m_window->maximumSize(), QSize(481, 332));
  QVERIFY2(!(m_window->windowFlags() & Qt::WindowMaximizeButtonHint), "a fixed window offers to maximise");
  const QRect screen = m_window->screen()->availableGeometry();
  const QRect frame = m_window->frameGeometry();
  QVERIFY2(qAbs(frame.center().x() - screen.center().x()) <= 1 &&
               qAbs(frame.center().y() - screen.center().y()) <= 1,
           "the window does not open centred");
}

void MainWindowTest::centredTexts_data() {
  QTest::addColumn<QString>("name");
  for (const char* name : {"txtW", "txtH", "lblFilecnt", "lblRes", "lblLW", "lblWait"}) {
    QTest::newRow(name) << QString::fromLatin1(name);
  }
}

void MainWindowTest::centredTexts() {
  QFETCH(QString, name);
  const QWidget* control = m_window->findChild<QWidget*>(name);
  QVERIFY2(control != nullptr, "control missing");
  Qt::Alignment alignment;
  if (const auto* field = qobject_cast<const QLineEdit*>(control)) alignment = field->alignment();
  if (const auto* label = qobject_cast<const QLabel*>(control)) alignment = label->alignment();
  QVERIFY2(alignment & Qt::AlignHCenter, "text not centred");
}

void MainWindowTest::fontAndIcon() {
  const QList<QWidget*> controls = m_window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  QCOMPARE(controls.size(), 14);
  for (const QWidget* control : controls) {
    const QFont font = control->font();
    QVERIFY2(qFuzzyCompare(font.pointSizeF(), 9.75), qPrintable(control->objectName()));
    QVERIFY2(font.families().value(0) == QLatin1String("Tahoma"), qPrintable(control->objectName()));
    QVERIFY2(font.weight() == QFont::Normal && !font.italic() && !font.underline() && !font.strikeOut(),
             qPrintable(control->objectName()));
  }
  // A fallback must be a sans-serif face: the hint is what picks one when
  // none of the named families exists.
  QCOMPARE(WindowFont().styleHint(), QFont::SansSerif);

  // An SVG icon lists no sizes of its own: every size is drawn for the asking.
  for (const int side : {16, 32, 48}) {
    const QImage image = m_window->windowIcon().pixmap(QSize(side, side)).toImage();
    QCOMPARE(image.size(), QSize(side, side));
  }
  // Larger sizes come from the SVG drawing, not from a scaled bitmap.
  QCOMPARE(m_window->windowIcon().pixmap(QSize(256, 256)).size(), QSize(256, 256));
}

void MainWindowTest::stateAfterStart() {
  QCOMPARE(m_window->windowTitle(), QString::fromLatin1(ProgramTitle().c_str()));
  QCOMPARE(TextOf(Control("txtW")), QStringLiteral("800"));
  QCOMPARE(TextOf(Control("txtH")), QStringLiteral("400"));
  QCOMPARE(Control<QLineEdit>("txtW")->maxLength(), 4);
  QCOMPARE(Control<QLineEdit>("txtH")->maxLength(), 4);
  QCOMPARE(TextOf(Control("lblRes")), QStringLiteral("800x400"));
  QCOMPARE(TextOf(Control("lblFilecnt")), QStringLiteral("Files loaded: 0"));
  QCOMPARE(TextOf(Control("lblWait")), QString());
  QCOMPARE(Control("lblFilecnt")->property("tag").toString(), QStringLiteral("Files loaded: "));

  auto* txtHLP = Control<QTextEdit>("txtHLP");
  QVERIFY2(txtHLP->isHidden() && Preview()->isVisible(), "About text showing at start");
  QVERIFY2(txtHLP->isReadOnly(), "About text editable");
  QVERIFY2(Preview()->Shown().isNull(), "a picture before any was asked for");

  // The box starts ticked (init unticks it afterwards for speed).
  Random rng(1);
  rng.Script({0.9});
  MainWindow fresh(rng, m_results->path().toStdString());
  fresh.Start();
  QCOMPARE(fresh.findChild<QCheckBox*>(QStringLiteral("chkYOBA"))->checkState(), Qt::Checked);
  QVERIFY2(fresh.SpecialEffectsTicked(), "special effects off at start");

  const FormState& state = m_window->State();
  QVERIFY2(!state.Busy && !state.Result && state.SourceCount == 0 && state.Sources.empty(),
           "state not reset");
  QCOMPARE(state.CanvasW, 800);
  QCOMPARE(state.CanvasH, 400);
  QVERIFY2(state.FixedSize, "800 x 400 is not a fixed size");

  // The 2-pixel panel leaves 396 x 296 of the 400 x 300 area.
  QCOMPARE(Preview()->contentsRect().size(), QSize(396, 296));
  QCOMPARE(m_window->PreviewScaleWidth(), 396.0);
  QCOMPARE(m_window->PreviewScaleHeight(), 296.0);
  const QColor face = Preview()->palette().color(Preview()->backgroundRole());
  QCOMPARE(face, m_window->palette().color(QPalette::Button));
  QCOMPARE(QString::fromStdString(m_window->PreviewTag()),
           QString::number(face.red() + 256 * face.green() + 65536 * face.blue()));
  for (const char* name : {"txtW", "txtH"}) {
    QCOMPARE(Control(name)->palette().color(QPalette::Base), face);
  }
  QCOMPARE(txtHLP->viewport()->palette().color(txtHLP->viewport()->backgroundRole()), face);
}

void MainWindowTest::startOpensAboutOneTimeInFive_data() {
  QTest::addColumn<double>("draw");
  QTest::addColumn<bool>("aboutOpen");
  QTest::newRow("0.2 opens") << 0.2 << true;
  QTest::newRow("0.0 opens") << 0.0 << true;
  QTest::newRow("0.2001 keeps it closed") << 0.2001 << false;
}

void MainWindowTest::startOpensAboutOneTimeInFive() {
  QFETCH(double, draw);
  QFETCH(bool, aboutOpen);
  Random rng(1);
  rng.Script({draw});
  MainWindow window(rng, m_results->path().toStdString());
  window.Start();
  QCOMPARE(window.AboutVisible(), aboutOpen);
  QCOMPARE(window.findChild<QWidget*>(QStringLiteral("picPreview"))->isHidden(), aboutOpen);
  const char* defaultName = aboutOpen ? "cmdHLP" : "cmdRND";
  QCOMPARE(window.DefaultButton()->objectName(), QString::fromLatin1(defaultName));
  for (auto* button : window.findChildren<QPushButton*>()) {
    QCOMPARE(button->isDefault(), button == window.DefaultButton());
  }
  QCOMPARE(window.focusWidget()->objectName(), QStringLiteral("cmdRND"));
  // The rest of start-up ran either way.
  QCOMPARE(TextOf(window.findChild<QWidget*>(QStringLiteral("lblRes"))), QStringLiteral("800x400"));
}

void MainWindowTest::tabOrder() {
  // The focus chain holds the fourteen controls in the order of the table.
  QStringList chain;
  QWidget* widget = Control("cmdHLP");
  for (int i = 0; i < 64 && chain.size() < 14; ++i, widget = widget->nextInFocusChain()) {
    if (widget->parentWidget() == m_window.get() && !chain.contains(widget->objectName())) {
      chain << widget->objectName();
    }
  }
  QStringList expected;
  for (const char* name : kTableOrder) expected << QString::fromLatin1(name);
  QCOMPARE(chain, expected);

  // Tab walks the controls that take the keyboard, in that order.
  m_window->activateWindow();
  QVERIFY2(QTest::qWaitForWindowActive(m_window.get()), "window never became active");
  Control("cmdHLP")->setFocus(Qt::TabFocusReason);
  QStringList visited;
  for (int i = 0; i < 8; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << QApplication::focusWidget()->objectName();
  }
  QCOMPARE(visited,
           QStringList({"txtW", "txtH", "cmdRND", "cmdSAV", "cmdDIR", "cmdCLR", "chkYOBA", "cmdHLP"}));
}

void MainWindowTest::enterClicks_data() {
  QTest::addColumn<QString>("focus");
  QTest::addColumn<bool>("aboutIsDefault");
  QTest::addColumn<int>("key");
  QTest::addColumn<QString>("effect");

  QTest::newRow("width field, Randomize default") << "txtW" << false << int(Qt::Key_Return) << "generated";
  QTest::newRow("keypad Enter in the height field") << "txtH" << false << int(Qt::Key_Enter) << "generated";
  QTest::newRow("check box") << "chkYOBA" << false << int(Qt::Key_Return) << "generated";
  QTest::newRow("About text") << "txtHLP" << false << int(Qt::Key_Return) << "generated";
  QTest::newRow("Randomize focused") << "cmdRND" << false << int(Qt::Key_Return) << "generated";
  QTest::newRow("Set focused clicks Set") << "cmdCLR" << false << int(Qt::Key_Return) << "reset";
  QTest::newRow("Set focused, About default") << "cmdCLR" << true << int(Qt::Key_Return) << "reset";
  QTest::newRow("height field, About default") << "txtH" << true << int(Qt::Key_Return) << "about";
}

void MainWindowTest::enterClicks() {
  QFETCH(QString, focus);
  QFETCH(bool, aboutIsDefault);
  QFETCH(int, key);
  QFETCH(QString, effect);

  Generate();
  if (aboutIsDefault) m_window->SetDefaultButton(Control<QPushButton>("cmdHLP"));
  if (focus == QLatin1String("txtHLP")) Control<QPushButton>("cmdHLP")->click();
  QWidget* target = m_window->findChild<QWidget*>(focus);
  target->setFocus();
  QCOMPARE(m_window->focusWidget(), target);
  const int shown = m_window->picturesShown;
  QTest::keyClick(target, Qt::Key(key));

  if (effect == QLatin1String("generated")) {
    QCOMPARE(m_window->picturesShown, shown + 1);
  } else if (effect == QLatin1String("reset")) {
    QVERIFY2(!m_window->State().Result, "Set did not run");
    QCOMPARE(m_window->picturesShown, shown);
  } else {
    QVERIFY2(m_window->AboutVisible(), "About did not open");
    QCOMPARE(m_window->picturesShown, shown);
  }
  // Enter in a size field leaves its text alone.
  if (focus == QLatin1String("txtW")) QCOMPARE(TextOf(target), QStringLiteral("800"));
  if (focus == QLatin1String("txtH")) QCOMPARE(TextOf(target), QStringLiteral("400"));
}

void MainWindowTest::specialEffectsBox_data() {
  QTest::addColumn<int>("checkState");
  QTest::addColumn<bool>("ticked");
  QTest::newRow("ticked") << int(Qt::Checked) << true;
  QTest::newRow("cleared") << int(Qt::Unchecked) << false;
  QTest::newRow("greyed") << int(Qt::PartiallyChecked) << false;
}

void MainWindowTest::specialEffectsBox() {
  QFETCH(int, checkState);
  QFETCH(bool, ticked);
  auto* box = Control<QCheckBox>("chkYOBA");
  box->setTristate(checkState == Qt::PartiallyChecked);
  box->setCheckState(Qt::CheckState(checkState));
  QCOMPARE(m_window->SpecialEffectsTicked(), ticked);
}

// --- Routing --------------------------------------------------------------

void MainWindowTest::previewRelease_data() {
  QTest::addColumn<int>("button");
  QTest::addColumn<int>("pictures");
  QTest::newRow("left") << int(Qt::LeftButton) << 1;
  QTest::newRow("right") << int(Qt::RightButton) << 0;
  QTest::newRow("middle") << int(Qt::MiddleButton) << 0;
}

void MainWindowTest::previewRelease() {
  QFETCH(int, button);
  QFETCH(int, pictures);
  QTest::mouseClick(Preview(), Qt::MouseButton(button), {}, Preview()->rect().center());
  QCOMPARE(m_window->picturesShown, pictures);
  QCOMPARE(m_window->State().Result.has_value(), pictures > 0);
}

void MainWindowTest::presetLabel_data() {
  QTest::addColumn<int>("button");
  QTest::addColumn<QString>("width");
  QTest::addColumn<QString>("height");
  QTest::newRow("left: design size") << int(Qt::LeftButton) << "800"
                                     << "400";
  QTest::newRow("right: free size") << int(Qt::RightButton) << "0"
                                    << "0";
  QTest::newRow("middle: nothing") << int(Qt::MiddleButton) << "12"
                                   << "34";
}

void MainWindowTest::presetLabel() {
  QFETCH(int, button);
  QFETCH(QString, width);
  QFETCH(QString, height);
  Control<QLineEdit>("txtW")->setText(QStringLiteral("12"));
  Control<QLineEdit>("txtH")->setText(QStringLiteral("34"));
  QWidget* label = Control("lblLW");
  QTest::mouseClick(label, Qt::MouseButton(button), {}, label->rect().center());
  QCOMPARE(TextOf(Control("txtW")), width);
  QCOMPARE(TextOf(Control("txtH")), height);
  // Only the fields change; the size in force waits for Set.
  QCOMPARE(TextOf(Control("lblRes")), QStringLiteral("800x400"));
  QCOMPARE(m_window->State().CanvasW, 800);
}

void MainWindowTest::fieldNormalisation_data() {
  QTest::addColumn<QString>("field");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("normal");
  for (const char* field : {"txtW", "txtH"}) {
    const auto row = [field](const char* name, const char* text, const char* normal) {
      QTest::addRow("%s %s", field, name) << field << text << normal;
    };
    // The reading rules themselves are the size fields' own tests; these
    // show that every change of either field is normalised.
    row("trailing letter", "12a", "12");
    row("lone minus", "-", "0");
    row("empty", "", "0");
    row("already plain", "640", "640");
  }
}

void MainWindowTest::fieldNormalisation() {
  QFETCH(QString, field);
  QFETCH(QString, text);
  QFETCH(QString, normal);
  auto* edit = m_window->findChild<QLineEdit*>(field);
  QSignalSpy changes(edit, &QLineEdit::textChanged);
  edit->setText(text);
  QCOMPARE(edit->text(), normal);
  // One change for the text set, one more only when it had to be rewritten;
  // the rewrite itself starts nothing further.
  QCOMPARE(changes.size(), text == normal ? 1 : 2);
}

void MainWindowTest::typingIntoField() {
  auto* edit = Control<QLineEdit>("txtW");
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QCOMPARE(edit->text(), QStringLiteral("0"));
  QTest::keyClicks(edit, QStringLiteral("12a"));
  QCOMPARE(edit->text(), QStringLiteral("12"));
  QTest::keyClicks(edit, QStringLiteral("345"));  // the fourth character is the last
  QCOMPARE(edit->text(), QStringLiteral("1234"));
  edit->selectAll();
  QTest::keyClicks(edit, QStringLiteral("-"));
  QCOMPARE(edit->text(), QStringLiteral("0"));
}

void MainWindowTest::setAppliesFields_data() {
  QTest::addColumn<QString>("width");
  QTest::addColumn<QString>("height");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<bool>("fixed");
  QTest::newRow("design size") << "800"
                               << "400"
                               << "800x400" << true;
  QTest::newRow("free width") << "0"
                              << "400"
                              << "0x400" << false;
  QTest::newRow("largest") << "9999"
                           << "9999"
                           << "9999x9999" << true;
}

void MainWindowTest::setAppliesFields() {
  QFETCH(QString, width);
  QFETCH(QString, height);
  QFETCH(QString, caption);
  QFETCH(bool, fixed);
  Generate();
  std::unique_ptr<QMimeData> data(FileDrag({m_wide}));
  DragAndDrop(m_window.get(), CentreOf(Control("lblWait")), *data);
  QCOMPARE(TextOf(Control("lblFilecnt")), QStringLiteral("Files loaded: 1"));
  m_window->SetStatus("marker");

  Control<QLineEdit>("txtW")->setText(width);
  Control<QLineEdit>("txtH")->setText(height);
  Control<QPushButton>("cmdCLR")->click();
  QCOMPARE(TextOf(Control("lblRes")), caption);
  QCOMPARE(m_window->State().FixedSize, fixed);
  QCOMPARE(TextOf(Control("lblFilecnt")), QStringLiteral("Files loaded: 0"));
  QCOMPARE(TextOf(Control("lblWait")), QString());
  QVERIFY2(!m_window->State().Result && m_window->State().SourceCount == 0,
           "Set kept the picture or sources");
  QVERIFY2(Preview()->Shown().isNull(), "Set left a picture in the preview");
}

void MainWindowTest::randomizeShowsPictureOfInnerSize() {
  Generate();
  const QImage& shown = Preview()->Shown();
  QCOMPARE(shown.size(), Preview()->contentsRect().size());
  QCOMPARE(m_window->State().Result->Width(), 800);
  QCOMPARE(m_window->State().Result->Height(), 400);
  QCOMPARE(TextOf(Control("lblWait")), QString());
  QVERIFY2(!m_window->State().Busy, "Busy left set");

  // The picture is drawn one to one inside the border.
  const QImage screen = Preview()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QPoint inner = Preview()->contentsRect().topLeft();
  for (const QPoint p : {QPoint(0, 0), QPoint(395, 295), QPoint(200, 150), QPoint(17, 250)}) {
    QVERIFY2(screen.pixel(inner + p) == shown.pixel(p),
             qPrintable(QStringLiteral("pixel %1,%2 differs").arg(p.x()).arg(p.y())));
  }
}

// The preview pads with the preview area's own background, kept in its tag
// as 0xBBGGRR: here a colour whose red and blue differ.
void MainWindowTest::previewBackgroundIsTheAreasOwn() {
  const QPalette saved = QApplication::palette();
  QPalette tinted = saved;
  for (const auto role : {QPalette::Button, QPalette::Window, QPalette::Base})
    tinted.setColor(role, QColor(0x10, 0x20, 0x30));
  QApplication::setPalette(tinted);
  Random rng(1);
  rng.Script({0.9});
  TestWindow window(rng, m_results->path().toStdString());
  window.Start();
  QApplication::setPalette(saved);
  QCOMPARE(QString::fromStdString(window.PreviewTag()), QString::number(0x10 + 0x20 * 256 + 0x30 * 65536));
}

void MainWindowTest::generationErrorShownInStatus() {
  // A preview colour that is not a number makes the preview step fail.
  Preview()->setProperty("tag", QStringLiteral("face"));
  Control<QPushButton>("cmdRND")->click();
  const QString status = TextOf(Control("lblWait"));
  QVERIFY2(status.startsWith(QLatin1String("Error: ")) && status.size() > 7, qPrintable(status));
  QVERIFY2(!m_window->State().Busy, "the failed run left Busy set");

  m_window->RecordPreviewBackground();
  Generate();
  QCOMPARE(TextOf(Control("lblWait")), QString());
}

void MainWindowTest::aboutToggleKeepsPicture() {
  Generate();
  const QImage before = Preview()->Shown().copy();
  auto* about = Control<QTextEdit>("txtHLP");

  Control<QPushButton>("cmdHLP")->click();
  QVERIFY2(about->isVisible() && Preview()->isHidden(), "About did not replace the preview");
  const QStringList lines = about->toPlainText().split(QLatin1Char('\n'));
  QCOMPARE(lines.size(), 5);
  QCOMPARE(lines[0], QStringLiteral("v 1.0.0.5"));
  QCOMPARE(lines[1], QString());
  QCOMPARE(lines[2], QString());
  QVERIFY2(!lines[3].isEmpty() && !lines[4].isEmpty(), "About lines missing");
  QCOMPARE(about->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n")),
           QString::fromLatin1(AboutText().c_str()));
  for (QTextBlock block = about->document()->begin(); block.isValid(); block = block.next()) {
    QVERIFY2(block.blockFormat().alignment() & Qt::AlignHCenter, "About line not centred");
  }

  Control<QPushButton>("cmdHLP")->click();
  QVERIFY2(about->isHidden() && Preview()->isVisible(), "the preview did not come back");
  QCOMPARE(Preview()->Shown(), before);
  QCOMPARE(m_window->picturesShown, 1);
}

void MainWindowTest::finishedGenerationClosesAbout() {
  Control<QPushButton>("cmdHLP")->click();
  QVERIFY2(m_window->AboutVisible(), "About did not open");
  Generate();
  QVERIFY2(!m_window->AboutVisible() && Preview()->isVisible(), "the new picture is hidden behind About");
  QVERIFY2(!Preview()->Shown().isNull(), "no picture shown");
}

// --- Busy -----------------------------------------------------------------

void MainWindowTest::busyGuards_data() {
  QTest::addColumn<QString>("command");
  for (const char* command : {"cmdRND", "picPreview", "cmdCLR", "cmdHLP", "cmdSAV", "drop", "close"}) {
    QTest::newRow(command) << QString::fromLatin1(command);
  }
}

// With Busy set, every command but the results folder does nothing.
void MainWindowTest::busyGuards() {
  QFETCH(QString, command);
  Generate();
  Control<QLineEdit>("txtW")->setText(QStringLiteral("640"));  // Set would apply it
  m_window->SetStatus("marker");
  const Snapshot before = Take();
  m_window->State().Busy = true;
  Perform(command);
  const Snapshot after = Take();
  QVERIFY2(Differences(before, after).isEmpty(), qPrintable(Differences(before, after)));
  QCOMPARE(m_window->picturesShown, 1);

  // And once Busy is clear, the same command does work.
  m_window->State().Busy = false;
  Perform(command);
  QVERIFY2(!Differences(before, Take()).isEmpty(), "the command does nothing even when idle");
}

// Requests made while a generation lets events run change nothing.
void MainWindowTest::requestsDuringGeneration() {
  // A long, one-row canvas gives the run many points where events run.
  Control<QLineEdit>("txtW")->setText(QStringLiteral("9999"));
  Control<QLineEdit>("txtH")->setText(QStringLiteral("1"));
  Control<QPushButton>("cmdCLR")->click();

  bool hookRan = false, busyInHook = false, aboutOpened = true, closed = true;
  int picturesInHook = -1;
  m_window->hook = [&] {
    hookRan = true;
    busyInHook = m_window->State().Busy;
    Control<QPushButton>("cmdRND")->click();
    QTest::mouseClick(Preview(), Qt::LeftButton, {}, Preview()->rect().center());
    picturesInHook = m_window->picturesShown;
    Control<QLineEdit>("txtW")->setText(QStringLiteral("100"));
    Control<QPushButton>("cmdCLR")->click();
    Control<QPushButton>("cmdHLP")->click();
    aboutOpened = m_window->AboutVisible();
    Control<QPushButton>("cmdSAV")->click();
    std::unique_ptr<QMimeData> data(FileDrag({m_wide}));
    DragAndDrop(m_window.get(), CentreOf(Control("lblWait")), *data);
    closed = m_window->close();
  };
  Control<QPushButton>("cmdRND")->click();

  QVERIFY2(hookRan && busyInHook, "the run never let events run while busy");
  QCOMPARE(picturesInHook, 0);
  QCOMPARE(m_window->picturesShown, 1);
  QVERIFY2(!aboutOpened, "About opened during the run");
  QVERIFY2(!closed && m_window->isVisible(), "the window closed during the run");
  QCOMPARE(m_window->State().CanvasW, 9999);  // Set did not run
  QCOMPARE(m_window->State().Result->Width(), 9999);
  QCOMPARE(m_window->State().SourceCount, 0);
  QCOMPARE(TextOf(Control("lblFilecnt")), QStringLiteral("Files loaded: 0"));
  QCOMPARE(SavedFiles(), QStringList());
  QVERIFY2(!m_window->State().Busy, "Busy left set");
}

// Requests made while an import lets events run change nothing either.
void MainWindowTest::requestsDuringImport() {
  bool hookRan = false, busyInHook = false, aboutOpened = true, closed = true;
  QString statusAfterSave;
  m_window->hook = [&] {
    hookRan = true;
    busyInHook = m_window->State().Busy;
    Control<QPushButton>("cmdRND")->click();
    QTest::mouseClick(Preview(), Qt::LeftButton, {}, Preview()->rect().center());
    Control<QLineEdit>("txtW")->setText(QStringLiteral("100"));
    Control<QPushButton>("cmdCLR")->click();
    Control<QPushButton>("cmdHLP")->click();
    aboutOpened = m_window->AboutVisible();
    Control<QPushButton>("cmdSAV")->click();
    statusAfterSave = TextOf(Control("lblWait"));
    std::unique_ptr<QMimeData> data(FileDrag({m_tall}));
    DragAndDrop(m_window.get(), CentreOf(Control("txtH")), *data);
    closed = m_window->close();
  };
  std::unique_ptr<QMimeData> data(FileDrag({m_wide, m_wide}));
  DragAndDrop(m_window.get(), CentreOf(Control("lblWait")), *data);

  QVERIFY2(hookRan && busyInHook, "the import never let events run while busy");
  QCOMPARE(m_window->picturesShown, 0);
  QVERIFY2(!m_window->State().Result, "a picture was painted during the import");
  QVERIFY2(!aboutOpened, "About opened during the import");
  QVERIFY2(statusAfterSave != QLatin1String("Nothing to save"), "Save ran during the import");
  QVERIFY2(!closed && m_window->isVisible(), "the window closed during the import");
  QCOMPARE(m_window->State().CanvasW, 800);
  QCOMPARE(m_window->State().SourceCount, 2);
  QCOMPARE(TextOf(Control("lblFilecnt")), QStringLiteral("Files loaded: 2"));
  QCOMPARE(TextOf(Control("lblWait")), QString());
  QVERIFY2(!m_window->State().Busy, "Busy left set");
}

void MainWindowTest::resultsFolderOpensEvenWhileBusy() {
  const QUrl folder = QUrl::fromLocalFile(m_results->path());
  Control<QPushButton>("cmdDIR")->click();
  m_window->State().Busy = true;
  Control<QPushButton>("cmdDIR")->click();
  QCOMPARE(m_urls.urls, QList<QUrl>({folder, folder}));
}

// --- Drops ----------------------------------------------------------------

void MainWindowTest::drops_data() {
  QTest::addColumn<QString>("target");
  QTest::addColumn<bool>("loads");
  for (const char* name : {"frmMain", "picPreview", "txtHLP", "txtW", "txtH", "lblWait", "lblLW", "lblRes",
                           "lblFilecnt", "cmdCLR", "cmdHLP", "cmdRND", "cmdSAV"}) {
    QTest::newRow(name) << QString::fromLatin1(name) << true;
  }
  QTest::newRow("chkYOBA refuses") << QStringLiteral("chkYOBA") << false;
  QTest::newRow("cmdDIR refuses") << QStringLiteral("cmdDIR") << false;
}

// Two pictures, a file that is no picture and a missing file dropped on each
// part of the window: the pictures load wherever a drop is taken.
void MainWindowTest::drops() {
  QFETCH(QString, target);
  QFETCH(bool, loads);
  QPoint pos(2, 2);  // the bare window, left of and above the preview
  if (target != QLatin1String("frmMain")) {
    if (target == QLatin1String("txtHLP")) Control<QPushButton>("cmdHLP")->click();
    pos = CentreOf(m_window->findChild<QWidget*>(target));
  }
  QVERIFY2(m_window->childAt(pos) == nullptr || m_window->childAt(pos)->objectName() == target ||
               m_window->childAt(pos)->parentWidget()->objectName() == target,
           "the drop point is not over the target");
  const QString fieldText = TextOf(Control("txtW"));

  std::unique_ptr<QMimeData> data(FileDrag({m_wide, m_broken, m_missing, m_tall}));
  const DragOutcome outcome = DragAndDrop(m_window.get(), pos, *data);
  QCOMPARE(outcome.accepted, loads);
  if (loads) QCOMPARE(outcome.action, Qt::CopyAction);  // a move would delete the dragged files
  QCOMPARE(m_window->State().SourceCount, loads ? 2 : 0);
  QCOMPARE(TextOf(Control("lblFilecnt")),
           loads ? QStringLiteral("Files loaded: 2") : QStringLiteral("Files loaded: 0"));
  // Once the drop is over, the last file that was not loaded says why.
  QCOMPARE(TextOf(Control("lblWait")), loads ? QStringLiteral("Error: file not found") : QString());
  QCOMPARE(TextOf(Control("txtW")), fieldText);  // no path typed into a field
  QVERIFY2(!m_window->State().Busy, "Busy left set");
}

void MainWindowTest::dropWithoutFiles() {
  m_window->SetStatus("marker");
  QMimeData text;
  text.setText(QStringLiteral("1234"));
  const DragOutcome outcome = DragAndDrop(m_window.get(), CentreOf(Control("txtW")), text);
  QVERIFY2(outcome.accepted, "a text drag was refused");
  QCOMPARE(TextOf(Control("txtW")), QStringLiteral("800"));
  QCOMPARE(TextOf(Control("lblWait")), QString());
  QCOMPARE(m_window->State().SourceCount, 0);
}

// A named pipe nobody writes to would hold the window forever if it were
// opened for reading; it is refused at once, and the status line says so.
void MainWindowTest::droppedPipeIsRefusedWithoutWaiting() {
  const QString pipe = m_data.filePath(QStringLiteral("pipe.png"));
  QVERIFY2(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0, "cannot make a named pipe");
  std::unique_ptr<QMimeData> data(FileDrag({pipe, m_wide}));
  DragAndDrop(m_window.get(), CentreOf(Preview()), *data);
  QCOMPARE(m_window->State().SourceCount, 1);
  QCOMPARE(TextOf(Control("lblWait")), QStringLiteral("Error: file cannot be read"));
  QVERIFY2(Control("lblWait")->toolTip().contains(QLatin1String("named pipe")),
           qPrintable(Control("lblWait")->toolTip()));
}

void MainWindowTest::freeSizeDropsSetResolution() {
  QWidget* label = Control("lblLW");
  QTest::mouseClick(label, Qt::RightButton, {}, label->rect().center());
  Control<QPushButton>("cmdCLR")->click();
  QCOMPARE(TextOf(Control("lblRes")), QStringLiteral("0x0"));

  std::unique_ptr<QMimeData> wide(FileDrag({m_wide}));
  DragAndDrop(m_window.get(), CentreOf(Preview()), *wide);
  QCOMPARE(TextOf(Control("lblRes")), QStringLiteral("1000x500"));
  std::unique_ptr<QMimeData> tall(FileDrag({m_tall}));
  DragAndDrop(m_window.get(), CentreOf(Preview()), *tall);
  QCOMPARE(TextOf(Control("lblRes")), QStringLiteral("600x500"));
  QCOMPARE(TextOf(Control("lblFilecnt")), QStringLiteral("Files loaded: 2"));

  Generate();  // from the sources now
  QCOMPARE(m_window->State().Result->Width(), 600);
  QCOMPARE(Preview()->Shown().size(), QSize(396, 296));
}

// --- Save -----------------------------------------------------------------

void MainWindowTest::saveWritesResultAndPaintsNext() {
  Generate();
  const QImage preview = Preview()->Shown().copy();
  Control<QPushButton>("cmdSAV")->click();
  const QStringList saved = SavedFiles();
  QCOMPARE(saved.size(), 1);
  static const QRegularExpression name(QStringLiteral("^[1-9][0-9]{9,}-[0-9A-F]{2}\\.png$"));
  QVERIFY2(name.match(saved[0]).hasMatch(), qPrintable(saved[0]));
  const QImage written(QDir(m_results->path()).filePath(saved[0]));
  QCOMPARE(written.size(), QSize(800, 400));
  QCOMPARE(m_window->picturesShown, 2);
  QVERIFY2(m_window->State().Result.has_value(), "no next picture");
  QVERIFY2(Preview()->Shown() != preview, "the preview still shows the saved picture");
  QCOMPARE(TextOf(Control("lblWait")), QString());
}

void MainWindowTest::saveWithoutResult() {
  Control<QPushButton>("cmdSAV")->click();
  QCOMPARE(TextOf(Control("lblWait")), QStringLiteral("Nothing to save"));
  QCOMPARE(SavedFiles(), QStringList());
  QCOMPARE(m_window->picturesShown, 0);
}

void MainWindowTest::saveNeverOverwrites() {
  Generate();
  // The next save draws the digits 0, 0 first and F, F next; files named
  // -00 already exist for this second and the next.
  const qint64 now = SecondsSince1899Now();
  QStringList taken;
  for (const qint64 seconds : {now, now + 1}) {
    const QString path = QDir(m_results->path()).filePath(QStringLiteral("%1-00.png").arg(seconds));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly) && file.write("keep") == 4, "cannot prepare a taken name");
    taken << path;
  }
  m_rng.Script({0.0, 0.0, 0.999, 0.999});
  Control<QPushButton>("cmdSAV")->click();

  for (const QString& path : taken) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly) && file.readAll() == "keep", "an existing file was overwritten");
  }
  const QStringList fresh = SavedFiles().filter(QStringLiteral("-FF.png"));
  QCOMPARE(fresh.size(), 1);
  QVERIFY2(!QImage(QDir(m_results->path()).filePath(fresh[0])).isNull(), "the new file is no picture");
}

void MainWindowTest::saveIntoUnwritableFolder() {
  // A folder below a regular file cannot exist, even for root.
  const QString blocker = m_results->filePath(QStringLiteral("blocker"));
  QFile file(blocker);
  QVERIFY2(file.open(QIODevice::WriteOnly), "cannot create the blocking file");
  file.close();
  // The pictures folder, where Save turns when the program's folder is
  // unwritable, is below the file too.
  const QByteArray home = qgetenv("HOME");
  qputenv("HOME", (blocker + QStringLiteral("/home")).toLocal8Bit());
  const auto restoreHome = qScopeGuard([&home] { qputenv("HOME", home); });
  Random rng(7);
  rng.Script({0.9});
  TestWindow window(rng, (blocker + QStringLiteral("/results")).toStdString());
  window.Start();
  window.findChild<QPushButton*>(QStringLiteral("cmdRND"))->click();
  QCOMPARE(window.picturesShown, 1);
  const qint64 key = window.findChild<PreviewArea*>(QStringLiteral("picPreview"))->Shown().cacheKey();

  for (int attempt = 0; attempt < 2; ++attempt) {
    window.findChild<QPushButton*>(QStringLiteral("cmdSAV"))->click();
    const QString status = TextOf(window.findChild<QWidget*>(QStringLiteral("lblWait")));
    QVERIFY2(status.startsWith(QLatin1String("Error: ")) && status.size() > 7, qPrintable(status));
    QVERIFY2(window.State().Result.has_value(), "the unsaved picture was dropped");
    QCOMPARE(window.picturesShown, 1);
    QCOMPARE(window.findChild<PreviewArea*>(QStringLiteral("picPreview"))->Shown().cacheKey(), key);
  }
}

// --- Painting again ---------------------------------------------------------

void MainWindowTest::savedPicturePaintedAgainByTheRenderer_data() {
  QTest::addColumn<bool>("effects");
  QTest::addColumn<bool>("sources");
  QTest::newRow("palette, finishing pass") << true << false;
  QTest::newRow("two sources, fitted") << false << true;
}

void MainWindowTest::savedPicturePaintedAgainByTheRenderer() {
  QFETCH(bool, effects);
  QFETCH(bool, sources);
  Control<QCheckBox>("chkYOBA")->setChecked(effects);
  if (sources) {
    Drop({m_wide, m_tall});
    QCOMPARE(m_window->State().SourceCount, 2);
  }
  Generate();
  Control<QPushButton>("cmdSAV")->click();
  const QStringList saved = SavedFiles();
  QCOMPARE(saved.size(), 1);
  const QString file = QDir(m_results->path()).filePath(saved[0]);

  QTemporaryDir out;
  QStringList args{QStringLiteral("--again"), file, QStringLiteral("--out"), out.path()};
  if (sources) args << QStringLiteral("--source") << m_tall << QStringLiteral("--source") << m_wide;
  QProcess render;
  render.start(QStringLiteral(PV_RENDER), args);
  QVERIFY2(render.waitForFinished(120000), "the renderer did not finish");
  QVERIFY2(render.exitCode() == 0, render.readAllStandardError().constData());
  const QString again = QString::fromUtf8(render.readAllStandardOutput()).trimmed();

  const QImage first = QImage(file).convertToFormat(QImage::Format_RGB32);
  const QImage second = QImage(again).convertToFormat(QImage::Format_RGB32);
  QVERIFY2(!first.isNull() && !second.isNull(), qPrintable(file + QStringLiteral(" / ") + again));
  QCOMPARE(second, first);
}

void MainWindowTest::backAndForthShowThePicturesFirstShown() {
  m_window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
  const auto press = [this](Qt::Key key) { QTest::keyClick(m_window.get(), key, Qt::AltModifier); };
  // A palette picture with the finishing pass, then, with the box cleared
  // and a free size, one from a source that the next drop fits down, and
  // one from both.
  QList<QImage> first;
  Control<QCheckBox>("chkYOBA")->setChecked(true);
  Generate();
  first << ResultPixels();
  Control<QCheckBox>("chkYOBA")->setChecked(false);
  QTest::mouseClick(Control("lblLW"), Qt::RightButton, {}, Control("lblLW")->rect().center());
  Control<QPushButton>("cmdCLR")->click();
  Drop({m_wide});
  Generate();
  first << ResultPixels();
  Drop({m_tall});
  Generate();
  first << ResultPixels();
  QCOMPARE(first[1].size(), QSize(1000, 500));
  const int painted = m_window->picturesShown;

  press(Qt::Key_Left);
  QCOMPARE(ResultPixels(), first[1]);
  press(Qt::Key_Left);
  QCOMPARE(ResultPixels(), first[0]);
  press(Qt::Key_Left);  // nothing before the first
  press(Qt::Key_Right);
  QCOMPARE(ResultPixels(), first[1]);
  m_window->State().Busy = true;
  press(Qt::Key_Right);
  m_window->State().Busy = false;
  QCOMPARE(ResultPixels(), first[1]);
  press(Qt::Key_Right);
  QCOMPARE(ResultPixels(), first[2]);
  QCOMPARE(m_window->picturesShown, painted + 4);  // neither the first Left nor the busy Right painted
  QCOMPARE(m_window->State().SourceCount, 2);      // the window's own sources stay

  // Save takes the picture shown, and the next one is new.
  press(Qt::Key_Left);
  Control<QPushButton>("cmdSAV")->click();
  const QStringList saved = SavedFiles();
  QCOMPARE(saved.size(), 1);
  QCOMPARE(QImage(QDir(m_results->path()).filePath(saved[0])).convertToFormat(QImage::Format_RGB32),
           first[1]);
  QVERIFY2(ResultPixels() != first[1] && ResultPixels() != first[2], "no new picture after the save");
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
