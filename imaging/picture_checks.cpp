#include <QImage>
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "imaging/image.h"
#include "imaging/picture_checks_p.h"
#include "imaging/source_file.h"

namespace pictovance {

namespace {

// Reads bytes front to back; past the end every read says so.
class ByteStream {
 public:
  explicit ByteStream(std::string_view bytes) : m_bytes(bytes) {}
  // The next byte, or -1 at the end.
  int Next() { return m_at < m_bytes.size() ? static_cast<unsigned char>(m_bytes[m_at++]) : -1; }
  // A big-endian number of `count` bytes; -1 at the end.
  std::int64_t Number(int count) {
    std::int64_t value = 0;
    for (int i = 0; i < count; ++i) {
      const int b = Next();
      if (b < 0) return -1;
      value = value << 8 | b;
    }
    return value;
  }
  // False when the bytes end first.
  bool Skip(std::int64_t count) {
    if (count < 0 || static_cast<std::uint64_t>(count) > m_bytes.size() - m_at) return false;
    m_at += static_cast<std::size_t>(count);
    return true;
  }

 private:
  std::string_view m_bytes;
  std::size_t m_at = 0;
};

enum class Verdict { kFine, kCutOff, kCorrupt, kTooShort, kTooManyScans };

struct Findings {
  Verdict verdict = Verdict::kFine;
  QSize claimed;                  // the size a complete header names
  std::int64_t decoderBytes = 0;  // what the decoder holds beside the picture
  bool exactLength = false;       // the check bounds pixels by bytes itself
};

// Deflate cannot shrink data by more than 1032 to 1; the slack covers the
// stream's own header and trailer.
constexpr std::int64_t kMaxDeflateRatio = 1032;
constexpr std::int64_t kDeflateSlack = 64;

// Walks the chunks of a PNG without decoding them: every chunk must lie
// inside the file (a length beyond its end would make the decoder reserve
// that much), the file must reach its end chunk, and the image data must be
// large enough to inflate to the rows the header promises.
Findings CheckPng(std::string_view bytes) {
  Findings found;
  found.exactLength = true;
  const auto verdict = [&found](Verdict v) {
    found.verdict = v;
    return found;
  };
  ByteStream in(bytes);
  if (!in.Skip(8)) return verdict(Verdict::kCutOff);
  std::int64_t rawBytes = 0;
  std::int64_t dataBytes = 0;
  QSize header;
  for (;;) {
    const std::int64_t length = in.Number(4);
    const std::int64_t type = in.Number(4);
    if (length < 0 || type < 0) return verdict(Verdict::kCutOff);
    if (length > 0x7FFFFFFF) return verdict(Verdict::kCorrupt);
    if (type == 0x49484452 && length >= 13) {  // IHDR
      const std::int64_t width = in.Number(4);
      const std::int64_t height = in.Number(4);
      const std::int64_t depth = in.Number(1);
      const std::int64_t colourType = in.Number(1);
      if (colourType < 0) return verdict(Verdict::kCutOff);
      // The format allows sides up to 2^31 - 1 and 16 bits a sample.
      if (width > INT_MAX || height > INT_MAX || depth > 16) return verdict(Verdict::kCorrupt);
      header = QSize(static_cast<int>(width), static_cast<int>(height));
      const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
      // Beyond the load limit the size alone refuses the file.
      if (width * height <= kMaxLoadPixels) rawBytes = height * (1 + (width * channels * depth + 7) / 8);
      if (!in.Skip(length - 10 + 4)) return verdict(Verdict::kCutOff);
      continue;
    }
    if (type == 0x49444154) {  // IDAT: the header is complete, its size known
      dataBytes += length;
      found.claimed = header;
    }
    if (!in.Skip(length + 4)) return verdict(Verdict::kCutOff);
    if (type == 0x49454E44) break;  // IEND
  }
  if (dataBytes * kMaxDeflateRatio + kDeflateSlack < rawBytes) return verdict(Verdict::kTooShort);
  return found;
}

// The parts of a JPEG frame header that decide the decoder's work.
struct JpegFrame {
  std::int64_t width = 0;
  std::int64_t height = 0;
  int components = 0;
  int ids[256] = {};            // component id -> index + 1
  std::int64_t blocks[4] = {};  // 8 x 8 blocks of each of the first four components
  bool progressive = false;
  bool arithmetic = false;
};

bool ReadJpegFrame(ByteStream& in, int marker, std::int64_t length, JpegFrame& frame) {
  in.Number(1);  // sample precision
  frame.height = in.Number(2);
  frame.width = in.Number(2);
  frame.components = static_cast<int>(in.Number(1));
  if (frame.width < 0 || frame.height < 0 || frame.components < 0) return false;
  frame.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
  frame.arithmetic = marker >= 0xC9;
  std::fill(std::begin(frame.ids), std::end(frame.ids), 0);
  int samplingH[4] = {};
  int samplingV[4] = {};
  int maxH = 1;
  int maxV = 1;
  const int listed = std::min<int>(frame.components, static_cast<int>((length - 8) / 3));
  for (int c = 0; c < listed; ++c) {
    const std::int64_t id = in.Number(1);
    const std::int64_t sampling = in.Number(1);
    if (in.Number(1) < 0 || id < 0 || sampling < 0) return false;
    if (frame.ids[id] == 0) frame.ids[id] = c + 1;
    if (c < 4) {
      samplingH[c] = std::max<int>(1, static_cast<int>(sampling >> 4));
      samplingV[c] = std::max<int>(1, static_cast<int>(sampling & 15));
      maxH = std::max(maxH, samplingH[c]);
      maxV = std::max(maxV, samplingV[c]);
    }
  }
  for (int c = 0; c < std::min(listed, 4); ++c) {
    const std::int64_t w = (frame.width * samplingH[c] + maxH - 1) / maxH;
    const std::int64_t h = (frame.height * samplingV[c] + maxV - 1) / maxV;
    frame.blocks[c] = ((w + 7) / 8) * ((h + 7) / 8);
  }
  return in.Skip(length - 8 - 3 * static_cast<std::int64_t>(listed));
}

// Walks the markers of a JPEG: the scans must end in the end-of-image
// marker (libjpeg pads a cut-off scan and warns, and only its first
// warning is ever shown), markers must follow each other without stray
// bytes, and the file must be long enough for its size. A Huffman-coded
// scan spends at least one bit on every 8 x 8 block of its full-resolution
// component; arithmetic coding has no such floor, so the general bytes per
// pixel rule bounds it. Each scan makes libjpeg walk the blocks of its
// components, so their count and their blocks are bounded as well, and a
// file of several scans makes it hold every block's coefficients (128
// bytes) until the last.
Findings CheckJpeg(std::string_view bytes) {
  Findings found;
  const auto verdict = [&found](Verdict v) {
    found.verdict = v;
    return found;
  };
  ByteStream in(bytes);
  if (in.Next() != 0xFF || in.Next() != 0xD8) return verdict(Verdict::kCorrupt);
  JpegFrame frame;
  QSize header;
  int scans = 0;
  std::int64_t scanBlocks = 0;
  int marker = -1;  // a marker already read while skipping scan data
  for (;;) {
    if (marker < 0) {
      const int b = in.Next();
      if (b < 0) return verdict(Verdict::kCutOff);
      if (b != 0xFF) return verdict(Verdict::kCorrupt);
      do {
        marker = in.Next();
      } while (marker == 0xFF);  // fill bytes
      if (marker < 0) return verdict(Verdict::kCutOff);
    }
    const int m = marker;
    marker = -1;
    if (m == 0xD9) break;  // end of image
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) continue;
    const std::int64_t length = in.Number(2);
    if (length < 0) return verdict(Verdict::kCutOff);
    if (length < 2) return verdict(Verdict::kCorrupt);
    const bool isFrame = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
    if (isFrame && length >= 8) {
      if (!ReadJpegFrame(in, m, length, frame)) return verdict(Verdict::kCutOff);
      header = QSize(static_cast<int>(frame.width), static_cast<int>(frame.height));
      continue;
    }
    if (m == 0xDA && length >= 3) {
      const std::int64_t count = in.Number(1);
      if (count < 0) return verdict(Verdict::kCutOff);
      std::int64_t read = 1;
      for (std::int64_t k = 0; k < count && 2 * k + 3 <= length - 2; ++k, read += 2) {
        const std::int64_t id = in.Number(1);
        if (in.Number(1) < 0 || id < 0) return verdict(Verdict::kCutOff);
        const int index = frame.ids[id] - 1;
        if (index >= 0 && index < 4) scanBlocks += frame.blocks[index];
      }
      if (!in.Skip(length - 2 - read)) return verdict(Verdict::kCutOff);
      if (++scans > kMaxJpegScans || scanBlocks > kMaxJpegScanBlocks) return verdict(Verdict::kTooManyScans);
    } else if (!in.Skip(length - 2)) {
      return verdict(Verdict::kCutOff);
    }
    if (m != 0xDA) continue;
    found.claimed = header;  // a scan begins: the header is complete, its size known
    // Entropy-coded data runs to the next marker that is neither a
    // stuffed zero nor a restart marker.
    for (;;) {
      int b = in.Next();
      if (b < 0) return verdict(Verdict::kCutOff);
      if (b != 0xFF) continue;
      do {
        b = in.Next();
      } while (b == 0xFF);
      if (b < 0) return verdict(Verdict::kCutOff);
      if (b == 0 || (b >= 0xD0 && b <= 0xD7)) continue;
      marker = b;
      break;
    }
  }
  const std::int64_t fullBlocks = ((frame.width + 7) / 8) * ((frame.height + 7) / 8);
  if (!frame.arithmetic && static_cast<std::int64_t>(bytes.size()) * 8 < fullBlocks) {
    return verdict(Verdict::kTooShort);
  }
  if (frame.progressive || scans > 1) {
    for (const std::int64_t blocks : frame.blocks) found.decoderBytes += blocks * 128;
  }
  return found;
}

std::uint32_t LittleEndian(std::string_view bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// An uncompressed BMP is cut off when its file is shorter than the pixel
// offset plus the rows its header promises. Two header layouts exist: the
// old 12-byte one (16-bit sizes, no compression field) and the 40-byte one
// with its later extensions (32-bit sizes, compression at byte 30).
// Run-length data can skip whole rows, so it has no size to check here.
Findings CheckBmp(std::string_view bytes) {
  Findings found;
  constexpr std::size_t kFileHeader = 14;
  if (bytes.size() < kFileHeader + 4) {
    found.verdict = Verdict::kCutOff;
    return found;
  }
  const std::uint32_t offset = LittleEndian(bytes, 10, 4);
  const std::uint32_t infoSize = LittleEndian(bytes, kFileHeader, 4);
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint32_t bits = 0;
  std::uint32_t compression = 0;
  if (infoSize == 12) {
    if (bytes.size() < kFileHeader + 12) found.verdict = Verdict::kCutOff;
    if (bytes.size() < kFileHeader + 12) return found;
    width = LittleEndian(bytes, 18, 2);
    height = LittleEndian(bytes, 20, 2);
    bits = LittleEndian(bytes, 24, 2);
  } else if (infoSize >= 16) {
    if (bytes.size() < kFileHeader + (infoSize >= 20 ? 20 : 16)) found.verdict = Verdict::kCutOff;
    if (found.verdict != Verdict::kFine) return found;
    width = static_cast<std::int32_t>(LittleEndian(bytes, 18, 4));
    height = static_cast<std::int32_t>(LittleEndian(bytes, 22, 4));
    bits = LittleEndian(bytes, 28, 2);
    if (infoSize >= 20) compression = LittleEndian(bytes, 30, 4);
  } else {
    return found;  // an unknown layout: the decoder decides
  }
  if (compression != 0 && compression != 3) return found;
  // Sizes beyond the load limit or odd sample sizes are the decoder's to
  // refuse; below them the sums cannot overflow.
  if (std::abs(width) * std::abs(height) > kMaxLoadPixels || bits > 64) return found;
  const std::int64_t rowBytes = (static_cast<std::int64_t>(bits) * std::abs(width) + 31) / 32 * 4;
  if (offset + rowBytes * std::abs(height) > static_cast<std::int64_t>(bytes.size())) {
    found.verdict = Verdict::kCutOff;
  }
  return found;
}

// A TIFF's strips may hold JPEG data, which libtiff hands to libjpeg: a
// progressive stream there could repeat its scans as a JPEG file can, out
// of reach of the JPEG check. Such a file is refused; the markers of a
// progressive frame are looked for in the whole file, since the strips may
// lie anywhere in it.
Findings CheckTiff(std::string_view bytes) {
  Findings found;
  const bool little = bytes.substr(0, 2) == "II";
  const auto number = [&](std::size_t at, int count) -> std::int64_t {
    if (at + count > bytes.size()) return -1;
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[at + (little ? count - 1 - i : i)]);
      value = value << 8 | byte;
    }
    return value;
  };
  const std::int64_t directory = number(4, 4);
  const std::int64_t entries = directory < 0 ? -1 : number(static_cast<std::size_t>(directory), 2);
  for (std::int64_t k = 0; k < entries; ++k) {
    const std::size_t entry = static_cast<std::size_t>(directory) + 2 + 12 * static_cast<std::size_t>(k);
    if (number(entry, 2) != 259) continue;  // Compression
    const std::int64_t compression = number(entry + 8, 2);
    if (compression != 6 && compression != 7) break;  // old-style and new-style JPEG
    for (const char* progressive : {"\xFF\xC2", "\xFF\xC6", "\xFF\xCA", "\xFF\xCE"}) {
      if (bytes.find(std::string_view(progressive, 2)) != std::string_view::npos)
        found.verdict = Verdict::kTooManyScans;
    }
    break;
  }
  return found;
}

// A GIF is decoded onto its logical screen, whatever the size of its
// frames: the screen is the size to bound.
Findings CheckGif(std::string_view bytes) {
  Findings found;
  if (bytes.size() < 10) {
    found.verdict = Verdict::kCutOff;
    return found;
  }
  found.claimed =
      QSize(static_cast<int>(LittleEndian(bytes, 6, 2)), static_cast<int>(LittleEndian(bytes, 8, 2)));
  return found;
}

Findings CheckFormat(std::string_view bytes, PictureFormat format) {
  switch (format) {
    case PictureFormat::kPng:
      return CheckPng(bytes);
    case PictureFormat::kJpeg:
      return CheckJpeg(bytes);
    case PictureFormat::kBmp:
      return CheckBmp(bytes);
    case PictureFormat::kGif:
      return CheckGif(bytes);
    case PictureFormat::kTiff:
      return CheckTiff(bytes);
    default:
      return {};
  }
}

std::int64_t Pixels(const QSize& size) { return static_cast<std::int64_t>(size.width()) * size.height(); }

std::string SizeText(const QSize& size) {
  return std::to_string(size.width()) + " x " + std::to_string(size.height());
}

// The bytes one pixel takes in format, and whether the loader converts it
// into a second copy (every format but the 32-bit ones, which it converts
// in place, and a palette, which is kept until the caller converts it).
int BytesPerPixel(QImage::Format format) {
  if (format == QImage::Format_Invalid) return 4;
  return std::max(1, QImage::toPixelFormat(format).bitsPerPixel() / 8);
}

bool ConvertedInPlace(QImage::Format format) {
  return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
         format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_Invalid;
}

}  // namespace

PictureFormat SniffFormat(std::string_view bytes) {
  const auto starts = [&bytes](std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; };
  if (starts("\x89PNG\r\n\x1a\n")) return PictureFormat::kPng;
  if (starts("\xFF\xD8\xFF")) return PictureFormat::kJpeg;
  if (starts("BM")) return PictureFormat::kBmp;
  if (starts("GIF87a") || starts("GIF89a")) return PictureFormat::kGif;
  if (starts(std::string_view("II*\0", 4)) || starts(std::string_view("MM\0*", 4)))
    return PictureFormat::kTiff;
  if (starts("RIFF") && bytes.size() >= 12 && bytes.substr(8, 4) == "WEBP") return PictureFormat::kWebp;
  if (starts("\x1F\x8B")) return PictureFormat::kSvgz;
  std::string_view text = bytes;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && text[first] == '<') return PictureFormat::kSvg;
  return PictureFormat::kUnknown;
}

QByteArray QtFormatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::kPng:
      return "png";
    case PictureFormat::kJpeg:
      return "jpeg";
    case PictureFormat::kBmp:
      return "bmp";
    case PictureFormat::kGif:
      return "gif";
    case PictureFormat::kTiff:
      return "tiff";
    case PictureFormat::kWebp:
      return "webp";
    case PictureFormat::kSvg:
      return "svg";
    case PictureFormat::kSvgz:
      return "svgz";
    case PictureFormat::kUnknown:
      break;
  }
  return {};
}

QSize CheckRasterPicture(std::string_view bytes, PictureFormat format, QImageReader& reader,
                         const std::string& name) {
  const std::string shown = ReadableName(name);
  const auto tooLarge = [&shown](const QSize& size) {
    return ImageError(kErrorTooLarge, "Picture too large (" + SizeText(size) + "): " + shown);
  };
  const auto cannotDecode = [&shown](const std::string& why) {
    return ImageError(kErrorDecodeFailed, "Cannot decode " + shown + ": " + why);
  };
  // Before the decoder reads a header: libpng reserves a chunk's claimed
  // length as it meets the chunk.
  const Findings found = CheckFormat(bytes, format);
  if (Pixels(found.claimed) > kMaxLoadPixels) throw tooLarge(found.claimed);
  switch (found.verdict) {
    case Verdict::kCutOff:
      throw cannotDecode("the file is cut off");
    case Verdict::kCorrupt:
      throw cannotDecode("the file is corrupt");
    case Verdict::kTooShort:
      throw cannotDecode("the file is too short for the size it claims");
    case Verdict::kTooManyScans:
      throw cannotDecode(format == PictureFormat::kTiff ? "progressive JPEG data inside a TIFF is not read"
                                                        : "the file has more scans than any encoder writes");
    case Verdict::kFine:
      break;
  }
  if (!reader.canRead()) throw ImageError(kErrorNotAnImage, "Not a picture in a known format: " + shown);
  QSize size = reader.size();
  if (!size.isValid()) return size;  // the decoder will say what is wrong
  // The decoder may report a frame while it paints a larger screen.
  if (Pixels(found.claimed) > Pixels(size)) size = found.claimed;
  if (Pixels(size) > kMaxLoadPixels) throw tooLarge(size);
  if (!found.exactLength && Pixels(size) > kFreePixels &&
      Pixels(size) > static_cast<std::int64_t>(bytes.size()) * kMaxPixelsPerByte) {
    throw cannotDecode("the file is too short for the size it claims");
  }
  const QImage::Format decoded = reader.imageFormat();
  // A picture turned upright (its EXIF orientation) is copied once more.
  const bool turned =
      reader.autoTransform() && reader.transformation() != QImageIOHandler::TransformationNone;
  const std::int64_t held =
      static_cast<std::int64_t>(bytes.size()) + found.decoderBytes +
      Pixels(size) * (BytesPerPixel(decoded) * (turned ? 2 : 1) + (ConvertedInPlace(decoded) ? 0 : 4));
  if (held > kMaxDecodeBytes) {
    throw ImageError(kErrorTooLarge, "Picture too large to load (" + SizeText(size) + " needs about " +
                                         std::to_string(held >> 20) + " MB): " + shown);
  }
  return size;
}

}  // namespace pictovance
