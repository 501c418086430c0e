// preview_check: tells from a screenshot whether a region shows a picture.
//
//   preview_check SHOT X Y W H [#RRGGBB]
//
// The region X, Y, W x H of the PNG screenshot SHOT counts as a picture when
// it holds at least two colours and at least half of its pixels differ from
// the background colour: the one given, or else the region's top-left pixel
// (the inner corner of a preview that shows no picture yet). An empty
// preview, or the About text in its place, is mostly background. Prints
// what it measured, the background included; exits 0 for a picture, 2 for
// none, 1 when the arguments or the file are wrong.

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSet>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: preview_check SHOT X Y W H [#RRGGBB]\n");
    return 1;
  }
  const QImage shot = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
  const QRect region(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  if (shot.isNull() || region.isEmpty() || !shot.rect().contains(region)) {
    std::fprintf(stderr, "preview_check: cannot read %s or the region lies outside it\n", argv[1]);
    return 1;
  }
  QRgb background = shot.pixel(region.topLeft());
  if (argc == 7) {
    const QColor given = QColor::fromString(QString::fromLatin1(argv[6]));
    if (!given.isValid()) {
      std::fprintf(stderr, "preview_check: %s is not a colour\n", argv[6]);
      return 1;
    }
    background = given.rgb();
  }
  QSet<QRgb> colours;
  long differing = 0;
  for (int y = region.top(); y <= region.bottom(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
    for (int x = region.left(); x <= region.right(); ++x) {
      colours.insert(line[x]);
      if (line[x] != background) ++differing;
    }
  }
  const double share =
      static_cast<double>(differing) / (static_cast<double>(region.width()) * region.height());
  const bool picture = colours.size() >= 2 && share >= 0.5;
  std::printf("colours=%lld differing=%.3f background=#%06x picture=%s\n",
              static_cast<long long>(colours.size()), share, background & 0xFFFFFFu, picture ? "yes" : "no");
  return picture ? 0 : 2;
}
