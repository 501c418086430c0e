// Bitmap kinds and colour reduction.
//
// A reduction to n colours makes a palette bitmap (Format_Indexed8):
//  - n = 216 uses the fixed 6 x 6 x 6 colour cube;
//  - a picture that already has at most n colours keeps exactly those;
//  - otherwise libimagequant chooses an adaptive palette from a sample of
//    the picture: about 20,000 pixels, on 800 x 400 one pixel of each 4 x 4
//    cell, at a place that varies from cell to cell so a regular line
//    pattern cannot hide between the samples. Quantizing the whole picture
//    costs 100 to 300 ms at 800 x 400, the sample a few.
// Every pixel is then mapped to its nearest palette colour (RGB distance),
// or with dithering by Floyd-Steinberg error diffusion. The mapping is our
// own: libimagequant's remapping took 10 to 30 ms plain and 20 to 60 ms
// dithered at 800 x 400 here, spread over all cores; with this one on one
// core the whole reduction takes 3 to 9 ms plain and 7 to 17 ms dithered.
#include <libimagequant.h>

#include <QVector>
#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <new>
#include <string>
#include <vector>

#include "imaging/bitmap_p.h"
#include "imaging/pixel_runs.h"
#include "imaging/threads.h"

namespace pictovance {

namespace {

constexpr int kCubeColours = 216;
constexpr int kCubeStep = 51;  // 255 / 5: the six levels 0, 51, ..., 255
constexpr double kSamplePixels = 20000;
// libimagequant's speed, 1 (slowest, best) to 10: at its default of 4 the
// sample took 20 to 40 ms here, at 8 it takes 3 to 6 ms.
constexpr int kQuantizeSpeed = 8;

[[noreturn]] void ThrowOutOfMemory(int width, int height) {
  throw ImageError(kErrorOutOfMemory, "Not enough memory to reduce the colours of a " +
                                          std::to_string(width) + " x " + std::to_string(height) +
                                          " picture");
}

QImage NewPaletteImage(int width, int height) {
  QImage image(width, height, QImage::Format_Indexed8);
  if (image.isNull()) ThrowOutOfMemory(width, height);
  return image;
}

QVector<QRgb> CubePalette() {
  QVector<QRgb> palette;
  palette.reserve(kCubeColours);
  for (int r = 0; r < 6; ++r) {
    for (int g = 0; g < 6; ++g) {
      for (int b = 0; b < 6; ++b) palette.push_back(qRgb(r * kCubeStep, g * kCubeStep, b * kCubeStep));
    }
  }
  return palette;
}

// --- Mapping pixels to a palette ---------------------------------------------------------

// The nearest palette colour of any RGB colour. Colour space is cut into
// 8 x 8 x 8 cells of 32 levels a side; each cell keeps, built when first
// needed, the palette entries that can be nearest to some colour inside it
// (those not farther at their nearest point than the best entry is at its
// farthest), sorted by that nearest distance, so a look-up stops as soon
// as the rest cannot win. Smaller cells cost more to build than they save.
class NearestColour {
 public:
  explicit NearestColour(const QVector<QRgb>& palette) {
    for (const QRgb entry : palette) {
      m_red.push_back(qRed(entry));
      m_green.push_back(qGreen(entry));
      m_blue.push_back(qBlue(entry));
    }
    m_cellStart.fill(-1);
    // Every cell holding every entry: room reserved once, so that a look-up
    // never allocates (pixels reduced in place are past taking back).
    m_candidates.reserve(static_cast<std::size_t>(kCells) * m_red.size());
  }

  int Find(int r, int g, int b) {
    const int cell =
        (r >> kCellShift) << (2 * kCellBits) | (g >> kCellShift) << kCellBits | (b >> kCellShift);
    if (m_cellStart[cell] < 0) Build(cell);
    const Candidate* c = &m_candidates[static_cast<std::size_t>(m_cellStart[cell])];
    const Candidate* const end = c + m_cellCount[cell];
    int best = c->index;
    int bestDistance = INT32_MAX;
    for (; c != end && c->nearest < bestDistance; ++c) {
      const int distance = (r - c->r) * (r - c->r) + (g - c->g) * (g - c->g) + (b - c->b) * (b - c->b);
      if (distance < bestDistance || (distance == bestDistance && c->index < best)) {
        bestDistance = distance;
        best = c->index;
      }
    }
    return best;
  }

  int Red(int index) const { return m_red[static_cast<std::size_t>(index)]; }
  int Green(int index) const { return m_green[static_cast<std::size_t>(index)]; }
  int Blue(int index) const { return m_blue[static_cast<std::size_t>(index)]; }

 private:
  static constexpr int kCellShift = 5;
  static constexpr int kCellSize = 1 << kCellShift;
  static constexpr int kCellBits = 8 - kCellShift;
  static constexpr int kCellMask = (1 << kCellBits) - 1;
  static constexpr int kCells = 1 << (3 * kCellBits);
  struct Candidate {
    int nearest;  // squared distance from the cell to the entry
    int r, g, b, index;
  };

  // Squared distance of v to the cell's span [low, low + kCellSize - 1] in
  // one channel: to its nearest point and to its farthest.
  static int Gap(int v, int low) {
    const int d = v < low ? low - v : v > low + kCellSize - 1 ? v - low - kCellSize + 1 : 0;
    return d * d;
  }
  static int Reach(int v, int low) {
    const int d = std::max(std::abs(v - low), std::abs(v - low - kCellSize + 1));
    return d * d;
  }

  void Build(int cell) {
    const int lowR = (cell >> (2 * kCellBits)) << kCellShift;
    const int lowG = ((cell >> kCellBits) & kCellMask) << kCellShift;
    const int lowB = (cell & kCellMask) << kCellShift;
    const std::size_t count = m_red.size();
    int bound = INT32_MAX;
    for (std::size_t i = 0; i < count; ++i) {
      bound = std::min(bound, Reach(m_red[i], lowR) + Reach(m_green[i], lowG) + Reach(m_blue[i], lowB));
    }
    const std::size_t start = m_candidates.size();
    for (std::size_t i = 0; i < count; ++i) {
      const int nearest = Gap(m_red[i], lowR) + Gap(m_green[i], lowG) + Gap(m_blue[i], lowB);
      if (nearest <= bound) {
        m_candidates.push_back({nearest, m_red[i], m_green[i], m_blue[i], static_cast<int>(i)});
      }
    }
    std::sort(m_candidates.begin() + static_cast<std::ptrdiff_t>(start), m_candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.nearest < b.nearest; });
    m_cellStart[cell] = static_cast<int>(start);
    m_cellCount[cell] = static_cast<int>(m_candidates.size() - start);
  }

  std::vector<int> m_red, m_green, m_blue;
  std::array<int, kCells> m_cellStart{};
  std::array<int, kCells> m_cellCount{};
  std::vector<Candidate> m_candidates;
};

// Pictures from this many pixels on are indexed on every picture thread.
constexpr std::int64_t kParallelIndexPixels = std::int64_t{1} << 22;

// Where a reduction writes its indices: row y's width bytes at
// bits + stride * y. They may be the first bytes of the source's own row y
// (a picture reduced in place): a row is read from its left end and index
// x written only once pixel x (at byte 4x) and the pixels before it are
// read, so no pixel is written over before it is read. Dithering walks
// every other row from its right end and reads such a row from a copy.
struct IndexRows {
  uchar* bits;
  qsizetype stride;
  std::uint8_t* Row(int y) const { return bits + stride * y; }
};

// A reduction ready to write: its palette, and the writing of every
// pixel's index, which allocates nothing and cannot fail.
struct Reduction {
  QVector<QRgb> palette;
  std::function<void(const IndexRows&)> write;
};

Reduction MapToPalette(const QImage& source, const QVector<QRgb>& palette, bool dither) {
  const int width = source.width(), height = source.height();
  if (!dither) {
    // Each pixel on its own: bands of rows on every picture thread, each
    // with its own look-up cells (the nearest colour is the same whoever
    // finds it).
    const int bands = std::int64_t{width} * height >= kParallelIndexPixels ? PictureThreads() : 1;
    // Each made in place: a copy would not keep the room its constructor reserves.
    const auto count = static_cast<std::size_t>(std::clamp(bands, 1, height));
    std::vector<NearestColour> finders;
    finders.reserve(count);
    for (std::size_t k = 0; k < count; ++k) finders.emplace_back(palette);
    return {palette, [&source, width, height, finders = std::move(finders)](const IndexRows& out) mutable {
              ForEachRowBand(height, static_cast<int>(finders.size()), [&](int band, int top, int bottom) {
                NearestColour& nearest = finders[static_cast<std::size_t>(band)];
                QRgb last = 0;  // never an opaque pixel
                std::uint8_t lastIndex = 0;
                for (int y = top; y < bottom; ++y) {
                  const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
                  std::uint8_t* indices = out.Row(y);
                  for (int x = 0; x < width; ++x) {
                    if (in[x] != last) {
                      last = in[x];
                      lastIndex = static_cast<std::uint8_t>(nearest.Find(qRed(last), qGreen(last), qBlue(last)));
                    }
                    indices[x] = lastIndex;
                  }
                }
              });
            }};
  }
  // Floyd-Steinberg, serpentine. Errors are kept in sixteenths; each row
  // has a guard cell at either end so the spreading needs no checks.
  struct State {
    NearestColour nearest;
    std::vector<int> current, next;
    std::vector<QRgb> row;
  };
  auto state = std::make_shared<State>(State{NearestColour(palette),
                                             std::vector<int>(3 * (static_cast<std::size_t>(width) + 2), 0),
                                             std::vector<int>(3 * (static_cast<std::size_t>(width) + 2), 0),
                                             std::vector<QRgb>(static_cast<std::size_t>(width))});
  return {palette, [&source, width, height, state](const IndexRows& out) {
            auto& [nearest, current, next, row] = *state;
            for (int y = 0; y < height; ++y) {
              const auto* line = reinterpret_cast<const QRgb*>(source.constScanLine(y));
              std::copy(line, line + width, row.begin());
              const QRgb* in = row.data();
              std::uint8_t* indices = out.Row(y);
              const bool forward = y % 2 == 0;
              const int step = forward ? 3 : -3;
              for (int i = 0; i < width; ++i) {
                const int x = forward ? i : width - 1 - i;
                const int at = 3 * (x + 1);
                const int r = std::clamp(qRed(in[x]) + ((current[at] + 8) >> 4), 0, 255);
                const int g = std::clamp(qGreen(in[x]) + ((current[at + 1] + 8) >> 4), 0, 255);
                const int b = std::clamp(qBlue(in[x]) + ((current[at + 2] + 8) >> 4), 0, 255);
                const int index = nearest.Find(r, g, b);
                indices[x] = static_cast<std::uint8_t>(index);
                const int error[3] = {r - nearest.Red(index), g - nearest.Green(index), b - nearest.Blue(index)};
                for (int c = 0; c < 3; ++c) {
                  current[at + step + c] += error[c] * 7;
                  next[at - step + c] += error[c] * 3;
                  next[at + c] += error[c] * 5;
                  next[at + step + c] += error[c];
                }
              }
              std::swap(current, next);
              std::fill(next.begin(), next.end(), 0);
            }
          }};
}

// --- Pictures that already fit -----------------------------------------------------------

// A small open-addressing table of opaque colours, at most a quarter full;
// pixel 0 (transparent black) never occurs in an opaque bitmap and marks a
// free slot.
class ExactColourTable {
 public:
  // The slot of pixel, or the free slot where it would go.
  std::uint32_t SlotOf(QRgb pixel) const {
    std::uint32_t slot = (pixel * 0x9E3779B1u) >> 22;
    while (m_keys[slot] != 0 && m_keys[slot] != pixel) slot = (slot + 1) % kSlots;
    return slot;
  }
  bool Holds(std::uint32_t slot) const { return m_keys[slot] != 0; }
  void Put(std::uint32_t slot, QRgb pixel, std::uint8_t index) {
    m_keys[slot] = pixel;
    m_indices[slot] = index;
  }
  std::uint8_t IndexAt(std::uint32_t slot) const { return m_indices[slot]; }

 private:
  static constexpr std::uint32_t kSlots = 1024;
  std::array<QRgb, kSlots> m_keys{};
  std::array<std::uint8_t, kSlots> m_indices{};
};

// The palette of source's own colours when it has at most maxColours of
// them, in the order a scan row by row first meets them, and the indexing
// by it; nothing when it has more. Bands of rows find their colours in
// parallel, are joined in order, and are then indexed in parallel.
std::optional<Reduction> IndexExactColours(const QImage& source, int maxColours) {
  const int width = source.width(), height = source.height();
  const int bands = std::int64_t{width} * height >= kParallelIndexPixels ? std::min(PictureThreads(), height) : 1;
  std::vector<std::vector<QRgb>> found(static_cast<std::size_t>(bands));
  std::atomic<bool> tooMany{false};
  ForEachRowBand(height, bands, [&](int band, int top, int bottom) {
    ExactColourTable seen;
    std::vector<QRgb>& order = found[static_cast<std::size_t>(band)];
    QRgb last = 0;  // never an opaque pixel
    for (int y = top; y < bottom && !tooMany.load(std::memory_order_relaxed); ++y) {
      const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
      for (int x = RunEnd(in, 0, width, last); x < width; x = RunEnd(in, x + 1, width, last)) {
        last = in[x];
        const QRgb pixel = last | 0xFF000000u;
        const std::uint32_t slot = seen.SlotOf(pixel);
        if (seen.Holds(slot)) continue;
        if (static_cast<int>(order.size()) == maxColours) {
          tooMany = true;
          return;
        }
        seen.Put(slot, pixel, 0);
        order.push_back(pixel);
      }
    }
  });
  if (tooMany) return std::nullopt;
  ExactColourTable colours;
  QVector<QRgb> palette;
  palette.reserve(maxColours);
  for (const std::vector<QRgb>& order : found) {
    for (const QRgb pixel : order) {
      const std::uint32_t slot = colours.SlotOf(pixel);
      if (colours.Holds(slot)) continue;
      if (palette.size() == maxColours) return std::nullopt;
      colours.Put(slot, pixel, static_cast<std::uint8_t>(palette.size()));
      palette.push_back(pixel);
    }
  }
  return Reduction{palette, [&source, width, height, bands, colours](const IndexRows& out) {
                    ForEachRowBand(height, bands, [&](int, int top, int bottom) {
                      for (int y = top; y < bottom; ++y) {
                        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
                        std::uint8_t* indices = out.Row(y);
                        QRgb last = in[0];
                        std::uint8_t lastIndex = colours.IndexAt(colours.SlotOf(last | 0xFF000000u));
                        for (int x = 0; x < width;) {
                          const int end = RunEnd(in, x, width, last);
                          // Pixel end is read after this, but its bytes lie past index end - 1.
                          std::fill(indices + x, indices + end, lastIndex);
                          if (end == width) break;
                          last = in[end];
                          lastIndex = colours.IndexAt(colours.SlotOf(last | 0xFF000000u));
                          x = end;
                        }
                      }
                    });
                  }};
}

// --- Adaptive palettes (libimagequant) ------------------------------------------------

struct LiqFree {
  void operator()(liq_attr* p) const { liq_attr_destroy(p); }
  void operator()(liq_image* p) const { liq_image_destroy(p); }
  void operator()(liq_result* p) const { liq_result_destroy(p); }
};
template <class T>
using LiqPtr = std::unique_ptr<T, LiqFree>;

[[noreturn]] void ThrowLiq(const char* step, liq_error error) {
  std::string cause;
  switch (error) {
    case LIQ_OUT_OF_MEMORY:
      cause = "out of memory";
      break;
    case LIQ_QUALITY_TOO_LOW:
      cause = "quality too low";
      break;
    case LIQ_VALUE_OUT_OF_RANGE:
      cause = "value out of range";
      break;
    case LIQ_ABORTED:
      cause = "aborted";
      break;
    case LIQ_BUFFER_TOO_SMALL:
      cause = "buffer too small";
      break;
    case LIQ_INVALID_POINTER:
      cause = "invalid pointer";
      break;
    case LIQ_UNSUPPORTED:
      cause = "unsupported";
      break;
    default:
      cause = "error " + std::to_string(static_cast<int>(error));
      break;
  }
  throw ImageError(kErrorColourReduction,
                   std::string("Colour reduction failed while ") + step + ": " + cause);
}

void Check(const char* step, liq_error error) {
  if (error != LIQ_OK) ThrowLiq(step, error);
}

// One pixel of each step x step cell, its place in the cell scrambled by
// the cell's coordinates.
std::vector<liq_color> SamplePixels(const QImage& source, int step, int& sampleWidth, int& sampleHeight) {
  const int width = source.width(), height = source.height();
  sampleWidth = (width + step - 1) / step;
  sampleHeight = (height + step - 1) / step;
  std::vector<liq_color> sample(static_cast<std::size_t>(sampleWidth) * sampleHeight);
  const auto ustep = static_cast<std::uint32_t>(step);
  for (int cy = 0; cy < sampleHeight; ++cy) {
    for (int cx = 0; cx < sampleWidth; ++cx) {
      std::uint32_t h =
          static_cast<std::uint32_t>(cx) * 0x9E3779B1u ^ static_cast<std::uint32_t>(cy) * 0x85EBCA77u;
      h = (h ^ (h >> 15)) * 0x2C1B3C6Du;
      const int x = std::min(width - 1, cx * step + static_cast<int>((h >> 8) % ustep));
      const int y = std::min(height - 1, cy * step + static_cast<int>((h >> 20) % ustep));
      const QRgb pixel = reinterpret_cast<const QRgb*>(source.constScanLine(y))[x];
      sample[static_cast<std::size_t>(cy) * sampleWidth + cx] = {
          static_cast<unsigned char>(qRed(pixel)), static_cast<unsigned char>(qGreen(pixel)),
          static_cast<unsigned char>(qBlue(pixel)), 255};
    }
  }
  return sample;
}

QVector<QRgb> AdaptivePalette(const QImage& source, int maxColours) {
  const double pixels = static_cast<double>(source.width()) * source.height();
  const int step = std::max(1, static_cast<int>(std::ceil(std::sqrt(pixels / kSamplePixels))));
  int sampleWidth = 0, sampleHeight = 0;
  const std::vector<liq_color> sample = SamplePixels(source, step, sampleWidth, sampleHeight);

  const LiqPtr<liq_attr> attr(liq_attr_create());
  if (!attr) ThrowLiq("starting", LIQ_OUT_OF_MEMORY);
  Check("setting the colour count", liq_set_max_colors(attr.get(), maxColours));
  Check("setting the speed", liq_set_speed(attr.get(), kQuantizeSpeed));
  const LiqPtr<liq_image> image(
      liq_image_create_rgba(attr.get(), sample.data(), sampleWidth, sampleHeight, 0.0));
  if (!image) ThrowLiq("reading the picture", LIQ_OUT_OF_MEMORY);
  liq_result* quantized = nullptr;
  Check("choosing the palette", liq_image_quantize(image.get(), attr.get(), &quantized));
  const LiqPtr<liq_result> result(quantized);
  const liq_palette* colours = liq_get_palette(result.get());
  if (colours == nullptr || colours->count == 0) ThrowLiq("reading the palette", LIQ_INVALID_POINTER);
  QVector<QRgb> palette;
  for (unsigned i = 0; i < colours->count; ++i) {
    palette.push_back(qRgb(colours->entries[i].r, colours->entries[i].g, colours->entries[i].b));
  }
  return palette;
}

Reduction PlanReduction(const QImage& source, int maxColours, bool dither) {
  if (maxColours == kCubeColours) return MapToPalette(source, CubePalette(), dither);
  if (std::optional<Reduction> exact = IndexExactColours(source, maxColours)) return std::move(*exact);
  return MapToPalette(source, AdaptivePalette(source, maxColours), dither);
}

void DeleteImage(void* image) { delete static_cast<QImage*>(image); }

// The palette bitmap of a working bitmap, its colours reduced. When no
// other image shares working's pixels, the indices are written over them
// (working then holds indices, and must be let go at once): the palette
// bitmap keeps working's rows and memory, a pixel's room for each index,
// so a big picture never holds a second bitmap. Otherwise they go into a
// new palette bitmap. Everything that may fail comes before the first
// index is written.
QImage ReduceColours(const QImage& working, int maxColours, bool dither) {
  const Reduction reduction = PlanReduction(working, maxColours, dither);
  const int width = working.width(), height = working.height();
  QImage result;
  if (working.isDetached()) {
    auto keep = std::make_unique<QImage>(working);
    result = QImage(const_cast<uchar*>(working.constBits()), width, height, working.bytesPerLine(),
                    QImage::Format_Indexed8, DeleteImage, keep.get());
    if (result.isNull()) ThrowOutOfMemory(width, height);
    keep.release();  // result's to delete now
  } else {
    result = NewPaletteImage(width, height);
  }
  result.setColorTable(reduction.palette);
  uchar* const bits = result.bits();  // result alone holds its view: no copy
  if (bits == nullptr) ThrowOutOfMemory(width, height);
  reduction.write({bits, result.bytesPerLine()});
  return result;
}

}  // namespace

void Image::ChangeColorDepth(std::int32_t count, std::int32_t kind, std::int32_t dither) {
  switch (kind) {
    case 0:
    case kKindWorking:
      if (BitmapType() == kKindPalette) {
        if (!MakeWorkingFormat(m_bitmap->image))
          throw ImageError(kErrorOutOfMemory, "Not enough memory to convert the picture");
        RefreshCache();
      }
      return;
    case kKindPalette: {
      const QImage& current = m_bitmap->image;
      if (current.isNull()) return;
      const int colours = std::clamp(count, 2, 256);
      QImage reduced;
      try {
        if (current.format() == QImage::Format_RGB32) {
          reduced = ReduceColours(current, colours, dither != 0);
        } else {
          const QImage source = current.convertToFormat(QImage::Format_RGB32);
          if (source.isNull()) ThrowOutOfMemory(current.width(), current.height());
          reduced = ReduceColours(source, colours, dither != 0);
        }
      } catch (const std::bad_alloc&) {
        ThrowOutOfMemory(current.width(), current.height());
      }
      m_bitmap->image = std::move(reduced);
      RefreshCache();
      return;
    }
    default:
      throw ImageError(kErrorInvalidArgument, "Unknown bitmap kind " + std::to_string(kind));
  }
}

}  // namespace pictovance
