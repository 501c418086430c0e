#include "imaging/png_encoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include "imaging/png_encoder_p.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <QImage>
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

#include "imaging/image.h"
#include "imaging/pixel_runs.h"
#include "imaging/threads.h"

namespace pictovance {

namespace {

constexpr unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr unsigned char kColourTypeRgb = 2;
constexpr unsigned char kColourTypePalette = 3;
constexpr unsigned char kFilterNone = 0;
constexpr unsigned char kFilterUp = 2;

void Put32(std::vector<unsigned char>& out, std::uint32_t v) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                                  static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  out.insert(out.end(), bytes, bytes + 4);
}

// Appends one chunk: length, type, data, CRC of type and data.
void PutChunk(std::vector<unsigned char>& out, const char (&type)[5], const unsigned char* data,
              std::size_t size) {
  Put32(out, static_cast<std::uint32_t>(size));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (size != 0) out.insert(out.end(), data, data + size);
  Put32(out, libdeflate_crc32(0, out.data() + start, size + 4));
}

void PutChunk(std::vector<unsigned char>& out, const char (&type)[5], const std::string& data) {
  PutChunk(out, type, reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

// Latin-1 text of utf8, or false when a character lies beyond it (or the
// text is not UTF-8).
bool ToLatin1(const std::string& utf8, std::string& latin1) {
  latin1.clear();
  for (std::size_t k = 0; k < utf8.size(); ++k) {
    const auto c = static_cast<unsigned char>(utf8[k]);
    if (c < 0x80) {
      latin1 += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && k + 1 < utf8.size() &&
               (static_cast<unsigned char>(utf8[k + 1]) & 0xC0) == 0x80) {
      latin1 += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[k + 1]) & 0x3F));
      ++k;
    } else {
      return false;
    }
  }
  return true;
}

bool IsUtf8(const std::string& text) {
  for (std::size_t k = 0; k < text.size();) {
    const auto c = static_cast<unsigned char>(text[k]);
    const std::size_t length = c < 0x80             ? 1
                               : (c & 0xE0) == 0xC0 ? 2
                               : (c & 0xF0) == 0xE0 ? 3
                               : (c & 0xF8) == 0xF0 ? 4
                                                    : 0;
    if (length == 0 || k + length > text.size() || (length == 2 && c < 0xC2)) return false;
    for (std::size_t b = 1; b < length; ++b) {
      if ((static_cast<unsigned char>(text[k + b]) & 0xC0) != 0x80) return false;
    }
    k += length;
  }
  return true;
}

// A PNG keyword: 1 to 79 printable Latin-1 characters, no leading, trailing
// or doubled space.
bool IsKeyword(const std::string& key) {
  if (key.empty() || key.size() > 79 || key.front() == ' ' || key.back() == ' ') return false;
  for (std::size_t k = 0; k < key.size(); ++k) {
    const auto c = static_cast<unsigned char>(key[k]);
    if (!((c >= 32 && c <= 126) || c >= 161)) return false;
    if (c == ' ' && k > 0 && key[k - 1] == ' ') return false;
  }
  return true;
}

void PutTexts(std::vector<unsigned char>& out, const PngTexts& texts) {
  std::string key;
  std::string value;
  for (const auto& [utf8Key, utf8Value] : texts) {
    if (!ToLatin1(utf8Key, key) || !IsKeyword(key)) {
      throw ImageError(kErrorInvalidArgument, "Not a PNG text key: \"" + utf8Key + "\"");
    }
    if (utf8Value.find('\0') != std::string::npos || !IsUtf8(utf8Value)) {
      throw ImageError(kErrorInvalidArgument, "The text of \"" + utf8Key + "\" is not UTF-8 without nulls");
    }
    if (ToLatin1(utf8Value, value)) {
      PutChunk(out, "tEXt", key + '\0' + value);
    } else {
      // Not compressed, no language tag, no translated key.
      PutChunk(out, "iTXt", key + std::string("\0\0\0\0\0", 5) + utf8Value);
    }
  }
}

#if defined(__x86_64__)
// The Up-filtered R, G, B bytes of pixels 0 .. x - 1 of row (above: the row
// before, or null for black) at out, four pixels at a time; returns x. Each
// store writes 4 bytes past the 12 it fills, which the next pixels
// overwrite: the last pixel is always left for the caller.
[[gnu::target("ssse3")]] int FilterUpRgb(const std::uint32_t* row, const std::uint32_t* above, int width,
                                         unsigned char* out) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  int x = 0;
  for (; x + 4 < width; x += 4, out += 12) {
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
    if (above != nullptr) d = _mm_sub_epi8(d, _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(d, order));
  }
  return x;
}
bool HasSsse3() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
  return has;
}
#else
int FilterUpRgb(const std::uint32_t*, const std::uint32_t*, int, unsigned char*) { return 0; }
bool HasSsse3() { return false; }
#endif

// Filters rows of an 8-bit RGB picture (from 0xFFRRGGBB pixels) with Up,
// each row led by its filter byte. Row -1 counts as black.
class RgbRows {
 public:
  explicit RgbRows(const QImage& image) : m_image(image), m_width(image.width()) {}
  std::size_t RowBytes() const { return 1 + std::size_t{3} * static_cast<std::size_t>(m_width); }

  // libdeflate's level for strips of a large picture. Its levels 8 and 9
  // parse for the shortest stream, which on large RGB pictures (blurred,
  // dithered, filtered: the many-coloured ones) took three to five times as
  // long as level 6 for files no smaller: 4000 x 8000, two seeds, 0.9 %
  // smaller and 13 % larger at level 8. Small pictures go in one call at
  // the level asked for, where level 8 costs milliseconds and saves a few
  // per cent.
  static int StripLevel(int level) { return std::min(level, 6); }
  // No second try: see StripRetryLevel below.
  static int StripRetryLevel(int) { return -1; }

  // Writes row y at out, which has room for RowBytes() + 1 bytes: one
  // pixel's spare byte lands after the row and is overwritten by what
  // follows.
  void Filter(int y, unsigned char* out) const {
    const auto* row = reinterpret_cast<const std::uint32_t*>(m_image.constScanLine(y));
    const auto* above =
        y > 0 ? reinterpret_cast<const std::uint32_t*>(m_image.constScanLine(y - 1)) : nullptr;
    out[0] = kFilterUp;
    const int done = HasSsse3() ? FilterUpRgb(row, above, m_width, out + 1) : 0;
    unsigned char* p = out + 1 + std::size_t{3} * static_cast<std::size_t>(done);
    for (int x = done; x < m_width; ++x, p += 3) {
      const std::uint32_t a = row[x];
      const std::uint32_t b = above != nullptr ? above[x] : 0u;
      // Bytewise a - b (mod 256) in one word.
      constexpr std::uint32_t kHigh = 0x80808080u;
      const std::uint32_t d = ((a | kHigh) - (b & ~kHigh)) ^ ((a ^ ~b) & kHigh);
      // 0x..RRGGBB to the bytes R, G, B (and one spare).
      const std::uint32_t rgb = ((d >> 16) & 0xFFu) | (d & 0xFF00u) | ((d & 0xFFu) << 16);
      std::memcpy(p, &rgb, 4);
    }
  }

  // Rows top .. top + count - 1 at out (RowBytes() apart), with the one
  // spare byte Filter needs.
  void FilterRows(int top, int count, unsigned char* out) const {
    for (int k = 0; k < count; ++k) Filter(top + k, out + RowBytes() * static_cast<std::size_t>(k));
  }

 private:
  const QImage& m_image;
  int m_width;
};

// The colours of an opaque picture, each with its palette index: an open
// addressing table at most a quarter full. Pixel 0 (transparent black)
// never occurs once alpha is forced to 255, and marks a free slot.
class ColourTable {
 public:
  static constexpr int kMaxColours = 256;

  // Adds the colour of pixel; false when that would make more than
  // kMaxColours.
  bool Add(QRgb pixel) {
    pixel |= 0xFF000000u;
    std::uint32_t slot = SlotOf(pixel);
    while (m_keys[slot] != 0 && m_keys[slot] != pixel) slot = (slot + 1) % kSlots;
    if (m_keys[slot] != 0) return true;
    if (m_count == kMaxColours) return false;
    m_keys[slot] = pixel;
    m_colours[static_cast<std::size_t>(m_count++)] = pixel;
    return true;
  }

  // The colours of every pixel in rows top .. bottom - 1 of image, or false
  // as soon as there are more than kMaxColours or stop is set.
  bool AddRows(const QImage& image, int top, int bottom, const std::atomic<bool>& stop) {
    if (top >= bottom) return true;
    // Unlike the first pixel, so that it is added whatever it is (pixel 0,
    // transparent black, too).
    QRgb last = ~reinterpret_cast<const QRgb*>(image.constScanLine(top))[0];
    const int width = image.width();
    for (int y = top; y < bottom; ++y) {
      if (stop.load(std::memory_order_relaxed)) return false;
      const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      // Four pixels equal to the last one added are skipped; any other four
      // are added one by one. A test per pixel would guess wrong half the
      // time on dotted rows, where runs are a pixel or two long.
      int x = 0;
      for (; x + 4 <= width; x += 4) {
        if (RunEnd(row, x, x + 4, last) == x + 4) continue;
        bool added = true;
        for (int k = 0; k < 4; ++k) added &= Add(row[x + k]);
        if (!added) return false;
        last = row[x + 3];
      }
      for (; x < width; ++x) {
        if (!Add(row[x])) return false;
      }
    }
    return true;
  }

  // Orders the colours by value, which makes the palette the same however
  // the rows were shared out, and numbers them.
  void Sort() {
    std::sort(m_colours.begin(), m_colours.begin() + m_count);
    for (int k = 0; k < m_count; ++k) {
      std::uint32_t slot = SlotOf(m_colours[static_cast<std::size_t>(k)]);
      while (m_keys[slot] != m_colours[static_cast<std::size_t>(k)]) slot = (slot + 1) % kSlots;
      m_indices[slot] = static_cast<std::uint8_t>(k);
    }
  }

  int Count() const { return m_count; }
  QRgb Colour(int k) const { return m_colours[static_cast<std::size_t>(k)]; }

  // The index of a colour the table holds (0 for one it does not: a wrong
  // pixel rather than a search without end).
  std::uint8_t IndexOf(QRgb pixel) const {
    pixel |= 0xFF000000u;
    std::uint32_t slot = SlotOf(pixel);
    for (std::uint32_t tried = 0; m_keys[slot] != pixel; slot = (slot + 1) % kSlots) {
      if (++tried == kSlots) return 0;
    }
    return m_indices[slot];
  }

 private:
  static constexpr std::uint32_t kSlots = 1024;
  static std::uint32_t SlotOf(QRgb pixel) { return (pixel * 0x9E3779B1u) >> 22; }

  std::array<QRgb, kSlots> m_keys{};
  std::array<std::uint8_t, kSlots> m_indices{};
  std::array<QRgb, kMaxColours> m_colours{};
  int m_count = 0;
};

// Pictures below this many pixels are counted on the calling thread.
constexpr std::int64_t kParallelCountPixels = std::int64_t{1} << 22;

// The colours of an opaque picture, sorted, when it has at most 256 of
// them. Bands of rows are counted in parallel; the first band past 256
// colours stops them all.
std::optional<ColourTable> FewColours(const QImage& image, int threads) {
  const int height = image.height();
  const std::int64_t pixels = std::int64_t{image.width()} * height;
  const int bands = pixels < kParallelCountPixels ? 1 : std::min(threads, height);
  std::vector<ColourTable> tables(static_cast<std::size_t>(bands));
  std::atomic<bool> tooMany{false};
  ForEachRowBand(height, bands, [&](int band, int top, int bottom) {
    if (!tables[static_cast<std::size_t>(band)].AddRows(image, top, bottom, tooMany)) tooMany = true;
  });
  if (tooMany) return std::nullopt;
  ColourTable& all = tables.front();
  for (std::size_t band = 1; band < tables.size(); ++band) {
    for (int k = 0; k < tables[band].Count(); ++k) {
      if (!all.Add(tables[band].Colour(k))) return std::nullopt;
    }
  }
  all.Sort();
  return std::move(all);
}

// The fewest bits an index that holds count values: 1, 2, 4 or 8.
int IndexBits(int count) {
  if (count <= 2) return 1;
  if (count <= 4) return 2;
  if (count <= 16) return 4;
  return 8;
}

// Whether the Up filter makes smaller files of a palette picture than no
// filter. Measured at level 8 on pictures of bands and blocks: no filter
// was a fifth smaller at 800 x 400 (400-byte rows), the two split at
// 1920 x 1080 (960 bytes), and Up was 20 to 45 % smaller at 4000 x 4000
// and less than half the size at 9999 x 9999. On a narrow picture deflate
// finds runs along the rows and the row above nearby; on a wide one a
// match with the row above costs a long distance, while Up turns it into
// zeros. A trial on sampled rows chose wrongly: a short band's first row,
// which Up filters against the row above and no filter leaves whole, ruled
// the outcome.
bool UpPays(std::size_t rowBytes) { return rowBytes > 1024; }

// Rows of palette indices, packed bits indices to a byte (leftmost pixel in
// the high bits), filtered with Up where that pays. indicesOf(line, width,
// indices) writes the indices of a scan line's pixels.
template <class IndicesOf>
class IndexRows {
 public:
  IndexRows(const QImage& image, int bits, IndicesOf indicesOf)
      : m_image(image),
        m_width(image.width()),
        m_bits(bits),
        m_up(UpPays(RowBytes())),
        m_indicesOf(indicesOf) {}
  std::size_t RowBytes() const {
    return 1 + (static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_bits) + 7) / 8;
  }
  // Strips of indices are compressed at level 6 at most, and again at the
  // level asked when that came out small (StripPaysRetry). On bands and
  // blocks, which compress a hundredfold, the shortest parse of levels 8
  // and 9 is cheap and makes files 5 to 30 % smaller; on dotted, dithered
  // or noisy indices (8 MiB of a 9999 x 9999 picture's, compressed five to
  // twenty-fold) level 8 took 3.5 times as long as level 6 for files 1 %
  // smaller, or 2.5 % larger.
  static int StripLevel(int level) { return std::min(level, 6); }
  static int StripRetryLevel(int level) { return level > 6 ? level : -1; }

  // Rows top .. top + count - 1, filtered, at out (RowBytes() apart).
  void FilterRows(int top, int count, unsigned char* out) const {
    const std::size_t rowBytes = RowBytes();
    for (int k = 0; k < count; ++k) Pack(top + k, out + rowBytes * static_cast<std::size_t>(k));
    if (!m_up) return;
    // Bottom up, so each row is taken from the row above before that row
    // is filtered in turn; the row above the first is packed aside.
    std::vector<unsigned char> above(rowBytes, 0);
    if (top > 0) Pack(top - 1, above.data());
    for (int k = count - 1; k >= 0; --k) {
      unsigned char* row = out + rowBytes * static_cast<std::size_t>(k);
      const unsigned char* prior = k > 0 ? row - rowBytes : above.data();
      for (std::size_t b = 1; b < rowBytes; ++b) row[b] = static_cast<unsigned char>(row[b] - prior[b]);
      row[0] = kFilterUp;
    }
  }

 private:
  void Pack(int y, unsigned char* out) const {
    out[0] = kFilterNone;
    unsigned char* p = out + 1;
    if (m_bits == 8) {
      m_indicesOf(m_image.constScanLine(y), m_width, p);
      return;
    }
    thread_local std::vector<std::uint8_t> indices;
    indices.resize(static_cast<std::size_t>(m_width));
    m_indicesOf(m_image.constScanLine(y), m_width, indices.data());
    // Whole bytes first, in loops of a fixed shape the compiler unrolls;
    // then the last, part-filled byte.
    const int perByte = 8 / m_bits;
    const int whole = m_width / perByte;
    const std::uint8_t* in = indices.data();
    switch (m_bits) {
      case 4:
        for (int b = 0; b < whole; ++b, in += 2) p[b] = static_cast<unsigned char>(in[0] << 4 | in[1]);
        break;
      case 2:
        for (int b = 0; b < whole; ++b, in += 4)
          p[b] = static_cast<unsigned char>(in[0] << 6 | in[1] << 4 | in[2] << 2 | in[3]);
        break;
      default:
        for (int b = 0; b < whole; ++b, in += 8) {
          p[b] = static_cast<unsigned char>(in[0] << 7 | in[1] << 6 | in[2] << 5 | in[3] << 4 | in[4] << 3 |
                                            in[5] << 2 | in[6] << 1 | in[7]);
        }
        break;
    }
    if (whole * perByte < m_width) {
      unsigned byte = 0;
      for (int k = 0; whole * perByte + k < m_width; ++k) byte |= static_cast<unsigned>(in[k]) << (8 - m_bits * (k + 1));
      p[whole] = static_cast<unsigned char>(byte);
    }
  }

  const QImage& m_image;
  int m_width;
  int m_bits;
  bool m_up;
  IndicesOf m_indicesOf;
};

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// One compressor per thread and level, kept for the next strip and
// picture: a batch saves thousands of pictures, a big picture's strips
// may take two levels each, and each compressor owns large match-finder
// tables.
libdeflate_compressor* CompressorFor(int level) {
  thread_local std::array<std::unique_ptr<libdeflate_compressor, CompressorDeleter>, 13> compressors;
  auto& compressor = compressors[static_cast<std::size_t>(std::clamp(level, 0, 12))];
  if (!compressor) {
    compressor.reset(libdeflate_alloc_compressor(level));
    if (!compressor) throw ImageError(kErrorOutOfMemory, "Not enough memory to compress a PNG file");
  }
  return compressor.get();
}

// All rows filtered, compressed in one call into a single IDAT chunk.
template <class Rows>
void PutPixelsAtOnce(std::vector<unsigned char>& out, const Rows& rows, int height, int level) {
  // Buffers left uninitialised: each is written before it is read, and
  // clearing them would cost as much as filtering.
  const std::size_t rowBytes = rows.RowBytes();
  const std::size_t size = rowBytes * static_cast<std::size_t>(height);
  const std::unique_ptr<unsigned char[]> filtered(new unsigned char[size + 1]);
  rows.FilterRows(0, height, filtered.get());
  libdeflate_compressor* compressor = CompressorFor(level);
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor, size);
  const std::unique_ptr<unsigned char[]> stream(new unsigned char[bound]);
  const std::size_t packed = libdeflate_zlib_compress(compressor, filtered.get(), size, stream.get(), bound);
  if (packed == 0) throw ImageError(kErrorWriteFailed, "Cannot compress the picture");
  PutChunk(out, "IDAT", stream.get(), packed);
}

// --- Strips -------------------------------------------------------------------
//
// A large picture is cut into strips of whole rows, each filtered and
// compressed on its own (in parallel) into a raw deflate stream, and the
// streams are joined into one zlib stream. Each strip but the last is
// walked once more (DeflateBlockWalker, below) to find its final block: the
// block's final flag is cleared, and an empty stored block (header bits,
// then 00 00 FF FF on a byte boundary) ends the strip where the next one
// can start. Rows are filtered against the row above even across strips,
// so the pixels are the same as from one stream; only matches cannot reach
// back into the strip before. The Adler-32 of the whole is combined from
// the strips' own.

[[noreturn]] void ThrowCannotCompress() {
  throw ImageError(kErrorWriteFailed, "Cannot compress the picture");
}

// --- Finding a stream's final block (png_encoder_p.h) ---------------------------

class DeflateBlockWalker {
 public:
  DeflateBlockWalker(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}

  DeflateEnds Walk() {
    DeflateEnds ends;
    for (;;) {
      Refill();
      const std::size_t blockBit = Position();
      const auto header = static_cast<unsigned>(m_bits & 7u);
      Drop(3);
      if ((header >> 1) == 0) {
        SkipStored();
      } else if ((header >> 1) == 1) {
        SkipCodes(FixedCodes());
      } else if ((header >> 1) == 2) {
        Codes codes;
        ReadCodes(codes);
        SkipCodes(codes);
      } else {
        ThrowCannotCompress();
      }
      if ((header & 1u) != 0) {
        ends.finalBlockBit = blockBit;
        ends.endBit = Position();
        if (ends.endBit > 8 * m_size) ThrowCannotCompress();
        return ends;
      }
    }
  }

 private:
  // A canonical prefix code: a table of the codes up to kTableBits long,
  // indexed by the next kTableBits bits of the stream, and the counts and
  // symbols for decoding the longer ones bit by bit.
  static constexpr int kMaxBits = 15;
  static constexpr int kTableBits = 10;
  // A table entry: the symbol (9 bits), its code's length (4 bits), and the
  // bits to skip after the code's start: its length plus its extra bits.
  static constexpr std::uint32_t kLong = 1u << 31;    // a longer code: decode bit by bit
  static constexpr std::uint32_t kAbsent = 1u << 30;  // no code begins so
  struct Code {
    std::array<std::uint32_t, 1u << kTableBits> table{};
    std::array<std::uint16_t, kMaxBits + 1> counts{};
    std::array<std::uint16_t, 320> symbols{};  // by code, for the long ones
  };
  struct Codes {
    Code literals;  // literals, end, lengths
    Code distances;
  };

  // Extra bits after length codes 257 .. 285 and distance codes 0 .. 29.
  static int LengthExtra(int symbol) { return symbol < 265 || symbol == 285 ? 0 : (symbol - 261) / 4; }
  static int DistanceExtra(int symbol) { return symbol < 4 ? 0 : symbol / 2 - 1; }

  // Builds code from the lengths of symbols 0 .. count - 1; extra(symbol)
  // gives the extra bits that follow a symbol's code, or -1 for a symbol
  // that must not occur. An over-full set of lengths is an error; codes a
  // set leaves unused are left absent.
  template <class Extra>
  static void Build(Code& code, const std::uint8_t* lengths, int count, Extra extra) {
    code.counts.fill(0);
    for (int s = 0; s < count; ++s) ++code.counts[lengths[s]];
    code.counts[0] = 0;
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
      left = 2 * left - code.counts[len];
      if (left < 0) ThrowCannotCompress();
    }
    std::array<std::uint16_t, kMaxBits + 2> offsets{};
    for (int len = 1; len <= kMaxBits; ++len) offsets[len + 1] = offsets[len] + code.counts[len];
    for (int s = 0; s < count; ++s) {
      if (lengths[s] != 0) code.symbols[offsets[lengths[s]]++] = static_cast<std::uint16_t>(s);
    }
    code.table.fill(kAbsent);
    // Canonical codes in order of length, then symbol; the table is indexed
    // by the code's bits as they arrive, the first bit lowest.
    unsigned next = 0;
    int index = 0;
    for (int len = 1; len <= kMaxBits; ++len, next <<= 1) {
      for (int k = 0; k < code.counts[len]; ++k, ++next, ++index) {
        const int symbol = code.symbols[index];
        unsigned reversed = 0;
        for (int b = 0; b < len; ++b) reversed |= ((next >> b) & 1u) << (len - 1 - b);
        if (len > kTableBits) {
          code.table[reversed & ((1u << kTableBits) - 1)] = kLong;
          continue;
        }
        const int more = extra(symbol);
        const std::uint32_t entry = more < 0 ? kAbsent
                                             : static_cast<std::uint32_t>(symbol) |
                                                   (static_cast<std::uint32_t>(len) << 9) |
                                                   (static_cast<std::uint32_t>(len + more) << 13);
        for (unsigned i = reversed; i < (1u << kTableBits); i += 1u << len) code.table[i] = entry;
      }
    }
  }

  static const Codes& FixedCodes() {
    static const Codes fixed = [] {
      Codes codes;
      std::array<std::uint8_t, 288> lengths{};
      std::fill(lengths.begin(), lengths.begin() + 144, 8);
      std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
      std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
      std::fill(lengths.begin() + 280, lengths.end(), 8);
      Build(codes.literals, lengths.data(), 288, LiteralExtra);
      lengths.fill(5);
      Build(codes.distances, lengths.data(), 32, DistanceExtraOrNone);
      return codes;
    }();
    return fixed;
  }
  static int LiteralExtra(int symbol) { return symbol <= 256 ? 0 : symbol <= 285 ? LengthExtra(symbol) : -1; }
  static int DistanceExtraOrNone(int symbol) { return symbol < 30 ? DistanceExtra(symbol) : -1; }

  // The next symbol of code; drops its code and (when skipExtra) the
  // extra bits after it. Needs at least kMaxBits + 13 bits in the buffer.
  int Decode(const Code& code, bool skipExtra, int (*extra)(int)) {
    const std::uint32_t entry = code.table[m_bits & ((1u << kTableBits) - 1)];
    if ((entry & (kLong | kAbsent)) == 0) {
      Drop(static_cast<int>(skipExtra ? (entry >> 13) & 31u : (entry >> 9) & 15u));
      return static_cast<int>(entry & 511u);
    }
    if ((entry & kAbsent) != 0) ThrowCannotCompress();
    // Bit by bit: count the codes of each length until this one falls among them.
    int first = 0, index = 0;
    unsigned bits = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
      bits |= static_cast<unsigned>((m_bits >> (len - 1)) & 1u);
      const int count = code.counts[len];
      if (static_cast<int>(bits) - first < count) {
        const int symbol = code.symbols[index + static_cast<int>(bits) - first];
        const int more = extra(symbol);
        if (more < 0) ThrowCannotCompress();
        Drop(len + (skipExtra ? more : 0));
        return symbol;
      }
      index += count;
      first = (first + count) << 1;
      bits <<= 1;
    }
    ThrowCannotCompress();
  }

  void SkipCodes(const Codes& codes) {
    for (;;) {
      Refill();
      const int symbol = Decode(codes.literals, true, LiteralExtra);
      if (symbol < 256) continue;
      if (symbol == 256) return;
      Decode(codes.distances, true, DistanceExtraOrNone);
    }
  }

  void ReadCodes(Codes& codes) {
    Refill();
    const int literals = 257 + static_cast<int>(Take(5));
    const int distances = 1 + static_cast<int>(Take(5));
    const int lengthCodes = 4 + static_cast<int>(Take(4));
    if (literals > 286 || distances > 30) ThrowCannotCompress();
    static constexpr std::array<std::uint8_t, 19> kOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                            11, 4,  12, 3, 13, 2, 14, 1, 15};
    std::array<std::uint8_t, 19> codeLengths{};
    for (int k = 0; k < lengthCodes; ++k) {
      Refill();
      codeLengths[kOrder[static_cast<std::size_t>(k)]] = static_cast<std::uint8_t>(Take(3));
    }
    Code lengthCode;
    Build(lengthCode, codeLengths.data(), 19, [](int) { return 0; });
    std::array<std::uint8_t, 286 + 30> lengths{};
    for (int k = 0; k < literals + distances;) {
      Refill();
      const int symbol = Decode(lengthCode, false, [](int) { return 0; });
      if (symbol < 16) {
        lengths[static_cast<std::size_t>(k++)] = static_cast<std::uint8_t>(symbol);
        continue;
      }
      int repeat = 0;
      std::uint8_t value = 0;
      if (symbol == 16) {
        if (k == 0) ThrowCannotCompress();
        value = lengths[static_cast<std::size_t>(k - 1)];
        repeat = 3 + static_cast<int>(Take(2));
      } else if (symbol == 17) {
        repeat = 3 + static_cast<int>(Take(3));
      } else {
        repeat = 11 + static_cast<int>(Take(7));
      }
      if (k + repeat > literals + distances) ThrowCannotCompress();
      std::fill_n(lengths.begin() + k, repeat, value);
      k += repeat;
    }
    if (lengths[256] == 0) ThrowCannotCompress();
    Build(codes.literals, lengths.data(), literals, LiteralExtra);
    Build(codes.distances, lengths.data() + literals, distances, DistanceExtraOrNone);
  }

  void SkipStored() {
    Drop(static_cast<int>((8 - Position() % 8) % 8));
    Refill();
    const auto length = static_cast<std::uint32_t>(Take(16));
    const auto check = static_cast<std::uint32_t>(Take(16));
    if ((length ^ check) != 0xFFFFu) ThrowCannotCompress();
    const std::size_t next = Position() / 8 + length;
    if (next > m_size) ThrowCannotCompress();
    m_next = next;
    m_bits = 0;
    m_count = 0;
  }

  // The bit buffer: bits not yet used, the next lowest; at least 56 after
  // Refill, zeros past the end of the stream.
  void Refill() {
    if (m_next + 8 <= m_size && std::endian::native == std::endian::little) {
      std::uint64_t word;
      std::memcpy(&word, m_data + m_next, 8);
      m_bits |= word << m_count;
      const int bytes = (63 - m_count) / 8;
      m_next += static_cast<std::size_t>(bytes);
      m_count += 8 * bytes;
      return;
    }
    // A stream read 64 bits past its end is cut short.
    if (m_next > m_size + 8) ThrowCannotCompress();
    while (m_count <= 56) {
      const std::uint64_t byte = m_next < m_size ? m_data[m_next] : 0u;
      m_bits |= byte << m_count;
      ++m_next;
      m_count += 8;
    }
  }
  void Drop(int n) {
    m_bits >>= n;
    m_count -= n;
  }
  std::uint64_t Take(int n) {
    const std::uint64_t value = m_bits & ((std::uint64_t{1} << n) - 1u);
    Drop(n);
    return value;
  }
  std::size_t Position() const { return 8 * m_next - static_cast<std::size_t>(m_count); }

  const unsigned char* m_data;
  std::size_t m_size;
  std::size_t m_next = 0;  // the next byte to load
  std::uint64_t m_bits = 0;
  int m_count = 0;
};

}  // namespace

DeflateEnds FindFinalBlock(const unsigned char* data, std::size_t size) {
  return DeflateBlockWalker(data, size).Walk();
}

namespace {

// Makes the raw deflate stream in data[0 .. size) joinable (see above):
// returns the new size, at most size + 5, for which data has room.
std::size_t MakeJoinable(unsigned char* data, std::size_t size) {
  const auto [finalBlockBit, endBit] = FindFinalBlock(data, size);
  if (size * 8 - endBit >= 8) ThrowCannotCompress();
  data[finalBlockBit / 8] &= static_cast<unsigned char>(~(1u << (finalBlockBit % 8)));
  const unsigned spare = static_cast<unsigned>(size * 8 - endBit);  // 0..7 zero bits
  data[size - 1] &= static_cast<unsigned char>((1u << (8 - spare)) - 1u);
  // The empty stored block's header is three zero bits, then zero bits up to
  // the byte boundary: it fits in the spare bits, or takes one zero byte.
  if (spare < 3) data[size++] = 0;
  for (const unsigned char b : {0x00, 0x00, 0xFF, 0xFF}) data[size++] = b;
  return size;
}

// A thread's buffer for the filtered rows of its strips, kept from strip
// to strip (and encode to encode) rather than allocated for each: freed
// and allocated again, such buffers came back from the allocator's
// per-thread heaps between the small compressed pieces that stay, and
// each thread's heap held on to a few more megabytes.
unsigned char* StripBuffer(std::size_t size) {
  thread_local std::unique_ptr<unsigned char[]> buffer;
  thread_local std::size_t capacity = 0;
  if (capacity < size) {
    buffer.reset();
    capacity = 0;
    buffer.reset(new unsigned char[size]);
    capacity = size;
  }
  return buffer.get();
}

struct Strip {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t size = 0;
  std::uint32_t adler = 1;
  std::size_t rawSize = 0;
};

// The 2-byte zlib header libdeflate writes for level.
void PutZlibHeader(std::vector<unsigned char>& stream, int level) {
  const unsigned levelHint = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  const unsigned header = (0x78u << 8) | (levelHint << 6);
  const unsigned check = 31 - header % 31;
  stream.push_back(0x78);
  stream.push_back(static_cast<unsigned char>((levelHint << 6) | (check == 31 ? 0 : check)));
}

// A strip is compressed again at the retry level when its first try came
// out at most 1/kRetryRatio of its bytes.
constexpr std::size_t kRetryRatio = 16;

// Strips are compressed at firstLevel, and again at retryLevel (when not
// -1) as above.
template <class Rows>
void PutPixelsInStrips(PngPieces& out, const Rows& rows, int height, int firstLevel, int retryLevel,
                       const PngEncoderTuning& tuning, int threads) {
  const std::size_t rowBytes = rows.RowBytes();
  const int stripRows = static_cast<int>(std::clamp<std::size_t>(tuning.stripBytes / rowBytes, 1, INT_MAX));
  const int strips = static_cast<int>((std::int64_t{height} + stripRows - 1) / stripRows);
  std::vector<Strip> done(static_cast<std::size_t>(strips));
  // Strips are handed on in order as soon as those before them are done,
  // so few compressed strips wait in memory beside the file.
  std::mutex mutex;
  int handedOn = 0;
  std::vector<unsigned char> header;
  PutZlibHeader(header, retryLevel >= 0 ? retryLevel : firstLevel);
  std::uint32_t adler = 1;
  bool first = true;
  const auto handOn = [&] {
    for (; handedOn < strips && done[static_cast<std::size_t>(handedOn)].bytes; ++handedOn) {
      Strip& strip = done[static_cast<std::size_t>(handedOn)];
      adler = static_cast<std::uint32_t>(
          adler32_combine(adler, strip.adler, static_cast<z_off_t>(strip.rawSize)));
      const bool last = handedOn == strips - 1;
      std::vector<unsigned char> data;
      data.reserve((first ? header.size() : 0) + strip.size + (last ? 4 : 0));
      if (first) data = header;
      first = false;
      data.insert(data.end(), strip.bytes.get(), strip.bytes.get() + strip.size);
      if (last) Put32(data, adler);
      strip.bytes.reset();
      std::vector<unsigned char>& chunk = out.emplace_back();
      chunk.reserve(data.size() + 12);
      PutChunk(chunk, "IDAT", data.data(), data.size());
    }
  };
  RunInParallel(strips, threads, [&](int k) {
    const int top = k * stripRows;
    const int n = std::min(stripRows, height - top);
    const std::size_t size = rowBytes * static_cast<std::size_t>(n);
    unsigned char* const filtered = StripBuffer(size + 1);
    rows.FilterRows(top, n, filtered);
    libdeflate_compressor* compressor = CompressorFor(firstLevel);
    // Room for the stream and for the at most 5 bytes MakeJoinable adds.
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor, size);
    Strip strip;
    strip.bytes.reset(new unsigned char[bound + 5]);
    strip.size = libdeflate_deflate_compress(compressor, filtered, size, strip.bytes.get(), bound);
    if (strip.size == 0) ThrowCannotCompress();
    if (retryLevel >= 0 && strip.size <= size / kRetryRatio) {
      // Compressed small: the shortest parse is cheap here, and kept when
      // it is shorter.
      libdeflate_compressor* again = CompressorFor(retryLevel);
      std::unique_ptr<unsigned char[]> bytes(new unsigned char[libdeflate_deflate_compress_bound(again, size) + 5]);
      const std::size_t shorter =
          libdeflate_deflate_compress(again, filtered, size, bytes.get(), strip.size);
      if (shorter != 0) {
        strip.bytes = std::move(bytes);
        strip.size = shorter;
      }
    }
    strip.adler = libdeflate_adler32(1, filtered, size);
    strip.rawSize = size;
    if (k + 1 < strips) strip.size = MakeJoinable(strip.bytes.get(), strip.size);
    const std::lock_guard lock(mutex);
    done[static_cast<std::size_t>(k)] = std::move(strip);
    handOn();
  });
}

// The IDAT chunks, after the pieces so far; a new piece is begun after them.
template <class Rows>
void PutPixels(PngPieces& out, const Rows& rows, int height, int level, const PngEncoderTuning& tuning) {
  const int threads = tuning.threads > 0 ? tuning.threads : PictureThreads();
  const std::size_t size = rows.RowBytes() * static_cast<std::size_t>(height);
  if (size <= tuning.oneCallBytes) {
    PutPixelsAtOnce(out.back(), rows, height, level);
  } else {
    PutPixelsInStrips(out, rows, height, rows.StripLevel(level), rows.StripRetryLevel(level), tuning, threads);
  }
  out.emplace_back();
}

void PutHeader(std::vector<unsigned char>& out, const QImage& image, unsigned char colourType, int bits) {
  out.insert(out.end(), kSignature, kSignature + 8);
  unsigned char header[13] = {};
  const auto w = static_cast<std::uint32_t>(image.width());
  const auto h = static_cast<std::uint32_t>(image.height());
  for (int k = 0; k < 4; ++k) {
    header[k] = static_cast<unsigned char>(w >> (24 - 8 * k));
    header[4 + k] = static_cast<unsigned char>(h >> (24 - 8 * k));
  }
  header[8] = static_cast<unsigned char>(bits);  // bits a sample or an index
  header[9] = colourType;
  PutChunk(out, "IHDR", header, sizeof header);
}

// The number of palette entries the pixels of a palette bitmap use: one past
// the highest index.
int UsedEntries(const QImage& image) {
  int used = 0;
  for (int y = 0; y < image.height() && used < 256; ++y) {
    const uchar* row = image.constScanLine(y);
    used = std::max<int>(used, *std::max_element(row, row + image.width()) + 1);
  }
  return used;
}

// PLTE covers every index the pixels use (missing colours are black), and
// tRNS follows when a colour is not opaque.
void PutPalette(std::vector<unsigned char>& out, const QList<QRgb>& table, int used) {
  const int count = std::max<int>(used, std::min<int>(static_cast<int>(table.size()), 256));
  std::vector<unsigned char> colours;
  std::vector<unsigned char> alphas;
  bool transparent = false;
  for (int k = 0; k < count; ++k) {
    const QRgb c = k < table.size() ? table[k] : qRgb(0, 0, 0);
    colours.insert(colours.end(), {static_cast<unsigned char>(qRed(c)), static_cast<unsigned char>(qGreen(c)),
                                   static_cast<unsigned char>(qBlue(c))});
    alphas.push_back(static_cast<unsigned char>(qAlpha(c)));
    transparent |= qAlpha(c) != 255;
  }
  PutChunk(out, "PLTE", colours.data(), colours.size());
  if (transparent) PutChunk(out, "tRNS", alphas.data(), alphas.size());
}

}  // namespace

PngPieces EncodePngPieces(const QImage& bitmap, int level, const PngTexts& texts,
                          const PngEncoderTuning& tuning) {
  if (bitmap.isNull()) throw ImageError(kErrorWriteFailed, "No picture to save");
  level = std::clamp(level, 0, 9);
  try {
    PngPieces pieces(1);
    // The chunks before and after the pixels go into the newest piece.
    const auto out = [&pieces]() -> std::vector<unsigned char>& { return pieces.back(); };
    if (bitmap.format() == QImage::Format_Indexed8) {
      const QList<QRgb> table = bitmap.colorTable();
      const int entries =
          std::max<int>(UsedEntries(bitmap), std::min<int>(static_cast<int>(table.size()), 256));
      const int bits = IndexBits(entries);
      PutHeader(out(), bitmap, kColourTypePalette, bits);
      PutPalette(out(), table, entries);
      PutTexts(out(), texts);
      const auto bytesOf = [](const uchar* line, int width, std::uint8_t* indices) {
        std::memcpy(indices, line, static_cast<std::size_t>(width));
      };
      PutPixels(pieces, IndexRows(bitmap, bits, bytesOf), bitmap.height(), level, tuning);
    } else {
      const QImage rgb = bitmap.format() == QImage::Format_RGB32 || bitmap.format() == QImage::Format_ARGB32
                             ? bitmap
                             : bitmap.convertToFormat(QImage::Format_RGB32);
      if (rgb.isNull()) throw std::bad_alloc();
      const int threads = tuning.threads > 0 ? tuning.threads : PictureThreads();
      if (const std::optional<ColourTable> colours = FewColours(rgb, threads)) {
        const int bits = IndexBits(colours->Count());
        QList<QRgb> table;
        for (int k = 0; k < colours->Count(); ++k) table.push_back(colours->Colour(k));
        PutHeader(out(), rgb, kColourTypePalette, bits);
        PutPalette(out(), table, colours->Count());
        PutTexts(out(), texts);
        const ColourTable& lookup = *colours;
        const auto indexOf = [&lookup](const uchar* line, int width, std::uint8_t* indices) {
          const auto* pixels = reinterpret_cast<const QRgb*>(line);
          // Four pixels equal to the last one looked up take its index with
          // one compare; any other four are looked up one by one (see
          // ColourTable::AddRows).
          QRgb last = pixels[0];
          std::uint8_t lastIndex = lookup.IndexOf(last);
          int x = 0;
          for (; x + 4 <= width; x += 4) {
            if (RunEnd(pixels, x, x + 4, last) == x + 4) {
              std::memset(indices + x, lastIndex, 4);
              continue;
            }
            for (int k = 0; k < 4; ++k) indices[x + k] = lookup.IndexOf(pixels[x + k]);
            last = pixels[x + 3];
            lastIndex = indices[x + 3];
          }
          for (; x < width; ++x) indices[x] = lookup.IndexOf(pixels[x]);
        };
        PutPixels(pieces, IndexRows(rgb, bits, indexOf), rgb.height(), level, tuning);
      } else {
        PutHeader(out(), rgb, kColourTypeRgb, 8);
        PutTexts(out(), texts);
        PutPixels(pieces, RgbRows(rgb), rgb.height(), level, tuning);
      }
    }
    PutChunk(out(), "IEND", nullptr, 0);
    return pieces;
  } catch (const std::bad_alloc&) {
    throw ImageError(kErrorOutOfMemory, "Not enough memory to encode a " + std::to_string(bitmap.width()) +
                                            " x " + std::to_string(bitmap.height()) + " PNG file");
  }
}

std::vector<unsigned char> EncodePng(const QImage& bitmap, int level, const PngTexts& texts,
                                     const PngEncoderTuning& tuning) {
  PngPieces pieces = EncodePngPieces(bitmap, level, texts, tuning);
  std::size_t size = 0;
  for (const auto& piece : pieces) size += piece.size();
  std::vector<unsigned char> file;
  try {
    file.reserve(size);
  } catch (const std::bad_alloc&) {
    throw ImageError(kErrorOutOfMemory, "Not enough memory to encode a " + std::to_string(bitmap.width()) +
                                            " x " + std::to_string(bitmap.height()) + " PNG file");
  }
  for (auto& piece : pieces) {
    file.insert(file.end(), piece.begin(), piece.end());
    std::vector<unsigned char>().swap(piece);
  }
  return file;
}

}  // namespace pictovance
