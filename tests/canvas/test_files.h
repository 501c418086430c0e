// Test pictures and files made at run time in a temporary folder: pictures
// written through the image object, hand-made palette BMP, GIF and PNG
// headers, truncated, empty and text files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace pictovance::testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    std::random_device entropy;
    const std::string name = "pictovance-test-" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter++) + "-" + std::to_string(entropy());
    m_path = fs::temp_directory_path() / name;
    fs::create_directories(m_path);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const fs::path& path() const { return m_path; }
  std::string File(const std::string& name) const { return (m_path / name).string(); }

  // The names of the entries in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_path))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path m_path;
};

// A colour that differs for every pixel of a picture up to 4096 x 4096, so
// a moved or scaled picture is told apart from a trimmed one.
inline Colour PatternColour(int x, int y) {
  return static_cast<Colour>((x & 0xFF) | ((y & 0xFF) << 8) |
                             ((((x >> 8) & 0xF) | (((y >> 8) & 0xF) << 4)) << 16));
}

inline void FillPattern(Image& image, int width, int height) {
  image.CreateBitmap(width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.SetLineColor(PatternColour(x, y));
      image.DrawPoint(x, y);
    }
  }
}

// Save formats of the image object.
inline constexpr std::int32_t kBmp = 0;
inline constexpr std::int32_t kJpeg = 1;
inline constexpr std::int32_t kPng = 3;

// Writes a width x height pattern picture; path carries its extension.
inline std::string WritePattern(const std::string& path, int width, int height, std::int32_t format = kBmp) {
  Image image;
  FillPattern(image, width, height);
  image.SetSaveFormat(format);
  image.SaveBitmap(path);
  return path;
}

inline std::string WriteSolid(const std::string& path, int width, int height, Colour colour,
                              std::int32_t format = kBmp) {
  Image image;
  image.CreateBitmap(width, height, colour);
  image.SetSaveFormat(format);
  image.SaveBitmap(path);
  return path;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void PutLE(std::string& out, std::uint32_t value, int bytes) {
  for (int k = 0; k < bytes; ++k) out += static_cast<char>((value >> (8 * k)) & 0xFF);
}
inline void PutBE(std::string& out, std::uint32_t value) {
  for (int k = 3; k >= 0; --k) out += static_cast<char>((value >> (8 * k)) & 0xFF);
}

// An uncompressed 8-bit palette BMP: 256 grey levels, pixel (x, y) has
// level (x + y) & 0xFF. It loads as a palette bitmap (kind 1).
inline std::string WritePaletteBmp(const std::string& path, int width, int height) {
  const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) + 3u) & ~3u;
  const std::uint32_t pixelOffset = 14 + 40 + 256 * 4;
  std::string bmp = "BM";
  PutLE(bmp, pixelOffset + rowBytes * static_cast<std::uint32_t>(height), 4);
  PutLE(bmp, 0, 4);
  PutLE(bmp, pixelOffset, 4);
  PutLE(bmp, 40, 4);  // BITMAPINFOHEADER
  PutLE(bmp, static_cast<std::uint32_t>(width), 4);
  PutLE(bmp, static_cast<std::uint32_t>(height), 4);
  PutLE(bmp, 1, 2);  // planes
  PutLE(bmp, 8, 2);  // bits per pixel
  PutLE(bmp, 0, 4);  // no compression
  PutLE(bmp, rowBytes * static_cast<std::uint32_t>(height), 4);
  PutLE(bmp, 2835, 4);
  PutLE(bmp, 2835, 4);
  PutLE(bmp, 256, 4);
  PutLE(bmp, 0, 4);
  for (std::uint32_t level = 0; level < 256; ++level) PutLE(bmp, level * 0x010101u, 4);
  for (int y = height - 1; y >= 0; --y) {  // bottom-up rows
    std::string row(rowBytes, '\0');
    for (int x = 0; x < width; ++x) row[static_cast<std::size_t>(x)] = static_cast<char>((x + y) & 0xFF);
    bmp += row;
  }
  WriteBytes(path, bmp);
  return path;
}

// A 1 x 1 GIF (two-colour table, the pixel white).
inline std::string WriteGif(const std::string& path) {
  static const unsigned char kGif[] = {'G',  'I',  'F',  '8',  '9', 'a', 1, 0, 1, 0,
                                       0x80, 0,    0,                   // screen 1 x 1, 2-colour table
                                       0xFF, 0xFF, 0xFF, 0,    0,   0,  // white, black
                                       ',',  0,    0,    0,    0,   1,   0, 1, 0, 0,  // image 1 x 1
                                       2,    2,    0x44, 0x01, 0,                     // LZW data
                                       ';'};
  WriteBytes(path, std::string(reinterpret_cast<const char*>(kGif), sizeof kGif));
  return path;
}

inline std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline void PutPngChunk(std::string& png, const std::string& type, const std::string& data) {
  PutBE(png, static_cast<std::uint32_t>(data.size()));
  png += type + data;
  PutBE(png, Crc32(type + data));
}

// A PNG signature and a valid IHDR chunk claiming width x height RGB, and
// no pixel data; with withData, the start of an IDAT chunk (a zlib header
// and nothing more) follows, as in a file cut off after its first bytes.
inline std::string WritePngHeader(const std::string& path, std::uint32_t width, std::uint32_t height,
                                  bool withData) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBE(header, width);
  PutBE(header, height);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  PutPngChunk(png, "IHDR", header);
  if (withData) PutPngChunk(png, "IDAT", "\x78\x9c");
  WriteBytes(path, png);
  return path;
}

// Cuts the file down to its first keep bytes.
inline void Truncate(const std::string& path, std::uintmax_t keep) { fs::resize_file(path, keep); }

// Every pixel of part equals the pixel of whole at (x + dx, y + dy); names
// the first that does not.
inline ::testing::AssertionResult PixelsMatch(const Image& part, const Image& whole, int dx, int dy) {
  for (int y = 0; y < part.Height(); ++y) {
    for (int x = 0; x < part.Width(); ++x) {
      const Colour got = part.GetColorAt(x, y);
      const Colour want = whole.GetColorAt(x + dx, y + dy);
      if (got != want) {
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << got << ", expected "
                                             << want << " from (" << x + dx << ", " << y + dy << ")";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace pictovance::testing
