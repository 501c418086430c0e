// Source pictures without dragging, seen from outside: a file dialog
// (Ctrl+O) and copied files (Ctrl+V) import as a drop does, with the same
// counter, falling dots and size rule; a pasted picture without a file
// becomes a source that the renderer finds again in any file holding the
// same pixels.

#include "app/source_import.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <QWindow>
#include <QtTest>
#include <memory>

#include "app/main_window.h"

using namespace pictovance;

namespace {

// Records every text the status line is given.
class RecordingWindow : public MainWindow {
 public:
  using MainWindow::MainWindow;
  void SetStatus(std::string_view text) override {
    statuses << QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    MainWindow::SetStatus(text);
  }
  QStringList statuses;
};

QMimeData* FileList(const QStringList& paths) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  data->setUrls(urls);
  return data;
}

}  // namespace

class SourceImportTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void importsAsADropDoes_data();
  void importsAsADropDoes();
  void pastedPictureIsPaintedAgainFromItsPixels();

 private:
  QString Write(const char* name, int width, int height);
  void Press(int key) { QTest::keyClick(m_window->windowHandle(), Qt::Key(key), Qt::ControlModifier); }
  QString Text(const char* name) const {
    return m_window->findChild<QLabel*>(QString::fromLatin1(name))->text();
  }

  QTemporaryDir m_dir;
  QString m_wide, m_tall, m_broken;
  Random m_rng;
  std::unique_ptr<QTemporaryDir> m_results;
  std::unique_ptr<RecordingWindow> m_window;
};

QString SourceImportTest::Write(const char* name, int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, (x ^ y) % 256));
  }
  const QString path = m_dir.filePath(QString::fromLatin1(name));
  return image.save(path, "PNG") ? path : QString();
}

void SourceImportTest::initTestCase() {
  QVERIFY(m_dir.isValid());
  qputenv("HOME", m_dir.filePath(QStringLiteral("home")).toLocal8Bit());
  m_wide = Write("wide.png", 1000, 500);
  m_tall = Write("tall.png", 600, 900);
  m_broken = m_dir.filePath(QStringLiteral("broken.png"));
  QFile broken(m_broken);
  QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not a picture") > 0);
}

void SourceImportTest::init() {
  m_rng = Random(5);
  m_rng.Script({0.9});
  m_results = std::make_unique<QTemporaryDir>();
  m_window = std::make_unique<RecordingWindow>(m_rng, m_results->path().toStdString());
  m_window->Start();
  m_window->findChild<QCheckBox*>(QStringLiteral("chkYOBA"))->setChecked(false);
  m_window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void SourceImportTest::cleanup() {
  m_window.reset();
  m_results.reset();
  QGuiApplication::clipboard()->clear();
}

void SourceImportTest::importsAsADropDoes_data() {
  QTest::addColumn<QString>("way");
  QTest::newRow("drop") << "drop";
  QTest::newRow("Ctrl+O, file dialog") << "Ctrl+O";
  QTest::newRow("Ctrl+V, copied files") << "Ctrl+V";
}

void SourceImportTest::importsAsADropDoes() {
  QFETCH(QString, way);
  // A free size, so that the pictures set it as they arrive.
  m_window->findChild<QLineEdit*>(QStringLiteral("txtW"))->setText(QStringLiteral("0"));
  m_window->findChild<QLineEdit*>(QStringLiteral("txtH"))->setText(QStringLiteral("0"));
  m_window->findChild<QPushButton*>(QStringLiteral("cmdCLR"))->click();
  m_window->statuses.clear();
  const QStringList files{m_wide, m_broken, m_tall};
  if (way == QLatin1String("drop")) {
    std::unique_ptr<QMimeData> data(FileList(files));
    const QPoint at(100, 100);
    QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window->windowHandle(), &enter);
    QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window->windowHandle(), &drop);
  } else if (way == QLatin1String("Ctrl+O")) {
    QString asked;
    m_window->Import().SetChooser([&](QWidget*, const QString& folder) {
      asked = folder;
      return files;
    });
    Press(Qt::Key_O);
    QVERIFY2(asked.endsWith(QLatin1String("Pictures")), qPrintable(asked));
  } else {
    QGuiApplication::clipboard()->setMimeData(FileList(files));
    Press(Qt::Key_V);
  }
  // Two pictures stored, the damaged one skipped without a word: three
  // dots, none for it, one, then the empty line.
  QCOMPARE(m_window->statuses, QStringList({"...", ".", ""}));
  QCOMPARE(Text("lblFilecnt"), QStringLiteral("Files loaded: 2"));
  QCOMPARE(m_window->State().SourceCount, 2);
  QCOMPARE(Text("lblRes"), QStringLiteral("600x500"));
  QVERIFY2(!m_window->State().Busy, "the import left Busy set");
}

void SourceImportTest::pastedPictureIsPaintedAgainFromItsPixels() {
  QGuiApplication::clipboard()->setText(QStringLiteral("just some words"));
  Press(Qt::Key_V);
  QCOMPARE(Text("lblWait"), QStringLiteral("Nothing to paste"));
  QCOMPARE(m_window->State().SourceCount, 0);

  // A copied picture, as a browser puts it there: pixels, no file.
  const QImage picture(m_wide);
  QGuiApplication::clipboard()->setImage(picture);
  Press(Qt::Key_V);
  QCOMPARE(Text("lblFilecnt"), QStringLiteral("Files loaded: 1"));
  QCOMPARE(m_window->State().SourceCount, 1);
  m_window->findChild<QPushButton*>(QStringLiteral("cmdRND"))->click();
  m_window->findChild<QPushButton*>(QStringLiteral("cmdSAV"))->click();
  const QStringList saved = QDir(m_results->path()).entryList(QDir::Files);
  QCOMPARE(saved.size(), 1);
  const QString file = QDir(m_results->path()).filePath(saved[0]);

  // The same pixels in another format and under another name.
  const QString copy = m_dir.filePath(QStringLiteral("saved from the browser.bmp"));
  QVERIFY(picture.save(copy, "BMP"));
  QTemporaryDir out;
  const auto render = [&](const QStringList& sources, QString& output) {
    QStringList args{QStringLiteral("--again"), file, QStringLiteral("--out"), out.path()};
    for (const QString& source : sources) args << QStringLiteral("--source") << source;
    QProcess process;
    process.start(QStringLiteral(PV_RENDER), args);
    if (!process.waitForFinished(120000)) return -1;
    output = QString::fromUtf8(process.exitCode() == 0 ? process.readAllStandardOutput()
                                                       : process.readAllStandardError())
                 .trimmed();
    return process.exitCode();
  };
  QString output;
  QCOMPARE(render({m_tall}, output), 2);
  QVERIFY2(output.contains(QLatin1String("pasted")), qPrintable(output));
  QCOMPARE(render({m_tall, copy}, output), 0);
  const QImage first = QImage(file).convertToFormat(QImage::Format_RGB32);
  const QImage again = QImage(output).convertToFormat(QImage::Format_RGB32);
  QVERIFY2(!first.isNull() && !again.isNull(), qPrintable(output));
  QCOMPARE(again, first);
}

QTEST_MAIN(SourceImportTest)
#include "source_import_test.moc"
