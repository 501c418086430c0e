#include <zlib.h>

#include <QBrush>
#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "imaging/drawing_p.h"
#include "imaging/image.h"
#include "imaging/picture_checks_p.h"
#include "imaging/source_file.h"

namespace pictovance {

namespace {

std::int64_t Pixels(const QSize& size) { return static_cast<std::int64_t>(size.width()) * size.height(); }

// Inflates a gzip stream, refusing it as soon as it grows beyond the bound.
QByteArray Inflate(std::string_view bytes, const std::string& shown) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) throw ImageError(kErrorOutOfMemory, "Not enough memory");
  QByteArray out;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(std::min<std::size_t>(bytes.size(), UINT32_MAX));
  int result = Z_OK;
  while (result == Z_OK) {
    if (out.size() > kMaxDrawingBytes) break;
    const qsizetype at = out.size();
    out.resize(std::min<qsizetype>(kMaxDrawingBytes + 1, std::max<qsizetype>(at * 2, 1 << 16)));
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + at);
    stream.avail_out = static_cast<uInt>(out.size() - at);
    result = inflate(&stream, Z_NO_FLUSH);
    out.resize(out.size() - static_cast<qsizetype>(stream.avail_out));
    if (result == Z_BUF_ERROR && stream.avail_in > 0) result = Z_OK;  // only the output was full
  }
  inflateEnd(&stream);
  if (out.size() > kMaxDrawingBytes) {
    throw ImageError(kErrorTooLarge, "Drawing too large (more than " +
                                         std::to_string(kMaxDrawingBytes >> 20) +
                                         " MB of text once inflated): " + shown);
  }
  if (result != Z_STREAM_END) {
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + shown +
                                             (result == Z_BUF_ERROR ? ": the compressed drawing is cut off"
                                                                    : ": the compressed drawing is corrupt"));
  }
  return out;
}

QStringView LocalName(QStringView qualified) {
  const qsizetype colon = qualified.lastIndexOf(u':');
  return colon < 0 ? qualified : qualified.mid(colon + 1);
}

// One element of the drawing, for counting what its <use> references draw.
struct Element {
  int parent;
  QString target;  // the id a <use> draws, or empty
};

// The pictures a drawing holds in data: URLs, checked as picture files are
// and bounded together.
class EmbeddedPictures {
 public:
  explicit EmbeddedPictures(const std::string& name) : m_name(name + " (a picture inside it)") {}

  // The URL in its canonical form once the picture passed, or empty when
  // the URL holds nothing (the renderer would draw nothing either).
  QString Checked(QStringView url) {
    const qsizetype comma = url.indexOf(u',');
    if (comma < 0) return {};
    const QStringView header = url.mid(5, comma - 5);
    QByteArray bytes = QByteArray::fromPercentEncoding(url.mid(comma + 1).toUtf8());
    if (header.endsWith(u";base64", Qt::CaseInsensitive)) bytes = QByteArray::fromBase64(bytes);
    if (bytes.isEmpty()) return {};
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    const PictureFormat format = SniffFormat(view);
    if (format == PictureFormat::kUnknown || format == PictureFormat::kSvg ||
        format == PictureFormat::kSvgz) {
      throw ImageError(kErrorNotAnImage, "Not a picture in a known format: " + ReadableName(m_name));
    }
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    // The renderer decodes without naming the format: it must find the one
    // that was checked.
    if (QImageReader::imageFormat(&buffer) != QtFormatName(format)) {
      throw ImageError(kErrorDecodeFailed,
                       "Cannot decode " + ReadableName(m_name) + ": the picture is ambiguous");
    }
    buffer.seek(0);
    QImageReader reader(&buffer, QtFormatName(format));
    const QSize size = CheckRasterPicture(view, format, reader, m_name);
    m_held += bytes.size() + Pixels(size) * 8;
    if (m_held > kMaxEmbeddedBytes) {
      throw ImageError(kErrorTooLarge, "Drawing too large (its pictures hold more than " +
                                           std::to_string(kMaxEmbeddedBytes >> 20) +
                                           " MB): " + ReadableName(m_name));
    }
    return QStringLiteral("data:image/") + QString::fromLatin1(QtFormatName(format)) +
           QStringLiteral(";base64,") + QString::fromLatin1(bytes.toBase64());
  }

 private:
  std::string m_name;
  std::int64_t m_held = 0;
};

// The elements drawn when every <use> draws its target's elements again,
// counted up to the bound. A <use> that leads back to itself counts
// nothing: the renderer refuses to follow it.
std::int64_t DrawnElements(const std::vector<Element>& elements, const QHash<QString, int>& ids) {
  const int count = static_cast<int>(elements.size());
  std::vector<std::vector<int>> children(elements.size());
  for (int i = 0; i < count; ++i) {
    if (elements[i].parent >= 0) children[elements[i].parent].push_back(i);
  }
  constexpr std::int64_t kUnseen = -1;
  constexpr std::int64_t kOpen = -2;
  std::vector<std::int64_t> drawn(elements.size(), kUnseen);
  const auto target = [&](int e) {
    return elements[e].target.isEmpty() ? -1 : ids.value(elements[e].target, -1);
  };
  std::int64_t total = 0;
  for (int root = 0; root < count; ++root) {
    if (elements[root].parent >= 0 || drawn[root] != kUnseen) continue;
    // Depth first without recursion: chains of references can be as long
    // as the drawing.
    std::vector<int> stack{root};
    while (!stack.empty()) {
      const int e = stack.back();
      if (drawn[e] == kUnseen) {
        drawn[e] = kOpen;
        for (const int c : children[e])
          if (drawn[c] == kUnseen) stack.push_back(c);
        if (const int t = target(e); t >= 0 && drawn[t] == kUnseen) stack.push_back(t);
        continue;
      }
      stack.pop_back();
      if (drawn[e] != kOpen) continue;
      std::int64_t sum = 1;
      for (const int c : children[e]) sum += std::max<std::int64_t>(drawn[c], 0);
      if (const int t = target(e); t >= 0) sum += std::max<std::int64_t>(drawn[t], 0);
      drawn[e] = std::min(sum, kMaxDrawnElements + 1);
    }
    total = std::min(total + drawn[root], kMaxDrawnElements + 1);
  }
  return total;
}

// The reader expands each reference to an entity the drawing declares into
// a copy of the entity's text, the whole text run at once: a few bytes of
// references would make gigabytes before the run ends and the copy's bound
// is seen. So the references are counted in the raw text first, and what
// they expand to is bounded. Entities inside entities would multiply, and
// are refused.
void BoundEntities(const QXmlStreamEntityDeclarations& entities, const QByteArray& text,
                   const std::string& shown) {
  constexpr qsizetype kMaxEntities = 64;
  const auto tooLarge = [&shown](const std::string& why) {
    return ImageError(kErrorTooLarge, "Drawing too large (" + why + "): " + shown);
  };
  if (entities.size() > kMaxEntities)
    throw tooLarge("more than " + std::to_string(kMaxEntities) + " entities");
  std::int64_t expanded = 0;
  for (const QXmlStreamEntityDeclaration& entity : entities) {
    if (!entity.systemId().isEmpty() || !entity.publicId().isEmpty()) continue;  // outside: never read
    for (const QXmlStreamEntityDeclaration& inner : entities) {
      if (entity.value().contains(QString(u'&' + inner.name().toString() + u';'))) {
        throw ImageError(kErrorDecodeFailed, "Cannot decode " + shown + ": its entities refer to each other");
      }
    }
    const QByteArray reference = '&' + entity.name().toUtf8() + ';';
    std::int64_t count = 0;
    for (qsizetype at = text.indexOf(reference); at >= 0;
         at = text.indexOf(reference, at + reference.size())) {
      ++count;
    }
    expanded += count * entity.value().size();
    if (expanded > kMaxDrawingBytes) {
      throw tooLarge("its entities expand to more than " + std::to_string(kMaxDrawingBytes >> 20) +
                     " MB of text");
    }
  }
}

// The pre-pass: the drawing rewritten to stand alone (see drawing_p.h).
QByteArray Isolate(const QByteArray& text, const std::string& name) {
  const std::string shown = ReadableName(name);
  // References are counted in the raw bytes, which must be ASCII-based for
  // that: a drawing in UTF-16 is refused.
  if (text.left(64).contains('\0'))
    throw ImageError(kErrorNotAnImage, "Not a picture in a known format: " + shown);
  QXmlStreamReader xml(text);
  xml.setNamespaceProcessing(false);
  QByteArray out;
  // The copy is about as long as the text; grown a write at a time, it
  // would be copied over and over.
  out.reserve(std::min<qsizetype>(kMaxDrawingBytes, text.size() + text.size() / 8 + 4096));
  QXmlStreamWriter writer(&out);
  writer.writeStartDocument();
  EmbeddedPictures embedded(name);
  std::vector<Element> elements;
  std::vector<int> open;
  QHash<QString, int> ids;
  const auto tooLarge = [&shown](const std::string& why) {
    return ImageError(kErrorTooLarge, "Drawing too large (" + why + "): " + shown);
  };
  while (!xml.atEnd()) {
    switch (xml.readNext()) {
      case QXmlStreamReader::StartElement: {
        const QStringView qualified = xml.qualifiedName();
        const QStringView local = LocalName(qualified);
        if (elements.empty() && local != u"svg") {
          throw ImageError(kErrorNotAnImage, "Not a picture in a known format: " + shown);
        }
        if (static_cast<int>(open.size()) >= kMaxDrawingDepth) throw tooLarge("nested too deeply");
        if (static_cast<std::int64_t>(elements.size()) >= kMaxDrawingElements) {
          throw tooLarge("more than " + std::to_string(kMaxDrawingElements) + " elements");
        }
        const int index = static_cast<int>(elements.size());
        elements.push_back({open.empty() ? -1 : open.back(), {}});
        open.push_back(index);
        writer.writeStartElement(qualified.toString());
        for (const QXmlStreamAttribute& attribute : xml.attributes()) {
          const QStringView attributeName = attribute.qualifiedName();
          QString value = attribute.value().toString();
          if (LocalName(attributeName) == u"href") {
            const QStringView link = QStringView(value).trimmed();
            if (link.startsWith(u'#')) {
              if (local == u"use") elements.back().target = link.mid(1).toString();
            } else if (local == u"image" && link.startsWith(u"data:", Qt::CaseInsensitive)) {
              value = embedded.Checked(link);
              if (value.isEmpty()) continue;
            } else {
              continue;  // outside the drawing: never followed
            }
          } else if (attributeName == u"id") {
            ids.insert(value, index);  // as in the renderer, the last element of an id has it
          }
          writer.writeAttribute(attributeName.toString(), value);
        }
        if (local == u"style") {
          // The text is read ahead here so that an import drops it whole.
          const QString styleText = xml.readElementText(QXmlStreamReader::IncludeChildElements);
          if (!styleText.contains(u"@import", Qt::CaseInsensitive)) writer.writeCharacters(styleText);
          writer.writeEndElement();
          open.pop_back();
        }
        break;
      }
      case QXmlStreamReader::EndElement:
        writer.writeEndElement();
        open.pop_back();
        break;
      case QXmlStreamReader::Characters:
        writer.writeCharacters(xml.text().toString());
        break;
      case QXmlStreamReader::DTD:
        BoundEntities(xml.entityDeclarations(), text, shown);
        break;
      default:
        // The prolog, the DTD, comments, processing instructions and
        // references to entities the file does not declare.
        break;
    }
    if (out.size() > kMaxDrawingBytes) {
      throw tooLarge("more than " + std::to_string(kMaxDrawingBytes >> 20) + " MB of text");
    }
  }
  if (xml.hasError()) {
    if (elements.empty()) throw ImageError(kErrorNotAnImage, "Not a picture in a known format: " + shown);
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + shown +
                                             ": the drawing is not well-formed (line " +
                                             std::to_string(xml.lineNumber()) + ": " +
                                             ReadableName(xml.errorString().toStdString()) + ")");
  }
  writer.writeEndDocument();
  if (DrawnElements(elements, ids) > kMaxDrawnElements) {
    throw tooLarge("its references draw more than " + std::to_string(kMaxDrawnElements) + " elements");
  }
  return out;
}

// A paint engine that draws nothing and adds up what each call would cost
// the raster engine: the area it fills, the length times the width of what
// it strokes (each at most its bounding box on the device), and a fixed
// amount per call for the work around it.
class CostMeter : public QPaintEngine {
 public:
  explicit CostMeter(QSize size) : QPaintEngine(QPaintEngine::AllFeatures), m_device(QPoint(0, 0), size) {}

  double Cost() const noexcept { return m_cost; }

  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  Type type() const override { return QPaintEngine::User; }

  void updateState(const QPaintEngineState& state) override {
    const QPaintEngine::DirtyFlags dirty = state.state();
    if (dirty & DirtyTransform) m_transform = state.transform();
    if (dirty & DirtyPen) m_pen = state.pen();
    if (dirty & DirtyBrush) m_brush = state.brush();
  }

  void drawPath(const QPainterPath& path) override {
    const double scale = std::sqrt(std::abs(m_transform.determinant()));
    AddShape(path.controlPointRect(), ControlLength(path) * scale);
  }
  // The length through a path's control points: never shorter than the
  // path, and a sum over its elements. QPainterPath::length() splits
  // curves until they are flat, which took minutes for a circle of radius
  // 1e31.
  static double ControlLength(const QPainterPath& path) {
    double length = 0;
    for (int i = 1; i < path.elementCount(); ++i) {
      const QPainterPath::Element& to = path.elementAt(i);
      if (to.isMoveTo()) continue;
      const QPainterPath::Element& from = path.elementAt(i - 1);
      length += std::hypot(to.x - from.x, to.y - from.y);
    }
    return length;
  }
  void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override {
    if (count <= 0) return;
    QPolygonF polygon(count);
    std::copy(points, points + count, polygon.begin());
    double length = 0;
    for (int i = 1; i < count; ++i) length += QLineF(polygon[i - 1], polygon[i]).length();
    if (mode != PolylineMode) length += QLineF(polygon.back(), polygon.front()).length();
    const double scale = std::sqrt(std::abs(m_transform.determinant()));
    AddShape(polygon.boundingRect(), length * scale, mode != PolylineMode);
  }
  void drawPixmap(const QRectF& target, const QPixmap& pixmap, const QRectF&) override {
    Add(Area(target, 0) + Pixels(pixmap.size()));
  }
  void drawImage(const QRectF& target, const QImage& image, const QRectF&,
                 Qt::ImageConversionFlags) override {
    Add(Area(target, 0) + Pixels(image.size()));
  }
  void drawTiledPixmap(const QRectF& target, const QPixmap& pixmap, const QPointF&) override {
    Add(Area(target, 0) + Pixels(pixmap.size()));
  }
  void drawTextItem(const QPointF& at, const QTextItem& text) override {
    const QRectF box(at.x(), at.y() - text.ascent(), text.width(), text.ascent() + text.descent());
    Add(Area(box, 0) + 64.0 * text.text().size());
  }

 private:
  static constexpr double kPerCall = 1000;

  void Add(double cost) { m_cost += kPerCall + cost; }

  // The area of rect on the device, widened by margin device pixels and
  // clipped to the drawing.
  double Area(const QRectF& rect, double margin) const {
    const QRectF box =
        m_transform.mapRect(rect).adjusted(-margin, -margin, margin, margin).intersected(m_device);
    return box.isValid() ? box.width() * box.height() : 0;
  }

  void AddShape(const QRectF& bounds, double deviceLength, bool filled = true) {
    double cost = 0;
    if (filled && m_brush.style() != Qt::NoBrush) cost += Area(bounds, 0);
    if (m_pen.style() != Qt::NoPen) {
      const double scale = std::sqrt(std::abs(m_transform.determinant()));
      const double width =
          m_pen.isCosmetic() ? std::max(1.0, m_pen.widthF()) : std::max(1.0, m_pen.widthF() * scale);
      cost += std::min(Area(bounds, width), deviceLength * width);
    }
    Add(cost);
  }

  QRectF m_device;
  QTransform m_transform;
  QPen m_pen;
  QBrush m_brush;
  double m_cost = 0;
};

// The device the meter draws on: as large as the picture, and as dense as
// a QImage, so that text is laid out as it will be on the picture.
class CostMeterDevice : public QPaintDevice {
 public:
  explicit CostMeterDevice(QSize size) : m_size(size), m_engine(size) {}
  ~CostMeterDevice() override = default;
  QPaintEngine* paintEngine() const override { return &m_engine; }
  double Cost() const noexcept { return m_engine.Cost(); }

 protected:
  int metric(PaintDeviceMetric metric) const override {
    switch (metric) {
      case PdmWidth:
        return m_size.width();
      case PdmHeight:
        return m_size.height();
      case PdmWidthMM:
        return qRound(m_size.width() * 25.4 / kDpi);
      case PdmHeightMM:
        return qRound(m_size.height() * 25.4 / kDpi);
      case PdmNumColors:
        return 0;
      case PdmDepth:
        return 32;
      case PdmDpiX:
      case PdmDpiY:
      case PdmPhysicalDpiX:
      case PdmPhysicalDpiY:
        return kDpi;
      case PdmDevicePixelRatio:
        return 1;
      case PdmDevicePixelRatioScaled:
        return static_cast<int>(QPaintDevice::devicePixelRatioFScale());
    }
    return 0;
  }

 private:
  static constexpr int kDpi = 72;  // a QImage's default density
  QSize m_size;
  mutable CostMeter m_engine;
};

// Qt lays out a drawing's text with its font database, which exists only
// with a QGuiApplication (without one, Qt aborts the process). The window
// has one; for the renderer and the tests one is made on first need, off
// screen, and kept for the life of the process.
void EnsureFontsForDrawing() {
  if (QCoreApplication::instance() != nullptr) return;  // the window's, or the host's
  static int argc = 3;
  static char name[] = "pictovance";
  static char option[] = "-platform";
  static char platform[] = "offscreen";
  static char* argv[] = {name, option, platform, nullptr};
  static QGuiApplication* application = new QGuiApplication(argc, argv);
  (void)application;
}

}  // namespace

QImage DrawDrawing(std::string_view bytes, bool compressed, QSize size, const std::string& name) {
  const std::string shown = ReadableName(name);
  if (!compressed && static_cast<std::int64_t>(bytes.size()) > kMaxDrawingBytes) {
    throw ImageError(kErrorTooLarge, "Drawing too large (more than " +
                                         std::to_string(kMaxDrawingBytes >> 20) + " MB of text): " + shown);
  }
  const QByteArray text = compressed
                              ? Inflate(bytes, shown)
                              : QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  if (compressed && SniffFormat(std::string_view(text.constData(), static_cast<std::size_t>(text.size()))) !=
                        PictureFormat::kSvg) {
    throw ImageError(kErrorNotAnImage, "Not a picture in a known format: " + shown);
  }
  const QByteArray isolated = Isolate(text, name);

  EnsureFontsForDrawing();
  QSvgRenderer renderer;
  if (!renderer.load(isolated))
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + shown + ": the drawing cannot be read");
  // A drawing has no pixels of its own: it is drawn at the size asked for,
  // or at the size it names.
  const QSize named = renderer.defaultSize();
  if (named.isEmpty())
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + shown + ": the drawing has no size");
  if (size.isEmpty()) size = named;
  if (Pixels(size) > kMaxLoadPixels) {
    throw ImageError(kErrorTooLarge, "Picture too large (" + std::to_string(size.width()) + " x " +
                                         std::to_string(size.height()) + "): " + shown);
  }
  const QRectF bounds(QPointF(0, 0), QSizeF(size));
  {
    CostMeterDevice meter(size);
    QPainter painter(&meter);
    renderer.render(&painter, bounds);
    painter.end();
    if (meter.Cost() > kMaxDrawingCost) {
      throw ImageError(kErrorTooLarge, "Drawing too costly to draw at " + std::to_string(size.width()) +
                                           " x " + std::to_string(size.height()) + " (about " +
                                           std::to_string(static_cast<long long>(meter.Cost() / 1e6)) +
                                           " megapixels of painting): " + shown);
    }
  }
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) throw ImageError(kErrorOutOfMemory, "Not enough memory to load " + shown);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  renderer.render(&painter, bounds);
  painter.end();
  return image;
}

}  // namespace pictovance
