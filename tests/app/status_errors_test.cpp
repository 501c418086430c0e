// Failed commands in the status line: the cause in a few words that the
// 238-pixel line shows whole in the window's own font, whatever the cause.

#include "app/status_errors.h"

#include <QLabel>
#include <QtTest>
#include <cerrno>

#include "app/main_window.h"

using namespace pictovance;

class StatusErrorsTest : public QObject {
  Q_OBJECT

 private slots:
  void namesTheCause_data();
  void namesTheCause();
  void everyTextFitsTheStatusLine();
};

void StatusErrorsTest::namesTheCause_data() {
  QTest::addColumn<int>("number");
  QTest::addColumn<int>("systemError");
  QTest::addColumn<QString>("text");
  QTest::newRow("read-only mount") << int{kErrorWriteFailed} << EROFS << "Error: folder is read-only";
  QTest::newRow("full disk") << int{kErrorWriteFailed} << ENOSPC << "Error: disk is full";
  QTest::newRow("quota") << int{kErrorWriteFailed} << EDQUOT << "Error: disk is full";
  QTest::newRow("permission bits") << int{kErrorWriteFailed} << EACCES << "Error: no permission";
  QTest::newRow("not allowed") << int{kErrorWriteFailed} << EPERM << "Error: no permission";
  QTest::newRow("no system cause") << int{kErrorWriteFailed} << 0 << "Error: picture not saved";
  QTest::newRow("cause without words") << int{kErrorWriteFailed} << EBADF << "Error: picture not saved";
  QTest::newRow("unknown number") << 0 << 0 << "Error: command failed";
}

void StatusErrorsTest::namesTheCause() {
  QFETCH(int, number);
  QFETCH(int, systemError);
  QFETCH(QString, text);
  const ImageError error(number, "Cannot write /some/folder/4005812254-D9.png: whatever the system said",
                         systemError);
  QCOMPARE(ShortErrorText(error), text);
  QCOMPARE(FullErrorText(error),
           QStringLiteral("Error: Cannot write /some/folder/4005812254-D9.png: whatever the system said"));
}

void StatusErrorsTest::everyTextFitsTheStatusLine() {
  Random rng(1);
  MainWindow window(rng, QDir::tempPath().toStdString());
  const auto* status = window.findChild<QLabel*>(QStringLiteral("lblWait"));
  QVERIFY(status != nullptr);
  const int room = status->contentsRect().width();
  int widest = 0;
  for (const int number : {0, int{kErrorInvalidArgument}, int{kErrorOutOfMemory}, int{kErrorFileNotFound},
                           int{kErrorFileAccess}, int{kErrorNotAnImage}, int{kErrorTooLarge},
                           int{kErrorDecodeFailed}, int{kErrorWriteFailed}, int{kErrorColourReduction}}) {
    for (int systemError = 0; systemError < 256; ++systemError) {
      window.ShowError(ImageError(number, std::string(300, 'x'), systemError));
      const QString text = status->text();
      const int width = status->fontMetrics().horizontalAdvance(text);
      widest = std::max(widest, width);
      QVERIFY2(width <= room,
               qPrintable(QStringLiteral("\"%1\" takes %2 of %3 pixels").arg(text).arg(width).arg(room)));
    }
  }
  qInfo("widest error text: %d of %d pixels", widest, room);
}

QTEST_MAIN(StatusErrorsTest)
#include "status_errors_test.moc"
