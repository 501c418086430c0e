// The files a drag carries, and the drop handling taken over from the
// widgets that would otherwise insert text or pass the drop to the window.

#include "app/drop_targets.h"

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QWidget>
#include <QtTest>

using namespace pictovance;

class DropTargetsTest : public QObject {
  Q_OBJECT

 private slots:
  void droppedFiles_data();
  void droppedFiles();
  void nameThatIsNotUtf8KeepsItsBytes();
  void loadingFieldTakesNoText();
  void refusingTargetStopsTheDrag();
};

void DropTargetsTest::droppedFiles_data() {
  QTest::addColumn<QList<QUrl>>("urls");
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("hasList");
  QTest::addColumn<QStringList>("files");

  const QUrl a = QUrl::fromLocalFile(QStringLiteral("/pictures/a.png"));
  const QUrl b = QUrl::fromLocalFile(QStringLiteral("/pictures/b c.jpg"));
  const QUrl accented = QUrl::fromLocalFile(QString::fromUtf8("/pictures/\xC3\xA9t\xC3\xA9.png"));
  const QUrl web(QStringLiteral("https://example.org/picture.png"));
  QTest::newRow("files in the drag's order")
      << QList<QUrl>{b, a} << QString() << true << QStringList{"/pictures/b c.jpg", "/pictures/a.png"};
  QTest::newRow("same file twice") << QList<QUrl>{a, a} << QString() << true
                                   << QStringList{"/pictures/a.png", "/pictures/a.png"};
  QTest::newRow("non-ASCII name as UTF-8")
      << QList<QUrl>{accented} << QString() << true
      << QStringList{QString::fromUtf8("/pictures/\xC3\xA9t\xC3\xA9.png")};
  QTest::newRow("web addresses left out")
      << QList<QUrl>{web, a} << QString() << true << QStringList{"/pictures/a.png"};
  QTest::newRow("only web addresses") << QList<QUrl>{web} << QString() << false << QStringList();
  QTest::newRow("text only") << QList<QUrl>() << QStringLiteral("/pictures/a.png") << false << QStringList();
}

void DropTargetsTest::droppedFiles() {
  QFETCH(QList<QUrl>, urls);
  QFETCH(QString, text);
  QFETCH(bool, hasList);
  QFETCH(QStringList, files);
  QMimeData data;
  if (!urls.isEmpty()) data.setUrls(urls);
  if (!text.isEmpty()) data.setText(text);
  const DroppedFileList list = DroppedFiles(&data);
  QCOMPARE(list.has_value(), hasList);
  if (!list) return;
  QStringList got;
  for (const std::string& file : *list) got << QString::fromStdString(file);
  QCOMPARE(got, files);
}

// A file manager writes a name that is not UTF-8 as escaped bytes.
void DropTargetsTest::nameThatIsNotUtf8KeepsItsBytes() {
  QMimeData data;
  data.setData(QStringLiteral("text/uri-list"), "file:///pictures/latin%E9.png\r\n");
  const DroppedFileList list = DroppedFiles(&data);
  QVERIFY(list.has_value());
  QCOMPARE(*list, std::vector<std::string>{"/pictures/latin\xE9.png"});
}

// A text box that loads drops keeps its text and reports the drop instead.
void DropTargetsTest::loadingFieldTakesNoText() {
  QWidget window;
  auto* field = new QLineEdit(QStringLiteral("800"), &window);
  int drops = 0;
  DroppedFileList last;
  DropTargets targets(
      [&](const DroppedFileList& files) {
        ++drops;
        last = files;
      },
      &window);
  targets.Load(field);

  QMimeData data;
  data.setText(QStringLiteral("12"));
  QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(field, &enter);
  QVERIFY2(enter.isAccepted(), "drag refused");
  QDropEvent drop(QPointF(2, 2), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  drop.setDropAction(Qt::MoveAction);
  QApplication::sendEvent(field, &drop);
  QVERIFY2(drop.isAccepted(), "drop refused");
  QCOMPARE(drop.dropAction(), Qt::CopyAction);
  QCOMPARE(field->text(), QStringLiteral("800"));
  QCOMPARE(drops, 1);
  QVERIFY2(!last.has_value(), "a text drop reported files");
}

void DropTargetsTest::refusingTargetStopsTheDrag() {
  QWidget window;
  auto* field = new QLineEdit(&window);
  int drops = 0;
  DropTargets targets([&](const DroppedFileList&) { ++drops; }, &window);
  targets.Refuse(field);
  QVERIFY2(field->acceptDrops(), "a refusing target must see the drag, or it falls through to its parent");

  QMimeData data;
  data.setText(QStringLiteral("12"));
  QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  enter.accept();
  QApplication::sendEvent(field, &enter);
  QVERIFY2(!enter.isAccepted(), "drag accepted");
  QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(field, &drop);
  QCOMPARE(field->text(), QString());
  QCOMPARE(drops, 0);
}

QTEST_MAIN(DropTargetsTest)
#include "drop_targets_test.moc"
