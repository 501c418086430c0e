// Writes the fuzz target's seed corpus into the folder given: one small
// picture in every format Qt can write here, a progressive JPEG, palette
// and transparent PNGs, a GIF and an SVG drawing.
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <cstdio>

namespace {

bool WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pictovance-fuzz-seeds FOLDER\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]) + "/";
  QImage picture(24, 16, QImage::Format_ARGB32);
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      picture.setPixel(x, y, qRgba(x * 10, y * 15, (x * y) & 255, 255));
  int written = 0;
  for (const QByteArray& format : QImageWriter::supportedImageFormats()) {
    QImageWriter writer(folder + "seed." + QString::fromLatin1(format), format);
    if (writer.write(picture.convertToFormat(QImage::Format_RGB32))) ++written;
  }
  QImageWriter progressive(folder + "progressive.jpg", "jpeg");
  progressive.setProgressiveScanWrite(true);
  written += progressive.write(picture.convertToFormat(QImage::Format_RGB32));
  QImage transparent = picture;
  transparent.setPixel(0, 0, qRgba(0, 0, 0, 0));
  written += transparent.save(folder + "transparent.png");
  written += picture.convertToFormat(QImage::Format_Indexed8).save(folder + "palette.png");
  const unsigned char gif[] = {'G', 'I',  'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 200,  30,   60, 10,  20,
                               30,  0x2C, 0,   0,   0,   0,   2, 0, 1, 0, 0,    2, 2, 0x44, 0x0A, 0,  0x3B};
  written += WriteBytes(folder + "seed.gif", QByteArray(reinterpret_cast<const char*>(gif), sizeof gif));
  written += WriteBytes(folder + "seed.svg",
                        "<svg xmlns='http://www.w3.org/2000/svg' width='24' height='16'>"
                        "<rect width='12' height='16' fill='red'/><circle cx='18' cy='8' r='5' fill='blue'/>"
                        "<text x='1' y='12' font-size='8'>a</text></svg>");
  std::printf("pictovance-fuzz-seeds: %d files in %s\n", written, argv[1]);
  return written > 0 ? 0 : 1;
}
