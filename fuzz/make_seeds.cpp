// Writes the fuzz target's seed corpus into the folder given: one small
// picture in every format Qt can write here, a progressive JPEG, palette
// and transparent PNGs, a GIF, and SVG drawings plain and compressed, one of
// them reaching outside itself in every way the loader has to stop.
#include <zlib.h>

#include <QBuffer>
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

// The bytes as a gzip stream, as an .svgz file holds a drawing.
QByteArray Gzip(const QByteArray& bytes) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(bytes.size()))), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.truncate(static_cast<qsizetype>(stream.total_out));
  deflateEnd(&stream);
  return out;
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
  // A drawing with everything the loader's pre-pass rewrites: entities
  // declared inside and outside, a stylesheet instruction, an import, links
  // out of the file, a picture embedded as a data: URL and <use> references.
  QByteArray png;
  {
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.convertToFormat(QImage::Format_RGB32).save(&buffer, "png");
  }
  const QByteArray drawing =
      "<?xml version='1.0'?><?xml-stylesheet type='text/css' href='style.css'?>"
      "<!DOCTYPE svg PUBLIC '-//W3C//DTD SVG 1.1//EN' 'http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd' ["
      "<!ENTITY ns_svg 'http://www.w3.org/2000/svg'><!ENTITY outside SYSTEM 'outside.xml'>]>"
      "<svg xmlns='&ns_svg;' xmlns:xlink='http://www.w3.org/1999/xlink' width='24' height='16'"
      " viewBox='0 0 24 16'>"
      "<style>@import url(other.css); rect { fill: green }</style>"
      "<defs><g id='dot'><circle cx='2' cy='2' r='2' fill='red'/></g></defs>"
      "<image width='12' height='16' xlink:href='/etc/picture.png'/>"
      "<image x='12' width='12' height='16' xlink:href='data:image/png;base64," +
      png.toBase64() +
      "'/><use xlink:href='#dot'/><use x='6' xlink:href='#dot'/><use xlink:href='other.svg#dot'/>"
      "<text x='1' y='12' font-size='8'>&outside;a</text></svg>";
  written += WriteBytes(folder + "isolated.svg", drawing);
  written += WriteBytes(folder + "isolated.svgz", Gzip(drawing));
  std::printf("pictovance-fuzz-seeds: %d files in %s\n", written, argv[1]);
  return written > 0 ? 0 : 1;
}
