#include "imaging/png_encoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <QImage>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/image.h"

namespace pictovance {

namespace {

constexpr unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr unsigned char kColourTypeRgb = 2;
constexpr unsigned char kColourTypePalette = 3;
constexpr unsigned char kFilterNone = 0;
constexpr unsigned char kFilterUp = 2;

// Pictures whose filtered rows fit in this many bytes are compressed in one
// libdeflate call, which needs the rows and the compressed stream in memory
// at once. Larger ones stream through zlib a band at a time, so saving a
// huge picture does not double its memory.
constexpr std::size_t kOneCallLimit = std::size_t{64} << 20;
constexpr std::size_t kStreamPiece = std::size_t{1} << 20;

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

// Filters rows of an 8-bit RGB picture (from 0xFFRRGGBB pixels) with Up,
// each row led by its filter byte. Row -1 counts as black.
class RgbRows {
 public:
  explicit RgbRows(const QImage& image) : m_image(image), m_width(image.width()) {}
  std::size_t RowBytes() const { return 1 + std::size_t{3} * static_cast<std::size_t>(m_width); }

  // Writes row y at out, which has room for RowBytes() + 1 bytes: one
  // pixel's spare byte lands after the row and is overwritten by what
  // follows.
  void Filter(int y, unsigned char* out) const {
    const auto* row = reinterpret_cast<const std::uint32_t*>(m_image.constScanLine(y));
    const auto* above =
        y > 0 ? reinterpret_cast<const std::uint32_t*>(m_image.constScanLine(y - 1)) : nullptr;
    out[0] = kFilterUp;
    unsigned char* p = out + 1;
    for (int x = 0; x < m_width; ++x, p += 3) {
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

 private:
  const QImage& m_image;
  int m_width;
};

// Rows of a palette picture, unfiltered: filtering indices does not help.
class PaletteRows {
 public:
  explicit PaletteRows(const QImage& image) : m_image(image), m_width(image.width()) {}
  std::size_t RowBytes() const { return 1 + static_cast<std::size_t>(m_width); }
  void Filter(int y, unsigned char* out) const {
    out[0] = kFilterNone;
    std::memcpy(out + 1, m_image.constScanLine(y), static_cast<std::size_t>(m_width));
  }

 private:
  const QImage& m_image;
  int m_width;
};

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// One compressor per thread, kept for the next picture of the same level:
// a batch saves thousands of pictures, and each compressor owns large
// match-finder tables.
libdeflate_compressor* CompressorFor(int level) {
  thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor;
  thread_local int compressorLevel = -1;
  if (!compressor || compressorLevel != level) {
    compressor.reset(libdeflate_alloc_compressor(level));
    compressorLevel = level;
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
  for (int y = 0; y < height; ++y) rows.Filter(y, filtered.get() + rowBytes * static_cast<std::size_t>(y));
  libdeflate_compressor* compressor = CompressorFor(level);
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor, size);
  const std::unique_ptr<unsigned char[]> stream(new unsigned char[bound]);
  const std::size_t packed = libdeflate_zlib_compress(compressor, filtered.get(), size, stream.get(), bound);
  if (packed == 0) throw ImageError(kErrorWriteFailed, "Cannot compress the picture");
  PutChunk(out, "IDAT", stream.get(), packed);
}

// Rows filtered and compressed a band at a time through zlib, one IDAT
// chunk per full output piece.
template <class Rows>
void PutPixelsStreamed(std::vector<unsigned char>& out, const Rows& rows, int height, int level) {
  z_stream zs{};
  if (deflateInit(&zs, level) != Z_OK)
    throw ImageError(kErrorOutOfMemory, "Not enough memory to compress a PNG file");
  const auto end = std::unique_ptr<z_stream, int (*)(z_stream*)>(&zs, deflateEnd);
  const std::size_t rowBytes = rows.RowBytes();
  const int bandRows = static_cast<int>(std::max<std::size_t>(1, kStreamPiece / rowBytes));
  std::vector<unsigned char> band(rowBytes * static_cast<std::size_t>(bandRows) + 1);
  std::vector<unsigned char> piece(kStreamPiece);
  zs.next_out = piece.data();
  zs.avail_out = static_cast<uInt>(piece.size());
  for (int y0 = 0; y0 < height;) {
    const int n = std::min(bandRows, height - y0);
    for (int k = 0; k < n; ++k) rows.Filter(y0 + k, band.data() + rowBytes * static_cast<std::size_t>(k));
    y0 += n;
    const bool last = y0 >= height;
    zs.next_in = band.data();
    zs.avail_in = static_cast<uInt>(rowBytes * static_cast<std::size_t>(n));
    int status = Z_OK;
    do {
      status = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
      if (status == Z_STREAM_ERROR) throw ImageError(kErrorWriteFailed, "Cannot compress the picture");
      if (zs.avail_out == 0 || status == Z_STREAM_END) {
        PutChunk(out, "IDAT", piece.data(), piece.size() - zs.avail_out);
        zs.next_out = piece.data();
        zs.avail_out = static_cast<uInt>(piece.size());
      }
    } while (zs.avail_in != 0 || (last && status != Z_STREAM_END));
  }
}

template <class Rows>
void PutPixels(std::vector<unsigned char>& out, const Rows& rows, int height, int level) {
  if (rows.RowBytes() * static_cast<std::size_t>(height) <= kOneCallLimit) {
    PutPixelsAtOnce(out, rows, height, level);
  } else {
    PutPixelsStreamed(out, rows, height, level);
  }
}

void PutHeader(std::vector<unsigned char>& out, const QImage& image, unsigned char colourType) {
  out.insert(out.end(), kSignature, kSignature + 8);
  unsigned char header[13] = {};
  const auto w = static_cast<std::uint32_t>(image.width());
  const auto h = static_cast<std::uint32_t>(image.height());
  for (int k = 0; k < 4; ++k) {
    header[k] = static_cast<unsigned char>(w >> (24 - 8 * k));
    header[4 + k] = static_cast<unsigned char>(h >> (24 - 8 * k));
  }
  header[8] = 8;  // bits a sample or an index
  header[9] = colourType;
  PutChunk(out, "IHDR", header, sizeof header);
}

// PLTE covers every index the pixels use (missing colours are black), and
// tRNS follows when a colour is not opaque.
void PutPalette(std::vector<unsigned char>& out, const QImage& image) {
  int used = 0;
  for (int y = 0; y < image.height() && used < 256; ++y) {
    const uchar* row = image.constScanLine(y);
    used = std::max<int>(used, *std::max_element(row, row + image.width()) + 1);
  }
  const QList<QRgb> table = image.colorTable();
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

std::vector<unsigned char> EncodePng(const QImage& bitmap, int level, const PngTexts& texts) {
  if (bitmap.isNull()) throw ImageError(kErrorWriteFailed, "No picture to save");
  level = std::clamp(level, 0, 9);
  try {
    std::vector<unsigned char> out;
    if (bitmap.format() == QImage::Format_Indexed8) {
      PutHeader(out, bitmap, kColourTypePalette);
      PutPalette(out, bitmap);
      PutTexts(out, texts);
      PutPixels(out, PaletteRows(bitmap), bitmap.height(), level);
    } else {
      const QImage rgb = bitmap.format() == QImage::Format_RGB32 || bitmap.format() == QImage::Format_ARGB32
                             ? bitmap
                             : bitmap.convertToFormat(QImage::Format_RGB32);
      if (rgb.isNull()) throw std::bad_alloc();
      PutHeader(out, rgb, kColourTypeRgb);
      PutTexts(out, texts);
      PutPixels(out, RgbRows(rgb), rgb.height(), level);
    }
    PutChunk(out, "IEND", nullptr, 0);
    return out;
  } catch (const std::bad_alloc&) {
    throw ImageError(kErrorOutOfMemory, "Not enough memory to encode a " + std::to_string(bitmap.width()) +
                                            " x " + std::to_string(bitmap.height()) + " PNG file");
  }
}

}  // namespace pictovance
