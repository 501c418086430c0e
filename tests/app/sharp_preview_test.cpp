// The preview on a screen at scale 2 (QT_SCALE_FACTOR=2, set before the
// application starts), seen on the window's own rendering: it shows the
// picture's detail at every device pixel instead of blocks of 2 x 2 equal
// pixels, keeps the preview's logical size, and shows the same view as the
// preview at scale 1 does.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "app/main_window.h"
#include "app/widgets.h"

using namespace pictovance;

class SharpPreviewTest : public QObject {
  Q_OBJECT

 private slots:
  void previewHasDetailAtEveryDevicePixel();
};

void SharpPreviewTest::previewHasDetailAtEveryDevicePixel() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  qputenv("HOME", dir.filePath(QStringLiteral("home")).toLocal8Bit());
  // A source of broad ramps, which show what part of it is where, with fine
  // waves a few pixels long on them, so that the picture's blocks carry
  // detail down to the pixel.
  QImage detail(1000, 500, QImage::Format_RGB32);
  const auto fine = [](double t) { return static_cast<int>(std::lround(30 * std::sin(t))); };
  for (int y = 0; y < detail.height(); ++y) {
    for (int x = 0; x < detail.width(); ++x) {
      detail.setPixel(x, y,
                      qRgb(30 + x * 195 / 1000 + fine(x * 0.9), 30 + y * 195 / 500 + fine(y * 1.1),
                           128 + 3 * fine((x + y) * 0.7)));
    }
  }
  const QString source = dir.filePath(QStringLiteral("detail.png"));
  QVERIFY(detail.save(source));

  Random rng(3);
  rng.Script({0.9});
  MainWindow window(rng, dir.path().toStdString());
  window.Start();
  QCOMPARE(window.devicePixelRatioF(), 2.0);
  window.findChild<QCheckBox*>(QStringLiteral("chkYOBA"))->setChecked(false);
  window.LoadDrop(std::vector<std::string>{source.toStdString()});
  window.findChild<QPushButton*>(QStringLiteral("cmdRND"))->click();

  auto* preview = window.findChild<PreviewArea*>(QStringLiteral("picPreview"));
  QCOMPARE(preview->size(), QSize(400, 300));  // the layout is logical pixels still
  const QImage shot = preview->grab().toImage().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(shot.size(), QSize(800, 600));
  const QImage inner = shot.copy(4, 4, 792, 592);

  // Shown 2 x 2 pixels per picture pixel, every aligned 2 x 2 block would
  // be one colour; the picture's detail makes most of them not.
  long uniform = 0;
  long blocks = 0;
  for (int y = 0; y + 1 < inner.height(); y += 2) {
    for (int x = 0; x + 1 < inner.width(); x += 2) {
      const QRgb p = inner.pixel(x, y);
      uniform += p == inner.pixel(x + 1, y) && p == inner.pixel(x, y + 1) && p == inner.pixel(x + 1, y + 1);
      ++blocks;
    }
  }
  const double share = static_cast<double>(uniform) / blocks;
  QVERIFY2(share < 0.5, qPrintable(QStringLiteral("%1 of the 2 x 2 blocks are one colour").arg(share)));

  // The same view as the core's preview at scale 1: both brought down to a
  // coarse size, where the smoothing of either no longer counts but a
  // different part of the picture, or another stretch of it, would.
  const QImage logical = preview->Shown().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(logical.size(), QSize(396, 296));
  const QSize coarse(50, 37);
  const QImage expected = logical.scaled(coarse, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  const QImage actual = inner.scaled(coarse, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  double difference = 0;
  for (int y = 0; y < coarse.height(); ++y) {
    for (int x = 0; x < coarse.width(); ++x) {
      const QRgb a = expected.pixel(x, y), b = actual.pixel(x, y);
      difference +=
          std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
    }
  }
  difference /= 3.0 * coarse.width() * coarse.height();
  QVERIFY2(difference < 6,
           qPrintable(QStringLiteral("mean difference %1 from the scale-1 preview").arg(difference)));
}

int main(int argc, char** argv) {
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  SharpPreviewTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "sharp_preview_test.moc"
