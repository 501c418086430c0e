#include "imaging/image.h"

#include <sys/mman.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <memory>
#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "imaging/bitmap_p.h"
#include "imaging/qt_bridge.h"
#include "imaging/threads.h"

namespace pictovance {

// --- Picture ----------------------------------------------------------------

Picture::Picture() = default;
Picture::~Picture() = default;
Picture::Picture(const Picture&) = default;
Picture& Picture::operator=(const Picture&) = default;
Picture::Picture(Picture&&) noexcept = default;
Picture& Picture::operator=(Picture&&) noexcept = default;
Picture::Picture(std::shared_ptr<const Data> data) : m_data(std::move(data)) {}

bool Picture::IsNull() const noexcept { return !m_data || m_data->image.isNull(); }
int Picture::Width() const noexcept { return m_data ? m_data->image.width() : 0; }
int Picture::Height() const noexcept { return m_data ? m_data->image.height() : 0; }

QImage ToQImage(const Picture& picture) { return picture.data() ? picture.data()->image : QImage(); }

// --- Image: life cycle --------------------------------------------------------

Image::Image() : m_bitmap(std::make_unique<Bitmap>()) {}
Image::~Image() = default;
Image::Image(Image&& other) noexcept : Image() { Swap(other); }

Image& Image::operator=(Image&& other) noexcept {
  Image taken(std::move(other));
  Swap(taken);
  return *this;
}

// Every member moves together: the cached pixel pointers must stay with the
// bitmap they point into.
void Image::Swap(Image& other) noexcept {
  using std::swap;
  swap(m_bitmap, other.m_bitmap);
  swap(m_readBits, other.m_readBits);
  swap(m_writeBits, other.m_writeBits);
  swap(m_stride, other.m_stride);
  swap(m_width, other.m_width);
  swap(m_height, other.m_height);
  swap(m_innerWidth, other.m_innerWidth);
  swap(m_innerHeight, other.m_innerHeight);
  swap(m_backColor, other.m_backColor);
  swap(m_lineColor, other.m_lineColor);
  swap(m_penPixel, other.m_penPixel);
  swap(m_lineWidth, other.m_lineWidth);
  swap(m_saveFormat, other.m_saveFormat);
  swap(m_pngCompression, other.m_pngCompression);
  swap(m_texts, other.m_texts);
}

int Image::BitmapType() const noexcept {
  const QImage& image = m_bitmap->image;
  if (image.isNull()) return kKindNone;
  return image.format() == QImage::Format_Indexed8 ? kKindPalette : kKindWorking;
}

void Image::RefreshCache() noexcept {
  QImage& image = m_bitmap->image;
  m_width = image.width();
  m_height = image.height();
  m_innerWidth = static_cast<unsigned>(std::max(m_width - 3, 0));
  m_innerHeight = static_cast<unsigned>(std::max(m_height - 3, 0));
  if (image.isNull() || image.format() != QImage::Format_RGB32) {
    m_readBits = nullptr;
    m_writeBits = nullptr;
    m_stride = 0;
    if (image.isNull()) m_width = m_height = 0;
    return;
  }
  m_stride = image.bytesPerLine() / 4;
  m_readBits = reinterpret_cast<const std::uint32_t*>(image.constBits());
  m_writeBits = image.isDetached() ? reinterpret_cast<std::uint32_t*>(image.bits()) : nullptr;
}

bool Image::PrepareForWriting() noexcept {
  QImage& image = m_bitmap->image;
  if (image.isNull()) return false;
  if (!MakeWorkingFormat(image)) return false;  // out of memory: the dot is dropped
  if (image.bits() == nullptr) return false;  // detaching failed for lack of memory
  RefreshCache();
  return m_writeBits != nullptr;
}

Image Image::RowBand(int top, int bottom) {
  Image band;
  top = std::clamp(top, 0, m_height);
  bottom = std::clamp(bottom, top, m_height);
  if (bottom == top || (m_writeBits == nullptr && !PrepareForWriting())) return band;
  // A QImage over memory it does not own: writing to it never copies.
  band.m_bitmap->image = QImage(reinterpret_cast<uchar*>(m_writeBits + top * m_stride), m_width, bottom - top,
                                m_stride * 4, QImage::Format_RGB32);
  band.RefreshCache();
  return band;
}

QImage& WorkingImage(Image& image) { return image.MutableBitmap().image; }

Image::Bitmap& Image::MutableBitmap() {
  QImage& image = m_bitmap->image;
  if (!image.isNull() && (image.format() != QImage::Format_RGB32 || !image.isDetached())) {
    if (!PrepareForWriting()) {
      throw ImageError(kErrorOutOfMemory, "Not enough memory for a " + std::to_string(image.width()) + " x " +
                                              std::to_string(image.height()) + " picture");
    }
  }
  return *m_bitmap;
}

Colour Image::SlowColorAt(int x, int y) const noexcept {
  const QImage& image = m_bitmap->image;
  return FromPixel(image.pixel(x, y));
}

void Image::SetBackColor(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < INT32_MIN ||
      value > INT32_MAX) {
    throw ImageError(kErrorInvalidArgument, "Not a colour number: \"" + std::string(text) + "\"");
  }
  m_backColor = static_cast<Colour>(value);
}

// --- Bitmap -----------------------------------------------------------------

namespace {

// A big bitmap in 4 KiB pages costs a page fault every 4 KiB when it is
// first written, and a column of dots touches a new page on every row, far
// more pages than the processor keeps translated: painting a 9999 x 9999
// picture spent most of its time on both. Asked before the first write,
// the kernel backs the bitmap with 2 MiB pages where it can (transparent
// huge pages on request). Only the whole 2 MiB pages inside the bitmap are
// asked for; small bitmaps are left alone.
// Bitmaps from this many pixels on are filled, and converted from a
// palette, on every picture thread.
constexpr std::int64_t kParallelFillPixels = std::int64_t{1} << 22;

void AskForLargePages(void* bits, std::size_t size) noexcept {
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
  if (size < 8 * kLargePage) return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(bits) + kLargePage - 1) & ~(kLargePage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(bits) + size) & ~(kLargePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)bits;
  (void)size;
#endif
}

}  // namespace

QImage NewWorkingImage(int width, int height) {
  if (width < 1 || height < 1) {
    throw ImageError(kErrorInvalidArgument,
                     "Invalid picture size " + std::to_string(width) + " x " + std::to_string(height));
  }
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) {
    throw ImageError(kErrorOutOfMemory, "Not enough memory for a " + std::to_string(width) + " x " +
                                            std::to_string(height) + " picture");
  }
  AskForLargePages(image.bits(), static_cast<std::size_t>(image.sizeInBytes()));
  return image;
}

namespace {

void DeleteImage(void* image) { delete static_cast<QImage*>(image); }

// What Qt's conversion makes of each of the 256 indices of palette
// bitmap's colour table, as working pixels; a null image when the memory
// cannot be had.
QImage WorkingColours(const QImage& palette) {
  QImage indices(256, 1, QImage::Format_Indexed8);
  if (indices.isNull()) return QImage();
  indices.setColorTable(palette.colorTable());
  for (int k = 0; k < 256; ++k) indices.bits()[k] = static_cast<uchar>(k);
  return indices.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

QImage ToWorkingFormat(const QImage& image) noexcept {
  try {
    const int width = image.width(), height = image.height();
    if (image.format() != QImage::Format_Indexed8 || std::int64_t{width} * height < kParallelFillPixels) {
      return image.convertToFormat(QImage::Format_RGB32);
    }
    // That table row by row.
    const QImage colours = WorkingColours(image);
    QImage out(width, height, QImage::Format_RGB32);
    if (colours.isNull() || out.isNull()) return QImage();
    AskForLargePages(out.bits(), static_cast<std::size_t>(out.sizeInBytes()));
    const auto* table = reinterpret_cast<const std::uint32_t*>(colours.constBits());
    uchar* const bits = out.bits();
    const qsizetype stride = out.bytesPerLine();
    ForEachRowBand(height, PictureThreads(), [&](int, int top, int bottom) {
      for (int y = top; y < bottom; ++y) {
        const uchar* in = image.constScanLine(y);
        auto* row = reinterpret_cast<std::uint32_t*>(bits + stride * y);
        for (int x = 0; x < width; ++x) row[x] = table[in[x]];
      }
    });
    return out;
  } catch (const std::exception&) {
    return QImage();
  }
}

bool MakeWorkingFormat(QImage& image) noexcept {
  if (image.format() == QImage::Format_RGB32) return true;
  const int width = image.width(), height = image.height();
  const bool roomy = image.format() == QImage::Format_Indexed8 && image.isDetached() &&
                     image.bytesPerLine() >= std::int64_t{4} * width;
  if (!roomy) {
    QImage converted = ToWorkingFormat(image);
    if (converted.isNull()) return false;
    image = std::move(converted);
    return true;
  }
  try {
    const QImage colours = WorkingColours(image);
    if (colours.isNull()) return false;
    const auto* table = reinterpret_cast<const std::uint32_t*>(colours.constBits());
    auto keep = std::make_unique<QImage>(image);
    uchar* const bits = const_cast<uchar*>(image.constBits());
    const qsizetype stride = image.bytesPerLine();
    QImage working(bits, width, height, stride, QImage::Format_RGB32, DeleteImage, keep.get());
    if (working.isNull()) return false;
    keep.release();  // working's to delete now
    // From here nothing allocates but the threads, which may only be fewer.
    const int bands = std::int64_t{width} * height >= kParallelFillPixels ? PictureThreads() : 1;
    ForEachRowBand(height, bands, [&](int, int top, int bottom) {
      for (int y = top; y < bottom; ++y) {
        const uchar* in = bits + stride * y;
        auto* row = reinterpret_cast<std::uint32_t*>(bits + stride * y);
        for (int x = width - 1; x >= 0; --x) row[x] = table[in[x]];
      }
    });
    image = std::move(working);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

namespace {

#if defined(__x86_64__)
// Qt's AVX2 fill returns without clearing the upper halves of the vector
// registers. Until they are cleared, every SSE instruction (OpenCV's baseline
// code, this program's own floating point) runs several times slower: a
// linear resize took 1.6 ms instead of 0.3 ms after one fill.
[[gnu::target("avx")]] void ClearUpperHalvesAvx() noexcept { _mm256_zeroupper(); }
void ClearUpperVectorHalves() noexcept {
  static const bool avx = __builtin_cpu_supports("avx");
  if (avx) ClearUpperHalvesAvx();
}
#else
void ClearUpperVectorHalves() noexcept {}
#endif

std::uint32_t PixelOf(Colour c) {
  const auto v = static_cast<std::uint32_t>(c);
  return 0xFF000000u | ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
}

}  // namespace

void Image::CreateBitmap(int width, int height, Colour colour) {
  QImage image = NewWorkingImage(width, height);
  // A big bitmap is filled in bands, one a picture thread: its pages are
  // first touched, and cleared by the system, on every core.
  const std::uint32_t pixel = PixelOf(colour);
  const int bands = std::int64_t{image.width()} * image.height() >= kParallelFillPixels ? PictureThreads() : 1;
  uchar* const bits = image.bits();
  const qsizetype stride = image.bytesPerLine();
  ForEachRowBand(height, bands, [&](int, int top, int bottom) {
    for (int y = top; y < bottom; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(bits + stride * y);
      std::fill(row, row + width, pixel);
    }
  });
  ClearUpperVectorHalves();
  m_bitmap->image = std::move(image);
  RefreshCache();
}

void Image::AssignPicture(const Picture& picture) {
  m_bitmap->image = picture.data() ? picture.data()->image : QImage();
  RefreshCache();
}

Picture Image::GetPicture() const {
  if (m_bitmap->image.isNull()) return Picture();
  auto data = std::make_shared<Picture::Data>();
  data->image = m_bitmap->image;
  m_writeBits = nullptr;  // shared now: the next write detaches
  return Picture(std::move(data));
}

// --- Drawing ------------------------------------------------------------------

void Image::FillClipped(long long left, long long top, long long right, long long bottom) noexcept {
  left = std::max(left, 0LL);
  top = std::max(top, 0LL);
  right = std::min(right, static_cast<long long>(m_width) - 1);
  bottom = std::min(bottom, static_cast<long long>(m_height) - 1);
  if (left > right || top > bottom) return;
  if (m_writeBits == nullptr && !PrepareForWriting()) return;
  const std::uint32_t pixel = m_penPixel;
  if (left == right) {  // a column: one pixel a row
    std::uint32_t* p = m_writeBits + top * m_stride + left;
    for (long long y = top; y <= bottom; ++y, p += m_stride) *p = pixel;
    return;
  }
  for (long long y = top; y <= bottom; ++y) {
    std::uint32_t* row = m_writeBits + y * m_stride;
    std::fill(row + left, row + right + 1, pixel);
  }
}

void Image::DrawThickPoint(int x, int y) noexcept {
  const int w = std::clamp(m_lineWidth, 1, kMaxLineWidth);
  const long long left = static_cast<long long>(x) - (w - 1) / 2;
  const long long top = static_cast<long long>(y) - (w - 1) / 2;
  if (left >= 0 && top >= 0 && left + w <= m_width && top + w <= m_height && m_writeBits != nullptr) {
    // The common case, a whole dot inside: no clipping, short rows.
    std::uint32_t* row = m_writeBits + top * m_stride + left;
    const std::uint32_t pixel = m_penPixel;
    for (int dy = 0; dy < w; ++dy, row += m_stride) {
      for (int dx = 0; dx < w; ++dx) row[dx] = pixel;
    }
    return;
  }
  FillClipped(left, top, left + w - 1, top + w - 1);
}

namespace {

// The pixels a dot of width w at (x, y) covers among columns x - 1 .. x + 2
// (bit c: column x - 1 + c) of rows y - 1 .. y + 2 (byte b: row y - 1 + b).
constexpr std::uint32_t kDotRows[5] = {
    0,           // (no width 0)
    0x00000200,  // 1: (x, y)
    0x00060600,  // 2: x .. x + 1, y .. y + 1
    0x00070707,  // 3: x - 1 .. x + 1, y - 1 .. y + 1
    0x0F0F0F0F,  // 4: x - 1 .. x + 2, y - 1 .. y + 2
};

// Writes pixel into the columns of row p[0..3] whose bit is set in mask,
// without a branch: which columns a row of thick dots covers is random.
#if defined(__SSE2__)
struct LaneMasks {
  alignas(16) std::uint32_t lanes[16][4];
};
constexpr LaneMasks MakeLaneMasks() {
  LaneMasks m{};
  for (int mask = 0; mask < 16; ++mask) {
    for (int c = 0; c < 4; ++c) m.lanes[mask][c] = ((mask >> c) & 1) != 0 ? 0xFFFFFFFFu : 0u;
  }
  return m;
}
constexpr LaneMasks kLaneMasks = MakeLaneMasks();

inline void WriteMasked(std::uint32_t* p, std::uint32_t mask, __m128i pixels) noexcept {
  const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(kLaneMasks.lanes[mask]));
  const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i mixed = _mm_or_si128(_mm_and_si128(lanes, pixels), _mm_andnot_si128(lanes, old));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), mixed);
}
using PenPixels = __m128i;
inline PenPixels MakePenPixels(std::uint32_t pixel) noexcept {
  return _mm_set1_epi32(static_cast<int>(pixel));
}
#else
inline void WriteMasked(std::uint32_t* p, std::uint32_t mask, std::uint32_t pixel) noexcept {
  for (int c = 0; c < 4; ++c) {
    const std::uint32_t keep = ((mask >> c) & 1u) - 1u;  // all ones when the bit is clear
    p[c] = (p[c] & keep) | (pixel & ~keep);
  }
}
using PenPixels = std::uint32_t;
inline PenPixels MakePenPixels(std::uint32_t pixel) noexcept { return pixel; }
#endif

}  // namespace

void Image::PrefetchColumn(int x, int top, int bottom) noexcept {
  if (m_writeBits == nullptr || x < 0 || x >= m_width) return;
  top = std::max(top, 0);
  bottom = std::min(bottom, m_height - 1);
  const std::uint32_t* p = m_writeBits + static_cast<std::ptrdiff_t>(top) * m_stride + x;
  for (int y = top; y <= bottom; ++y, p += m_stride) __builtin_prefetch(p, 1, 3);
}

void Image::DrawDots(int x, int y, const std::uint8_t* widths, int count) noexcept {
  if (count <= 0) return;
  const bool innerColumn = x >= 1 && x < m_width - 2;
  if (!innerColumn || (m_writeBits == nullptr && !PrepareForWriting())) {
    // Edge columns (and a bitmap that cannot be written) go dot by dot.
    const int width = m_lineWidth;
    for (int k = 0; k < count; ++k) {
      m_lineWidth = widths[k];
      DrawPoint(x, static_cast<int>(std::min<long long>(static_cast<long long>(y) + k, INT_MAX)));
    }
    m_lineWidth = width;
    return;
  }
  // Slide a window of four rows down the column: each dot adds its square,
  // and the row that no later dot can reach is written out.
  const PenPixels pixel = MakePenPixels(m_penPixel);
  const long long height = m_height;
  std::uint32_t* const base = m_writeBits + (x - 1);
  const std::ptrdiff_t stride = m_stride;
  std::uint32_t window = 0;
  long long row = static_cast<long long>(y) - 1;  // the window's first row
  const auto flush = [&](std::uint32_t mask) {
    if (row >= 0 && row < height && mask != 0) WriteMasked(base + row * stride, mask, pixel);
    ++row;
  };
  for (int k = 0; k < count; ++k) {
    window |= kDotRows[std::clamp<int>(widths[k], 1, 4)];
    flush(window & 0xFu);
    window >>= 8;
  }
  for (int b = 0; b < 3; ++b, window >>= 8) flush(window & 0xFu);
}

void Image::DrawFullHeightLines(const std::vector<int>& xs, const std::vector<Colour>& colours) {
  if (m_width == 0 || xs.empty()) return;
  if (m_writeBits == nullptr && !PrepareForWriting()) return;
  const int w = std::clamp(m_lineWidth, 1, kMaxLineWidth);
  const long long before = (w - 1) / 2;
  const long long after = w / 2;
  // Each line's columns, clipped, and its pixel; lines wholly outside go.
  struct Span {
    int left;
    int right;
    std::uint32_t pixel;
  };
  std::vector<Span> spans;
  spans.reserve(xs.size());
  for (std::size_t k = 0; k < xs.size() && k < colours.size(); ++k) {
    const long long left = std::max(static_cast<long long>(xs[k]) - before, 0LL);
    const long long right = std::min(static_cast<long long>(xs[k]) + after, static_cast<long long>(m_width) - 1);
    if (left <= right) spans.push_back({static_cast<int>(left), static_cast<int>(right), ToPixel(colours[k])});
  }
  const int height = m_height;
  const int bands = std::int64_t{m_width} * height >= kParallelFillPixels ? PictureThreads() : 1;
  std::uint32_t* const bits = m_writeBits;
  const std::ptrdiff_t stride = m_stride;
  ForEachRowBand(height, bands, [&](int, int top, int bottom) {
    for (int y = top; y < bottom; ++y) {
      std::uint32_t* row = bits + y * stride;
      for (const Span& span : spans) std::fill(row + span.left, row + span.right + 1, span.pixel);
    }
  });
}

void Image::DrawLine(int x1, int y1, int x2, int y2) noexcept {
  if (m_width == 0) return;
  const int w = std::clamp(m_lineWidth, 1, kMaxLineWidth);
  const long long before = (w - 1) / 2;
  const long long after = w / 2;
  if (y1 == y2 || x1 == x2) {
    FillClipped(
        static_cast<long long>(std::min(x1, x2)) - before, static_cast<long long>(std::min(y1, y2)) - before,
        static_cast<long long>(std::max(x1, x2)) + after, static_cast<long long>(std::max(y1, y2)) + after);
    return;
  }
  // Clip the segment to the bitmap widened by the pen (Liang-Barsky), so a
  // line with far-away ends costs no more than one across the picture.
  double t0 = 0.0, t1 = 1.0;
  const double dx = static_cast<double>(x2) - x1, dy = static_cast<double>(y2) - y1;
  const double lo_x = -static_cast<double>(w), hi_x = static_cast<double>(m_width) + w;
  const double lo_y = -static_cast<double>(w), hi_y = static_cast<double>(m_height) + w;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x1 - lo_x, hi_x - x1, y1 - lo_y, hi_y - y1};
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0.0) {
      if (q[k] < 0.0) return;
      continue;
    }
    const double t = q[k] / p[k];
    if (p[k] < 0.0) {
      if (t > t1) return;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return;
      t1 = std::min(t1, t);
    }
  }
  long long ax = std::llround(x1 + t0 * dx), ay = std::llround(y1 + t0 * dy);
  const long long bx = std::llround(x1 + t1 * dx), by = std::llround(y1 + t1 * dy);
  // Bresenham between the clipped ends.
  const long long sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
  const long long ddx = std::llabs(bx - ax), ddy = -std::llabs(by - ay);
  long long err = ddx + ddy;
  for (;;) {
    FillClipped(ax - before, ay - before, ax + after, ay + after);
    if (ax == bx && ay == by) break;
    const long long e2 = 2 * err;
    if (e2 >= ddy) {
      err += ddy;
      ax += sx;
    }
    if (e2 <= ddx) {
      err += ddx;
      ay += sy;
    }
  }
}

// --- Geometry -----------------------------------------------------------------

void Image::Resize(int width, int height) {
  if (m_bitmap->image.isNull()) throw ImageError(kErrorInvalidArgument, "No picture to resize");
  if (width == m_width && height == m_height && BitmapType() == kKindWorking) return;
  QImage target = NewWorkingImage(width, height);
  QImage source = m_bitmap->image.format() == QImage::Format_RGB32
                      ? m_bitmap->image
                      : m_bitmap->image.convertToFormat(QImage::Format_RGB32);
  const cv::Mat from = WrapConstPixels(source);
  cv::Mat to = WrapPixels(target);
  // Area averaging keeps strong reductions free of aliasing; below a factor
  // of two bilinear looks the same and costs a fraction of it.
  const bool strongShrink = width * 2 <= source.width() || height * 2 <= source.height();
  const bool shrinking = width <= source.width() && height <= source.height();
  cv::resize(from, to, to.size(), 0, 0, shrinking && strongShrink ? cv::INTER_AREA : cv::INTER_LINEAR);
  m_bitmap->image = std::move(target);
  RefreshCache();
}

void Image::ResizeCanvas(int width, int height, int position, Colour colour) {
  if (position < 0 || position > 8) {
    throw ImageError(kErrorInvalidArgument, "Unknown position code " + std::to_string(position));
  }
  QImage target = NewWorkingImage(width, height);
  target.fill(PixelOf(colour));
  ClearUpperVectorHalves();
  if (!m_bitmap->image.isNull()) {
    QImage source = m_bitmap->image.format() == QImage::Format_RGB32
                        ? m_bitmap->image
                        : m_bitmap->image.convertToFormat(QImage::Format_RGB32);
    const int column = position % 3, row = position / 3;
    // Offset of the old picture in the new one; halves truncate, so an odd
    // leftover pixel lands on the right or bottom side.
    const int dx = column == 0 ? 0 : column == 1 ? (width - source.width()) / 2 : width - source.width();
    const int dy = row == 0 ? 0 : row == 1 ? (height - source.height()) / 2 : height - source.height();
    const int left = std::max(dx, 0), top = std::max(dy, 0);
    const int right = std::min(dx + source.width(), width), bottom = std::min(dy + source.height(), height);
    if (left < right && top < bottom) {
      const cv::Mat from = WrapConstPixels(source);
      cv::Mat to = WrapPixels(target);
      from(cv::Rect(left - dx, top - dy, right - left, bottom - top))
          .copyTo(to(cv::Rect(left, top, right - left, bottom - top)));
    }
  }
  m_bitmap->image = std::move(target);
  RefreshCache();
}

}  // namespace pictovance
